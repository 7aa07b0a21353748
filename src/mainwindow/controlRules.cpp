#include "mainwindow/controlRules.h"

void historyRules(const windowState_t &s, bool *undo, bool *redo)
{
    const bool base = s.enabled && s.tab == 1 && s.photoCount >= 1 && s.hdrReady;
    *undo = base && s.historyRow > 0;
    *redo = base && s.historyRow >= 0 && s.historyRow < s.historyCount - 1;
}

controlStates_t computeControlStates(const windowState_t &s)
{
    controlStates_t c;
    const bool E = s.enabled;
    const int N = s.photoCount;
    const int K = s.checkedCount;
    const int T = s.tab;
    const bool R = s.hdrReady;
    const bool L = s.layersOn;
    const bool H = N >= 1 && s.firstIsHdr;
    const bool U = N >= 1 && s.projectWithoutInputs;
    const bool P = s.preprocessedExist;
    const bool S = s.showFileOpen;
    const bool F = s.fullScreen;
    const bool W = s.maximizeWorkspace || s.fullScreen;

    c.toneMappingViewActive = T == 1 && E;
    c.frameHidden = W;
    c.toolsDockClosable = T == 1;
    c.toolsDockVisible = T == 1 && R && !s.toolsDockClosed && !F;
    c.toolsTabsEnabled = E && N >= 1 && R;
    c.processingTabsEnabled = E;
    c.processingDockVisible = !F;
    c.toneMappingPagesEnabled = E && N >= 1 && R;

    c.optionsOnLoad = E;
    c.newButton = E && (S || N >= 1);
    c.addButton = E && !(N == 0 && S) && !H && !U;
    c.removeButton = E && N >= 1 && !U;
    c.hdrButton = E && N >= 1 && K >= 1 && !H && !U;
    c.ldrEnhancement = K == 1 && !H;
    c.evPanel = E && N >= 2 && !U;
    c.evFromExifChoice = s.evFromExif;
    c.evFromExifAebChoice = s.evFromExifAeb;

    c.newAction = E && (S || N >= 1);
    c.newActionDots = S;
    c.add = E && (T == 0 || N == 0) && !(N == 0 && S) && !H && !U;
    c.remove = E && T == 0 && N >= 1 && !U;
    c.close = E && N >= 1;
    c.generateHdr = E && T == 0 && N >= 1 && K >= 1 && !H && !U;
    c.saveAs = E && (T == 1 || T == 2) && N >= 1 && R;
    c.save = c.saveAs && s.resultNameSet;
    c.savePreprocessed = E && N >= 1 && P && !U;
    c.always = E;
    c.saveProject = E && T != 2 && N >= 1 && !H;
    c.zoom = E && N >= 1;
    c.zoomMinimumStep = L ? 9 : 4;
    c.before = E && N >= 1 && T != 2 && !U;
    c.result = E && N >= 1 && T == 1 && R && s.showingBefore;
    c.split = E && N >= 1 && T == 1 && R && !U;
    c.transformMenu = E && N >= 1 && !s.cropMode;
    c.transforms = E && N >= 1;
    c.settingsCommands = E && N >= 1 && T == 1;
    c.colorSubmenus = E && s.colorManagement;
    c.colorButtonsVisible = s.colorManagement;
    c.colorButtonsEnabled = E;
    c.toneMappingPanel = E && N >= 1;
    c.saveHasCtrlS = c.save;

    historyRules(s, &c.undo, &c.redo);

    c.layersToolVisible = N >= 1 && T == 1 && L && R && !F;
    c.layersToolEnabled = E;
    c.layersAction = E && N >= 1 && T == 1 && R;
    c.layersActionSaysDisable = L;
    c.layerSelection = E && N >= 1 && T == 1 && L;
    c.maskPainting = E && s.layerCount >= 1 && T == 1;
    c.cropToolEnabled = E;
    c.vignettePanel = E && !(L && s.layerCount != 0);
    return c;
}
