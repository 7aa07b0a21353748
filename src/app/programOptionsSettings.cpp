#include "app/programOptionsSettings.h"

#include "app/debugLog.h"
#include "app/outputNameAndLanguage.h"
#include "app/programOptionsKeys.h"
#include "app/utils.h"
#include "platform/platformSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <type_traits>

programOptionsSettings *optionsInstance = nullptr;
const char *const PROGRAM_VERSION = LUMIDRA_VERSION;

namespace {

const programOptionsSettings::screenInfo_t *screenOverride = nullptr;

QString programFolder()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
}

QString defaultToneMappingSettingsPath()
{
    return programFolder() + "/built-in presets" + "/default.lmsx";
}

// --- building the table ---

template <typename T> struct typeTag;
template <> struct typeTag<bool> { static const settingsKey_t::valueType_t value = settingsKey_t::Bool; };
template <> struct typeTag<int> { static const settingsKey_t::valueType_t value = settingsKey_t::Int; };
template <> struct typeTag<double> { static const settingsKey_t::valueType_t value = settingsKey_t::Double; };
template <> struct typeTag<QString> { static const settingsKey_t::valueType_t value = settingsKey_t::String; };

using defaultFn_t = QVariant (*)(const programOptionsSettings &);

settingsKey_t makeKey(const char *key, settingsKey_t::valueType_t type,
                      void *(*field)(programOptionsSettings &), defaultFn_t def, bool allOnly,
                      bool written)
{
    settingsKey_t k;
    k.key = key;
    k.type = type;
    k.field = field;
    k.defaultValue = def;
    k.allOnly = allOnly;
    k.written = written;
    return k;
}

settingsKey_t range(settingsKey_t k, int lo, int hi, int replacement)
{
    k.ranged = true;
    k.lo = lo;
    k.hi = hi;
    k.replacement = replacement;
    return k;
}

settingsKey_t oneOf(settingsKey_t k, QVector<int> allowed, int replacement)
{
    k.ranged = true;
    k.lo = *std::min_element(allowed.begin(), allowed.end());
    k.hi = *std::max_element(allowed.begin(), allowed.end());
    k.allowed = std::move(allowed);
    k.replacement = replacement;
    return k;
}

const int IDEAL = settingsKey_t::RANGE_IDEAL_THREADS;

} // namespace

// The field's address and its type, deduced from the member.
#define FIELD(member)                                                                          \
    typeTag<std::decay_t<decltype(std::declval<programOptionsSettings &>().member)>>::value,   \
        [](programOptionsSettings &o) -> void * { return &o.member; }
#define VALUE(v) [](const programOptionsSettings &) { return QVariant(v); }
#define COMPUTED(expr) [](const programOptionsSettings &o) { (void)o; return QVariant(expr); }
// Read on every readSettings / only with all = true; written or only read.
#define KEY(key, member, def) makeKey(key, FIELD(member), def, false, true)
#define KEY_RO(key, member, def) makeKey(key, FIELD(member), def, false, false)
#define ALL(key, member, def) makeKey(key, FIELD(member), def, true, true)

const std::vector<settingsKey_t> &programOptionsKeys()
{
    static const std::vector<settingsKey_t> keys = {
        KEY_RO("ShowQtAbout", ShowQtAbout, VALUE(false)),
        KEY_RO("Installer/UserFolder", installer.userFolder, COMPUTED(QDir::homePath() + "/Lumidra 3")),
        KEY_RO("Installer/Language", installer.language, VALUE(QString())),
        KEY("Scratchpad/Path", scratchpad.path, VALUE(QString())),
        KEY("Scratchpad/Standard", scratchpad.standard, VALUE(true)),
        range(KEY("Performance/CoreCount", performance.coreCount, COMPUTED(o.idealThreads)), 1, IDEAL, IDEAL),
        range(KEY("Performance/CoreCountBatch", performance.coreCountBatch, COMPUTED(o.idealThreads)), 1, IDEAL, IDEAL),
        KEY("Performance/LiveAntiAliasing", performance.liveAntiAliasing, COMPUTED(o.idealThreads > 2)),
        KEY("Performance/LiveToneMapping", performance.liveToneMapping, VALUE(true)),
        KEY("Performance/LiveToneMappingWhileZoomingAndPanning", performance.liveToneMappingWhileZoomingAndPanning, VALUE(false)),
        oneOf(KEY("Performance/Resample", performance.resample,
                  COMPUTED(programOptionsSettings::resampleDefault(o.idealThreads))), {1, 2, 4}, 1),
        KEY("ExternalEditor/Enabled", externalEditor.enabled, VALUE(false)),
        KEY("ExternalEditor/Args", externalEditor.args, VALUE("%R")),
        KEY("ExternalEditor/Path", externalEditor.path, VALUE(QString())),
        range(KEY("ExternalEditor/Compression", externalEditor.compression, VALUE(0)), 0, 2, 0),
        range(KEY("ExternalEditor/BitDepth", externalEditor.bitDepth, VALUE(1)), 1, 2, 1),
        KEY("ExternalEditor/TransferExif", externalEditor.transferExif, VALUE(true)),
        KEY("ExternalEditor/TransferExifGPS", externalEditor.transferExifGPS, VALUE(true)),
        KEY("ExternalEditor/ConvertToSrgb", externalEditor.convertToSrgb, VALUE(false)),
        KEY("ExternalEditor/Dpi", externalEditor.dpi, VALUE(300)),
        KEY("SavingResult/DefaultOutputFileName", savingResult.defaultOutputFileName, VALUE(QString())),
        range(KEY("SavingResult/JpegQuality", savingResult.jpegQuality, VALUE(100)), 70, 100, 100),
        range(KEY("SavingResult/TiffBitDepth", savingResult.tiffBitDepth, VALUE(1)), 1, 2, 1),
        range(KEY("SavingResult/TiffCompression", savingResult.tiffCompression, VALUE(0)), 0, 2, 0),
        KEY("SavingResult/TransferExif", savingResult.transferExif, VALUE(true)),
        KEY("SavingResult/TransferExifGPS", savingResult.transferExifGPS, VALUE(true)),
        KEY("SavingResult/ConvertToSrgb", savingResult.convertToSrgb, VALUE(false)),
        KEY("SavingResult/Dpi", savingResult.dpi, VALUE(300)),
        range(KEY("SavingResult/Format", savingResult.format, VALUE(0)), 0, 2, 0),
        oneOf(KEY("SavingResult/BatchFormat", savingResult.batchFormat, VALUE(0)), {0, 1, 2, 10, 11, 19, 20, 21}, 0),
        range(KEY("SavingResult/HdrFormat", savingResult.hdrFormat, VALUE(0)), 0, 2, 0),
        KEY("SavingResult/HdrFormatTiffCompression", savingResult.hdrFormatTiffCompression, VALUE(true)),
        KEY("SavingResult/HdrNormalize", savingResult.hdrNormalize, VALUE(false)),
        KEY("SavingResult/SaveToSourceDirByDefault", savingResult.saveToSourceDirByDefault, VALUE(false)),
        KEY("SavingResult/HdrRemoveExpTime", savingResult.hdrRemoveExpTime, VALUE(true)),
        KEY_RO("SavingResult/ResizeLongEdge", savingResult.resizeLongEdge, VALUE(1920)),
        KEY("NewProject/ShowFileOpen", newProject.showFileOpen, VALUE(true)),
        KEY("NewProject/ResetColorAdjustment", newProject.resetColorAdjustment, VALUE(true)),
        KEY("NewProject/AutoLDR", newProject.autoLDR, VALUE(false)),
        KEY("Misc/ZoomWithCtrl", misc.zoomWithCtrl, VALUE(false)),
        KEY("Misc/LayerMaskUndo", misc.layerMaskUndo, VALUE(true)),
        KEY("Misc/DefaultToneMappingSettings", misc.defaultToneMappingSettings, COMPUTED(defaultToneMappingSettingsPath())),
        KEY("OpenSaveDialogs/Native", openSaveDialogs.native, VALUE(true)),

        // Read only at construction.
        ALL("UserInterface/Skin", userInterface.skin, VALUE(0)),
        ALL("UserInterface/Scale", userInterface.scale, VALUE(0)),
        ALL("UserInterface/HighDPI", userInterface.highDPI, COMPUTED(programOptionsSettings::screenInfo().devicePixelRatio > 1.0)),
        range(ALL("Alignment/Method", alignment.method, VALUE(3)), 0, 3, 3),
        ALL("Alignment/AutoContrast", alignment.autoContrast, VALUE(false)),
        range(ALL("SavePreprocessed/Format", savePreprocessed.format, VALUE(0)), 0, 2, 0),
        ALL("SavePreprocessed/PrefixSuffix", savePreprocessed.prefixSuffix, VALUE("preprocessed")),
        ALL("SavePreprocessed/Prefix", savePreprocessed.prefix, VALUE(false)),
        ALL("Batch/AutoCreate/LDR", batch.autoCreateLDR, VALUE(false)),
        ALL("Batch/AutoCreate/Fixed", batch.autoCreateFixed, VALUE(false)),
        range(ALL("Batch/AutoCreate/FixedCount", batch.autoCreateFixedCount, VALUE(3)), 2, 100, 3),
        ALL("Batch/AutoCreate/Automatic", batch.autoCreateAutomatic, VALUE(true)),
        range(ALL("Batch/AutoCreate/AutomaticMaxCount", batch.autoCreateAutomaticMaxCount, VALUE(9)), 2, 100, 9),
        ALL("Batch/AutoCreate/AutomaticAEB", batch.autoCreateAutomaticAEB, VALUE(false)),
        ALL("Batch/AutoCreate/Filter", batch.autoCreateFilter, VALUE(0)),
        ALL("Batch/SavePolicy", batch.savePolicy, VALUE(1)),
        ALL("Batch/SkipExisting", batch.skipExisting, VALUE(false)),
        ALL("Batch/GenerateThumbnails", batch.generateThumbnails, VALUE(true)),
        range(ALL("Batch/ThumbnailSize", batch.thumbnailSize, VALUE(60)), 40, 120, 60),
        ALL("Batch/CreateTask_LastDir", batch.createTask_LastDir, COMPUTED(o.installer.userFolder + "/examples")),
        ALL("Batch/CreateTask_LastFilter", batch.createTask_LastFilter, VALUE(QString())),
        ALL("Batch/SaveTo_LastDir", batch.saveTo_LastDir, COMPUTED(o.installer.userFolder + "/examples")),
        ALL("Batch/SaveTo_Custom", batch.saveTo_Custom, VALUE(false)),
        range(ALL("Batch/GhostRemovalBase", batch.ghostRemovalBase, VALUE(0)), 0, 1, 0),
        ALL("OpenSaveDialogs/OpenSavePhoto_LastDir", openSaveDialogs.openSavePhoto_LastDir, COMPUTED(o.installer.userFolder + "/examples")),
        ALL("OpenSaveDialogs/SavePhoto_LastDir", openSaveDialogs.savePhoto_LastDir, COMPUTED(o.installer.userFolder + "/examples")),
        ALL("OpenSaveDialogs/OpenSaveSettings_LastDir", openSaveDialogs.openSaveSettings_LastDir, COMPUTED(o.installer.userFolder + "/presets")),
        ALL("OpenSaveDialogs/OpenSavePhoto_LastFilter", openSaveDialogs.openSavePhoto_LastFilter, VALUE(QString())),
        ALL("Misc/Language", misc.language, COMPUTED(languageCodeFromLangId(o.installer.language))),
        ALL("Misc/AutoCheckUpdates", misc.autoCheckUpdates, VALUE(true)),
        ALL("Misc/UpdateCheckAddress", misc.updateCheckAddress, VALUE(QString("https://lumidra.org"))),
        ALL("Misc/BackgroundColor", misc.backgroundColor, VALUE(2)),
        range(ALL("Misc/PresetFilter/Option", misc.presetFilterOption, VALUE(0)), 0, 2, 0),
        ALL("Misc/PresetFilter/UserGroup", misc.presetFilterUserGroup, VALUE(QString())),
        ALL("Misc/ShowCropGuidelines", misc.showCropGuidelines, VALUE(true)),
        ALL("Misc/MaskPaintingIntelligent", misc.maskPaintingIntelligent, VALUE(true)),
        ALL("Misc/MaskPaintingIntelligentThreshold", misc.maskPaintingIntelligentThreshold, VALUE(4)),
        range(ALL("Misc/PresetThumbSize", misc.presetThumbSize, VALUE(300)), 148, 300, 300),
        ALL("Misc/SaveHdrDataInProject", misc.saveHdrDataInProject, VALUE(false)),
        ALL("Misc/SaveInputsInProject", misc.saveInputsInProject, VALUE(true)),
        range(ALL("Misc/SplitViewMode", misc.splitViewMode, VALUE(1)), 1, 4, 1),
        ALL("Misc/RequireCameraAndLensMountsMatching", misc.requireCameraAndLensMountsMatching, VALUE(true)),
        ALL("OptionsOnLoad/Enabled", optionsOnLoad.enabled, VALUE(false)),
        ALL("OptionsOnLoad/Resize", optionsOnLoad.resize, VALUE(1)),
        ALL("OptionsOnLoad/AutoRotation", optionsOnLoad.autoRotation, VALUE(true)),
        ALL("GenerateHDR/AutoAlign", generateHDR.autoAlign, VALUE(true)),
        ALL("GenerateHDR/AutoLensCorrection", generateHDR.autoLensCorrection, VALUE(false)),
        ALL("GenerateHDR/MoreOptions", generateHDR.moreOptions, VALUE(false)),
        range(ALL("GenerateHDR/Method", generateHDR.method, VALUE(0)), 0, 2, 0),
        range(ALL("GenerateHDR/TrueHDR_selectivity", generateHDR.trueHDR_selectivity, VALUE(2)), 0, 3, 2),
        ALL("GenerateHDR/SmartMerge_strength", generateHDR.smartMerge_strength, VALUE(1)),
        ALL("GenerateHDR/GhostRemoval", generateHDR.ghostRemoval, VALUE(false)),
        range(ALL("GenerateHDR/GhostRemovalMode", generateHDR.ghostRemovalMode, VALUE(1)), 0, 1, 1),
        ALL("GenerateHDR/GhostRemovalRepair", generateHDR.ghostRemovalRepair, VALUE(true)),
        range(ALL("GenerateHDR/GhostRemovalSmoothness", generateHDR.ghostRemovalSmoothness, VALUE(5)), 1, 10, 5),
        range(ALL("GenerateHDR/GhostRemovalStrength", generateHDR.ghostRemovalStrength, VALUE(4)), 0, 9, 4),
        ALL("GenerateHDR/SaveHDRtoFile", generateHDR.saveHDRtoFile, VALUE(false)),
        ALL("GenerateHDR/NoiseFilter", generateHDR.noiseFilter, VALUE(true)),
        ALL("GenerateHDR/NoiseFilterStrength", generateHDR.noiseFilterStrength, VALUE(2)),
        ALL("GenerateHDR/NoiseFilterSoftness", generateHDR.noiseFilterSoftness, VALUE(2)),
        ALL("GenerateHDR/DontRecoverResponceCurve", generateHDR.dontRecoverResponceCurve, VALUE(false)),
        range(ALL("LoadHDR/ColorSpace", loadHDR.colorSpace, VALUE(0)), 0, 4, 0),
        ALL("LoadHDR/NoiseFilter", loadHDR.noiseFilter, VALUE(true)),
        ALL("LoadHDR/NoiseFilterStrength", loadHDR.noiseFilterStrength, VALUE(2)),
        ALL("LoadHDR/NoiseFilterSoftness", loadHDR.noiseFilterSoftness, VALUE(2)),
        ALL("LoadRAW/UseLibraw", loadRAW.useLibraw, VALUE(true)),
        ALL("LoadRAW/AutoPreview", loadRAW.autoPreview, VALUE(true)),
        range(ALL("LoadRAW/ColorSpace", loadRAW.colorSpace, VALUE(1)), 1, 4, 1),
        range(ALL("LoadRAW/WhiteBalance", loadRAW.whiteBalance, VALUE(0)), 0, 3, 0),
        ALL("LoadRAW/Other", loadRAW.other, VALUE(false)),
        ALL("LoadRAW/RecoverHighlights", loadRAW.recoverHighlights, VALUE(false)),
        ALL("LoadRAW/AutoBrighten", loadRAW.autoBrighten, VALUE(false)),
        ALL("LoadRAW/Brightness", loadRAW.brightness, VALUE(1)),
        ALL("LoadRAW/Contrast", loadRAW.contrast, VALUE(1)),
        ALL("LoadRAW/NoiseFilter", loadRAW.noiseFilter, VALUE(false)),
        ALL("LoadRAW/NoiseFilterWavelet", loadRAW.noiseFilterWavelet, VALUE(2)),
        ALL("LoadRAW/NoiseFilterMedian", loadRAW.noiseFilterMedian, VALUE(1)),
        ALL("LoadRAW/RGGB", loadRAW.rggb, VALUE(false)),
        ALL("LoadRAW/LoadAllWithTheSameSettings", loadRAW.loadAllWithTheSameSettings, VALUE(true)),
        ALL("EnhanceLDR/NoiseFilter", enhanceLDR.noiseFilter, VALUE(true)),
        ALL("EnhanceLDR/NoiseFilterStrength", enhanceLDR.noiseFilterStrength, VALUE(2)),
        ALL("EnhanceLDR/NoiseFilterSoftness", enhanceLDR.noiseFilterSoftness, VALUE(2)),
        ALL("Processing/PanoramaMode", processing.panoramaMode, VALUE(false)),
        ALL("ColorManagement/Enabled", colorManagement.enabled, VALUE(true)),
        ALL("ColorManagement/BpCompensation", colorManagement.bpCompensation, VALUE(false)),
        range(ALL("ColorManagement/InputProfile", colorManagement.inputProfile, VALUE(0)), 0, 4, 0),
        range(ALL("ColorManagement/OutputProfile", colorManagement.outputProfile, VALUE(1)), 0, 5, 1),
        range(ALL("ColorManagement/Intent", colorManagement.intent, VALUE(0)), 0, 3, 0),
        ALL("ColorManagement/CustomMonitorProfile", colorManagement.customMonitorProfile, VALUE(QString())),
    };
    return keys;
}

#undef FIELD
#undef VALUE
#undef COMPUTED
#undef KEY
#undef KEY_RO
#undef ALL

const settingsKey_t *findProgramOptionsKey(const QString &key)
{
    for (const settingsKey_t &k : programOptionsKeys())
        if (key == QLatin1String(k.key))
            return &k;
    return nullptr;
}

int settingsKey_t::resolvedHi(const programOptionsSettings &o) const
{
    return hi == RANGE_IDEAL_THREADS ? o.idealThreads : hi;
}

int settingsKey_t::resolvedReplacement(const programOptionsSettings &o) const
{
    return replacement == RANGE_IDEAL_THREADS ? o.idealThreads : replacement;
}

bool settingsKey_t::inRange(const programOptionsSettings &o, int value) const
{
    if (!ranged)
        return true;
    if (!allowed.isEmpty())
        return allowed.contains(value);
    return value >= lo && value <= resolvedHi(o);
}

QVariant settingsKey_t::get(programOptionsSettings &o) const
{
    void *p = field(o);
    switch (type) {
    case Bool: return QVariant(*static_cast<bool *>(p));
    case Int: return QVariant(*static_cast<int *>(p));
    case Double: return QVariant(*static_cast<double *>(p));
    case String: return QVariant(*static_cast<QString *>(p));
    }
    return QVariant();
}

void settingsKey_t::set(programOptionsSettings &o, const QVariant &value) const
{
    void *p = field(o);
    switch (type) {
    case Bool: *static_cast<bool *>(p) = value.toBool(); break;
    case Int: *static_cast<int *>(p) = value.toInt(); break;
    case Double: *static_cast<double *>(p) = value.toDouble(); break;
    case String: *static_cast<QString *>(p) = value.toString(); break;
    }
}

// ---------------------------------------------------------------------------

programOptionsSettings::screenInfo_t programOptionsSettings::screenInfo()
{
    if (screenOverride)
        return *screenOverride;
    screenInfo_t info;
    const QScreen *screen = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
                                ? QGuiApplication::primaryScreen()
                                : nullptr;
    if (screen) {
        // The desktop's ratio is an integer (a fractional scale counts as its
        // whole part), at least 1.
        info.devicePixelRatio = std::max(1, int(screen->devicePixelRatio()));
        info.width = screen->geometry().width();
        info.logicalDpiX = qRound(screen->logicalDotsPerInchX());
    }
    return info;
}

void programOptionsSettings::setScreenInfoOverride(const screenInfo_t *info)
{
    screenOverride = info;
}

int programOptionsSettings::resampleDefault(int idealThreads)
{
    if (idealThreads == 1)
        return 2;
    const screenInfo_t screen = screenInfo();
    if (screen.width > 2000)
        return 2;
    if (screen.devicePixelRatio > 1.0)
        return 2;
    return 1;
}

programOptionsSettings::programOptionsSettings()
    : QObject(nullptr)
{
    fileDialogOptions = 0;
    idealThreads = std::min(std::max(QThread::idealThreadCount(), 1), 64);
    resetOnExit = false;
    const screenInfo_t screen = screenInfo();
    devicePixelRatio = screen.devicePixelRatio;
    readSettings(true);
    if (!activeHighDpi)
        devicePixelRatio = 1.0;
    logicalDpiX = screen.logicalDpiX;
    uiScaleFactor = uiScale();
}

void programOptionsSettings::readSettings(bool all)
{
    auto settings = platformSettings();

    for (const settingsKey_t &k : programOptionsKeys()) {
        if (k.allOnly && !all)
            continue;
        k.set(*this, settings->value(k.key, k.defaultValue(*this)));

        const QLatin1String key(k.key);
        if (key == QLatin1String("Installer/Language")) {
            if (!installer.userFolder.isEmpty() && !QDir(installer.userFolder).exists())
                QDir().mkpath(installer.userFolder);
        } else if (key == QLatin1String("Scratchpad/Path")) {
            // The directory in use is chosen once per run: a later read (the
            // options dialog) must not move it to a directory the session
            // does not live in.
            if (all)
                scratchpad.pathCurrent = scratchpad.path;
        } else if (key == QLatin1String("SavingResult/DefaultOutputFileName")) {
            if (savingResult.defaultOutputFileName.isEmpty()) {
                QString suffix = settings->value("SavingResult/Suffix", QString()).toString();
                suffix.remove('%');
                if (suffix.isEmpty()) {
                    savingResult.defaultOutputFileName = DEFAULT_OUTPUT_FILE_NAME;
                } else {
                    const bool addPreset = settings->value("SavingResult/AddPresetNameSuffix", true).toBool();
                    savingResult.defaultOutputFileName = "%C%L_" + suffix + (addPreset ? "%P" : "");
                }
            }
        } else if (key == QLatin1String("SavingResult/ResizeLongEdge")) {
            savingResult.resizeEnabled = false;
        } else if (key == QLatin1String("OpenSaveDialogs/Native")) {
            fileDialogOptions = openSaveDialogs.native ? 0 : int(QFileDialog::DontUseNativeDialog);
        } else if (key == QLatin1String("UserInterface/Skin")) {
            activeSkin = userInterface.skin;
        } else if (key == QLatin1String("UserInterface/Scale")) {
            activeScale = userInterface.scale;
        } else if (key == QLatin1String("UserInterface/HighDPI")) {
            activeHighDpi = userInterface.highDPI;
        }
    }

    // Version upgrade.
    const QString storedVersion = settings->value("CurrentVersion", QString()).toString();
    if (storedVersion != QLatin1String(PROGRAM_VERSION)) {
        settings->setValue("CurrentVersion", QString(PROGRAM_VERSION));
        performance.liveToneMapping = true;
        settings->setValue("Performance/LiveToneMapping", true);
        performance.resample = resampleDefault(idealThreads);
        settings->setValue("Performance/Resample", performance.resample);
    }
    settings.reset();

    validate();
}

void programOptionsSettings::selectScratchpad()
{
    auto usable = [](const QString &dir) { return !dir.isEmpty() && dirExists(dir) && isDirWritable(dir); };

    if (!usable(scratchpad.path) || !usable(scratchpad.pathCurrent)) {
        std::printf("(1)>> scratchpad.path = '%s'\n", scratchpad.path.toLocal8Bit().constData());
        std::printf("(1)>> scratchpad.pathCurrent = '%s'\n", scratchpad.pathCurrent.toLocal8Bit().constData());
        std::printf("(1)>> - not accessible, trying standard temp location\n");
        scratchpad.standard = true;
    }
    if (scratchpad.standard) {
        scratchpad.path.clear();
        scratchpad.pathCurrent = QDir::tempPath();
        if (!usable(scratchpad.pathCurrent)) {
            std::printf("(2)>> scratchpad.pathCurrent = '%s'\n", scratchpad.pathCurrent.toLocal8Bit().constData());
            std::printf("(2)>> - not accessible, using User directory\n");
            scratchpad.standard = false;
            scratchpad.pathCurrent = QDir::homePath() + "/Lumidra 3";
            scratchpad.path = scratchpad.pathCurrent;
        }
    }
    std::fflush(stdout);
}

void programOptionsSettings::validate()
{
    if (activeSkin < 0 || activeSkin > 1)
        activeSkin = 0;
    if (activeScale < 0 || activeScale > 4)
        activeScale = 0;

    selectScratchpad();

    for (const settingsKey_t &k : programOptionsKeys()) {
        if (!k.ranged || k.type != settingsKey_t::Int)
            continue;
        int &value = *static_cast<int *>(k.field(*this));
        if (!k.inRange(*this, value))
            value = k.resolvedReplacement(*this);
    }

    if (!externalEditor.args.contains("%R"))
        externalEditor.args = "%R";
    if (externalEditor.enabled && !fileExists(externalEditor.path)) {
        externalEditor.enabled = false;
        externalEditor.path.clear();
    }
    if (!fileExists(colorManagement.customMonitorProfile))
        colorManagement.customMonitorProfile.clear();

    savingResult.defaultOutputFileName = validateOutputFileName(savingResult.defaultOutputFileName);

    const int autoModes = int(batch.autoCreateLDR) + int(batch.autoCreateFixed) + int(batch.autoCreateAutomatic);
    if (autoModes != 1)
        batch.autoCreateLDR = batch.autoCreateFixed = batch.autoCreateAutomatic = false;

    if (!misc.saveHdrDataInProject && !misc.saveInputsInProject)
        misc.saveInputsInProject = true;

    if (!fileExists(misc.defaultToneMappingSettings))
        misc.defaultToneMappingSettings = defaultToneMappingSettingsPath();

    if (screenInfo().devicePixelRatio == 1.0)
        activeHighDpi = false;
}

void programOptionsSettings::writeSettings()
{
    programOptionsSettings *o = optionsInstance;
    if (!o) {
        debugLog("%s: no settings record\n", "programOptionsSettings::writeSettings");
        return;
    }
    auto settings = platformSettings();
    o->validate();
    for (const settingsKey_t &k : programOptionsKeys())
        if (k.written)
            settings->setValue(k.key, k.get(*o));
    writeInstallerLanguage(o->misc.language);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        debugLog("%s: failed to write '%s'\n", "programOptionsSettings::writeSettings",
                 qPrintable(platformSettingsPath()));
}

double programOptionsSettings::uiScale() const
{
    switch (activeScale) {
    case 0: return logicalDpiX / 96.0;
    case 1: return 0.9;
    case 3: return 1.1;
    case 4: return 1.2;
    default: return 1.0;
    }
}

void resetAllSettings()
{
    auto settings = platformSettings();
    settings->remove("Screen");
    settings->remove("WindowGeometry");
    settings->remove("WindowMaximized");
    const QStringList groups = settings->childGroups();
    for (const QString &g : groups)
        settings->remove(g);
}
