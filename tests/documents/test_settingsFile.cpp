#include "documents/settingsFile.h"
#include "project/processingParamsTable.h"

#include "../imageio/writeFailure.h"
#include "testSupport.h"

#include <QFile>
#include <cmath>
#include <gtest/gtest.h>

namespace
{
// A record with every scalar away from its default and inside its range,
// both knee lists and three touched curves.
processingParams_t unusualRecord()
{
    processingParams_t p;
    int i = 0;
    for (const processingParamField_t &f : processingParamFields()) {
        const double t = 0.17 + 0.023 * (i++);
        f.set(p, f.isFlag() ? 1.0 : f.minimum + (f.maximum - f.minimum) * t);
    }
    p.autoClipping = false; // so that the output levels are written
    p.clippedBelow = p.blackPoint;
    p.clippedAbove = p.whitePoint;
    p.brightnessSelectivePoints = {{0.1, 0.7, 0.5}, {0.8, 0.2, 1.7}};
    p.hueSelectivePoints = {{0.33, 0.9, 1.1}};
    p.curves[0] = {1, {QPointF(0, 0.05), QPointF(0.5, 0.6), QPointF(1, 0.95)}, false};
    p.curves[1] = {0, {QPointF(0, 0), QPointF(0.25, 0.3), QPointF(1, 1)}, false};
    p.curves[2] = {0, {QPointF(0, 0), QPointF(1, 1)}, true};
    p.curves[3] = {1, {QPointF(0, 0.1), QPointF(1, 0.9)}, false};
    return p;
}

QString writeSettings(const QString &name, const QByteArray &text)
{
    const QString path = testSupport::freshDir() + "/" + name;
    EXPECT_TRUE(testSupport::writeFile(path, text));
    return path;
}

QByteArray wrap(const char *version, const QByteArray &body)
{
    return QByteArray("<Lumidrasettings SettingsFileVersion=\"") + version + "\" ProgramVersion=\"1\">\n" + body +
           "</Lumidrasettings>\n";
}

} // namespace

TEST(settingsFile, roundTripKeepsEveryFieldWithinTheWrittenPrecision)
{
    const processingParams_t source = unusualRecord();
    const QString path = testSupport::freshDir() + "/look.lmsx";
    ASSERT_TRUE(saveSettingsFile(path, source));

    const QByteArray text = testSupport::readFile(path);
    EXPECT_TRUE(text.startsWith("<Lumidrasettings ")) << "no XML declaration";
    EXPECT_TRUE(text.contains("SettingsFileVersion=\"4.2\""));
    EXPECT_TRUE(text.contains("\n    <GlobalOp ")) << "indented by four spaces";
    for (char c : text)
        EXPECT_GE(static_cast<unsigned char>(c), 0) << "ASCII only";

    processingParams_t loaded;
    ASSERT_EQ(loadSettingsFile(path, &loaded), SETTINGS_LOADED);
    for (const processingParamField_t &f : processingParamFields())
        EXPECT_NEAR(f.get(loaded), f.get(source), 0.6 * std::pow(10.0, -f.decimals)) << f.key().toStdString();
    EXPECT_DOUBLE_EQ(loaded.clippedBelow, loaded.blackPoint);
    EXPECT_DOUBLE_EQ(loaded.clippedAbove, loaded.whitePoint);

    ASSERT_EQ(loaded.brightnessSelectivePoints.size(), 2);
    ASSERT_EQ(loaded.hueSelectivePoints.size(), 1);
    EXPECT_NEAR(loaded.brightnessSelectivePoints[1].sigma, 1.7, 0.005);
    EXPECT_NEAR(loaded.hueSelectivePoints[0].x, 0.33, 0.0005);
    for (int c = 0; c < PP_CURVE_COUNT; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(loaded.curves[c].type, source.curves[c].type);
        EXPECT_EQ(loaded.curves[c].flag, source.curves[c].flag);
        ASSERT_EQ(loaded.curves[c].points.size(), source.curves[c].points.size());
        for (int i = 0; i < source.curves[c].points.size(); ++i) {
            EXPECT_NEAR(loaded.curves[c].points[i].x(), source.curves[c].points[i].x(), 0.0005);
            EXPECT_NEAR(loaded.curves[c].points[i].y(), source.curves[c].points[i].y(), 0.0005);
        }
    }
    // The untouched curve is stored without points and reads back as the identity.
    EXPECT_TRUE(text.contains("Count=\"0\""));
    EXPECT_EQ(loaded.curves[2].points, (QList<QPointF>{QPointF(0, 0), QPointF(1, 1)}));
}

TEST(settingsFile, automaticClippingWritesAndReadsTheFullOutputRange)
{
    processingParams_t source = unusualRecord();
    source.autoClipping = true;
    const QByteArray text = settingsToBytes(source);
    EXPECT_FALSE(text.contains("WhitePointValue"));
    EXPECT_FALSE(text.contains("BlackPointValue"));

    // A file that holds output values anyway: automatic clipping wins.
    const QString path = writeSettings("auto.lmsx", wrap("4.2", "<HistogramClip AutoClipping=\"1\" WhitePoint=\"0.2\" "
                                                                "BlackPoint=\"0.1\" WhitePointValue=\"0.5\" "
                                                                "BlackPointValue=\"0.4\"/>\n"));
    processingParams_t p;
    p.whitePointValue = 0.7;
    p.blackPointValue = 0.3;
    ASSERT_EQ(loadSettingsFile(path, &p), SETTINGS_LOADED);
    EXPECT_TRUE(p.autoClipping);
    EXPECT_DOUBLE_EQ(p.whitePointValue, 1.0);
    EXPECT_DOUBLE_EQ(p.blackPointValue, 0.0);
    EXPECT_NEAR(p.whitePoint, 0.2, 1e-6);
    EXPECT_NEAR(p.clippedBelow, 0.1, 1e-6);
}

TEST(settingsFile, versionCodeIsReadFromTheTextExactly)
{
    const struct
    {
        const char *text;
        int code;
    } cases[] = {{"4.2", 42}, {"4.1", 41}, {"4.0", 40}, {"4", 40},  {"4.", 40},  {" 4.2 ", 42}, {"4.29", 42},
                 {"3.9", 39}, {"10.1", 101}, {"", 0},   {"abc", 0}, {"4,2", 0}, {"-4.2", 0},  {"4.2e1", 0},
                 {"1234567.0", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(settingsVersionCode(c.text), c.code) << c.text;
}

TEST(settingsFile, versionRulesForOldFiles)
{
    const QByteArray body = "<MaskOp Enabled=\"1\" Strength=\"0.7\" Highlights=\"0.2\" Shadows=\"0.1\"/>\n"
                            "<Vignette Amount=\"0.5\" CenterX=\"0.25\" CenterY=\"0.75\"/>\n";
    processingParams_t before;
    before.maskHighlights = 0.9;
    before.vignetteAmount = 0.3;

    // 3.9: refused, the record keeps every value.
    processingParams_t p = before;
    QString error;
    EXPECT_EQ(loadSettingsFile(writeSettings("v39.lmsx", wrap("3.9", body)), &p, &error), SETTINGS_OLD_VERSION);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_DOUBLE_EQ(p.maskHighlights, 0.9);
    EXPECT_DOUBLE_EQ(p.vignetteAmount, 0.3);

    // 4.0: one mask strength for both ends; no centre yet.
    p = before;
    ASSERT_EQ(loadSettingsFile(writeSettings("v40.lmsx", wrap("4.0", body)), &p), SETTINGS_LOADED);
    EXPECT_NEAR(p.maskHighlights, 0.7, 1e-6);
    EXPECT_NEAR(p.maskShadows, 0.7, 1e-6);
    EXPECT_DOUBLE_EQ(p.vignetteCenterX, 0.5);

    // 4.1: highlights and shadows of their own; the centre is still ignored.
    p = before;
    ASSERT_EQ(loadSettingsFile(writeSettings("v41.lmsx", wrap("4.1", body)), &p), SETTINGS_LOADED);
    EXPECT_NEAR(p.maskHighlights, 0.2, 1e-6);
    EXPECT_NEAR(p.maskShadows, 0.1, 1e-6);
    EXPECT_DOUBLE_EQ(p.vignetteCenterX, 0.5);
    EXPECT_DOUBLE_EQ(p.vignetteCenterY, 0.5);

    // 4.2 reads the centre.
    p = before;
    ASSERT_EQ(loadSettingsFile(writeSettings("v42.lmsx", wrap("4.2", body)), &p), SETTINGS_LOADED);
    EXPECT_NEAR(p.vignetteCenterX, 0.25, 1e-6);
    EXPECT_NEAR(p.vignetteCenterY, 0.75, 1e-6);
}

TEST(settingsFile, missingElementsKeepValuesExceptTheVignetteDefaults)
{
    processingParams_t p;
    p.compression = 2.5;
    p.gamma = 1.7;
    p.vignetteAmount = 0.4;
    p.vignetteSmoothness = 0.2;
    p.vignetteSize = 0.3;
    p.vignetteRoundness = -0.5;
    p.vignetteCenterX = 0.1;
    const QString path = writeSettings("partial.lmsx", "<!--*[ a comment line some tools add\n" +
                                                           wrap("4.2", "<Unknown Foo=\"1\"/><Other Sharpness=\"0.4\"/>"
                                                                       "<Other Sharpness=\"0.6\"/>\n"));
    ASSERT_EQ(loadSettingsFile(path, &p), SETTINGS_LOADED);
    EXPECT_DOUBLE_EQ(p.compression, 2.5);
    EXPECT_DOUBLE_EQ(p.gamma, 1.7);
    EXPECT_NEAR(p.sharpness, 0.6, 1e-6); // a repeated element: the last one wins
    EXPECT_DOUBLE_EQ(p.vignetteAmount, 0.0);
    EXPECT_DOUBLE_EQ(p.vignetteRoundness, 0.0);
    EXPECT_DOUBLE_EQ(p.vignetteSmoothness, 1.0);
    EXPECT_DOUBLE_EQ(p.vignetteSize, 1.0);
    EXPECT_DOUBLE_EQ(p.vignetteCenterX, 0.5);
    EXPECT_DOUBLE_EQ(p.vignetteCenterY, 0.5);
}

TEST(settingsFile, curvesWithFewerThanTwoPointsBecomeTheIdentity)
{
    processingParams_t p;
    p.curves[1] = {0, {QPointF(0, 0.2), QPointF(1, 0.8)}, false};
    const QString path = writeSettings(
        "curve.lmsx", wrap("4.2", "<Curve_R Type=\"1\" Count=\"1\"><KneePoint1 X=\"0.5\" Y=\"0.5\"/></Curve_R>\n"
                                  "<CurveWhatever Type=\"0\" Count=\"2\"><A X=\"0\" Y=\"0.1\"/><B X=\"1\" Y=\"0.9\"/>"
                                  "</CurveWhatever>\n"));
    ASSERT_EQ(loadSettingsFile(path, &p), SETTINGS_LOADED);
    EXPECT_EQ(p.curves[1].type, 1);
    EXPECT_TRUE(p.curves[1].flag);
    EXPECT_EQ(p.curves[1].points, (QList<QPointF>{QPointF(0, 0), QPointF(1, 1)}));
    // Any other name starting with "Curve" is the luminance curve.
    EXPECT_FALSE(p.curves[0].flag);
    ASSERT_EQ(p.curves[0].points.size(), 2);
    EXPECT_NEAR(p.curves[0].points[0].y(), 0.1, 1e-6);
}

TEST(settingsFile, valuesOutsideTheirRangeAreBroughtIntoItAndTextReadsAsZero)
{
    processingParams_t p;
    const QString path = writeSettings(
        "range.lmsx", wrap("4.2", "<GlobalOp Compression=\"abc\" Gamma=\"9\"/>\n"
                                  "<ColorAdjust Temperature=\"-3\" Tint=\"1.5\" Hue=\"\"/>\n"
                                  "<Saturation Saturation=\"1\" BrightnessSelectivePointCount=\"1\" "
                                  "HueSelectivePointCount=\"0\"><P X=\"1.5\" Y=\"-0.5\" Sigma=\"40\"/></Saturation>\n"
                                  "<Curve Type=\"0\" Count=\"2\"><K X=\"-1\" Y=\"0\"/><K X=\"1\" Y=\"7\"/></Curve>\n"));
    ASSERT_EQ(loadSettingsFile(path, &p), SETTINGS_LOADED);
    EXPECT_DOUBLE_EQ(p.compression, 0.1); // "abc" reads as 0, then the minimum
    EXPECT_DOUBLE_EQ(p.gamma, 4.0);
    EXPECT_DOUBLE_EQ(p.temperature, 0.0);
    EXPECT_DOUBLE_EQ(p.hue, 0.0);
    ASSERT_EQ(p.brightnessSelectivePoints.size(), 1);
    EXPECT_DOUBLE_EQ(p.brightnessSelectivePoints[0].x, 1.0);
    EXPECT_DOUBLE_EQ(p.brightnessSelectivePoints[0].y, 0.0);
    EXPECT_DOUBLE_EQ(p.brightnessSelectivePoints[0].sigma, 2.0);
    EXPECT_TRUE(p.hueSelectivePoints.isEmpty());
    EXPECT_EQ(p.curves[0].points, (QList<QPointF>{QPointF(0, 0), QPointF(1, 1)}));
}

TEST(settingsFile, malformedOrHostileFilesAreRefusedAndChangeNothing)
{
    QByteArray thirtyThree;
    for (int i = 0; i < 33; ++i)
        thirtyThree += "<K X=\"0.5\" Y=\"0.5\"/>";
    const struct
    {
        const char *name;
        QByteArray text;
    } cases[] = {
        {"empty", ""},
        {"notXml", "this is not a settings file"},
        {"truncated", "<Lumidrasettings SettingsFileVersion=\"4.2\"><GlobalOp Gamma=\"1\""},
        {"nan", wrap("4.2", "<GlobalOp Compression=\"1\" Gamma=\"nan\"/>")},
        {"infinity", wrap("4.2", "<Vignette Amount=\"-inf\"/>")},
        {"beyondFloat", wrap("4.2", "<GlobalOp Gamma=\"1e50\"/>")},
        {"overflow", wrap("4.2", "<GlobalOp Gamma=\"1e999\"/>")},
        {"nanInKnee", wrap("4.2", "<Saturation BrightnessSelectivePointCount=\"1\"><P X=\"nan\" Y=\"0\" Sigma=\"1\"/>"
                                  "</Saturation>")},
        {"curveCountAbove32", wrap("4.2", "<Curve Type=\"0\" Count=\"33\">" + thirtyThree + "</Curve>")},
        {"curveCountAboveChildren", wrap("4.2", "<Curve Type=\"0\" Count=\"3\"><K X=\"0\" Y=\"0\"/><K X=\"1\" Y=\"1\"/>"
                                                "</Curve>")},
        {"hugeKneeCount", wrap("4.2", "<Saturation HueSelectivePointCount=\"2000000000\"/>")},
        {"negativeKneeCount", wrap("4.2", "<Saturation BrightnessSelectivePointCount=\"-1\"/>")},
        {"kneesShared", wrap("4.2", "<Saturation BrightnessSelectivePointCount=\"1\" HueSelectivePointCount=\"1\">"
                                    "<P X=\"0\" Y=\"0\" Sigma=\"1\"/></Saturation>")},
        {"unknownCurveType", wrap("4.2", "<Curve_G Type=\"7\" Count=\"0\"/>")},
        {"tooLarge", wrap("4.2", "<!--" + QByteArray(SETTINGS_FILE_MAX_BYTES, 'x') + "-->")},
    };
    const processingParams_t before = unusualRecord();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        processingParams_t p = before;
        QString error;
        const QString path = writeSettings(QString(c.name) + ".lmsx", c.text);
        EXPECT_EQ(loadSettingsFile(path, &p, &error), SETTINGS_UNREADABLE);
        EXPECT_FALSE(error.isEmpty());
        for (const processingParamField_t &f : processingParamFields())
            EXPECT_EQ(f.get(p), f.get(before)) << f.key().toStdString();
        EXPECT_EQ(p.curves[0].points, before.curves[0].points);
        EXPECT_EQ(p.brightnessSelectivePoints.size(), 2);
    }
    processingParams_t p;
    EXPECT_EQ(loadSettingsFile(testSupport::freshDir() + "/absent.lmsx", &p), SETTINGS_UNREADABLE);
}

TEST(settingsFile, failedSaveLeavesTheOldFileIntact)
{
    const QString dir = testSupport::freshDir();
    const QString path = dir + "/preset.lmsx";
    processingParams_t old = unusualRecord();
    old.gamma = 0.8;
    ASSERT_TRUE(saveSettingsFile(path, old));
    const QByteArray oldBytes = testSupport::readFile(path);

    processingParams_t changed = unusualRecord();
    changed.gamma = 2.0;
    {
        // A full disk: the file cannot grow beyond 100 bytes.
        writeFailure::fileSizeLimit limit(100);
        QString error;
        EXPECT_FALSE(saveSettingsFile(path, changed, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(testSupport::readFile(path), oldBytes);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"preset.lmsx"}) << "no leftovers";

    EXPECT_FALSE(saveSettingsFile(writeFailure::readOnlyFolder(dir + "/ro") + "/x.lmsx", changed));
}

TEST(settingsFile, commandTextsAndSaveNames)
{
    EXPECT_EQ(settingsLoadErrorText(SETTINGS_LOADED, "a.lmsx"), QString());
    EXPECT_EQ(settingsLoadErrorText(SETTINGS_OLD_VERSION, "a.lmsx"), QString("Error! Wrong version of the settings file."));
    EXPECT_EQ(settingsLoadErrorText(SETTINGS_UNREADABLE, "/p/a.lmsx"),
              QString("Error while loading the settings file.<br><br>/p/a.lmsx"));
    EXPECT_EQ(settingsSaveFileName("/p/look"), QString("/p/look.lmsx"));
    EXPECT_EQ(settingsSaveFileName("/p/look.LMSX"), QString("/p/look.LMSX"));
    EXPECT_EQ(settingsSaveFileName("/p/look.xml"), QString("/p/look.xml.lmsx"));
}

// The presets shipped with the program load with this reader.
TEST(settingsFile, shippedPresetsLoad)
{
    const QString folder = testSupport::sourceDir() + "/resources/built-in presets";
    const QStringList files = QDir(folder).entryList({"*.lmsx"}, QDir::Files);
    if (files.isEmpty())
        GTEST_SKIP() << "no built-in presets in " << folder.toStdString();
    EXPECT_TRUE(files.contains("default.lmsx"));
    EXPECT_TRUE(files.contains("none.lmsx"));
    for (const QString &f : files) {
        SCOPED_TRACE(f.toStdString());
        processingParams_t p;
        QString error;
        EXPECT_EQ(loadSettingsFile(folder + "/" + f, &p, &error), SETTINGS_LOADED) << error.toStdString();
        for (const processingParamField_t &field : processingParamFields())
            EXPECT_TRUE(field.inRange(field.get(p))) << field.key().toStdString();
    }
}
