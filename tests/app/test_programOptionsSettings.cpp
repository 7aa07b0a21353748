// The settings record against the INI store: defaults of a first start, every
// key round-tripped, range replacement, keys that are never written, the
// version upgrade, validation rules and the reset.

#include "app/outputNameAndLanguage.h"
#include "app/programOptionsKeys.h"
#include "app/programOptionsSettings.h"
#include "platform/platformSettings.h"
#include "testSupport.h"

#include <QDir>
#include <QRect>
#include <QFile>
#include <QThread>
#include <unistd.h>
#include <map>
#include <memory>

namespace {

QVariant asType(const settingsKey_t &k, const QVariant &v)
{
    switch (k.type) {
    case settingsKey_t::Bool: return v.toBool();
    case settingsKey_t::Int: return v.toInt();
    case settingsKey_t::Double: return v.toDouble();
    case settingsKey_t::String: return v.toString();
    }
    return v;
}

class settingsStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platformSettings()->clear();
        optionsInstance = nullptr;
    }
    void TearDown() override
    {
        optionsInstance = nullptr;
        programOptionsSettings::setScreenInfoOverride(nullptr);
        platformSettings()->clear();
    }
    static QVariant stored(const QString &key) { return platformSettings()->value(key); }
    static bool isStored(const QString &key) { return platformSettings()->contains(key); }
    static void store(const QString &key, const QVariant &v) { platformSettings()->setValue(key, v); }
    static void storeCurrentVersion() { store("CurrentVersion", PROGRAM_VERSION); }

    // Writes the record through writeSettings (which works on optionsInstance).
    static void write(programOptionsSettings &o)
    {
        optionsInstance = &o;
        programOptionsSettings::writeSettings();
        optionsInstance = nullptr;
    }
};

} // namespace

TEST_F(settingsStore, tableHoldsEveryWrittenKeyOnce)
{
    int written = 0;
    std::map<QString, int> seen;
    for (const settingsKey_t &k : programOptionsKeys()) {
        written += k.written ? 1 : 0;
        EXPECT_EQ(++seen[k.key], 1) << k.key;
        if (k.ranged) {
            EXPECT_EQ(k.type, settingsKey_t::Int) << k.key;
        }
    }
    EXPECT_EQ(written, 128); // with Misc/UpdateCheckAddress
}

TEST_F(settingsStore, firstStartGivesEveryDefault)
{
    programOptionsSettings o;
    for (const settingsKey_t &k : programOptionsKeys()) {
        if (QLatin1String(k.key) == QLatin1String("SavingResult/DefaultOutputFileName"))
            continue;
        EXPECT_EQ(k.get(o), asType(k, k.defaultValue(o))) << k.key;
    }
    EXPECT_EQ(o.savingResult.defaultOutputFileName, "%C%L_Lumidra%P");
    EXPECT_FALSE(o.savingResult.resizeEnabled);
    EXPECT_EQ(o.idealThreads, std::min(QThread::idealThreadCount(), 64));
    EXPECT_EQ(o.performance.coreCount, o.idealThreads);
    EXPECT_EQ(o.fileDialogOptions, 0);
    EXPECT_TRUE(o.scratchpad.standard);
    EXPECT_EQ(o.scratchpad.pathCurrent, QDir::tempPath());
    EXPECT_TRUE(QDir(o.installer.userFolder).exists()) << "the user folder is created";

    // The version upgrade writes at once; nothing else is written by a read.
    EXPECT_EQ(stored("CurrentVersion").toString(), LUMIDRA_VERSION);
    EXPECT_EQ(stored("Performance/LiveToneMapping").toBool(), true);
    EXPECT_EQ(stored("Performance/Resample").toInt(), o.performance.resample);
    EXPECT_FALSE(isStored("SavingResult/JpegQuality"));
    EXPECT_FALSE(isStored("SavingResult/DefaultOutputFileName"));
}

// The defaults and ranges below are written out here, from the program's
// documented list of stored settings, and not taken from the key table, so a
// wrong entry in the table shows up as a difference.
TEST_F(settingsStore, firstStartGivesTheDocumentedDefaults)
{
    const struct {
        const char *key;
        QVariant value;
    } defaults[] = {
        {"ShowQtAbout", QVariant(false)},
        {"Scratchpad/Path", QVariant(QString())},
        {"Scratchpad/Standard", QVariant(true)},
        {"Performance/LiveToneMapping", QVariant(true)},
        {"Performance/LiveToneMappingWhileZoomingAndPanning", QVariant(false)},
        {"ExternalEditor/Enabled", QVariant(false)},
        {"ExternalEditor/Args", QVariant(QString("%R"))},
        {"ExternalEditor/Path", QVariant(QString())},
        {"ExternalEditor/Compression", QVariant(0)},
        {"ExternalEditor/BitDepth", QVariant(1)},
        {"ExternalEditor/TransferExif", QVariant(true)},
        {"ExternalEditor/TransferExifGPS", QVariant(true)},
        {"ExternalEditor/ConvertToSrgb", QVariant(false)},
        {"ExternalEditor/Dpi", QVariant(300)},
        {"SavingResult/Suffix", QVariant(QString())},
        {"SavingResult/AddPresetNameSuffix", QVariant(true)},
        {"SavingResult/JpegQuality", QVariant(100)},
        {"SavingResult/TiffBitDepth", QVariant(1)},
        {"SavingResult/TiffCompression", QVariant(0)},
        {"SavingResult/TransferExif", QVariant(true)},
        {"SavingResult/TransferExifGPS", QVariant(true)},
        {"SavingResult/ConvertToSrgb", QVariant(false)},
        {"SavingResult/Dpi", QVariant(300)},
        {"SavingResult/Format", QVariant(0)},
        {"SavingResult/BatchFormat", QVariant(0)},
        {"SavingResult/HdrFormat", QVariant(0)},
        {"SavingResult/HdrFormatTiffCompression", QVariant(true)},
        {"SavingResult/HdrNormalize", QVariant(false)},
        {"SavingResult/SaveToSourceDirByDefault", QVariant(false)},
        {"SavingResult/HdrRemoveExpTime", QVariant(true)},
        {"SavingResult/ResizeLongEdge", QVariant(1920)},
        {"NewProject/ShowFileOpen", QVariant(true)},
        {"NewProject/ResetColorAdjustment", QVariant(true)},
        {"NewProject/AutoLDR", QVariant(false)},
        {"Misc/ZoomWithCtrl", QVariant(false)},
        {"Misc/LayerMaskUndo", QVariant(true)},
        {"OpenSaveDialogs/Native", QVariant(true)},
        {"UserInterface/Skin", QVariant(0)},
        {"UserInterface/Scale", QVariant(0)},
        {"Alignment/Method", QVariant(3)},
        {"Alignment/AutoContrast", QVariant(false)},
        {"SavePreprocessed/Format", QVariant(0)},
        {"SavePreprocessed/PrefixSuffix", QVariant(QString("preprocessed"))},
        {"SavePreprocessed/Prefix", QVariant(false)},
        {"Batch/AutoCreate/LDR", QVariant(false)},
        {"Batch/AutoCreate/Fixed", QVariant(false)},
        {"Batch/AutoCreate/FixedCount", QVariant(3)},
        {"Batch/AutoCreate/Automatic", QVariant(true)},
        {"Batch/AutoCreate/AutomaticMaxCount", QVariant(9)},
        {"Batch/AutoCreate/AutomaticAEB", QVariant(false)},
        {"Batch/AutoCreate/Filter", QVariant(0)},
        {"Batch/SavePolicy", QVariant(1)},
        {"Batch/SkipExisting", QVariant(false)},
        {"Batch/GenerateThumbnails", QVariant(true)},
        {"Batch/ThumbnailSize", QVariant(60)},
        {"Batch/CreateTask_LastFilter", QVariant(QString())},
        {"Batch/SaveTo_Custom", QVariant(false)},
        {"Batch/GhostRemovalBase", QVariant(0)},
        {"OpenSaveDialogs/OpenSavePhoto_LastFilter", QVariant(QString())},
        {"Misc/AutoCheckUpdates", QVariant(true)},
        {"Misc/BackgroundColor", QVariant(2)},
        {"Misc/PresetFilter/Option", QVariant(0)},
        {"Misc/PresetFilter/UserGroup", QVariant(QString())},
        {"Misc/ShowCropGuidelines", QVariant(true)},
        {"Misc/MaskPaintingIntelligent", QVariant(true)},
        {"Misc/MaskPaintingIntelligentThreshold", QVariant(4)},
        {"Misc/PresetThumbSize", QVariant(300)},
        {"Misc/SaveHdrDataInProject", QVariant(false)},
        {"Misc/SaveInputsInProject", QVariant(true)},
        {"Misc/SplitViewMode", QVariant(1)},
        {"Misc/RequireCameraAndLensMountsMatching", QVariant(true)},
        {"OptionsOnLoad/Enabled", QVariant(false)},
        {"OptionsOnLoad/Resize", QVariant(1)},
        {"OptionsOnLoad/AutoRotation", QVariant(true)},
        {"GenerateHDR/AutoAlign", QVariant(true)},
        {"GenerateHDR/AutoLensCorrection", QVariant(false)},
        {"GenerateHDR/MoreOptions", QVariant(false)},
        {"GenerateHDR/Method", QVariant(0)},
        {"GenerateHDR/TrueHDR_selectivity", QVariant(2)},
        {"GenerateHDR/SmartMerge_strength", QVariant(1)},
        {"GenerateHDR/GhostRemoval", QVariant(false)},
        {"GenerateHDR/GhostRemovalMode", QVariant(1)},
        {"GenerateHDR/GhostRemovalRepair", QVariant(true)},
        {"GenerateHDR/GhostRemovalSmoothness", QVariant(5)},
        {"GenerateHDR/GhostRemovalStrength", QVariant(4)},
        {"GenerateHDR/SaveHDRtoFile", QVariant(false)},
        {"GenerateHDR/NoiseFilter", QVariant(true)},
        {"GenerateHDR/NoiseFilterStrength", QVariant(2)},
        {"GenerateHDR/NoiseFilterSoftness", QVariant(2)},
        {"GenerateHDR/DontRecoverResponceCurve", QVariant(false)},
        {"LoadHDR/ColorSpace", QVariant(0)},
        {"LoadHDR/NoiseFilter", QVariant(true)},
        {"LoadHDR/NoiseFilterStrength", QVariant(2)},
        {"LoadHDR/NoiseFilterSoftness", QVariant(2)},
        {"LoadRAW/UseLibraw", QVariant(true)},
        {"LoadRAW/AutoPreview", QVariant(true)},
        {"LoadRAW/ColorSpace", QVariant(1)},
        {"LoadRAW/WhiteBalance", QVariant(0)},
        {"LoadRAW/Other", QVariant(false)},
        {"LoadRAW/RecoverHighlights", QVariant(false)},
        {"LoadRAW/AutoBrighten", QVariant(false)},
        {"LoadRAW/Brightness", QVariant(1.0)},
        {"LoadRAW/Contrast", QVariant(1.0)},
        {"LoadRAW/NoiseFilter", QVariant(false)},
        {"LoadRAW/NoiseFilterWavelet", QVariant(2)},
        {"LoadRAW/NoiseFilterMedian", QVariant(1)},
        {"LoadRAW/RGGB", QVariant(false)},
        {"LoadRAW/LoadAllWithTheSameSettings", QVariant(true)},
        {"EnhanceLDR/NoiseFilter", QVariant(true)},
        {"EnhanceLDR/NoiseFilterStrength", QVariant(2)},
        {"EnhanceLDR/NoiseFilterSoftness", QVariant(2)},
        {"Processing/PanoramaMode", QVariant(false)},
        {"ColorManagement/Enabled", QVariant(true)},
        {"ColorManagement/BpCompensation", QVariant(false)},
        {"ColorManagement/InputProfile", QVariant(0)},
        {"ColorManagement/OutputProfile", QVariant(1)},
        {"ColorManagement/Intent", QVariant(0)},
        {"ColorManagement/CustomMonitorProfile", QVariant(QString())},
        {"CurrentVersion", QVariant(QString())},
    };
    programOptionsSettings o;
    int checked = 0;
    for (const auto &d : defaults) {
        const settingsKey_t *k = findProgramOptionsKey(d.key);
        ASSERT_TRUE(k) << d.key;
        EXPECT_EQ(k->get(o), d.value) << d.key;
        ++checked;
    }
    EXPECT_EQ(checked, 119);
}

TEST_F(settingsStore, storedValuesOutsideTheDocumentedRangesAreReplaced)
{
    const struct {
        const char *key;
        int minimum, maximum;   // allowed range (when no list is given)
        QVector<int> allowed;   // allowed values, when the range is a list
        int replacement;
    } ranges[] = {
        {"Performance/Resample", 0, 0, {1, 2, 4}, 1},
        {"ExternalEditor/Compression", 0, 2, {}, 0},
        {"ExternalEditor/BitDepth", 0, 0, {1, 2}, 1},
        {"SavingResult/JpegQuality", 70, 100, {}, 100},
        {"SavingResult/TiffBitDepth", 0, 0, {1, 2}, 1},
        {"SavingResult/TiffCompression", 0, 2, {}, 0},
        {"SavingResult/Format", 0, 2, {}, 0},
        {"SavingResult/BatchFormat", 0, 0, {0, 1, 2, 10, 11, 19, 20, 21}, 0},
        {"SavingResult/HdrFormat", 0, 2, {}, 0},
        {"Alignment/Method", 0, 3, {}, 3},
        {"SavePreprocessed/Format", 0, 2, {}, 0},
        {"Batch/AutoCreate/FixedCount", 2, 100, {}, 3},
        {"Batch/AutoCreate/AutomaticMaxCount", 2, 100, {}, 9},
        {"Batch/ThumbnailSize", 40, 120, {}, 60},
        {"Batch/GhostRemovalBase", 0, 1, {}, 0},
        {"Misc/PresetFilter/Option", 0, 2, {}, 0},
        {"Misc/PresetThumbSize", 148, 300, {}, 300},
        {"Misc/SplitViewMode", 1, 4, {}, 1},
        {"GenerateHDR/Method", 0, 2, {}, 0},
        {"GenerateHDR/TrueHDR_selectivity", 0, 3, {}, 2},
        {"GenerateHDR/GhostRemovalMode", 0, 0, {0, 1}, 1},
        {"GenerateHDR/GhostRemovalSmoothness", 1, 10, {}, 5},
        {"GenerateHDR/GhostRemovalStrength", 0, 9, {}, 4},
        {"LoadHDR/ColorSpace", 0, 4, {}, 0},
        {"LoadRAW/ColorSpace", 1, 4, {}, 1},
        {"LoadRAW/WhiteBalance", 0, 3, {}, 0},
        {"ColorManagement/InputProfile", 0, 4, {}, 0},
        {"ColorManagement/OutputProfile", 0, 5, {}, 1},
        {"ColorManagement/Intent", 0, 3, {}, 0},
    };
    storeCurrentVersion();
    for (const auto &r : ranges) {
        SCOPED_TRACE(r.key);
        const settingsKey_t *k = findProgramOptionsKey(r.key);
        ASSERT_TRUE(k);
        std::vector<std::pair<int, int>> cases; // stored, expected
        if (r.allowed.isEmpty()) {
            cases = {{r.minimum - 1, r.replacement}, {r.minimum, r.minimum},
                     {r.maximum, r.maximum}, {r.maximum + 1, r.replacement}};
        } else {
            for (int v : r.allowed)
                cases.push_back({v, v});
            for (int v = r.allowed.front() - 1; v <= r.allowed.back() + 1; ++v)
                if (!r.allowed.contains(v))
                    cases.push_back({v, r.replacement});
        }
        for (const auto &c : cases) {
            store(r.key, c.first);
            programOptionsSettings o;
            EXPECT_EQ(k->get(o).toInt(), c.second) << "stored " << c.first;
        }
        platformSettings()->remove(r.key);
    }
}

TEST_F(settingsStore, everyWrittenKeyRoundTrips)
{
    const QString dir = testSupport::freshDir();
    const QString aFile = dir + "/editor.bin";
    ASSERT_TRUE(testSupport::writeFile(aFile, "x"));
    const QString scratch = dir + "/scratch";
    ASSERT_TRUE(QDir().mkpath(scratch));

    // Values that validation accepts and that differ from the defaults.
    const std::map<QString, QVariant> special = {
        {"Scratchpad/Path", scratch},
        {"Scratchpad/Standard", false},
        {"ExternalEditor/Enabled", true},
        {"ExternalEditor/Path", aFile},
        {"ExternalEditor/Args", "-open %R -quiet"},
        {"SavingResult/DefaultOutputFileName", "%F_%N"},
        {"Misc/DefaultToneMappingSettings", aFile},
        {"ColorManagement/CustomMonitorProfile", aFile},
        {"Misc/Language", "de"},
        {"UserInterface/Skin", 1},
        {"UserInterface/Scale", 3},
        {"Batch/AutoCreate/LDR", true},
        {"Batch/AutoCreate/Fixed", false},
        {"Batch/AutoCreate/Automatic", false},
        {"Misc/SaveHdrDataInProject", true},
        {"Misc/SaveInputsInProject", false},
    };

    programOptionsSettings first;
    std::map<QString, QVariant> chosen;
    for (const settingsKey_t &k : programOptionsKeys()) {
        if (!k.written)
            continue;
        QVariant v;
        const auto it = special.find(k.key);
        if (it != special.end()) {
            v = it->second;
        } else {
            const QVariant def = asType(k, k.defaultValue(first));
            switch (k.type) {
            case settingsKey_t::Bool: v = !def.toBool(); break;
            case settingsKey_t::Double: v = def.toDouble() + 1.25; break;
            case settingsKey_t::String: v = QString("value of %1").arg(k.key); break;
            case settingsKey_t::Int:
                if (!k.ranged) {
                    v = def.toInt() + 7;
                } else if (!k.allowed.isEmpty()) {
                    v = k.allowed.first() != def.toInt() ? k.allowed.first() : k.allowed.last();
                } else {
                    v = k.lo != def.toInt() ? k.lo : k.resolvedHi(first);
                }
                break;
            }
        }
        k.set(first, v);
        chosen[k.key] = asType(k, v);
    }
    // The next-start fields are written, not the active copies.
    first.activeSkin = 0;
    first.activeScale = 0;
    write(first);

    for (const auto &kv : chosen)
        EXPECT_TRUE(isStored(kv.first)) << qPrintable(kv.first);
    EXPECT_EQ(stored("Installer/Language").toString(), "1031") << "written from Misc/Language";

    programOptionsSettings second;
    for (const settingsKey_t &k : programOptionsKeys()) {
        if (!k.written)
            continue;
        EXPECT_EQ(k.get(second), chosen[k.key]) << k.key;
    }
    EXPECT_EQ(second.scratchpad.pathCurrent, scratch);
    EXPECT_EQ(second.activeSkin, 1);
    EXPECT_EQ(second.activeScale, 3);
    EXPECT_EQ(second.fileDialogOptions, 0x10) << "OpenSaveDialogs/Native false";
}

TEST_F(settingsStore, readOnlyKeysAreNeverWritten)
{
    programOptionsSettings o;
    o.ShowQtAbout = true;
    o.installer.userFolder = "/elsewhere";
    o.savingResult.resizeLongEdge = 777;
    o.savingResult.resizeEnabled = true;
    write(o);
    for (const char *key : {"ShowQtAbout", "Installer/UserFolder", "SavingResult/ResizeLongEdge",
                            "SavingResult/Suffix", "SavingResult/AddPresetNameSuffix"})
        EXPECT_FALSE(isStored(key)) << key;
    EXPECT_EQ(stored("Installer/Language").toString(), "1033");
    for (const settingsKey_t &k : programOptionsKeys())
        EXPECT_EQ(isStored(k.key), k.written || QLatin1String(k.key) == QLatin1String("Installer/Language"))
            << k.key;
}

TEST_F(settingsStore, everyRangedKeyReplacesOutOfRangeValues)
{
    storeCurrentVersion();
    const int ideal = std::min(QThread::idealThreadCount(), 64);
    for (const settingsKey_t &k : programOptionsKeys()) {
        if (!k.ranged)
            continue;
        for (int bad : {k.lo - 1, (k.hi == settingsKey_t::RANGE_IDEAL_THREADS ? ideal : k.hi) + 1}) {
            store(k.key, bad);
            programOptionsSettings o;
            EXPECT_EQ(k.get(o).toInt(), k.resolvedReplacement(o)) << k.key << " = " << bad;
        }
        platformSettings()->remove(k.key);
    }
}

struct rangeCase_t {
    const char *key;
    int stored;
    int expected; // -1 = idealThreads
};

class settingsRange : public settingsStore, public ::testing::WithParamInterface<rangeCase_t>
{
};

TEST_P(settingsRange, storedValueReadsAs)
{
    const rangeCase_t c = GetParam();
    storeCurrentVersion();
    store(c.key, c.stored == -2 ? QThread::idealThreadCount() + 1 : c.stored);
    programOptionsSettings o;
    const int expected = c.expected == -1 ? o.idealThreads : c.expected;
    EXPECT_EQ(findProgramOptionsKey(c.key)->get(o).toInt(), expected);
}

INSTANTIATE_TEST_SUITE_P(cases, settingsRange,
                         ::testing::Values(rangeCase_t{"SavingResult/JpegQuality", 69, 100},
                                           rangeCase_t{"SavingResult/JpegQuality", 70, 70},
                                           rangeCase_t{"SavingResult/BatchFormat", 12, 0},
                                           rangeCase_t{"SavingResult/BatchFormat", 19, 19},
                                           rangeCase_t{"GenerateHDR/GhostRemovalSmoothness", 0, 5},
                                           rangeCase_t{"GenerateHDR/GhostRemovalStrength", 10, 4},
                                           rangeCase_t{"Performance/CoreCount", 0, -1},
                                           rangeCase_t{"Performance/CoreCount", -2, -1},
                                           rangeCase_t{"Performance/CoreCountBatch", 0, -1},
                                           rangeCase_t{"Performance/Resample", 3, 1},
                                           rangeCase_t{"Performance/Resample", 4, 4},
                                           rangeCase_t{"Misc/PresetThumbSize", 147, 300},
                                           rangeCase_t{"Misc/PresetThumbSize", 148, 148}));

TEST_F(settingsStore, userInterfaceRangesApplyToTheActiveCopyOnly)
{
    storeCurrentVersion();
    store("UserInterface/Skin", 5);
    store("UserInterface/Scale", 9);
    programOptionsSettings o;
    EXPECT_EQ(o.activeSkin, 0);
    EXPECT_EQ(o.activeScale, 0);
    EXPECT_EQ(o.userInterface.skin, 5);
    EXPECT_EQ(o.userInterface.scale, 9);
}

TEST_F(settingsStore, legacySuffixBecomesThePattern)
{
    struct {
        const char *suffix;
        QVariant addPreset;
        const char *expected;
    } cases[] = {
        {"_hdr%", false, "%C%L__hdr"},
        {"_hdr%", QVariant(), "%C%L__hdr%P"},
        {"%%", true, "%C%L_Lumidra%P"},
    };
    for (const auto &c : cases) {
        platformSettings()->clear();
        store("SavingResult/Suffix", c.suffix);
        if (c.addPreset.isValid())
            store("SavingResult/AddPresetNameSuffix", c.addPreset);
        programOptionsSettings o;
        EXPECT_EQ(o.savingResult.defaultOutputFileName, c.expected) << c.suffix;
        write(o);
        EXPECT_EQ(stored("SavingResult/DefaultOutputFileName").toString(), c.expected);
        EXPECT_EQ(stored("SavingResult/Suffix").toString(), c.suffix) << "legacy keys stay as they were";
    }
}

TEST_F(settingsStore, validationRules)
{
    storeCurrentVersion();
    store("Batch/AutoCreate/LDR", true);
    store("Batch/AutoCreate/Automatic", true);
    store("ExternalEditor/Args", "-quiet");
    store("ExternalEditor/Enabled", true);
    store("ExternalEditor/Path", "/no/such/editor");
    store("ColorManagement/CustomMonitorProfile", "/no/such.icc");
    store("Misc/SaveHdrDataInProject", false);
    store("Misc/SaveInputsInProject", false);
    store("Misc/DefaultToneMappingSettings", "/no/such.lmsx");
    store("SavingResult/DefaultOutputFileName", "%F%C");
    programOptionsSettings o;
    EXPECT_FALSE(o.batch.autoCreateLDR || o.batch.autoCreateFixed || o.batch.autoCreateAutomatic);
    EXPECT_EQ(o.externalEditor.args, "%R");
    EXPECT_FALSE(o.externalEditor.enabled);
    EXPECT_TRUE(o.externalEditor.path.isEmpty());
    EXPECT_TRUE(o.colorManagement.customMonitorProfile.isEmpty());
    EXPECT_TRUE(o.misc.saveInputsInProject);
    EXPECT_TRUE(o.misc.defaultToneMappingSettings.endsWith("/built-in presets/default.lmsx"));
    EXPECT_EQ(o.savingResult.defaultOutputFileName, DEFAULT_OUTPUT_FILE_NAME);
}

TEST_F(settingsStore, versionUpgradeTouchesOnlyItsTwoKeys)
{
    store("CurrentVersion", "3.10.0");
    store("Performance/LiveToneMapping", false);
    store("Performance/Resample", 4);
    store("SavingResult/JpegQuality", 80);
    {
        programOptionsSettings o;
        EXPECT_TRUE(o.performance.liveToneMapping);
        EXPECT_EQ(o.performance.resample, programOptionsSettings::resampleDefault(o.idealThreads));
        EXPECT_EQ(o.savingResult.jpegQuality, 80);
        EXPECT_EQ(stored("CurrentVersion").toString(), LUMIDRA_VERSION);
    }
    // Same version: the stored choices stay.
    store("Performance/LiveToneMapping", false);
    store("Performance/Resample", 4);
    programOptionsSettings o;
    EXPECT_FALSE(o.performance.liveToneMapping);
    EXPECT_EQ(o.performance.resample, 4);
}

TEST_F(settingsStore, resetRemovesGroupsAndWindowKeysButKeepsVersion)
{
    {
        programOptionsSettings o;
        o.savingResult.jpegQuality = 80;
        write(o);
    }
    store("WindowGeometry", QRect(1, 2, 300, 400));
    store("WindowMaximized", false);
    store("Screen", 1);
    store("WindowState", QByteArray("state"));
    store("LogToFile", 2);
    store("LoadRAW/WindowGeometry", QRect(1, 1, 10, 10));
    resetAllSettings();

    auto s = platformSettings();
    EXPECT_TRUE(s->childGroups().isEmpty());
    for (const char *gone : {"WindowGeometry", "WindowMaximized", "Screen"})
        EXPECT_FALSE(s->contains(gone)) << gone;
    for (const char *kept : {"WindowState", "LogToFile", "CurrentVersion"})
        EXPECT_TRUE(s->contains(kept)) << kept;
    s.reset();

    // The next start shows the defaults and runs no upgrade.
    store("Performance/LiveToneMapping", false); // would be forced on by an upgrade
    programOptionsSettings next;
    EXPECT_EQ(next.savingResult.jpegQuality, 100);
    EXPECT_FALSE(next.performance.liveToneMapping);
}

TEST_F(settingsStore, partialReadLeavesDialogKeysAndUiCopies)
{
    programOptionsSettings o;
    o.generateHDR.method = 2;
    o.activeScale = 3;
    o.userInterface.scale = 4;
    o.savingResult.jpegQuality = 90; // common key: read back from the store
    o.readSettings(false);
    EXPECT_EQ(o.generateHDR.method, 2);
    EXPECT_EQ(o.activeScale, 3);
    EXPECT_EQ(o.userInterface.scale, 4);
    EXPECT_EQ(o.savingResult.jpegQuality, 100);
}

TEST_F(settingsStore, unusableScratchpadFallsBackToTemp)
{
    storeCurrentVersion();
    store("Scratchpad/Standard", false);
    store("Scratchpad/Path", testSupport::scratchDir() + "/does-not-exist");
    programOptionsSettings o;
    EXPECT_TRUE(o.scratchpad.standard);
    EXPECT_TRUE(o.scratchpad.path.isEmpty());
    EXPECT_EQ(o.scratchpad.pathCurrent, QDir::tempPath());
    write(o);
    EXPECT_EQ(stored("Scratchpad/Path").toString(), "");
    EXPECT_EQ(stored("Scratchpad/Standard").toBool(), true);
}

TEST_F(settingsStore, standardScratchpadClearsTheConfiguredPathOnWrite)
{
    const QString dir = testSupport::freshDir();
    storeCurrentVersion();
    store("Scratchpad/Standard", true);
    store("Scratchpad/Path", dir);
    programOptionsSettings o;
    write(o);
    EXPECT_EQ(stored("Scratchpad/Path").toString(), "");
}

TEST_F(settingsStore, configuredScratchpadStaysInUseUntilNextStart)
{
    const QString dirA = testSupport::freshDir("scratchA");
    const QString dirB = testSupport::freshDir("scratchB");
    storeCurrentVersion();
    store("Scratchpad/Standard", false);
    store("Scratchpad/Path", dirA);
    programOptionsSettings o;
    EXPECT_EQ(o.scratchpad.pathCurrent, dirA);
    o.scratchpad.path = dirB; // the options dialog picks another folder
    write(o);
    o.readSettings(false);   // the dialog opens again
    EXPECT_EQ(o.scratchpad.path, dirB);
    EXPECT_EQ(o.scratchpad.pathCurrent, dirA);
}

TEST_F(settingsStore, unusableScratchpadFolderFallsBackToTemp)
{
    // A regular file: a name below it can never be a folder, not even for root.
    const QString file = testSupport::freshDir() + "/plain-file";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    const QString readOnly = testSupport::freshDir("readOnly");
    const struct {
        const char *how;
        QString path;
        bool rootOverrides; // root writes there anyway
    } cases[] = {
        {"read-only folder", readOnly, true},
        {"below a regular file", file + "/scratch", false},
        {"a regular file", file, false},
        {"a folder where nobody creates files", "/proc", false},
    };
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        if (c.rootOverrides && geteuid() == 0)
            continue;
        platformSettings()->clear();
        storeCurrentVersion();
        store("Scratchpad/Standard", false);
        store("Scratchpad/Path", c.path);
        programOptionsSettings o;
        EXPECT_TRUE(o.scratchpad.standard);
        EXPECT_TRUE(o.scratchpad.path.isEmpty());
        EXPECT_EQ(o.scratchpad.pathCurrent, QDir::tempPath());
        write(o);
        EXPECT_EQ(stored("Scratchpad/Path").toString(), "");
        EXPECT_EQ(stored("Scratchpad/Standard").toBool(), true);
    }
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(settingsStore, unusableTemporaryFolderTooFallsBackToTheHomeFolder)
{
    // TMPDIR below a regular file: unusable whoever runs the test.
    const QString file = testSupport::freshDir() + "/plain-file";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", (file + "/tmp").toLocal8Bit());
    storeCurrentVersion();
    store("Scratchpad/Standard", true);
    programOptionsSettings o;
    qputenv("TMPDIR", oldTmp);
    EXPECT_FALSE(o.scratchpad.standard);
    EXPECT_EQ(o.scratchpad.pathCurrent, QDir::homePath() + "/Lumidra 3");
    EXPECT_EQ(o.scratchpad.path, o.scratchpad.pathCurrent);
}

TEST_F(settingsStore, uiScaleTable)
{
    programOptionsSettings o;
    const struct {
        int scale;
        int dpi;
        double expected;
    } cases[] = {{0, 144, 1.5}, {0, 96, 1.0}, {1, 144, 0.9}, {2, 144, 1.0}, {3, 96, 1.1}, {4, 96, 1.2}, {7, 96, 1.0}};
    for (const auto &c : cases) {
        o.activeScale = c.scale;
        o.logicalDpiX = c.dpi;
        EXPECT_DOUBLE_EQ(o.uiScale(), c.expected) << c.scale << " @ " << c.dpi;
    }
}

TEST_F(settingsStore, highDpiFollowsSettingAndScreen)
{
    storeCurrentVersion();
    programOptionsSettings::screenInfo_t retina{2.0, 2880, 96};
    programOptionsSettings::setScreenInfoOverride(&retina);
    {
        programOptionsSettings o;
        EXPECT_TRUE(o.activeHighDpi) << "default on a ratio-2 screen";
        EXPECT_DOUBLE_EQ(o.devicePixelRatio, 2.0);
        EXPECT_EQ(o.performance.resample, 2) << "resample default on a ratio-2 screen";
    }
    store("UserInterface/HighDPI", false);
    {
        programOptionsSettings o;
        EXPECT_FALSE(o.activeHighDpi);
        EXPECT_DOUBLE_EQ(o.devicePixelRatio, 1.0);
    }
    programOptionsSettings::screenInfo_t plain{1.0, 1920, 96};
    programOptionsSettings::setScreenInfoOverride(&plain);
    store("UserInterface/HighDPI", true);
    programOptionsSettings o;
    EXPECT_FALSE(o.activeHighDpi) << "a ratio-1 screen forces it off";
    EXPECT_TRUE(o.userInterface.highDPI);
}

TEST_F(settingsStore, resampleDefaultFollowsScreen)
{
    const struct {
        programOptionsSettings::screenInfo_t screen;
        int threads;
        int expected;
    } cases[] = {
        {{1.0, 1920, 96}, 8, 1},
        {{1.0, 2560, 96}, 8, 2},
        {{2.0, 1440, 96}, 8, 2},
        {{1.0, 1920, 96}, 1, 2},
    };
    for (const auto &c : cases) {
        programOptionsSettings::setScreenInfoOverride(&c.screen);
        EXPECT_EQ(programOptionsSettings::resampleDefault(c.threads), c.expected);
    }
}
