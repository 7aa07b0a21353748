#ifndef PRESETITEM_H
#define PRESETITEM_H

// One cell of the preset list: the preset's thumbnail tile above its name,
// with the preset's settings, file path and group. A user preset's name is
// italic with a small user icon and turns into an editor when clicked (the
// preset is then renamed by whoever listens to itemRenamed). The row only
// emits signals; the preset library does the file work.
//
// presetThumbnailItem is the tile: a left click applies the preset, any other
// click opens the preset's menu (rename, replace, remove, move to a group,
// set or reset the default).

#include "project/processingParams.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPixmap>

class QComboBox;
class QLineEdit;
class QMenu;
class QAction;
class clickableLabel;
class presetItem;

constexpr int PRESET_ID_BUILTIN_BASE = 0x8000;
constexpr int PRESET_ID_DEFAULT = 0xefff;
constexpr int PRESET_ID_LAST_USED = 0xf000;
constexpr int PRESET_NAME_MAX_LENGTH = 40;
constexpr int PRESET_PLACEHOLDER_WIDTH = 148;
constexpr int PRESET_PLACEHOLDER_HEIGHT = 111;
// Separates the id from the group name in a move request.
constexpr ushort PRESET_MOVE_SEPARATOR = 0x00CD;

// The small user icon at the left of a user preset's name.
class userIcon : public QLabel
{
    Q_OBJECT

public:
    explicit userIcon(int size, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap normal;
    QPixmap disabled;
};

class presetThumbnailItem : public QLabel
{
    Q_OBJECT

public:
    // groups: the library's group combo box ("Not grouped" first); may be null.
    presetThumbnailItem(presetItem *row, QComboBox *groups, int id, bool builtIn);

    QMenu *contextMenu() const { return menu; }
    QMenu *groupsMenu() const { return groupsSubmenu; }

signals:
    void itemSelected(int id);
    void removeItem(int id);
    void requestRename();
    void requestReplace();
    // -1: back to the built-in default; else this preset becomes the default.
    void defaultRegenerateNeeded(int id);
    // "<id>" U+00CD "<group>" ("" for not grouped).
    void moveToUserGroup(const QString &request);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private slots:
    void removeSlot();
    void showPresetGroups();
    void resetDefaultSlot();
    void setDefaultSlot();

private:
    presetItem *row;
    QComboBox *groups;
    int id;
    bool builtIn;
    QMenu *menu = nullptr;
    QMenu *groupsSubmenu = nullptr;
};

class presetItem : public QFrame
{
    Q_OBJECT

public:
    presetItem(QWidget *parent, int id, bool builtIn, const QString &filePath, const QString &name,
               QComboBox *groups = nullptr);
    ~presetItem() override;

    int getId() const { return id; }
    bool isBuiltIn() const { return builtIn; }
    bool isDefault() const { return defaultEntry; }
    QString getFilePath() const { return filePath; }
    void setFilePath(const QString &path);
    QString getGroupName() const { return groupName; }
    void setGroupName(const QString &group);
    QString getEditedName() const;
    QString displayedName() const;
    bool hasThumbnail() const { return thumbnailSet; }
    presetThumbnailItem *tile() const { return thumbTile; }
    QLineEdit *nameEditor() const { return editor; }
    clickableLabel *nameLabel() const { return label; }
    QSize thumbnailSize() const { return QSize(thumbWidth, thumbHeight); }
    const QImage *shownImage() const { return shown; }

    // Installs a copy of image, or (image null) only a placeholder size.
    void setThumbnail(const QImage *image, int width, int height);
    // The preset got a new name in the same folder.
    void applyRename(const QString &name);

    processingParams_t settings; // the preset's settings, read when thumbnails are made

signals:
    void itemSelected(int id);
    void itemStateChanged(int id, int state);
    void removeItem(int id);
    void itemRenamed(int id, const QString &name);
    void itemReplaced(int id);
    void defaultRegenerateNeeded(int id);
    void moveToUserGroup(const QString &request);

public slots:
    void enterRenameMode();

private slots:
    void itemStateChangedSlot(int state);
    void renameItem();
    void replaceItem();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void updateThumbnailSize();
    // Rebuilds the tile's pixmap from the shown image when it is outdated.
    void refreshPixmap();

    bool thumbnailSet = false;
    double scale = 1.0;
    QString groupName;
    int id;
    bool builtIn;
    bool defaultEntry;
    QString filePath;
    presetThumbnailItem *thumbTile = nullptr;
    QImage *shown = nullptr;
    int thumbWidth = PRESET_PLACEHOLDER_WIDTH;
    int thumbHeight = PRESET_PLACEHOLDER_HEIGHT;
    clickableLabel *label = nullptr;
    QLineEdit *editor = nullptr;
    bool pixmapOutdated = false;
};

#endif // PRESETITEM_H
