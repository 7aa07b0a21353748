// The enabling rules as a table: every item of the rules with the states that
// switch it on and off.

#include "mainwindow/controlRules.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// A project on the tone-mapping page with everything in place: every item
// that can be enabled is.
windowState_t ready()
{
    windowState_t s;
    s.enabled = true;
    s.photoCount = 3;
    s.checkedCount = 2;
    s.tab = 1;
    s.hdrReady = true;
    s.preprocessedExist = true;
    s.colorManagement = true;
    s.showingBefore = true;
    s.resultNameSet = true;
    s.historyRow = 1;
    s.historyCount = 3;
    return s;
}

using mod_t = std::function<void(windowState_t &)>;
using get_t = std::function<int(const controlStates_t &)>;

struct ruleCase {
    const char *what;
    mod_t mod;
    get_t get;
    int expected;
};

#define FIELD(f) [](const controlStates_t &c) { return int(c.f); }
#define SET(expr) [](windowState_t &s) { expr; }

const mod_t none = [](windowState_t &) {};
const mod_t off = SET(s.enabled = false);
const mod_t noPhotos = SET(s.photoCount = 0; s.checkedCount = 0);
const mod_t hdrFile = SET(s.firstIsHdr = true);
const mod_t noInputs = SET(s.projectWithoutInputs = true);

const ruleCase cases[] = {
    {"options on load", none, FIELD(optionsOnLoad), 1},
    {"options on load, busy", off, FIELD(optionsOnLoad), 0},

    {"New button, no photos", noPhotos, FIELD(newButton), 0},
    {"New button, no photos, file dialog first", SET(s.photoCount = 0; s.showFileOpen = true), FIELD(newButton), 1},
    {"New button, photos", none, FIELD(newButton), 1},
    {"New button, busy", off, FIELD(newButton), 0},
    {"New action, no photos", noPhotos, FIELD(newAction), 0},
    {"New action, file dialog first", SET(s.photoCount = 0; s.showFileOpen = true), FIELD(newAction), 1},
    {"New action reads New... with the file dialog", SET(s.showFileOpen = true), FIELD(newActionDots), 1},
    {"New action reads New without it", none, FIELD(newActionDots), 0},

    {"Add button on any page", none, FIELD(addButton), 1},
    {"Add button, no photos", noPhotos, FIELD(addButton), 1},
    {"Add button, no photos, file dialog first", SET(s.photoCount = 0; s.showFileOpen = true), FIELD(addButton), 0},
    {"Add button, HDR file", hdrFile, FIELD(addButton), 0},
    {"Add button, project without inputs", noInputs, FIELD(addButton), 0},
    {"Add button, busy", off, FIELD(addButton), 0},
    {"Add action on the tone-mapping page", none, FIELD(add), 0},
    {"Add action on the HDR page", SET(s.tab = 0), FIELD(add), 1},
    {"Add action without photos on any page", SET(s.photoCount = 0; s.tab = 2), FIELD(add), 1},
    {"Add action, no photos, file dialog first", SET(s.photoCount = 0; s.showFileOpen = true), FIELD(add), 0},
    {"Add action, HDR file", SET(s.tab = 0; s.firstIsHdr = true), FIELD(add), 0},
    {"Add action, project without inputs", SET(s.tab = 0; s.projectWithoutInputs = true), FIELD(add), 0},

    {"Remove button", none, FIELD(removeButton), 1},
    {"Remove button, no photos", noPhotos, FIELD(removeButton), 0},
    {"Remove button, project without inputs", noInputs, FIELD(removeButton), 0},
    {"Remove action off the HDR page", none, FIELD(remove), 0},
    {"Remove action on the HDR page", SET(s.tab = 0), FIELD(remove), 1},
    {"Remove action, busy", SET(s.tab = 0; s.enabled = false), FIELD(remove), 0},

    {"Close", none, FIELD(close), 1},
    {"Close, no photos", noPhotos, FIELD(close), 0},
    {"Close, busy", off, FIELD(close), 0},

    {"HDR button on any page", none, FIELD(hdrButton), 1},
    {"HDR button, nothing checked", SET(s.checkedCount = 0), FIELD(hdrButton), 0},
    {"HDR button, HDR file", hdrFile, FIELD(hdrButton), 0},
    {"HDR button, project without inputs", noInputs, FIELD(hdrButton), 0},
    {"Generate HDR action off the HDR page", none, FIELD(generateHdr), 0},
    {"Generate HDR action on the HDR page", SET(s.tab = 0), FIELD(generateHdr), 1},
    {"Generate HDR action, nothing checked", SET(s.tab = 0; s.checkedCount = 0), FIELD(generateHdr), 0},
    {"one photo checked: LDR enhancement", SET(s.checkedCount = 1), FIELD(ldrEnhancement), 1},
    {"two checked: Generate HDR", none, FIELD(ldrEnhancement), 0},
    {"one HDR file checked: Generate HDR", SET(s.checkedCount = 1; s.firstIsHdr = true), FIELD(ldrEnhancement), 0},

    {"EV panel with two photos", SET(s.photoCount = 2), FIELD(evPanel), 1},
    {"EV panel with one photo", SET(s.photoCount = 1), FIELD(evPanel), 0},
    {"EV panel, project without inputs", noInputs, FIELD(evPanel), 0},
    {"EV panel's EXIF choice follows the project", SET(s.evFromExif = true), FIELD(evFromExifChoice), 1},
    {"EV panel's AEB choice follows the project", none, FIELD(evFromExifAebChoice), 0},

    {"Save with a result name", none, FIELD(save), 1},
    {"Save on the post-processing page", SET(s.tab = 2), FIELD(save), 1},
    {"Save on the HDR page", SET(s.tab = 0), FIELD(save), 0},
    {"Save without a result name", SET(s.resultNameSet = false), FIELD(save), 0},
    {"Save without an HDR image", SET(s.hdrReady = false), FIELD(save), 0},
    {"Save, no photos", noPhotos, FIELD(save), 0},
    {"Save as without a result name", SET(s.resultNameSet = false), FIELD(saveAs), 1},
    {"Save as on the HDR page", SET(s.tab = 0), FIELD(saveAs), 0},
    {"Save as without an HDR image", SET(s.hdrReady = false), FIELD(saveAs), 0},
    {"Save as, busy", off, FIELD(saveAs), 0},
    {"Ctrl+S on Save when Save is enabled", none, FIELD(saveHasCtrlS), 1},
    {"Ctrl+S on Save as when Save is disabled", SET(s.resultNameSet = false), FIELD(saveHasCtrlS), 0},

    {"Save preprocessed", none, FIELD(savePreprocessed), 1},
    {"Save preprocessed, none exist", SET(s.preprocessedExist = false), FIELD(savePreprocessed), 0},
    {"Save preprocessed, project without inputs", noInputs, FIELD(savePreprocessed), 0},
    {"Save preprocessed, no photos", noPhotos, FIELD(savePreprocessed), 0},

    {"Batch, Exit, Load project and the rest", noPhotos, FIELD(always), 1},
    {"Batch, Exit, Load project and the rest, busy", off, FIELD(always), 0},

    {"Save project on the tone-mapping page", none, FIELD(saveProject), 1},
    {"Save project on the HDR page", SET(s.tab = 0), FIELD(saveProject), 1},
    {"Save project on the post-processing page", SET(s.tab = 2), FIELD(saveProject), 0},
    {"Save project, HDR file", hdrFile, FIELD(saveProject), 0},
    {"Save project, no photos", noPhotos, FIELD(saveProject), 0},

    {"zoom", none, FIELD(zoom), 1},
    {"zoom, no photos", noPhotos, FIELD(zoom), 0},
    {"lowest zoom step without layers", none, FIELD(zoomMinimumStep), 4},
    {"lowest zoom step with layers", SET(s.layersOn = true), FIELD(zoomMinimumStep), 9},

    {"before", none, FIELD(before), 1},
    {"before on the HDR page", SET(s.tab = 0), FIELD(before), 1},
    {"before on the post-processing page", SET(s.tab = 2), FIELD(before), 0},
    {"before, project without inputs", noInputs, FIELD(before), 0},
    {"result while the before picture shows", none, FIELD(result), 1},
    {"result while the result shows", SET(s.showingBefore = false), FIELD(result), 0},
    {"result on the HDR page", SET(s.tab = 0), FIELD(result), 0},
    {"result without an HDR image", SET(s.hdrReady = false), FIELD(result), 0},
    {"split view", none, FIELD(split), 1},
    {"split view, project without inputs", noInputs, FIELD(split), 0},
    {"split view on the HDR page", SET(s.tab = 0), FIELD(split), 0},
    {"split view without an HDR image", SET(s.hdrReady = false), FIELD(split), 0},

    {"Transform submenu", none, FIELD(transformMenu), 1},
    {"Transform submenu in crop mode", SET(s.cropMode = true), FIELD(transformMenu), 0},
    {"rotations and crop in crop mode", SET(s.cropMode = true), FIELD(transforms), 1},
    {"rotations and crop, no photos", noPhotos, FIELD(transforms), 0},

    {"settings commands", none, FIELD(settingsCommands), 1},
    {"settings commands on the HDR page", SET(s.tab = 0), FIELD(settingsCommands), 0},
    {"settings commands, no photos", noPhotos, FIELD(settingsCommands), 0},

    {"colour submenus", none, FIELD(colorSubmenus), 1},
    {"colour submenus without colour management", SET(s.colorManagement = false), FIELD(colorSubmenus), 0},
    {"colour submenus, busy", off, FIELD(colorSubmenus), 0},
    {"colour buttons shown while busy", off, FIELD(colorButtonsVisible), 1},
    {"colour buttons hidden without colour management", SET(s.colorManagement = false), FIELD(colorButtonsVisible), 0},
    {"colour buttons disabled while busy", off, FIELD(colorButtonsEnabled), 0},

    {"tone-mapping panel and readouts", none, FIELD(toneMappingPanel), 1},
    {"tone-mapping panel, no photos", noPhotos, FIELD(toneMappingPanel), 0},

    {"undo in the middle of the history", none, FIELD(undo), 1},
    {"redo in the middle of the history", none, FIELD(redo), 1},
    {"undo at the first row", SET(s.historyRow = 0), FIELD(undo), 0},
    {"undo with no row", SET(s.historyRow = -1), FIELD(undo), 0},
    {"redo at the last row", SET(s.historyRow = 2), FIELD(redo), 0},
    {"redo with no row", SET(s.historyRow = -1), FIELD(redo), 0},
    {"undo on the HDR page", SET(s.tab = 0), FIELD(undo), 0},
    {"redo without an HDR image", SET(s.hdrReady = false), FIELD(redo), 0},
    {"undo, busy", off, FIELD(undo), 0},
    {"redo, busy", off, FIELD(redo), 0},

    {"Tools dock on the tone-mapping page", none, FIELD(toolsDockVisible), 1},
    {"Tools dock on the HDR page", SET(s.tab = 0), FIELD(toolsDockVisible), 0},
    {"Tools dock without an HDR image", SET(s.hdrReady = false), FIELD(toolsDockVisible), 0},
    {"Tools dock closed by the user", SET(s.toolsDockClosed = true), FIELD(toolsDockVisible), 0},
    {"Tools dock in full screen", SET(s.fullScreen = true), FIELD(toolsDockVisible), 0},
    {"Tools dock kept while busy", off, FIELD(toolsDockVisible), 1},
    {"Tools dock in maximized workspace", SET(s.maximizeWorkspace = true), FIELD(toolsDockVisible), 1},
    {"Tools dock closable on the tone-mapping page", none, FIELD(toolsDockClosable), 1},
    {"Tools dock not closable elsewhere", SET(s.tab = 2), FIELD(toolsDockClosable), 0},
    {"Tools tabs", none, FIELD(toolsTabsEnabled), 1},
    {"Tools tabs without an HDR image", SET(s.hdrReady = false), FIELD(toolsTabsEnabled), 0},
    {"Tools tabs, busy", off, FIELD(toolsTabsEnabled), 0},
    {"Processing tabs without photos", noPhotos, FIELD(processingTabsEnabled), 1},
    {"Processing tabs, busy", off, FIELD(processingTabsEnabled), 0},
    {"Processing dock in maximized workspace", SET(s.maximizeWorkspace = true), FIELD(processingDockVisible), 1},
    {"Processing dock in full screen", SET(s.fullScreen = true), FIELD(processingDockVisible), 0},
    {"tone-mapping pages", none, FIELD(toneMappingPagesEnabled), 1},
    {"tone-mapping pages without an HDR image", SET(s.hdrReady = false), FIELD(toneMappingPagesEnabled), 0},
    {"frame in the normal layout", none, FIELD(frameHidden), 0},
    {"frame in maximized workspace", SET(s.maximizeWorkspace = true), FIELD(frameHidden), 1},
    {"frame in full screen", SET(s.fullScreen = true), FIELD(frameHidden), 1},
    {"frame state kept while busy", SET(s.enabled = false; s.fullScreen = true), FIELD(frameHidden), 1},
    {"tone-mapping view active", none, FIELD(toneMappingViewActive), 1},
    {"tone-mapping view inactive while busy", off, FIELD(toneMappingViewActive), 0},

    {"layers tool", SET(s.layersOn = true), FIELD(layersToolVisible), 1},
    {"layers tool without layers", none, FIELD(layersToolVisible), 0},
    {"layers tool in full screen", SET(s.layersOn = true; s.fullScreen = true), FIELD(layersToolVisible), 0},
    {"layers tool on the HDR page", SET(s.layersOn = true; s.tab = 0), FIELD(layersToolVisible), 0},
    {"layers tool enabled", none, FIELD(layersToolEnabled), 1},
    {"layers tool disabled while busy", off, FIELD(layersToolEnabled), 0},
    {"layers action", none, FIELD(layersAction), 1},
    {"layers action on the post-processing page", SET(s.tab = 2), FIELD(layersAction), 0},
    {"layers action without an HDR image", SET(s.hdrReady = false), FIELD(layersAction), 0},
    {"layers action reads Disable layers", SET(s.layersOn = true), FIELD(layersActionSaysDisable), 1},
    {"layers action reads Enable layers", none, FIELD(layersActionSaysDisable), 0},
    {"layer selection", SET(s.layersOn = true), FIELD(layerSelection), 1},
    {"layer selection without layers", none, FIELD(layerSelection), 0},
    {"mask painting with a layer", SET(s.layerCount = 1), FIELD(maskPainting), 1},
    {"mask painting without layers", none, FIELD(maskPainting), 0},
    {"crop tool", none, FIELD(cropToolEnabled), 1},
    {"vignette without layers", none, FIELD(vignettePanel), 1},
    {"vignette with layers on but none used", SET(s.layersOn = true), FIELD(vignettePanel), 1},
    {"vignette with layers in use", SET(s.layersOn = true; s.layerCount = 2), FIELD(vignettePanel), 0},
};

} // namespace

TEST(controlRules, everyRowOfTheTable)
{
    for (const ruleCase &c : cases) {
        windowState_t s = ready();
        c.mod(s);
        EXPECT_EQ(c.get(computeControlStates(s)), c.expected) << c.what;
    }
}

TEST(controlRules, busyDisablesEveryEnabledItem)
{
    windowState_t s = ready();
    s.enabled = false;
    s.tab = 0;
    const controlStates_t c = computeControlStates(s);
    for (bool item : {c.optionsOnLoad, c.newButton, c.addButton, c.removeButton, c.hdrButton, c.evPanel, c.newAction,
                      c.add, c.remove, c.close, c.generateHdr, c.save, c.saveAs, c.savePreprocessed, c.always,
                      c.saveProject, c.zoom, c.before, c.result, c.split, c.transformMenu, c.transforms,
                      c.settingsCommands, c.colorSubmenus, c.colorButtonsEnabled, c.toneMappingPanel, c.undo, c.redo,
                      c.layersAction, c.layerSelection, c.maskPainting, c.cropToolEnabled, c.vignettePanel})
        EXPECT_FALSE(item);
}

TEST(controlRules, historyRulesMatchTheFullRules)
{
    for (int row = -1; row < 4; ++row) {
        windowState_t s = ready();
        s.historyRow = row;
        bool undo = false, redo = false;
        historyRules(s, &undo, &redo);
        const controlStates_t c = computeControlStates(s);
        EXPECT_EQ(undo, c.undo) << row;
        EXPECT_EQ(redo, c.redo) << row;
    }
}
