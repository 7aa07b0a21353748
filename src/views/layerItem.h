#ifndef LAYERITEM_H
#define LAYERITEM_H

// One row of the layers tool: the layer's mask thumbnail in a dark frame, a
// thin strip showing the layer's opacity, an enable check box and the name,
// renamed in place. Hovering fades the thumbnail and lays an opacity slider
// over it. The thumbnail (layerThumbnailItem) carries the layer's context
// menu and imports and exports the layer mask as a PNG file.
//
// Row 0 is the base layer: no check box, no menu, no opacity control and no
// renaming.

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QString>

class QCheckBox;
class QGraphicsOpacityEffect;
class QLineEdit;
class QMenu;
class QAction;
class QPropertyAnimation;
class clickableLabel;
class layerItem;
class processingProject;
class slider;

// Longest layer name in UTF-8 bytes: what the project file's name field holds.
int layerNameMaxBytes();

// Fits a w x h thumbnail into the 110 x 110 frame keeping the aspect.
QSize layerThumbnailSize(int w, int h);

// Width of the opacity strip filled for an opacity (columns x < width x opacity).
int layerOpacityColumns(int width, double opacity);

// Proposed export file: folder + "/" + name when the folder exists, else the name.
QString layerMaskExportProposal(const QString &folder, const QString &name);
// ".png" appended unless the suffix already is png (in any case).
QString layerMaskExportName(const QString &chosen);

class layerThumbnailItem : public QLabel
{
    Q_OBJECT

public:
    layerThumbnailItem(layerItem *owner, int index);

    QMenu *contextMenu() const { return menu; }
    QAction *renameAction() const { return actRename; }
    QAction *invertAction() const { return actInvert; }
    QAction *copyAction() const { return actCopy; }
    QAction *clearAction() const { return actClear; }
    QAction *removeAction() const { return actRemove; }
    QAction *importAction() const { return actImport; }
    QAction *exportAction() const { return actExport; }

signals:
    void itemSelected(int id);
    void itemImported(int id);
    void removeItem(int id);
    void requestRename();
    void requestClear();
    void requestInvert();
    void requestCopy();

public slots:
    void importMaskSlot();
    // True when the mask was written (or nothing was chosen); a failed
    // write is reported to the user.
    bool exportMaskSlot();

private slots:
    void removeSlot();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int layerIndex = 0;
    layerItem *owner = nullptr;
    QMenu *menu = nullptr;
    QAction *actRename = nullptr, *actInvert = nullptr, *actCopy = nullptr, *actClear = nullptr;
    QAction *actRemove = nullptr, *actImport = nullptr, *actExport = nullptr;
};

class layerItem : public QFrame
{
    Q_OBJECT
    friend class layerThumbnailItem;

public:
    layerItem(QWidget *parent, processingProject *project, int index, const QString &name, int barAtBottom);
    ~layerItem() override;

    void setThumbnail(const QImage *image, int width, int height);
    QString getLabelText() const;
    QString getName() const { return name; }
    int index() const { return layerIndex; }
    // Sets both name fields (the layers tool names new rows).
    void setLabelText(const QString &text);

    layerThumbnailItem *thumbnail() const { return thumb; }
    slider *opacitySlider() const { return opacity; }
    QCheckBox *enableBox() const { return enable; }
    QLineEdit *renameField() const { return rename; }
    clickableLabel *nameField() const { return nameLabel; }
    QLabel *opacityStrip() const { return strip; }
    QLabel *hoverStrip() const { return hoverStripLabel; }
    QWidget *nameContainer() const { return container; }
    QPropertyAnimation *fadeAnimation() const { return animation; }
    bool hasThumbnail() const { return thumbnailGiven; }
    bool isHovered() const { return hovered; }

signals:
    void itemImported(int id);
    void itemSelected(int id);
    void itemStateChanged(int id, int state);
    void removeItem(int id);
    void clearItem(int id);
    void invertItem(int id);
    void copyItem(int id);
    void itemRenamed(int id, QString name);
    void visibleToggle(int id);
    void opacityChanged(int id);

public slots:
    void enterRenameMode();
    // Draws the opacity strip; emits opacityChanged(index) when asked to.
    void opacityChanged(bool emitSignal);

private slots:
    void itemStateChangedSlot(int state);
    void renameItem();
    void clearItem();
    void invertItem();
    void copyItem();
    void visibleToggle();
    void opacityChanged();
    void animationFinished();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void updateGeometryOfThumbnail();
    void hoverOn();
    void hoverOff();

    bool thumbnailGiven = false;
    double scale = 1.0;
    QString name;
    int layerIndex = 0;
    int barAtBottom = 0;
    layerThumbnailItem *thumb = nullptr;
    QImage thumbnailImage; // copy of the last thumbnail given (null: none)
    int thumbWidth = 148, thumbHeight = 111;
    clickableLabel *nameLabel = nullptr;
    QLineEdit *rename = nullptr;
    QCheckBox *enable = nullptr;
    QWidget *container = nullptr;
    bool repaintPending = true;
    processingProject *project = nullptr;
    QLabel *strip = nullptr;
    QLabel *hoverStripLabel = nullptr;
    slider *opacity = nullptr;
    QGraphicsOpacityEffect *fade = nullptr;
    QPropertyAnimation *animation = nullptr;
    bool hovered = false;
};

#endif // LAYERITEM_H
