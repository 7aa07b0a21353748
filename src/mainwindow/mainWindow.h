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
//   mainWindow_view.cpp             the image view, navigator, tools and panels; title and split view
//   mainWindow_toneMapping.cpp      preview passes, tab switching, full-size preparation
//   mainWindow_save.cpp             saving the result, options, export, batch save step
//   mainWindow_pending.cpp          commands whose operations are not built yet

#include "mainwindow/controlRules.h"
#include "project/rgbDouble.h"
#include "project/tableSizes.h"
#include "views/viewMaths.h"

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
class historyItem;
class layersTool;
class cropTool;
class mainWorkspace;
class transformWorker;
class pyramid;
class QThread;
class QEventLoop;
class saveResult;
class saveResultWorker;
struct photoInfo_t;
struct processingParams_t;
class presetLibrary;
class presetLibraryHost;
class settingsPanelsView;
struct projectFileHeader_t;
struct projectLoadState_t;
class saveProjectWorker;
struct startParams_t;
class generateHDR;
class mainWorkspace;
class navigator;
class layersTool;
class cropTool;
class toolBox;
class toneCurveGroup;
class histogramGroup;
class tonemappingGroup;
class colorSaturationGroup;
class colorAdjustGroup;
class vignetteGroup;
class gaussianBlurGroup;
class sharpenGroup;
class medianFilterGroup;
class bilateralFilterGroup;
class sampleTargetBalanceGroup;
class postProcessingControl;
class toneMappingPreviewWorker;
class toneMappingPreprocessWorker;

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
// The operation of an applied crop: 6 (crop with rotation, distortion and
// perspective) when any of the four values is above 0.001 in size, else 5.
int cropTransformMode(double angle, double distortion, double perspectiveX, double perspectiveY);
// Black and white levels after a level sample: the sampled level is kept below
// 0.99999 (black) and the other level moved so that black < white by 1e-5 at least.
struct levelsSample_t {
    double black;
    double white;
};
levelsSample_t levelsAfterSample(bool blackLevel, double luminance, double blackPoint, double whitePoint);
// The status-bar text of a sampled colour ("[R:012.3%, G:100.0%, B:050.0%]  ").
QString sampleValuesText(bool inImage, double r, double g, double b);

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
    // Resets the progress and the load bookkeeping, queues the prepared photos and starts the loaders.
    void queuePhotoLoads(const QList<photoInfo_t> &prepared, uint64_t progressMaximum);
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
    // --- presets and settings files (mainWindow_presets.cpp) ---
public:
    presetLibrary *presets = nullptr;   // the "Presets" tab
    // The panels as the settings refresh reaches them; set by the code that
    // embeds the panels (none: a loaded record is only stored).
    settingsPanelsView *panelsView = nullptr;
    // Reads a settings file into params: 0, -1 (unreadable or refused) or 1
    // (old version). Unless noApply, shows it in the panels (locked ones
    // stay) and emits settingsApplied. lastSettingsError says why it failed.
    int loadSettingsFile(const QString &fileName, bool preset, processingParams_t *params, bool noApply);
    // Writes params through the checked save; false (logged) on failure.
    bool saveSettingsFile(const QString &fileName, const processingParams_t *params);
    // The plain reader and writer under the same names (no panels, no signal).
    static int loadSettingsFile(const QString &fileName, processingParams_t *params, QString *errorText = nullptr);
    static bool saveSettingsFile(const QString &fileName, const processingParams_t &params,
                                 QString *errorText = nullptr);
    void applySettingsToPanels(processingParams_t *params, bool force);
    // Stops a running thumbnail run before the image changes.
    void stopPresetThumbnails();
    QString lastSettingsError;

signals:
    // A settings record was loaded into layer `layer`: the view re-renders.
    void settingsApplied(int layer, bool preset);
    // A history entry for the current layer (layer -1) or a given one.
    void historyEntryRequested(QString text, int layer, bool startingPoint);

public slots:
    void loadSettingsSlot(QString inFn, bool preset);
    void loadSettingsSlot(QString inFn);

private:
    void buildPresetLibrary();
    // Loaded settings re-render and add history; restored layers and the
    // padlocks reach the panels and the thumbnails.
    void connectPresetSignals();
    std::shared_ptr<presetLibraryHost> presetHost; // shared: the type is known only where it is made
    std::shared_ptr<settingsPanelsView> windowPanels; // what panelsView points to
    // --- end of presets ---

    // --- project files (mainWindow_project.cpp) ---
public:
    QString currentProjectPath;          // the project file last loaded or saved
    QString projectLayerNames[10];       // layer names as a project file stores them
    int projectLayerCount = 1;           // layers the last project load restored (base included)
    // The HDR generation options of the loaded project (saved again with it).
    std::shared_ptr<projectFileHeader_t> projectHdrOptions;
    bool projectLoadRunning() const;
    bool projectSaveRunning() const { return projectSaveThread != nullptr; }
    // Ends a running project load or save (waits for its worker).
    bool stopProjectWorkers();

signals:
    void projectLoaded(bool ok);
    void projectSaved(bool ok);

public slots:
    void saveProjectSlot(QString fileName, bool batchWithHDR);
    void loadProjectFinished();
    void saveProjectFinished();

private:
    bool startPreparedPhotos(const QList<photoInfo_t> &prepared);
    void startProjectExtras();
    std::shared_ptr<projectLoadState_t> projectLoad;
    QThread *projectSaveThread = nullptr;
    saveProjectWorker *projectSaver = nullptr;
    // --- end of project files ---

    // --- HDR generation and the automatic run (mainWindow_generateHDR.cpp, mainWindow_auto.cpp) ---
public:
    generateHDR *hdrDialog = nullptr;  // made on first use, kept
    QString lastSavedHdrFile;          // the HDR file the last run wrote
    generateHDR *generateHdrDialog();
    QString proposedHdrPath() const;
    // Why the automatic run cannot start (no output name, a folder that
    // cannot be written), empty when it can.
    static QString automaticRunProblem(const startParams_t &params);
    // The result name of the automatic run: the output name itself, or in
    // plug-in mode a free name in its folder built from the photos.
    QString automaticResultName() const;
    // After the merge in the automatic run: the start settings, the
    // tone-mapping preparation, then the save as an interactive save does it
    // (saveResultNoDialog), then the end of the run with its exit code.
    void startAutomaticFinish();
    // The save options of the automatic run: the format by the name's
    // suffix (else the one of the command line), the TIFF bit depth of the
    // command line, the stored options otherwise. Null outside that run.
    std::unique_ptr<saveResult> automaticSaveDialog(const QString &fileName);
    // Ends the automatic run once the save has ended: its exit code is 0 only
    // when the file under the final name decodes with the result's size.
    void automaticResultSaved(bool saved, const QString &fileName);
private:
    bool automaticFinishing = false;
    QMetaObject::Connection automaticPrepared;

    // --- history and undo, transformations, crop and layer modes, sampling,
    //     keyboard navigation (mainWindow_history.cpp, mainWindow_transform.cpp,
    //     mainWindow_keyboard.cpp) ---
public:
    historyItem *historyRow(int row) const;
    // Adds a row for the layer (-1: the current one) after cutting the redo
    // tail; layerMask records the layer's mask in a new undo file.
    void doAddToHistory(QString txt, int layer = -1, bool startingPoint = false, bool layerMask = false);
    void clearHistory(int layer);
    void removeLastFromHistory();
    int sampleMode = 0;
    bool transformRunning() const { return transformThread != nullptr; }
    // The operation of the running (or last) transform, -1 before any.
    int lastTransformMode = -1;

signals:
    // Requests to the tone-mapping flow and the panels.
    void layerSettingsRestored(int layer);   // show the layer's restored settings in the panels
    void rerenderRequested();                // tone-map every layer and repaint
    void transformFinished(bool success);

public slots:
    void newToHistory(QString txt) { doAddToHistory(txt); }
    void clearHistory() { clearHistory(-1); }
    void addMaskUndoStep();
    void applyHistory();
    void skipDisabledHistoryItems();
    void applyCropping(cropRect rect);
    void transformImageFinished();
    void regenerateLayersThumbs();
    void setCropAngle(double angle);
    void setDistortionValue(double value);
    void setPerspectiveValue(double valueX, double valueY);
    void toggleSampleMode(int mode);
    void toggleSampleMode();
    void sampleTakenSlot(int mode, int extra, rgbDouble_t sampleValue);
    void switchUp();
    void switchDown();
    void showSampleValues(bool inImg, rgbDouble_t rgb, rgbDouble_t rgbHdr);
    // Keys of the presets list (Tone mapping tab, Presets tab, an HDR image ready).
    void switchPresetUp();
    void switchPresetDown();
    void goToPreset(QChar ch);
    // A panel header clicked (isOpen: the panel was open); in the
    // Postprocessing tab one filter panel is open at a time.
    void rightTab_2_groupToggle(toolBox *obj, bool isOpen);
    void rightTab_3_groupToggle(toolBox *obj, bool isOpen);
    // Shows a layer's settings record in the panels (layer switch, undo,
    // samples taken).
    void showLayerSettings(int layer);

public:
    // Starts the transform of the whole project on its worker (modes 0-6).
    void startTransform(int mode, cropRect rect, double angle, double distortion, double perspectiveX,
                        double perspectiveY);

private:
    void restyleHistoryRows();
    void rerenderAfterChange();
    void reportWindowMessage(int kind, const QString &text);
    bool waitForTransformWorker(int polls);
    void connectKeyboardNavigation();
    void connectHistoryAndTools();
    void switchPhotoBy(int direction);
    void connectPresetKeys();
    bool presetKeysActive() const;
    void switchPresetBy(int direction);
    void connectPanelGroups();
    void showPanelGroup(QWidget *page, toolBox *panel, bool isOpen);
    // Releases the eyedroppers of every panel except the one of keepMode.
    void releaseSampleButtons(int keepMode);

    transformWorker *transformJob = nullptr;
    QThread *transformThread = nullptr;
    bool applyingHistory = false;
    // --- views, panels and the tone-mapping flow (mainWindow_view.cpp, mainWindow_toneMapping.cpp) ---
public:
    // The central image view with the layers tool and the crop tool under it,
    // the navigator of the "Navigator" tab, and the panels of the two
    // processing tabs.
    mainWorkspace *workspace = nullptr;
    navigator *navigatorWidget = nullptr;
    layersTool *layersToolWidget = nullptr;
    cropTool *cropToolWidget = nullptr;
    toneCurveGroup *toneCurvePanel = nullptr;
    histogramGroup *histogramPanel = nullptr;
    tonemappingGroup *toneMappingPanel = nullptr;
    colorSaturationGroup *colorSaturationPanel = nullptr;
    colorAdjustGroup *colorAdjustPanel = nullptr;
    vignetteGroup *vignettePanel = nullptr;
    gaussianBlurGroup *gaussianBlurPanel = nullptr;
    sharpenGroup *sharpenPanel = nullptr;
    medianFilterGroup *medianFilterPanel = nullptr;
    bilateralFilterGroup *bilateralFilterPanel = nullptr;
    sampleTargetBalanceGroup *sampleTargetBalancePanel = nullptr;
    postProcessingControl *postProcessing = nullptr;
    QList<toolBox *> toneMappingPanels() const;
    QList<toolBox *> postProcessingPanels() const;

    // Re-renders what the view shows after the image or the settings changed
    // outside the panels (undo, history, transforms, loaded settings): every
    // enabled layer is tone-mapped again (after the running pass, if any) and
    // the view repainted; the photo on display is read again.
    void refreshAfterChange();
    // Shows the photo (or, for HDR_ITEM_ID or an HDR file, the HDR image)
    // in the view; force reads it again even when it is on display already.
    void showImageInView(int id, bool force);
    int shownImageId() const { return viewImageId; }
    // Empties the view and the navigator before the project lets its images go.
    void clearView();
    // Split mode of the view, 0..4 (0 off).
    int splitMode() const;

    // Tone-mapping passes: accepted requests, passes run, whether a request
    // waits for the running pass to end, and whether the full-size
    // preparation for the filters has been done for the current result.
    uint64_t toneMappingRequests = 0;
    uint64_t toneMappingPasses = 0;
    bool toneMappingPending() const { return pendingRequest.waiting; }
    bool preparedForPostProcessing = false;
    bool postProcessingPreparing() const { return preparingPostProcessing; }
    bool toneMappingPreparing() const { return prepareThread != nullptr; }
    // Stops the preview and preparation workers cooperatively and waits for
    // them (new project, closing); the flags end clear.
    void stopToneMappingWorkers();

public slots:
    void doToneMapping(QObject *trueSender, bool preset, bool visibility, bool all);
    void doToneMapping(QObject *trueSender, bool preset, bool visibility) { doToneMapping(trueSender, preset, visibility, false); }
    void doToneMapping(QObject *trueSender, bool preset) { doToneMapping(trueSender, preset, false, false); }
    void doToneMapping(QObject *trueSender) { doToneMapping(trueSender, false, false, false); }
    void doToneMapping() { doToneMapping(nullptr, false, false, false); }
    void doToneMappingVisibility(QObject *trueSender) { doToneMapping(trueSender, false, true, false); }
    void doToneMappingVisibility() { doToneMapping(nullptr, false, true, false); }
    void doToneMappingFinished();
    void toneMappingPrepare();
    void toneMappingPrepareFinished();
    void prepareForPostProcessingFinished(bool success);
    void updateHistogramPanels();

signals:
    // The preparation of a new HDR image has ended (false: broken off).
    void toneMappingPrepared(bool success);

private:
    struct toneMappingRequest_t {
        bool waiting = false;
        QPointer<QObject> sender;
        bool fromCode = false; // a request without a sender was merged in
        bool preset = false;
        bool visibility = false;
        bool all = false;
    };
    void buildViews();
    void destroyViews();
    void connectPanels();
    void applyViewControlStates(const controlStates_t &c);
    void syncViewState(bool render);
    void startPreviewPass(QObject *trueSender, bool all);
    void finishPreviewPass(bool keepPreset, bool updateLevels, int currentLayer);
    bool hasImageToToneMap() const;
    void selectCurrentImageAfterReturn();
    void showPostProcessingResult();

    toneMappingPreviewWorker *previewWorker = nullptr;
    QThread *previewThread = nullptr;
    toneMappingPreprocessWorker *prepareWorker = nullptr;
    QThread *prepareThread = nullptr;
    toneMappingRequest_t pendingRequest;
    bool suppressTabPreparation = false; // toneMappingPrepare switches the tab itself
    bool preparingPostProcessing = false;
    int previousRightTab = 0;
    bool layerTouched[LAYER_COUNT] = {};
    std::unique_ptr<pyramid> viewPhoto;   // the photo on display (read from its temporary file)
    int viewImageId = -1;
    bool viewShowsResult = false;         // the full-size result of the Postprocessing tab is on display
    // --- saving the result, program options, export and the batch save step (mainWindow_save.cpp) ---
public:
    // The task fields of the batch save step (filled by the batch).
    struct batchSaveTask_t {
        QString taskName;          // the task's name: the output file's base name
        QString outputFolder;
        int jpegQuality = 100;
        int resizeLongEdge = 0;    // pixels
        bool resize = false;
        bool convertToSrgb = true;
        bool transferExif = true;
        bool transferExifGps = true;
        int dpi = 300;
        int tiffCompression = 0;
        int tiffBitDepth = 1;      // 1 = 8 bits, 2 = 16 bits
        bool overwrite = false;    // take the first name even when files of it exist
    };
    batchSaveTask_t batchTask;
    QStringList batchLogLines;       // the batch log (HTML lines)
    QEventLoop *batchEventLoop = nullptr; // the batch waits in it; the save step ends it
    QString lastResultName;          // proposal of the next save; set by the batch and the automatic run
    QString presetNameForSaving;     // the current preset name ("%P" of the output name)
    QString presetNameAtLastSave;
    QString lastSaveFailure;         // why the last save failed ("" after a success)
    bool saveRunning() const { return saveWorker != nullptr; }
    // The result shown is the full-size one of the post-processing tab: the
    // save writes it without tone mapping again.
    bool resultIsPostProcessed() const;
    void batchLog(const QString &text, const char *colour);
    void saveResultSlot(bool showSaveAs, saveResult *_sr, bool ee, QString forceFn, bool appClose);
    // Saves lastResultName without any dialog: with the batch task's options in
    // a batch, with the stored options otherwise (automatic run).
    void saveResultNoDialog();
    bool processBatchTask(QString nameSuffix, bool saveProject);
    bool showProgramOptions(int tab);

public slots:
    void saveResultFinished();

signals:
    // A save has ended (after its messages); saved: the file is in place.
    void resultSaveEnded(bool saved);

private:
    saveResultWorker *saveWorker = nullptr;
    bool saveAppClose = false;
    QString chooseResultName(const QString &proposal, int *filterFormat);

    // --- saving the preprocessed input photos (mainWindow_savePreprocessed.cpp) ---
public:
    QString lastPreprocessedFolder;       // folder proposed by the next save of the photos
    QStringList lastPreprocessedFiles;    // the files written by the last one

public slots:
    void savePreprocessedFinished();

signals:
    // The photos' save has ended (after its messages).
    void preprocessedSaveEnded(bool allSaved);

private:
    bool savePreprocessedRunning = false;
};


extern mainWindow *mainWindowInstance;

#endif // MAINWINDOW_H
