// Colour management: the generated stock profiles, transforms between them,
// the one-input-profile rule, display profile fallbacks, the custom Radiance
// profile and transforms used by workers while the GUI thread rebuilds them.

#include "project/processingProject.h"

#include "app/programOptionsSettings.h"
#include "widgets/styledMessageBox.h"

#include "testSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>
#include <atomic>
#include <gtest/gtest.h>
#include <lcms2.h>

namespace {

const char *const stockFiles[] = {"sRGB.icm", "AdobeRGB1998.icc", "WideGamutRGB.icc",
                                  "ProPhotoRGB.icm", "AppleRGB.icc", "ColorMatchRGB.icc",
                                  "DCI-P3.icc"};

cmsHPROFILE open(const QString &path)
{
    return cmsOpenProfileFromFile(QFile::encodeName(path).constData(), "r");
}

// XYZ (D50 connection space) of one 8-bit RGB value in a profile.
cmsCIEXYZ toXYZ(cmsHPROFILE rgb, uint8_t r, uint8_t g, uint8_t b)
{
    cmsHPROFILE xyz = cmsCreateXYZProfile();
    cmsHTRANSFORM t = cmsCreateTransform(rgb, TYPE_RGB_8, xyz, TYPE_XYZ_DBL,
                                         INTENT_RELATIVE_COLORIMETRIC, 0);
    const uint8_t in[3] = {r, g, b};
    cmsCIEXYZ out = {0, 0, 0};
    if (t) {
        cmsDoTransform(t, in, &out, 1);
        cmsDeleteTransform(t);
    }
    cmsCloseProfile(xyz);
    return out;
}

class colorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scratch = testSupport::freshDir();
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = scratch;
        options->colorManagement.enabled = true;
        options->colorManagement.intent = INTENT_RELATIVE_COLORIMETRIC;
        optionsInstance = options.get();
        // The project shows no box: its messages go to its handler.
        styledMessageBox::setMessageHook([this](int, const QString &, const QString &text, int) {
            boxes << text;
            return int(styledMessageBox::Ok);
        });
        project.reset(new processingProject(nullptr));
        project->messageHandler = [this](projectMessage_t, const QString &text) { messages << text; };
    }
    void TearDown() override
    {
        EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
        project.reset();
        styledMessageBox::setMessageHook(styledMessageBox::messageHook_t());
        optionsInstance = nullptr;
    }

    // A photo whose own profile file is a copy of a stock profile.
    photoInfo_t photoWithProfile(int id, const char *stock)
    {
        photoInfo_t p;
        p.id = id;
        p.profilePath = project->sessionDirPath() + QStringLiteral("~profile%1.icc").arg(id);
        QFile::copy(processingProject::stockProfilePath(stock), p.profilePath);
        return p;
    }

    QString scratch;
    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
    QStringList messages;
    QStringList boxes; // message boxes shown (none expected)
};

} // namespace

TEST(colorProfiles, generatedStockProfilesAreRgbAndDistinct)
{
    QStringList descriptions;
    for (const char *name : stockFiles) {
        const QString path = processingProject::stockProfilePath(name);
        ASSERT_TRUE(QFileInfo::exists(path)) << qPrintable(path);
        cmsHPROFILE p = open(path);
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(cmsGetColorSpace(p), cmsSigRgbData) << name;
        EXPECT_EQ(cmsGetDeviceClass(p), cmsSigDisplayClass) << name;
        QString html;
        descriptions << profileDescription(p, &html);
        EXPECT_TRUE(html.startsWith("<b>" + descriptions.last() + "</b><br>Lumidra<br>")) << name;
        cmsCloseProfile(p);
    }
    descriptions.removeDuplicates();
    EXPECT_EQ(descriptions.size(), 7);
}

TEST(colorProfiles, srgbWhiteAndPrimaries)
{
    cmsHPROFILE srgb = open(processingProject::stockProfilePath("sRGB.icm"));
    ASSERT_NE(srgb, nullptr);
    struct row { uint8_t r, g, b; double X, Y, Z; };
    // The sRGB primaries and white adapted to D50 (Bradford), as the ICC
    // connection space holds them.
    const row rows[] = {
        {255, 255, 255, 0.9642, 1.0000, 0.8249},
        {255, 0, 0, 0.4360, 0.2225, 0.0139},
        {0, 255, 0, 0.3851, 0.7169, 0.0971},
        {0, 0, 255, 0.1431, 0.0606, 0.7139},
        {0, 0, 0, 0.0, 0.0, 0.0},
    };
    for (const row &r : rows) {
        const cmsCIEXYZ xyz = toXYZ(srgb, r.r, r.g, r.b);
        EXPECT_NEAR(xyz.X, r.X, 0.002) << int(r.r) << "," << int(r.g) << "," << int(r.b);
        EXPECT_NEAR(xyz.Y, r.Y, 0.002) << int(r.r) << "," << int(r.g) << "," << int(r.b);
        EXPECT_NEAR(xyz.Z, r.Z, 0.002) << int(r.r) << "," << int(r.g) << "," << int(r.b);
    }
    // Mid grey follows the sRGB curve: 50% signal is 21.4% luminance.
    EXPECT_NEAR(toXYZ(srgb, 128, 128, 128).Y, 0.2158, 0.002);
    cmsCloseProfile(srgb);
}

TEST_F(colorTest, transformsBetweenStockProfiles)
{
    options->colorManagement.inputProfile = 2; // Adobe RGB (1998) input
    options->colorManagement.outputProfile = 1; // sRGB display
    const photoInfo_t photo;
    ASSERT_TRUE(project->setMonitorProfile(photo));
    EXPECT_TRUE(project->transformsAreValid());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(project->inputProfileHtml.contains("Adobe RGB (1998)"));

    struct row { processingProject::colorTransform_t t; uint8_t in[3]; uint8_t out[3]; };
    const row rows[] = {
        {processingProject::TRANSFORM_TO_SRGB_8, {255, 255, 255}, {255, 255, 255}},
        {processingProject::TRANSFORM_TO_SRGB_8, {219, 0, 0}, {255, 0, 0}},
        {processingProject::TRANSFORM_TO_MONITOR_8, {219, 0, 0}, {255, 0, 0}},
        {processingProject::TRANSFORM_FROM_MONITOR_8, {255, 0, 0}, {219, 0, 0}},
        {processingProject::TRANSFORM_FROM_MONITOR_8, {255, 255, 255}, {255, 255, 255}},
    };
    for (const row &r : rows) {
        uint8_t out[3] = {1, 2, 3};
        ASSERT_TRUE(project->doTransform(r.t, r.in, out, 1));
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out[c], r.out[c], 2) << int(r.t) << " channel " << c;
    }
    const uint16_t white16[3] = {65535, 65535, 65535};
    uint16_t out16[3] = {};
    ASSERT_TRUE(project->doTransform(processingProject::TRANSFORM_TO_SRGB_16, white16, out16, 1));
    for (uint16_t v : out16)
        EXPECT_NEAR(v, 65535, 40);
    const uint8_t bgra[4] = {255, 255, 255, 255};
    uint8_t outBgra[4] = {};
    EXPECT_TRUE(project->doTransform(processingProject::TRANSFORM_TO_MONITOR_BGRA, bgra, outBgra, 1));

    project->deleteProfileTransform();
    uint8_t out[3];
    EXPECT_FALSE(project->doTransform(processingProject::TRANSFORM_TO_SRGB_8, rows[0].in, out, 1));
}

TEST_F(colorTest, mismatchedInputProfileIsRefused)
{
    options->colorManagement.inputProfile = 0; // each photo's own profile
    photoInfo_t first = photoWithProfile(1, "sRGB.icm");
    photoInfo_t second = photoWithProfile(2, "AdobeRGB1998.icc");
    photoInfo_t third = photoWithProfile(3, "sRGB.icm");

    EXPECT_EQ(project->checkInputProfile(first, 0, 0), 0);
    EXPECT_EQ(project->inputProfileDescription, "sRGB");
    EXPECT_EQ(project->checkInputProfile(second, 1, 1), 2);
    EXPECT_FALSE(QFile::exists(second.profilePath));
    EXPECT_TRUE(QFile::exists(first.profilePath));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first(), "Color profiles of all photos in the sequence must be the same.");
    EXPECT_EQ(project->lastErrorMessage, messages.first());
    EXPECT_EQ(project->checkInputProfile(third, 1, 1), 0);

    // Quiet: the same refusal without a box.
    project->quiet = true;
    photoInfo_t fourth = photoWithProfile(4, "ProPhotoRGB.icm");
    EXPECT_EQ(project->checkInputProfile(fourth, 2, 2), 2);
    EXPECT_EQ(messages.size(), 1);

    // An unreadable profile file is refused as well.
    photoInfo_t broken;
    broken.profilePath = project->sessionDirPath() + "~profile9.icc";
    testSupport::writeFile(broken.profilePath, "not a profile");
    EXPECT_EQ(project->checkInputProfile(broken, 2, 2), 2);
    EXPECT_EQ(project->lastErrorMessage, "Error while loading input color profile.");
}

TEST_F(colorTest, nonRgbMonitorProfileFallsBackToSrgb)
{
    cmsToneCurve *g = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE gray = cmsCreateGrayProfile(cmsD50_xyY(), g);
    cmsFreeToneCurve(g);
    const QString grayPath = scratch + "/gray monitor.icc";
    ASSERT_TRUE(cmsSaveProfileToFile(gray, QFile::encodeName(grayPath).constData()));
    cmsCloseProfile(gray);

    options->colorManagement.outputProfile = 0;
    options->colorManagement.customMonitorProfile = grayPath;
    const photoInfo_t photo;
    EXPECT_FALSE(project->setMonitorProfile(photo));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first(), "Error while loading monitor color profile.<br><br>"
                                "The color profile is not RGB.<br><br>gray monitor.icc");
    EXPECT_EQ(options->colorManagement.outputProfile, 1);
    EXPECT_TRUE(options->colorManagement.customMonitorProfile.isEmpty());
    EXPECT_FALSE(project->transformsAreValid());
    EXPECT_TRUE(project->setMonitorProfile(photo)); // now sRGB
}

TEST_F(colorTest, missingCustomMonitorProfileSilentlyUsesSrgb)
{
    options->colorManagement.outputProfile = 0;
    options->colorManagement.customMonitorProfile = scratch + "/gone.icc";
    EXPECT_TRUE(project->setMonitorProfile(photoInfo_t()));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(options->colorManagement.outputProfile, 1);
    EXPECT_TRUE(options->colorManagement.customMonitorProfile.isEmpty());
}

TEST_F(colorTest, rawAndRadianceInputProfiles)
{
    // RAW with colour space 3 (Wide Gamut): the stock file is copied.
    photoInfo_t raw;
    raw.profilePath = project->sessionDirPath() + "~profile1.icc";
    project->rawColorSpaceCode = 3;
    EXPECT_EQ(project->createInputProfile(raw, 4), 0);
    EXPECT_EQ(testSupport::readFile(raw.profilePath),
              testSupport::readFile(processingProject::stockProfilePath("WideGamutRGB.icc")));

    // Radiance with primaries and colour space 0: a gamma-2.2 profile of them.
    photoInfo_t hdr;
    hdr.profilePath = project->sessionDirPath() + "~profile2.icc";
    const double srgbPrimaries[8] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
    std::copy(srgbPrimaries, srgbPrimaries + 8, project->radiancePrimaries);
    project->radiancePrimariesSet = true;
    project->hdrColorSpaceCode = 0;
    EXPECT_EQ(project->createInputProfile(hdr, 6), 0);
    cmsHPROFILE custom = open(hdr.profilePath);
    ASSERT_NE(custom, nullptr);
    EXPECT_EQ(cmsGetColorSpace(custom), cmsSigRgbData);
    const cmsCIEXYZ red = toXYZ(custom, 255, 0, 0);
    EXPECT_NEAR(red.X, 0.4360, 0.003);
    EXPECT_NEAR(red.Y, 0.2225, 0.003);
    // Gamma 2.2 rather than the sRGB curve: mid grey 128 gives (128/255)^2.2.
    EXPECT_NEAR(toXYZ(custom, 128, 128, 128).Y, std::pow(128 / 255.0, 2.2), 0.003);
    cmsCloseProfile(custom);

    // Without primaries, code 0 is sRGB; other types get nothing.
    project->radiancePrimariesSet = false;
    EXPECT_EQ(project->createInputProfile(hdr, 6), 0);
    EXPECT_EQ(testSupport::readFile(hdr.profilePath),
              testSupport::readFile(processingProject::stockProfilePath("sRGB.icm")));
    photoInfo_t jpeg;
    jpeg.profilePath = project->sessionDirPath() + "~profile3.icc";
    EXPECT_EQ(project->createInputProfile(jpeg, 0), 0);
    EXPECT_FALSE(QFile::exists(jpeg.profilePath));
}

TEST_F(colorTest, workersNeverUseADeletedTransform)
{
    options->colorManagement.inputProfile = 2;
    ASSERT_TRUE(project->setMonitorProfile(photoInfo_t()));
    std::atomic<bool> stop{false};
    std::atomic<int> transformed{0};
    QList<QFuture<void>> workers;
    for (int w = 0; w < 4; ++w) {
        workers << QtConcurrent::run([&]() {
            std::vector<uint8_t> row(3 * 256, 200), out(3 * 256);
            while (!stop) {
                if (project->doTransform(processingProject::TRANSFORM_TO_MONITOR_8, row.data(),
                                         out.data(), 256))
                    ++transformed;
            }
        });
    }
    // The GUI thread rebuilds and deletes the transforms meanwhile (any use
    // of a freed transform is caught by the address sanitizer).
    for (int i = 0; i < 30; ++i) {
        options->colorManagement.outputProfile = 1 + i % 5;
        ASSERT_TRUE(project->setMonitorProfile(photoInfo_t()));
        if (i % 3 == 0)
            project->deleteProfileTransform();
    }
    stop = true;
    for (QFuture<void> &f : workers)
        f.waitForFinished();
    EXPECT_GT(transformed.load(), 0);
}
