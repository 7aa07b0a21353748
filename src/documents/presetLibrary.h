#ifndef PRESETLIBRARY_H
#define PRESETLIBRARY_H

// The "Presets" tab: every preset of the built-in folder and of the user
// preset folder (its top level and one level of group folders) as a grid of
// presetItem rows with thumbnails, sorted, filtered (all / built-in / user,
// user group), applied on click, and the operations of a preset's menu:
// rename, replace with the current settings, remove, move to a group, set and
// reset the default; adding a user preset; the user groups dialog.
//
// The library is a widget the main window embeds. It reaches the rest of the
// program only through presetLibraryHost (the current layer's settings, the
// locked panels, loading a preset into the current layer, history), so it
// can be run with a small host in tests and tools.
//
// Ids: built-in presets 0x8000 + i, user presets i in listing order (new ones
// max + 1), the default entry 0xefff, the last-used settings 0xf000.
//
// Thumbnails are rendered by presetThumbWorker on a thread of its own from a
// snapshot the library takes here; the run is stopped (abort flag, then a
// wait for the thread to end) before rows are added or deleted. The run reads
// the project's image: whoever changes the image (photos added or removed, a
// transformation, a new merge) calls stopThumbWorker() first and
// invalidatePresets() afterwards.
//
// Embedding: the main window implements presetLibraryHost (loadPreset is its
// settings load with locked panels kept), calls scanPresets() once at
// start-up, connects the panels' padlock changes to invalidatePresets(), and
// stores the filter choice and the default preset with its other settings
// (the library keeps them in the settings record).

#include "documents/presetThumbWorker.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QComboBox;
class QGridLayout;
class QScrollArea;
class QThread;
class presetItem;
class processingProject;

constexpr int PRESET_MAX_USER_PRESETS = 512;
constexpr const char *PRESET_LAST_USED_FILE = "___last.lmsx";

class presetLibraryHost
{
public:
    virtual ~presetLibraryHost() = default;
    virtual int currentLayer() const = 0;
    // The current layer's settings, with the curve editors' points stored in it.
    virtual processingParams_t currentSettings() = 0;
    // The first layer's settings (the values locked panels keep).
    virtual processingParams_t firstLayerSettings() = 0;
    virtual lockedPanels_t lockedPanels() const = 0;
    // Loads a preset file into the current layer (locked panels stay, the view
    // re-renders); false (the host told the user) when it failed.
    virtual bool loadPreset(const QString &path) = 0;
    // The applied-preset id of the current layer (-100 for none).
    virtual void setAppliedPresetId(int id) = 0;
    virtual void addHistory(const QString &text) = 0;
    // The project the thumbnails show, or nullptr.
    virtual processingProject *project() = 0;
};

class presetLibrary : public QWidget
{
    Q_OBJECT

public:
    // builtInFolder: the presets shipped with the program; userPresetFolder:
    // the user folder + "/presets".
    presetLibrary(presetLibraryHost *host, const QString &builtInFolder, const QString &userPresetFolder,
                  QWidget *parent = nullptr);
    ~presetLibrary() override;

    // Reads both folders and builds the rows (start-up). createLastUsed: a
    // missing last-used file starts as a copy of the default preset (not in
    // the automatic run, which leaves the user's presets alone).
    void scanPresets(bool createLastUsed = true);

    const QList<presetItem *> &items() const { return presetList; }
    presetItem *itemById(int id) const;
    QComboBox *groupCombo() const { return groups; }
    QButtonGroup *filterButtons() const { return filterGroup; }
    QString appliedPresetName() const { return appliedName; }
    QString defaultPresetPath() const;
    QString builtInDefaultPath() const;
    void setColumns(int columns);
    bool thumbnailsRunning() const { return thumbThread != nullptr; }

    // The ids in the order a thumbnail run renders them: the rows on screen
    // in the scroll area, the other rows the filter shows, the hidden rows.
    QList<int> thumbnailOrder() const;

    // The sort rule of the list (default entry, last used, "none", then by
    // file name ignoring case).
    static bool lessThan(const presetItem *a, const presetItem *b);

    // Used by the user groups dialog: the row of the user preset file fileName
    // in group oldGroup ("" for not grouped) changed group (newGroup ".."
    // drops the row). Two groups may hold files of the same name, so the row
    // is found by its group as well as by its file name.
    void updatePresetEntry(const QString &oldGroup, const QString &fileName, const QString &newGroup,
                           const QString &newPath);
    // Renames the group of every row in oldGroup.
    void renameRowsGroup(const QString &oldGroup, const QString &newGroup);

public slots:
    void filterPresets(int option = -1);
    void loadUserGroups();
    void goToUserPresetFiles();
    void showSetupUserGroups();
    void moveToUserGroup(const QString &request);
    void invalidatePresets(bool getThumbs = true, bool onlyIfMissing = false);
    void regenerateDefaultPresetThumb(int fromId);
    void presetItemChanged(int id, bool dontLoad = false);
    void presetItemRemove(int id);
    void presetItemRename(int id, const QString &newName);
    void presetItemReplace(int id, bool switchToPreset = true);
    void addNewPresetSlot();
    // Stops a running thumbnail run; true when one was running.
    bool stopThumbWorker();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // A background thumbnail run ended (all rows done or stopped).
    void thumbnailsFinished();
    // A row got its thumbnail.
    void thumbnailInstalled(int id);

private:
    presetItem *addRow(int id, bool builtIn, const QString &path, const QString &name, const QString &group);
    void connectRow(presetItem *item);
    void renderSingle(presetItem *item);
    void installThumbnail(int id, const QImage &image);
    void scrollTo(presetItem *item, int xMargin, int yMargin);
    void errorBox(const QString &text);
    QStringList userPresetBaseNames() const;
    void deleteRow(presetItem *item);
    // A user preset file moved (newPath) or went away (empty newPath): when it
    // is the default look, the default setting and entry follow it.
    void followDefault(const QString &oldPath, const QString &newPath);
    void ensureUserFolder() const;
    void storeFilterChoice() const;
    // Gives every row the width of one grid column.
    void fitRowsToColumns();

    presetLibraryHost *host;
    QString builtInFolder;
    QString userFolder;
    QList<presetItem *> presetList;
    QButtonGroup *filterGroup = nullptr;
    QComboBox *groups = nullptr;
    QScrollArea *scroll = nullptr;
    QWidget *gridHolder = nullptr;
    QGridLayout *grid = nullptr;
    int columns = 2;
    QString appliedName;
    QThread *thumbThread = nullptr;
    presetThumbWorker *thumbWorker = nullptr;
    int runGeneration = 0;
};

#endif // PRESETLIBRARY_H
