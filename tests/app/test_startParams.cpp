#include "app/debugLog.h"
#include "app/startParams.h"
#include "platform/platformSettings.h"
#include "testSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <functional>
#include <vector>

namespace {

// Runs the parser on the arguments (the program name is added).
void parse(const std::vector<QByteArray> &args)
{
    std::vector<QByteArray> all{"lumidra"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (QByteArray &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    parseCommandLine(int(all.size()), argv.data());
}

struct cliCase_t {
    const char *name;
    std::vector<QByteArray> args;
    std::function<void(startParams_t &)> expect; // changes from the defaults
};

class commandLine : public ::testing::TestWithParam<cliCase_t>
{
protected:
    void SetUp() override { openEventFilesAdded = false; }
};

} // namespace

TEST_P(commandLine, parses)
{
    const cliCase_t &c = GetParam();
    startParams.autoProcess = true; // leftovers of an earlier run are cleared
    startParams.inputPhoto = QStringList{"stale.jpg"};
    parse(c.args);
    startParams_t expected;
    if (c.expect)
        c.expect(expected);
    const startParams_t &p = startParams;
    EXPECT_EQ(p.inputPhoto, expected.inputPhoto);
    EXPECT_EQ(p.autoProcess, expected.autoProcess);
    EXPECT_EQ(p.plugin, expected.plugin);
    EXPECT_EQ(p.hide, expected.hide);
    EXPECT_EQ(p.pluginSrcDir, expected.pluginSrcDir);
    EXPECT_EQ(p.outputFn, expected.outputFn);
    EXPECT_EQ(p.settings, expected.settings);
    EXPECT_EQ(p.smartMerge, expected.smartMerge);
    EXPECT_EQ(p.autoLensCorrection, expected.autoLensCorrection);
    EXPECT_EQ(p.autoAlign, expected.autoAlign);
    EXPECT_EQ(p.autoDeghost, expected.autoDeghost);
    EXPECT_EQ(p.noiseFilter, expected.noiseFilter);
    EXPECT_EQ(p.noiseFilterParam1, expected.noiseFilterParam1);
    EXPECT_EQ(p.noiseFilterParam2, expected.noiseFilterParam2);
    EXPECT_EQ(p.panoramaMode, expected.panoramaMode);
    EXPECT_EQ(p.outputFormat, expected.outputFormat);
    EXPECT_EQ(p.tiffBitDepth, expected.tiffBitDepth);
    EXPECT_EQ(p.outputToSrgb, expected.outputToSrgb);
    EXPECT_EQ(p.outputDir, expected.outputDir);
}

INSTANTIATE_TEST_SUITE_P(
    cases, commandLine,
    ::testing::Values(
        cliCase_t{"noArguments", {}, nullptr},
        cliCase_t{"photos", {"/p/a.jpg", "b.tif"}, [](startParams_t &e) { e.inputPhoto = QStringList{"/p/a.jpg", "b.tif"}; }},
        cliCase_t{"outputFn", {"--output_fn=/out/result.jpg"},
                  [](startParams_t &e) { e.outputFn = "/out/result.jpg"; e.pluginSrcDir = "/out"; }},
        cliCase_t{"outputDirWinsForCallbackFolder", {"--output_dir=/x", "--output_fn=/out/result.jpg"},
                  [](startParams_t &e) { e.outputFn = "/out/result.jpg"; e.outputDir = "/x"; e.pluginSrcDir = "/x"; }},
        cliCase_t{"outputFnWithoutValue", {"--output_fn"}, nullptr},
        cliCase_t{"autoAlignImpliesAuto", {"--auto_align"}, [](startParams_t &e) { e.autoAlign = e.autoProcess = true; }},
        cliCase_t{"autoLensAndDeghost", {"--auto_lens", "--auto_deghost"},
                  [](startParams_t &e) { e.autoLensCorrection = e.autoDeghost = e.autoProcess = true; }},
        cliCase_t{"pluginMode", {"--plugin_mode"}, [](startParams_t &e) { e.plugin = true; }},
        cliCase_t{"hideAndFlags", {"--hide", "--smart_merge", "--panorama", "--output_to_srgb"},
                  [](startParams_t &e) { e.hide = e.smartMerge = e.panoramaMode = e.outputToSrgb = true; }},
        cliCase_t{"noiseFilter", {"--noise_filter=3,1"},
                  [](startParams_t &e) { e.noiseFilter = true; e.noiseFilterParam1 = 3; e.noiseFilterParam2 = 1; }},
        cliCase_t{"noiseFilterOneValue", {"--noise_filter=5"},
                  [](startParams_t &e) { e.noiseFilter = true; e.noiseFilterParam1 = 5; }},
        cliCase_t{"noiseFilterNotNumbers", {"--noise_filter=a,b"},
                  [](startParams_t &e) { e.noiseFilter = true; e.noiseFilterParam1 = 0; e.noiseFilterParam2 = 0; }},
        cliCase_t{"noiseFilterWithoutValue", {"--noise_filter"}, nullptr},
        cliCase_t{"firstMatchingEntryGivesTheValue", {"--tm_settings=/a.lmsx", "--tm_settings=/b.lmsx"},
                  [](startParams_t &e) { e.settings = "/a.lmsx"; }},
        cliCase_t{"valueAfterFirstEquals", {"--tm_settings=/a=b.lmsx"}, [](startParams_t &e) { e.settings = "/a=b.lmsx"; }},
        cliCase_t{"tiff8BeatsJpeg", {"--tiff8", "--jpeg"}, [](startParams_t &e) { e.outputFormat = 1; e.tiffBitDepth = 1; }},
        cliCase_t{"tiff8BeatsJpegReversed", {"--jpeg", "--tiff8"}, [](startParams_t &e) { e.outputFormat = 1; e.tiffBitDepth = 1; }},
        cliCase_t{"tiff16BeatsTiff8", {"--tiff16", "--tiff8"}, [](startParams_t &e) { e.outputFormat = 1; e.tiffBitDepth = 2; }},
        cliCase_t{"scaleValueSkipped", {"-scale", "1.5", "/p/a.jpg"}, [](startParams_t &e) { e.inputPhoto = QStringList{"/p/a.jpg"}; }},
        cliCase_t{"scaleSwitchAnyCase", {"-SCALE", "2", "-nohidpi", "x.jpg"}, [](startParams_t &e) { e.inputPhoto = QStringList{"x.jpg"}; }},
        cliCase_t{"unknownOptionsIgnored", {"--whatever=1", "-x"}, nullptr},
        cliCase_t{"valueNeverSwitchesAnOption", {"--output_fn=/--tiff16/--auto/r.jpg"},
                  [](startParams_t &e) { e.outputFn = "/--tiff16/--auto/r.jpg"; e.pluginSrcDir = "/--tiff16/--auto"; }},
        cliCase_t{"utf8Path", {QByteArray("/p/caf\xc3\xa9.jpg")},
                  [](startParams_t &e) { e.inputPhoto = QStringList{QString::fromUtf8("/p/caf\xc3\xa9.jpg")}; }}),
    [](const ::testing::TestParamInfo<cliCase_t> &info) { return std::string(info.param.name); });

TEST(commandLineRelative, outputFnFolderIsAbsolute)
{
    openEventFilesAdded = false;
    parse({"--output_fn=out/result.jpg"});
    EXPECT_EQ(startParams.pluginSrcDir, QDir::currentPath() + "/out");
}

TEST(commandLineOpenEvents, pathsFromFileOpenEventsAreKept)
{
    startParams.inputPhoto = QStringList{"/dropped.jpg"};
    openEventFilesAdded = true;
    parse({"/given.jpg"});
    EXPECT_EQ(startParams.inputPhoto, (QStringList{"/dropped.jpg", "/given.jpg"}));
    openEventFilesAdded = false;
    parse({});
    EXPECT_TRUE(startParams.inputPhoto.isEmpty());
}

TEST(commandLineLog, logsArgumentsAndParameters)
{
    const QString folder = testSupport::freshDir();
    platformSettings()->setValue("Installer/UserFolder", folder);
    platformSettings()->setValue("LogToFile", 2);
    debugLogReset();

    openEventFilesAdded = false;
    std::vector<QByteArray> all{"lumidra", "--noise_filter=3,1", "--hide", "/p/a.jpg"};
    std::vector<char *> argv;
    for (QByteArray &a : all)
        argv.push_back(a.data());
    parseCommandLine(int(all.size()), argv.data());
    logStartParams(int(all.size()), argv.data());

    const QByteArray text = testSupport::readFile(folder + "/Lumidra3_debug_log.txt");
    EXPECT_TRUE(text.startsWith("\nargv[1] = --noise_filter=3,1\nargv[2] = --hide\nargv[3] = /p/a.jpg\n\n"
                                "PARAMS: inputPhoto='/p/a.jpg'\nPARAMS: autoProcess=0\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("PARAMS: noiseFilter=1 (3, 1)\n"));
    EXPECT_TRUE(text.endsWith("PARAMS: outputFormat=0 (tiff bit depth: 1)\n\n"));
    EXPECT_FALSE(text.contains("hide="));

    QCoreApplication::processEvents();
    platformSettings()->remove("LogToFile");
    platformSettings()->remove("Installer");
    debugLogReset();
}
