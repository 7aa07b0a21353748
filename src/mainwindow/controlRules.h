#ifndef CONTROLRULES_H
#define CONTROLRULES_H

// The enabling rules of the main window as one pure function: from what the
// window knows about the project and its own modes to the enabled and visible
// state of every action, menu, dock, page and status widget. The window fills
// a windowState_t afresh on every change and applies the result; tests run
// the rules as a table without building a window.

struct windowState_t {
    bool enabled = true;              // no long operation runs
    int photoCount = 0;               // photo rows in the list
    int checkedCount = 0;             // photo rows whose check box is on
    int tab = 0;                      // "Processing" page: 0 HDR, 1 tone mapping, 2 post-processing
    bool hdrReady = false;            // an HDR image is ready for tone mapping
    bool layersOn = false;
    int layerCount = 0;               // layers in use besides the base layer
    bool firstIsHdr = false;          // the first photo is an HDR image file
    bool projectWithoutInputs = false; // loaded from a project file saved without its photos
    bool preprocessedExist = false;   // preprocessed inputs exist
    bool showFileOpen = false;        // "NewProject/ShowFileOpen"
    bool cropMode = false;
    bool fullScreen = false;          // "Full screen" checked
    bool maximizeWorkspace = false;   // "Maximize workspace" checked
    bool showingBefore = false;       // the image area shows the photo before processing
    bool colorManagement = false;     // "Color management" checked
    bool resultNameSet = false;       // a current result file name exists
    bool toolsDockClosed = false;     // the user closed the "Tools" dock
    bool evFromExif = false;          // the project's EXIF availability flags
    bool evFromExifAeb = false;
    int historyRow = -1;              // current row of the history list (-1 none)
    int historyCount = 0;
};

struct controlStates_t {
    // frame
    bool frameHidden = false;         // title strip, tool bars and status bar hidden, window full screen
    bool toolsDockVisible = false;
    bool toolsDockClosable = false;
    bool toolsTabsEnabled = false;
    bool processingTabsEnabled = false;
    bool processingDockVisible = false;
    bool toneMappingPagesEnabled = false; // tone-mapping and post-processing pages
    bool toneMappingViewActive = false;

    // photo panel
    bool optionsOnLoad = false;
    bool newButton = false;
    bool addButton = false;
    bool removeButton = false;
    bool hdrButton = false;
    bool ldrEnhancement = false;      // the HDR button and action read "LDR enhancement"
    bool evPanel = false;
    bool evFromExifChoice = false;
    bool evFromExifAebChoice = false;

    // actions
    bool newAction = false;
    bool newActionDots = true;        // "New..." when a file dialog follows, else "New"
    bool add = false;
    bool remove = false;
    bool close = false;
    bool generateHdr = false;
    bool save = false;
    bool saveAs = false;              // also "Open in external editor" and "Copy to clipboard"
    bool savePreprocessed = false;
    bool always = false;              // "Batch processing", "Exit", "Load project", workspace, options,
                                      // language, documentation, about, updates, presets folder,
                                      // "Color settings", "Color management"
    bool saveProject = false;
    bool zoom = false;                // zoom actions and the zoom control
    int zoomMinimumStep = 4;
    bool before = false;
    bool result = false;
    bool split = false;
    bool transformMenu = false;
    bool transforms = false;          // rotations, flips, cropping
    bool settingsCommands = false;    // settings files, default settings, presets from settings, groups
    bool colorSubmenus = false;
    bool colorButtonsVisible = false;
    bool colorButtonsEnabled = false;
    bool toneMappingPanel = false;    // also the sample readout and the dimensions
    bool saveHasCtrlS = true;         // else "Save as" takes "Ctrl+S"

    // history
    bool undo = false;
    bool redo = false;

    // layers
    bool layersToolVisible = false;
    bool layersToolEnabled = false;
    bool layersAction = false;
    bool layersActionSaysDisable = false;
    bool layerSelection = false;
    bool maskPainting = false;
    bool cropToolEnabled = false;
    bool vignettePanel = false;
};

controlStates_t computeControlStates(const windowState_t &s);

// Undo and Redo alone (also applied when only the history moved).
void historyRules(const windowState_t &s, bool *undo, bool *redo);

#endif // CONTROLRULES_H
