#ifndef MAINWINDOW_H
#define MAINWINDOW_H

// The one top-level window: frameless, with its own title strip (icon, title
// labels, minimize, size and close buttons), the "Tools" and "Processing"
// docks, the central area, the menu bar, four tool bars and the status bar
// with its progress display. It owns the processing project and turns
// commands, drops and files handed over by the system into the project's
// operations. Concerns live in mainWindow_<concern>.cpp:
//   mainWindow.cpp                  construction and small slots
//   mainWindow_frame.cpp            title strip, drag, maximize, full screen, layout
//   mainWindow_actions.cpp          actions, menus, language
//   mainWindow_colorManagement.cpp  colour-management groups and their reaction
//   mainWindow_statusBar.cpp        tool bars, status widgets, progress
//   mainWindow_enabling.cpp         applying the enabling rules (controlRules.h)
//   mainWindow_files.cpp            files dropped, named or handed over by the system
//   mainWindow_photos.cpp           new project, adding photos, the photo list and EVs
//   mainWindow_startup.cpp          opening what the command line named, end of the splash
//   mainWindow_close.cpp            the close handler
//   mainWindow_about.cpp            About, Qt licence and the update check
//   mainWindow_pending.cpp          commands whose operations are not built yet

#include "mainwindow/controlRules.h"

#include <QMainWindow>
#include <QMutex>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <memory>

class QAction;
class QActionGroup;
class QButtonGroup;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollArea;
class QTimer;
class QToolBar;
class QVBoxLayout;
class myDockWidget;
class myProgressBar;
class myQTabWidget;
class myScrollArea;
class loadOptionDialogs;
class about;
class checkUpdates;
class qtLicense;
class processingProject;
class zoomWidget;
class imageItem;
class EVselection;
class loadPhotoWorker;
class pyramid;
class QThread;
struct photoInfo_t;

// Percentage shown for a progress counter against its maximum (0 counts as
// 1); never above 100.
int progressPercent(uint64_t counter, uint64_t maximum);
// "6000x4000 [24.0 MPix]"
QString imageSizeText(int width, int height);
// How many photos load at once: by the image size (5 up to 10 MP, 3 up to
// 20 MP, else 2; raised towards 5 when availableMemory, in bytes, holds the
// further buffers with 1 GiB to spare; 0 = unknown), the thread limit (0 =
// every core), 100 and the queue; 2 at most when one of the first files to
// load is larger than 30 MB.
int loadThreadCount(int width, int height, int coreLimit, int idealThreads, const QList<qint64> &queuedFileSizes,
                    qint64 availableMemory = 0);
// The values of exiftool's reply to "-iso -exposureTime -apertureValue"
// (lines "Label : value"); a value the reply lacks is 0.
struct partialExifReply_t {
    int iso = 0;
    double exposureTime = 0;
    double fNumber = 0;
    bool answered = false;
};
partialExifReply_t parsePartialExifReply(const QStringList &lines);

// The EV source a batch task asks for (its ManualEVoption, EVauto, EVAEB and
// HdrMethod), set by the batch run before it adds the task's photos.
struct batchEvChoice_t {
    int manualEVoption = 0; // index of the manual step; 0 = none
    bool evAuto = false;
    bool evAEB = false;
    int hdrMethod = 0;
};
// Which EV source setEV selects, and what it tells the person or the batch log.
struct evModeDecision_t {
    enum mode_t { exif, exifAEB, automatic, manual } mode = automatic;
    int manualIndex = 0;       // for manual
    QString logLine;           // batch log (html), empty when none
    bool noExifWarning = false; // "No complete EXIF data found ..." is due
};
// exifComplete / aebPresent: the project's flags; batch: a batch task runs
// with the given choice and photo count; automatic: the command-line run.
evModeDecision_t chooseEvMode(bool exifComplete, bool aebPresent, bool batch, const batchEvChoice_t &choice,
                              int photoCount, bool automatic);

class mainWindow : public QMainWindow
{
    Q_OBJECT

public:
    mainWindow();
    ~mainWindow() override;

    // Height of the title strip (rows 0..21).
    static const int TITLE_HEIGHT = 22;

    // Frame state. main sets these once after restoring the geometry.
    bool windowMaximized = false;  // covers the available area through toggleSize
    bool windowMaximizing = false; // set with windowMaximized, consumed by the next resize
    QRect windowNormalGeometry;    // where toggleSize restores to; null at first

    myDockWidget *leftDock = nullptr;  // "Tools": presets, history, navigator
    myDockWidget *rightDock = nullptr; // "Processing": HDR, tone mapping, post-processing
    myQTabWidget *leftTab = nullptr;
    myQTabWidget *rightTab = nullptr;

    // Set while the window is built when something essential failed; main
    // then shows "Error on startup: '%1'." and ends with -1.
    bool startupError = false;
    QString startupErrorText;

    // Set by splashFinished once the start is complete.
    bool startupComplete = false;
    // Set by the close handler.
    bool closing = false;

    processingProject *project = nullptr;
    // The RAW and HDR load-option dialogs the project asks through.
    std::unique_ptr<loadOptionDialogs> loadOptionsDialogs;

    QString currentResultFileName() const { return resultFileName; }

    // Plug-in mode: the file that tells the host where the result went
    // ("Lumidra3_pluginCallback" in the start parameters' callback folder,
    // else the current folder). It holds the quoted native path of the saved
    // result, or two double quotes when nothing was saved.
    QString pluginCallbackPath() const;
    bool writePluginCallback();

    // 70 % of the available area at +5, +5: the size a maximized window
    // returns to when it has no other normal geometry.
    static QRect restoredRect(const QRect &available);

    // Applies the stored tool-bar and dock layout ("WindowState" and the
    // docks' floating state and geometry); main calls it once after show().
    void restoreWindowLayout();

    // The state the enabling rules read, gathered from the project and the
    // window's widgets.
    windowState_t currentWindowState() const;
    bool interfaceEnabled() const { return uiEnabled; }

    // The language table: native names and codes.
    struct language_t {
        QString name;
        QString code;
    };
    static QVector<language_t> languageTable();

    // Places where the pieces built elsewhere go. Each is an empty layout in
    // its tab or area until its widget is put there.
    QVBoxLayout *centralSlot = nullptr;        // the main image area
    QVBoxLayout *presetsSlot = nullptr;        // "Presets" tab
    QVBoxLayout *navigatorSlot = nullptr;      // "Navigator" tab
    QVBoxLayout *photoListSlot = nullptr;      // photo rows of the "Generate HDR" tab
    QVBoxLayout *evSelectionSlot = nullptr;    // EV selection under the photo rows
    QVBoxLayout *toneMappingSlot = nullptr;    // panels of the "Tone mapping" tab
    QVBoxLayout *postProcessingSlot = nullptr; // panels of the "Postprocessing" tab
    QListWidget *historyList = nullptr;

    // Made once at construction and kept.
    about *aboutDialog = nullptr;
    qtLicense *qtLicenseDialog = nullptr;
    checkUpdates *updateCheck = nullptr;

    // The commands whose operation comes with a later version of the window
    // log their name here (tests read it).
    QString lastPendingCommand() const { return pendingCommandName; }

    // Actions, in the order of the action table.
    QAction *newAct = nullptr, *addAct = nullptr, *removeAct = nullptr, *closeAct = nullptr,
            *generateHdrAct = nullptr, *loadProjectAct = nullptr, *saveProjectAct = nullptr, *saveAct = nullptr,
            *saveAsAct = nullptr, *externalEditorAct = nullptr, *savePreprocessedAct = nullptr,
            *batchAct = nullptr, *exitAct = nullptr, *copyAct = nullptr, *undoAct = nullptr, *redoAct = nullptr,
            *layersAct = nullptr, *zoom100Act = nullptr, *zoomFitAct = nullptr, *zoomOutAct = nullptr,
            *zoomInAct = nullptr, *maximizeWorkspaceAct = nullptr, *fullScreenAct = nullptr,
            *resetLayoutAct = nullptr, *beforeAct = nullptr, *resultAct = nullptr, *splitAct = nullptr;
    QAction *splitModeActs[5] = {};
    QAction *rotateCcwAct = nullptr, *rotateCwAct = nullptr, *rotate180Act = nullptr, *flipHorizontalAct = nullptr,
            *flipVerticalAct = nullptr, *cropAct = nullptr, *loadSettingsAct = nullptr,
            *saveSettingsAct = nullptr, *defaultSettingsAct = nullptr, *addPresetAct = nullptr,
            *userGroupsAct = nullptr, *revealPresetsAct = nullptr, *colorManagementAct = nullptr;
    QAction *inputProfileActs[5] = {};   // embedded, sRGB, Adobe RGB, Wide Gamut, Pro Photo
    QAction *monitorProfileActs[6] = {}; // by stored number: from file, sRGB, Adobe RGB, Apple RGB, Color Match, DCI-P3
    QAction *intentActs[4] = {};         // by Little CMS number: perceptual, relative, saturation, absolute
    QAction *programOptionsAct = nullptr, *optionsOnLoadAct = nullptr, *webHelpAct = nullptr,
            *aboutAct = nullptr, *checkUpdatesAct = nullptr;
    QList<QAction *> languageActs;
    QActionGroup *splitGroup = nullptr, *inputProfileGroup = nullptr, *monitorProfileGroup = nullptr,
                 *intentGroup = nullptr, *languageGroup = nullptr, *beforeGroup = nullptr;

    QMenu *fileMenu = nullptr, *historyMenu = nullptr, *viewMenu = nullptr, *imageMenu = nullptr,
          *transformMenu = nullptr, *presetsMenu = nullptr, *layersMenu = nullptr, *settingsMenu = nullptr,
          *languageMenu = nullptr, *colorSettingsMenu = nullptr, *photoColorSpaceMenu = nullptr,
          *monitorProfileMenu = nullptr, *intentMenu = nullptr, *helpMenu = nullptr, *beforeMenu = nullptr,
          *splitMenu = nullptr;

    QToolBar *fileToolBar = nullptr, *viewToolBar = nullptr, *settingsToolBar = nullptr, *miscToolBar = nullptr;

    // Status bar.
    zoomWidget *zoom = nullptr;
    QPushButton *photoProfileButton = nullptr;
    QPushButton *monitorProfileButton = nullptr;
    QLabel *sampleLabel = nullptr;
    QLabel *dimensionsCaption = nullptr;
    QLabel *dimensionsLabel = nullptr;
    QLabel *panoramaMark = nullptr;
    myProgressBar *progressBar = nullptr;
    QPushButton *breakButton = nullptr;
    QTimer *progressTimer = nullptr;
    uint64_t progressMaximum() const { return progressMax; }

    // Generate HDR tab buttons.
    QPushButton *newButton = nullptr, *addButton = nullptr, *removeButton = nullptr, *hdrButton = nullptr;

    double uiScale = 1.0;
    bool cropMode = false;
    bool showingBefore = false;

signals:
    void loadOnStartup();

public slots:
    // frame and layout
    void toggleSize();
    void leftTabOption(int option);
    void leftTabResized();
    void toggleFullScreen();
    void toggleFullScreen2();
    void toggleFullScreen(bool fullScreen);
    void resetWindowLayout();
    void updateWindowTitle(QString fileName);
    void setTitle(QString mainPart, QString filePart);

    // enabling rules
    void setControlsEnabled(bool enabled);
    void updateUndoRedoActions(bool enabled);
    void setToneMappingControlsEnabled();

    // progress
    void startProgress(uint64_t max, bool useBreak);
    void updateProgress();
    void finishProgress();
    void requestBreak();
    void showImageSize();

    // colour management, language, logging
    void setupColorManagement();
    void fillMonitorProfileMenu();
    void showColorSpaceMenu();
    void languageChanged();
    void enableLogging();
    void showOptionsOnLoadSlot();
    void openWebHelp();

    // About, licence, updates
    void showAbout();
    void showQtLicenseWindow();
    void checkForUpdates();
    // The silent check at the end of the start; does nothing in the automatic
    // run, in tests or when "Misc/AutoCheckUpdates" is off.
    void startSilentUpdateCheck();

    // start, files, small slots
    void splashFinished(QWidget *splashWidget);
    void loadOnStartupSlot();
    void addFileToOpen(QString fname);
    void addFileToOpen_timeout();
    virtual void addDroppedImages(QStringList files);
    void notifyAboutExiftoolError();
    void handleQuit();
    void leftTabChanged(int n);
    void rightTabChanged(int n);
    void setBackgroundSlot();
    void undo();
    void redo();

    // Commands whose operations come with later versions of the window.
    void newProject();
    void newProject(bool justClose);
    void addImages();
    void removeImages();
    void closeProject();
    void showGenerateHDR();
    void loadProjectSlot();
    void saveProjectSlot();
    void saveResultSlot();
    void saveResultAsSlot();
    void exportToExternalEditorSlot();
    void savePreprocessedSlot();
    void showBatch();
    void toggleLayersMode();
    void showBeforeSlot();
    void showResultSlot();
    void splitViewModeChange();
    void transformImageSlot();
    void toggleCropMode();
    void loadSettingsSlot();
    void saveSettingsSlot();
    void defaultSettingsSlot();
    void addNewPresetSlot();
    void showSetupUserGroups();
    void goToUserPresetFiles();
    void showProgramOptions();
    void updateThumbnails();
    void invalidatePresets(bool getThumbs = true, bool onlyIfMissing = false);

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void buildFrame();
    void buildDocks();
    void buildTabs();
    void createProject();
    void loadDefaultSettings();
    void logStartupDiagnostics();
    void logLibraryVersions();
    void createActions();
    void createMenuBar();
    void createToolBars();
    void createStatusWidgets();
    void applyControlStates(const controlStates_t &c, bool enabled);
    void writeWindowSettings();
    void pendingCommand(const char *slot);
    QRect availableArea() const;
    bool inTitleDragArea(const QPoint &pos) const;
    QAction *makeAction(const QString &text, const char *icon, const char *objectName);

    QWidget *titleStrip = nullptr;
    QLabel *titleIcon = nullptr;
    QLabel *titleMain = nullptr;
    QLabel *titleFn = nullptr;
    QPushButton *minimizeButton = nullptr;
    QPushButton *sizeButton = nullptr;
    QPushButton *closeButton = nullptr;
    QWidget *toneMappingPage = nullptr;
    QWidget *postProcessingPage = nullptr;
    QWidget *toneMappingPanelArea = nullptr;
    QWidget *photoPanel = nullptr;
    QWidget *evPanel = nullptr;

    QPoint dragOffset;
    bool dragging = false;
    bool uiEnabled = true;
    bool exiftoolErrorShown = false;
    uint64_t progressMax = 1;
    QString pendingCommandName;

    QString resultFileName;

    // Files handed over by the operating system, opened together 250 ms
    // after the last one arrived.
    QStringList filesToOpen;
    QTimer *filesToOpenTimer = nullptr;

public:
    QTimer *fileOpenTimer() const { return filesToOpenTimer; }

    // --- photos: adding, the photo list and EVs (mainWindow_photos.cpp) ---
    static const int LOAD_SLOT_COUNT = 100;
    static const int HDR_ITEM_ID = 0xffff;
    struct loadSlot_t {
        loadPhotoWorker *worker = nullptr;
        QThread *thread = nullptr;
        pyramid *buffer = nullptr;
    };
    QList<imageItem *> imageItems;     // photo rows, owned by the window
    imageItem *hdrItem = nullptr;      // the row of the merged HDR image
    EVselection *evSelection = nullptr;
    int includedCount = 0;             // rows whose include box is on (or that have none)
    bool loadingInProgress = false;
    bool resultSaved = false;          // the current result has been saved
    int lastLoadThreadCount = 0;       // threads the last start used (tests, log)
    int requestedExitCode = 0;         // the automatic run's exit code
    int photoToDisplay = -1;
    bool loadSlotBusy(int slot) const { return slot >= 0 && slot < LOAD_SLOT_COUNT && loadSlots[slot].worker; }
    bool anyLoadRunning() const;

    virtual bool addImages(QStringList fnList);
    void connectImageItem(const photoInfo_t &photo);
    bool removeImageItem(int id);
    void setEvLabels(bool invalidate);
    void selectImageItem(int id, bool keepImage, bool force);
    imageItem *findImageItem(int id) const;
    // Ends an automatic or plug-in run that cannot go on: logs the reason,
    // closes the window and leaves the event loop with code.
    void endRun(int code, const QString &reason);
    // Stops every worker cooperatively and waits for it; false when one had
    // to be waited for beyond its time limit.
    bool stopWorkers(bool closingWindow);

public slots:
    void addImagesStartThreads();
    void addImagesFinished(int status, QString errorMsg, int workerId);
    void setEV();
    void hdrGenerated();
    void imageItemChanged(int id);
    void imageItemStateChanged(int id, int state);
    void evChanged();
    void showBefore_EV0();
    void EVmanualSelectSlot(int idx);
    void EVsetFromExifSlot();
    void EVsetFromExifAEBslot();
    void EVautoSlot();
    void showGenerateHDR(bool loading);
    void loadProjectSlot(QString fileName);

public:
    QString shownImageCaption;         // caption of the photo the view shows
    batchEvChoice_t batchEv;           // the running batch task's EV source

signals:
    // A line for the batch log (html with its colour), while a batch runs.
    void batchLogMessage(const QString &html);

private:
    void buildPhotoList();
    void photoMessage(int kind, const QString &text);
    void startLoadThreadsLocked();
    void finishAddition();
    // The import options dialog for a first file of that type; false when
    // cancelled. Files that take no options pass at once.
    bool askImportOptions(int firstFileType);
    // The RAW options of each prepared RAW record (indexes in rawRecords),
    // asked one file at a time unless the options are taken without asking;
    // false when the person cancelled or a colour profile failed.
    bool chooseRawOptions(QList<photoInfo_t> &prepared, const QList<int> &rawRecords);
    // A line for the batch log (html), sent to whoever shows it.
    void batchLogLine(const QString &html);
    bool waitForLoadSlot(int slot, int polls);
    void releaseLoadSlot(int slot);

    loadSlot_t loadSlots[LOAD_SLOT_COUNT];
    QList<photoInfo_t> loadQueue;      // prepared records waiting for a slot (under loadMutex)
    QMutex loadMutex;
    QStringList loadingFiles, failedFiles, loadErrors, loadWarnings;
    QVBoxLayout *imageLayout = nullptr;
    bool stoppingWorkers = false;      // completions only clean up
};

extern mainWindow *mainWindowInstance;

#endif // MAINWINDOW_H
