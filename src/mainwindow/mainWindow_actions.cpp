// mainWindow: the actions with their texts, icons and shortcuts, the exclusive
// groups, the menu bar, the language choice and the hidden logging command.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "widgets/styledMessageBox.h"
#include "widgets/zoomWidget.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>

QAction *mainWindow::makeAction(const QString &text, const char *icon, const char *objectName)
{
    auto *a = new QAction(text, this);
    a->setObjectName(objectName);
    if (icon)
        a->setIcon(makeColoredIcon(QString(":/resources/") + icon + ".png"));
    a->setShortcutContext(Qt::WindowShortcut);
    return a;
}

void mainWindow::createActions()
{
    const QString dots = "...";
    auto connectTo = [this](QAction *a, void (mainWindow::*slot)()) {
        connect(a, &QAction::triggered, this, slot);
    };

    newAct = makeAction(tr("New") + dots, "new", "newAct");
    newAct->setShortcut(QKeySequence("Ctrl+N"));
    connect(newAct, &QAction::triggered, this, [this] { newProject(); });
    addAct = makeAction(tr("Add") + dots, "add", "addAct");
    addAct->setShortcut(QKeySequence("Ctrl+A"));
    connectTo(addAct, &mainWindow::addImages);
    removeAct = makeAction(tr("Remove"), "remove", "removeAct");
    removeAct->setShortcut(QKeySequence("Backspace"));
    connectTo(removeAct, &mainWindow::removeImages);
    closeAct = makeAction(tr("Close"), nullptr, "closeAct");
    closeAct->setShortcut(QKeySequence("Ctrl+W"));
    connectTo(closeAct, &mainWindow::closeProject);
    generateHdrAct = makeAction(tr("Generate HDR") + dots, "generateHDR", "generateHdrAct");
    generateHdrAct->setShortcut(QKeySequence("Ctrl+G"));
    connectTo(generateHdrAct, &mainWindow::showGenerateHDR);
    loadProjectAct = makeAction(tr("Load project") + dots, nullptr, "loadProjectAct");
    connectTo(loadProjectAct, &mainWindow::loadProjectSlot);
    saveProjectAct = makeAction(tr("Save project") + dots, nullptr, "saveProjectAct");
    connectTo(saveProjectAct, &mainWindow::saveProjectSlot);
    saveAct = makeAction(tr("Save"), "save", "saveAct");
    saveAct->setShortcut(QKeySequence("Ctrl+S"));
    connectTo(saveAct, &mainWindow::saveResultSlot);
    saveAsAct = makeAction(tr("Save as") + dots, "saveas", "saveAsAct");
    saveAsAct->setShortcut(QKeySequence("Ctrl+Shift+S"));
    connectTo(saveAsAct, &mainWindow::saveResultAsSlot);
    externalEditorAct = makeAction(tr("Open in external editor"), "extedit", "externalEditorAct");
    externalEditorAct->setShortcut(QKeySequence("Ctrl+E"));
    connectTo(externalEditorAct, &mainWindow::exportToExternalEditorSlot);
    savePreprocessedAct = makeAction(tr("Save preprocessed input photos") + dots, nullptr, "savePreprocessedAct");
    connectTo(savePreprocessedAct, &mainWindow::savePreprocessedSlot);
    batchAct = makeAction(tr("Batch processing") + dots, "batch", "batchAct");
    batchAct->setShortcut(QKeySequence("Ctrl+B"));
    connectTo(batchAct, &mainWindow::showBatch);
    exitAct = makeAction(tr("Exit"), nullptr, "exitAct");
    exitAct->setShortcut(QKeySequence("Ctrl+Q"));
    exitAct->setMenuRole(QAction::QuitRole);
    connect(exitAct, &QAction::triggered, this, &QWidget::close);
    copyAct = makeAction(tr("Copy to clipboard"), "copy", "copyAct");
    copyAct->setShortcut(QKeySequence("Ctrl+C"));
    copyAct->setVisible(false);
    undoAct = makeAction(tr("Undo"), "undo", "undoAct");
    undoAct->setShortcut(QKeySequence::Undo);
    connectTo(undoAct, &mainWindow::undo);
    redoAct = makeAction(tr("Redo"), "redo", "redoAct");
    redoAct->setShortcut(QKeySequence::Redo);
    connectTo(redoAct, &mainWindow::redo);
    layersAct = makeAction(tr("Enable layers"), "layers", "layersAct");
    layersAct->setShortcut(QKeySequence("Ctrl+L"));
    connectTo(layersAct, &mainWindow::toggleLayersMode);

    zoom100Act = makeAction(tr("Actual size"), "zoom_100", "zoom100Act");
    zoom100Act->setShortcut(QKeySequence("Z"));
    connect(zoom100Act, &QAction::triggered, zoom, &zoomWidget::set100);
    zoomFitAct = makeAction(tr("Fit to workspace"), "zoom_fit", "zoomFitAct");
    zoomFitAct->setShortcut(QKeySequence("X"));
    connect(zoomFitAct, &QAction::triggered, zoom, &zoomWidget::setFit);
    zoomOutAct = makeAction(tr("Zoom out"), "zoom_out", "zoomOutAct");
    zoomOutAct->setShortcut(QKeySequence::ZoomOut);
    connect(zoomOutAct, &QAction::triggered, zoom, &zoomWidget::decZoom);
    zoomInAct = makeAction(tr("Zoom in"), "zoom_in", "zoomInAct");
    QList<QKeySequence> zoomInKeys = QKeySequence::keyBindings(QKeySequence::ZoomIn);
    zoomInKeys.append(QKeySequence("Ctrl+="));
    zoomInAct->setShortcuts(zoomInKeys);
    connect(zoomInAct, &QAction::triggered, zoom, &zoomWidget::incZoom);

    maximizeWorkspaceAct = makeAction(tr("Maximize workspace"), nullptr, "maximizeWorkspaceAct");
    maximizeWorkspaceAct->setShortcut(QKeySequence("F11"));
    maximizeWorkspaceAct->setCheckable(true);
    connect(maximizeWorkspaceAct, &QAction::triggered, this, qOverload<>(&mainWindow::toggleFullScreen));
    fullScreenAct = makeAction(tr("Full screen"), nullptr, "fullScreenAct");
    fullScreenAct->setShortcut(QKeySequence("F"));
    fullScreenAct->setCheckable(true);
    connectTo(fullScreenAct, &mainWindow::toggleFullScreen2);
    resetLayoutAct = makeAction(tr("Reset window layout"), nullptr, "resetLayoutAct");
    connectTo(resetLayoutAct, &mainWindow::resetWindowLayout);

    beforeAct = makeAction(tr("Photo before processing"), "before", "beforeAct");
    beforeAct->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Left));
    connectTo(beforeAct, &mainWindow::showBeforeSlot);
    beforeMenu = new QMenu(this);
    beforeMenu->setProperty("popup", "true");
    beforeAct->setMenu(beforeMenu);
    beforeGroup = new QActionGroup(this);
    beforeGroup->setExclusive(true);
    resultAct = makeAction(tr("Result"), "result", "resultAct");
    resultAct->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Right));
    connectTo(resultAct, &mainWindow::showResultSlot);
    splitAct = makeAction(tr("Before/after split view"), "split", "splitAct");
    splitAct->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Up));
    splitAct->setCheckable(true);
    connectTo(splitAct, &mainWindow::splitViewModeChange);
    splitMenu = new QMenu(this);
    splitMenu->setProperty("popup", "true");
    splitAct->setMenu(splitMenu);
    splitGroup = new QActionGroup(this);
    splitGroup->setExclusive(true);
    const QString splitTexts[5] = {tr("Disabled"), tr("Horizontal, result on the right"),
                                   tr("Horizontal, result on the left"), tr("Vertical, result in the bottom"),
                                   tr("Vertical, result in the top")};
    for (int i = 0; i < 5; ++i) {
        splitModeActs[i] = makeAction(splitTexts[i], nullptr, qPrintable(QString("splitMode%1Act").arg(i)));
        splitModeActs[i]->setCheckable(true);
        splitGroup->addAction(splitModeActs[i]);
        splitMenu->addAction(splitModeActs[i]);
        connect(splitModeActs[i], &QAction::changed, this, &mainWindow::splitViewModeChange);
    }
    splitModeActs[0]->setChecked(true);

    rotateCcwAct = makeAction(tr("Rotate 90 CCW (left)"), "rotate90ccw", "rotateCcwAct");
    rotateCcwAct->setShortcut(QKeySequence("Ctrl+["));
    rotateCwAct = makeAction(tr("Rotate 90 CW (right)"), "rotate90cw", "rotateCwAct");
    rotateCwAct->setShortcut(QKeySequence("Ctrl+]"));
    rotate180Act = makeAction(tr("Rotate 180"), "rotate180", "rotate180Act");
    flipHorizontalAct = makeAction(tr("Horizontal flip"), "flip_horizontal", "flipHorizontalAct");
    flipVerticalAct = makeAction(tr("Vertical flip"), "flip_vertical", "flipVerticalAct");
    for (QAction *a : {rotateCcwAct, rotateCwAct, rotate180Act, flipHorizontalAct, flipVerticalAct})
        connectTo(a, &mainWindow::transformImageSlot);
    cropAct = makeAction(tr("Cropping, rotation, distortion and perspective"), "crop", "cropAct");
    cropAct->setShortcut(QKeySequence("Ctrl+T"));
    connectTo(cropAct, &mainWindow::toggleCropMode);

    loadSettingsAct = makeAction(tr("Load tone mapping settings") + dots, nullptr, "loadSettingsAct");
    connectTo(loadSettingsAct, &mainWindow::loadSettingsSlot);
    saveSettingsAct = makeAction(tr("Save tone mapping settings") + dots, nullptr, "saveSettingsAct");
    connectTo(saveSettingsAct, &mainWindow::saveSettingsSlot);
    defaultSettingsAct = makeAction(tr("Default settings"), "default", "defaultSettingsAct");
    defaultSettingsAct->setShortcut(QKeySequence("Ctrl+D"));
    connectTo(defaultSettingsAct, &mainWindow::defaultSettingsSlot);
    addPresetAct = makeAction(tr("Create preset from current settings"), "plus", "addPresetAct");
    addPresetAct->setShortcut(QKeySequence("Ctrl+P"));
    connectTo(addPresetAct, &mainWindow::addNewPresetSlot);
    userGroupsAct = makeAction(tr("Setup user preset groups") + dots, nullptr, "userGroupsAct");
    userGroupsAct->setMenuRole(QAction::NoRole);
    connectTo(userGroupsAct, &mainWindow::showSetupUserGroups);
    revealPresetsAct = makeAction(tr("Reveal user preset files in Explorer"), nullptr, "revealPresetsAct");
    revealPresetsAct->setMenuRole(QAction::NoRole);
    connectTo(revealPresetsAct, &mainWindow::goToUserPresetFiles);

    // Colour management: the switch and three exclusive groups.
    colorManagementAct = makeAction(tr("Color management"), nullptr, "colorManagementAct");
    colorManagementAct->setCheckable(true);
    connectTo(colorManagementAct, &mainWindow::setupColorManagement);
    inputProfileGroup = new QActionGroup(this);
    const QString inputTexts[5] = {tr("As embedded in input photo"), "sRGB", "Adobe RGB", "Wide Gamut", "Pro Photo"};
    for (int i = 0; i < 5; ++i) {
        inputProfileActs[i] = makeAction(inputTexts[i], nullptr, qPrintable(QString("inputProfile%1Act").arg(i)));
        inputProfileActs[i]->setCheckable(true);
        inputProfileGroup->addAction(inputProfileActs[i]);
        connectTo(inputProfileActs[i], &mainWindow::setupColorManagement);
    }
    monitorProfileGroup = new QActionGroup(this);
    const QString monitorTexts[6] = {tr("From file") + ": ...", "sRGB", "Adobe RGB", "Apple RGB", "Color Match",
                                     "DCI-P3"};
    for (int i = 0; i < 6; ++i) {
        monitorProfileActs[i] =
            makeAction(monitorTexts[i], nullptr, qPrintable(QString("monitorProfile%1Act").arg(i)));
        monitorProfileActs[i]->setCheckable(true);
        monitorProfileGroup->addAction(monitorProfileActs[i]);
        connectTo(monitorProfileActs[i], &mainWindow::setupColorManagement);
    }
    intentGroup = new QActionGroup(this);
    const QString intentTexts[4] = {tr("Perceptual"), tr("Relative colorimetric"), tr("Saturation"),
                                    tr("Absolute colorimetric")};
    for (int i = 0; i < 4; ++i) {
        intentActs[i] = makeAction(intentTexts[i], nullptr, qPrintable(QString("intent%1Act").arg(i)));
        intentActs[i]->setCheckable(true);
        intentGroup->addAction(intentActs[i]);
        connectTo(intentActs[i], &mainWindow::setupColorManagement);
    }

    programOptionsAct = makeAction(tr("Program options") + dots, nullptr, "programOptionsAct");
    programOptionsAct->setMenuRole(QAction::PreferencesRole);
    connectTo(programOptionsAct, &mainWindow::showProgramOptions);
    optionsOnLoadAct = makeAction(tr("Show options when loading photos"), nullptr, "optionsOnLoadAct");
    optionsOnLoadAct->setCheckable(true);
    optionsOnLoadAct->setChecked(optionsInstance && optionsInstance->optionsOnLoad.enabled);
    connectTo(optionsOnLoadAct, &mainWindow::showOptionsOnLoadSlot);

    languageGroup = new QActionGroup(this);
    const QString currentLanguage = optionsInstance ? optionsInstance->misc.language : QString("en");
    for (const language_t &l : languageTable()) {
        auto *a = makeAction(l.name, nullptr, qPrintable("language_" + l.code));
        a->setProperty("langCode", l.code);
        a->setCheckable(true);
        a->setChecked(l.code == currentLanguage);
        languageGroup->addAction(a);
        languageActs.append(a);
        connectTo(a, &mainWindow::languageChanged);
    }

    webHelpAct = makeAction(tr("Online documentation"), "book", "webHelpAct");
    connectTo(webHelpAct, &mainWindow::openWebHelp);
    aboutAct = makeAction(tr("About"), "about", "aboutAct");
    aboutAct->setMenuRole(QAction::AboutRole);
    connectTo(aboutAct, &mainWindow::showAbout);
    checkUpdatesAct = makeAction(tr("Check for updates"), nullptr, "checkUpdatesAct");
    connectTo(checkUpdatesAct, &mainWindow::checkForUpdates);

    auto *logging = new QShortcut(QKeySequence("Ctrl+Shift+F1"), this);
    logging->setObjectName("loggingShortcut");
    logging->setContext(Qt::ApplicationShortcut);
    connect(logging, &QShortcut::activated, this, &mainWindow::enableLogging);

    fillMonitorProfileMenu();
}

void mainWindow::createMenuBar()
{
    QMenuBar *bar = menuBar();
    auto addMenu = [&](QMenu *parent, const QString &title) {
        QMenu *m = parent ? parent->addMenu(title) : bar->addMenu(title);
        m->setProperty("menu", true);
        return m;
    };

    fileMenu = addMenu(nullptr, tr("File"));
    fileMenu->addActions({newAct, addAct, removeAct, closeAct});
    fileMenu->addSeparator();
    fileMenu->addActions({loadProjectAct, saveProjectAct});
    fileMenu->addSeparator();
    fileMenu->addAction(generateHdrAct);
    fileMenu->addSeparator();
    fileMenu->addActions({saveAct, saveAsAct, externalEditorAct, savePreprocessedAct});
    fileMenu->addSeparator();
    fileMenu->addAction(batchAct);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAct);
    // Invisible, but its shortcut belongs to the window.
    addAction(copyAct);

    historyMenu = addMenu(nullptr, tr("History"));
    historyMenu->addActions({undoAct, redoAct});

    viewMenu = addMenu(nullptr, tr("View"));
    viewMenu->addAction(splitAct);
    viewMenu->addSeparator();
    viewMenu->addActions({beforeAct, resultAct});
    viewMenu->addSeparator();
    viewMenu->addActions({zoom100Act, zoomFitAct, zoomOutAct, zoomInAct});
    viewMenu->addSeparator();
    viewMenu->addActions({resetLayoutAct, maximizeWorkspaceAct, fullScreenAct});

    imageMenu = addMenu(nullptr, tr("Image"));
    transformMenu = addMenu(imageMenu, tr("Transform"));
    transformMenu->addActions({rotateCcwAct, rotateCwAct, rotate180Act});
    transformMenu->addSeparator();
    transformMenu->addActions({flipHorizontalAct, flipVerticalAct});
    imageMenu->addSeparator();
    imageMenu->addAction(cropAct);

    presetsMenu = addMenu(nullptr, tr("Presets"));
    presetsMenu->addActions({loadSettingsAct, saveSettingsAct, addPresetAct});
    presetsMenu->addSeparator();
    presetsMenu->addActions({userGroupsAct, revealPresetsAct});
    presetsMenu->addSeparator();
    presetsMenu->addAction(defaultSettingsAct);

    // The layers tool adds its ten layer-selection actions after the separator.
    layersMenu = addMenu(nullptr, tr("Layers"));
    layersMenu->addAction(layersAct);
    layersMenu->addSeparator();

    settingsMenu = addMenu(nullptr, tr("Settings"));
    languageMenu = addMenu(settingsMenu, tr("Language"));
    languageMenu->setProperty("popup", "true");
    languageMenu->addActions(languageActs);
    settingsMenu->addSeparator();
    settingsMenu->addAction(optionsOnLoadAct);
    colorSettingsMenu = addMenu(settingsMenu, tr("Color settings"));
    colorSettingsMenu->addAction(colorManagementAct);
    colorSettingsMenu->addSeparator();
    photoColorSpaceMenu = addMenu(colorSettingsMenu, tr("Photo color space"));
    photoColorSpaceMenu->setIcon(makeColoredIcon(":/resources/cm_photo.png"));
    photoColorSpaceMenu->addAction(inputProfileActs[0]);
    photoColorSpaceMenu->addSeparator();
    for (int i = 1; i < 5; ++i)
        photoColorSpaceMenu->addAction(inputProfileActs[i]);
    monitorProfileMenu = addMenu(colorSettingsMenu, tr("Monitor color profile"));
    monitorProfileMenu->setIcon(makeColoredIcon(":/resources/cm_monitor.png"));
    for (int i = 1; i < 6; ++i)
        monitorProfileMenu->addAction(monitorProfileActs[i]);
    monitorProfileMenu->addSeparator();
    monitorProfileMenu->addAction(monitorProfileActs[0]);
    intentMenu = addMenu(colorSettingsMenu, tr("Intent"));
    for (int i : {0, 2, 1, 3}) // Perceptual, Saturation, Relative, Absolute
        intentMenu->addAction(intentActs[i]);
    settingsMenu->addAction(programOptionsAct);

    helpMenu = addMenu(nullptr, tr("Help"));
    helpMenu->addActions({webHelpAct, aboutAct, checkUpdatesAct});

    connect(photoProfileButton, &QPushButton::clicked, this, &mainWindow::showColorSpaceMenu);
    connect(monitorProfileButton, &QPushButton::clicked, this, &mainWindow::showColorSpaceMenu);
}

void mainWindow::showColorSpaceMenu()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    QMenu *menu = button == photoProfileButton ? photoColorSpaceMenu : monitorProfileMenu;
    menu->popup(button->mapToGlobal(QPoint(30, 0)));
}

void mainWindow::languageChanged()
{
    const QString sentence = "The language change will be applied after the program is restarted.";
    if (auto *a = qobject_cast<QAction *>(sender()); a && optionsInstance)
        optionsInstance->misc.language = a->property("langCode").toString();
    styledMessageBox::show(this, styledMessageBox::Information, tr(sentence.toUtf8().constData()) + "<br><br>" + sentence);
}

void mainWindow::enableLogging()
{
    toggleLogToFileSetting();
    styledMessageBox::show(this, styledMessageBox::Information,
                           tr("Logging mode will be enabled when Lumidra is restarted! You'll also have a "
                              "possibility to disable it."));
}
