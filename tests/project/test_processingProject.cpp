// The processing project: construction with its session directory, stale
// session removal, photo temporary files, the size rules, thumbnails, photo
// list operations, the weighting tables and the YCbCr conversion.

#include "project/processingProject.h"
#include "project/sessionFolders.h"

#include "app/programOptionsSettings.h"
#include "hdr/lensfunDb.h"
#include "imageio/exiftoolDaemon.h"

#include "project/tableSizes.h"
#include "testSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Settings record with the scratch-pad in a fresh folder of the test.
class projectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scratch = testSupport::freshDir();
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = scratch;
        optionsInstance = options.get();
    }
    void TearDown() override { optionsInstance = nullptr; }

    QStringList sessionFolders() const
    {
        return QDir(scratch).entryList(QStringList{"~lumidratmp*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    }
    // Files in a folder, leaving out the tiny files of exiftool's warm-up
    // (written and removed again by a worker while the project starts).
    static int fileCount(const QString &dir)
    {
        int count = 0;
        for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
            count += name.startsWith(QLatin1String("~exiftool_warmup")) ? 0 : 1;
        return count;
    }

    QString scratch;
    std::unique_ptr<programOptionsSettings> options;
};

// A one-level 16-bit RGB pyramid filled with a pattern.
void makeImage(pyramid &p, int w, int h, uint16_t seed)
{
    p.freeAll();
    ASSERT_TRUE(p.makePyramid(w, h, 1, 2, 3, true));
    uint16_t *d = static_cast<uint16_t *>(p.levels[0].data);
    for (int64_t i = 0; i < int64_t(w) * h * 3; ++i)
        d[i] = uint16_t(seed + i * 7);
}

} // namespace

// --- size rules ------------------------------------------------------------

TEST(projectSizes, previewAndPyramidRules)
{
    struct row { int w, h; double dpr; int d, pw, ph, levels, full; };
    const row rows[] = {
        {6000, 4000, 1.0, 5, 1200, 800, 4, 5},  // 800, 400, 200, 100 above 64; full 3000..187
        {6000, 4000, 2.0, 5, 1200, 800, 4, 4},
        {1400, 933, 1.0, 2, 700, 467, 3, 3},
        {1400, 1000, 1.0, 2, 700, 500, 3, 3},
        {1399, 1000, 1.0, 1, 1399, 1000, 4, 3},
        {600, 400, 1.0, 1, 600, 400, 3, 1},    // half long side 300: one full level
        {64, 200, 1.0, 1, 64, 200, 1, 1},      // short side 64: exactly one level
        {130, 130, 1.0, 1, 130, 130, 2, 1},    // short side 130: two
        {1, 1, 1.0, 1, 1, 1, 1, 1},
        {400000, 300, 1.0, 286, 1399, 2, 1, 11},
    };
    for (const row &r : rows) {
        const previewGeometry_t g = previewGeometry(r.w, r.h);
        EXPECT_EQ(g.divisor, r.d) << r.w << "x" << r.h;
        EXPECT_EQ(g.width, r.pw) << r.w << "x" << r.h;
        EXPECT_EQ(g.height, r.ph) << r.w << "x" << r.h;
        EXPECT_EQ(g.levels, r.levels) << r.w << "x" << r.h;
        EXPECT_EQ(fullPyramidLevels(r.w, r.h, r.dpr), r.full) << r.w << "x" << r.h << " @" << r.dpr;
    }
}

TEST(projectSizes, vignetteProfileCountIn64Bits)
{
    EXPECT_EQ(vignetteProfileCount(6000, 4000), 36065);    // sqrt(9e6 + 4e6) = 3605.55
    EXPECT_EQ(vignetteProfileCount(3, 3), 30);             // sqrt(2 + 2) = 2, (2 + 1) x 10
    EXPECT_EQ(vignetteProfileCount(50000, 50000), 353563); // w x w beyond 32 bits
}

// --- weighting tables and the default response ------------------------------

TEST(projectTables, hdrWeightTableModes)
{
    std::vector<double> t(SAMPLE_TABLE_SIZE);
    hdrWeightTable(t.data(), 0.3, 0.3, 0);
    for (double v : t)
        ASSERT_EQ(v, 1.0);

    hdrWeightTable(t.data(), 0, 0, 1);
    EXPECT_DOUBLE_EQ(t[4096], 1.0);
    EXPECT_LT(t[4095], 1.0);
    EXPECT_DOUBLE_EQ(t[2048], 0.5);
    EXPECT_DOUBLE_EQ(t[65535], 8.0 / 65536);
    EXPECT_DOUBLE_EQ(t[32768], 1.0); // 32768 x 8 / 65536 = 4, clamped

    hdrWeightTable(t.data(), 0.5, 0.5, 2);
    EXPECT_EQ(t[16383], 0.0);                                  // below low
    EXPECT_NEAR(t[24576], (0.75 - 0.5) / 0.5, 1e-12);         // lower half rescaled
    EXPECT_DOUBLE_EQ(t[60000], 0.01);                          // below high
    EXPECT_NEAR(t[40960], (0.75 - 0.5) / 0.5, 1e-12);

    hdrWeightTable(t.data(), 0.1, 0.1, 3);
    EXPECT_DOUBLE_EQ(t[32767], 1.0); // the normalising entry, then / 0.9, clamped
    for (double v : t) {
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 1.0);
    }
}

TEST(projectTables, rampAndGauss)
{
    std::vector<double> t(SAMPLE_TABLE_SIZE);
    rampTable(t.data(), 32768, 0.25, 0.5, 2.0);
    EXPECT_EQ(t[8000], 0.0);                         // 0.244 below low
    EXPECT_DOUBLE_EQ(t[8192], 0.5);                  // 0.25 x 2
    EXPECT_DOUBLE_EQ(t[32768], 1.0);                 // the peak, clamped
    EXPECT_EQ(t[60000], 0.0);                        // upper value below high
    EXPECT_DOUBLE_EQ(t[40000], std::min(1.0, (65535 - 40000) / 32768.0 * 2));

    gaussWeightTable(t.data(), true);
    EXPECT_EQ(t[0], 1.0);
    EXPECT_EQ(t[655], 1.0); // x < 0.01
    EXPECT_NEAR(t[65535], std::exp(-(0.99 * 0.99) / 0.003), 1e-300);
    EXPECT_NEAR(t[6554], std::exp(-std::pow(6554 / 65535.0 - 0.01, 2) / 0.003), 1e-12);
    gaussWeightTable(t.data(), false);
    EXPECT_EQ(t[65535], 1.0);
    EXPECT_NEAR(t[58982], std::exp(-std::pow(1 - 58982 / 65535.0 - 0.01, 2) / 0.003), 1e-12);
}

TEST(projectTables, yCbCrRoundTrip)
{
    std::vector<float> px = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.2f, 0.5f, 0.9f, 4.0f, 0.25f, 0.0f};
    const std::vector<float> orig = px;
    rgbToYCbCrRange(px.data(), 0, 4, true);
    EXPECT_NEAR(px[3], 1.0, 1e-6);  // white: Y = 1
    EXPECT_NEAR(px[4], 0.5, 1e-4);  // Cb, Cr neutral
    EXPECT_NEAR(px[5], 0.5, 1e-4);
    yCbCrToRgbRange(px.data(), 0, 4, true);
    for (size_t i = 0; i < px.size(); ++i)
        EXPECT_NEAR(px[i], orig[i], 2e-3 * std::max(1.0f, orig[i])) << i;
}

// --- the project -----------------------------------------------------------

TEST_F(projectTest, constructsWithSessionDirectoryAndRemovesIt)
{
    QString session;
    {
        processingProject project(nullptr);
        EXPECT_FALSE(project.constructionFailed);
        ASSERT_TRUE(project.sessionDirExists());
        session = project.sessionDirPath();
        EXPECT_TRUE(session.endsWith('/'));
        EXPECT_TRUE(session.startsWith(scratch + "/~lumidratmp"));
        EXPECT_TRUE(QRegularExpression("~lumidratmp\\d{14}_\\d{3}_p\\d+$").match(project.sessionName).hasMatch());
        EXPECT_EQ(sessionOwnerPid(project.sessionName), QCoreApplication::applicationPid());
        EXPECT_NE(project.exiftool, nullptr);
        EXPECT_NE(project.lensDb, nullptr);
        EXPECT_GT(project.lensDatabase()->lensCount(), 0); // Debian's lensfun data
        EXPECT_EQ(project.loadOptions, nullptr); // no main window, no load-option dialogs
        EXPECT_EQ(project.exifTempPath(3), session + "lmpx_exif_3.jpg");

        // Empty project: only layer 0, all layer tables there.
        EXPECT_EQ(project.layerExists[0], 1);
        EXPECT_EQ(project.layerEnabled[0], 1);
        for (int i = 1; i < LAYER_COUNT; ++i)
            EXPECT_EQ(project.layerExists[i], 0);
        for (int i = 0; i < LAYER_COUNT; ++i) {
            EXPECT_EQ(project.layerSettings[i].layerIndex, i);
            EXPECT_EQ(project.layerSettings[i].layerTag, -100);
            EXPECT_NE(project.layerSettings[i].maskToneTable, nullptr);
        }
        EXPECT_NE(project.thumbSettings.curveLut[0], nullptr);

        // Files in the session directory go with cleanup; the folder stays.
        testSupport::writeFile(session + "layerUndo_1_2", "x");
        QDir().mkpath(session + "sub");
        testSupport::writeFile(session + "sub/f", "y");
        project.cleanup();
        EXPECT_TRUE(QDir(session).exists());
        EXPECT_EQ(fileCount(session), 0);
        EXPECT_EQ(fileCount(session + "sub"), 0);
        QDir().rmdir(session + "sub");
        project.cleanup(); // harmless on an empty project
        EXPECT_EQ(project.layerExists[0], 1);
    }
    EXPECT_FALSE(QDir(session).exists());
}

TEST_F(projectTest, staleSessionsRemovedByAge)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString old = "~lumidratmp" + now.addDays(-8).toString("yyyyMMddhhmmss") + "_001";
    const QString young = "~lumidratmp" + now.addDays(-2).toString("yyyyMMddhhmmss") + "_002";
    const QString noStamp = "~lumidratmpNOTADATE";
    for (const QString &s : {old, young, noStamp}) {
        QDir().mkpath(scratch + "/" + s);
        testSupport::writeFile(scratch + "/" + s + "/file", "data");
    }
    EXPECT_NEAR(sessionAgeHours(old), 192.0, 0.1);
    EXPECT_EQ(sessionAgeHours(noStamp), 0.0);
    {
        processingProject project(nullptr);
        const QStringList left = sessionFolders();
        EXPECT_FALSE(left.contains(old));
        EXPECT_TRUE(left.contains(young));
        EXPECT_TRUE(left.contains(noStamp));
        EXPECT_TRUE(left.contains(project.sessionName));
    }
    EXPECT_EQ(sessionFolders().size(), 2);
}

// Start-up removes the folders of processes that have ended (with whatever
// they hold) and keeps those of running ones, this process's own included.
TEST_F(projectTest, sessionsOfEndedProcessesRemovedLiveOnesKept)
{
    QProcess child;
    child.start("/bin/true", QStringList());
    ASSERT_TRUE(child.waitForFinished(10000));
    const qint64 endedPid = child.processId() > 0 ? child.processId() : 0;
    const qint64 own = QCoreApplication::applicationPid();
    const QDateTime now = QDateTime::currentDateTime();
    struct sessionCase {
        QString name;
        bool kept;
    };
    QList<sessionCase> cases = {
        {sessionFolderName(now, own), true},               // this process
        {sessionFolderName(now.addDays(-400), own), false}, // same number, older process
        {sessionFolderName(now, 1), true},                 // the init process runs since boot
        {sessionFolderName(now.addDays(-1), 999999999), false},
        {"~lumidratmpNOTADATE_pxyz", true},                // names no owner, no age: kept
    };
    if (endedPid > 0)
        cases.append({sessionFolderName(now, endedPid), false});
    for (const sessionCase &c : cases) {
        QDir().mkpath(scratch + "/" + c.name + "/sub");
        testSupport::writeFile(scratch + "/" + c.name + "/sub/file", "data");
        testSupport::writeFile(scratch + "/" + c.name + "/.hidden", "data");
    }
    EXPECT_EQ(sessionOwnerPid(sessionFolderName(now, 4242)), 4242);
    EXPECT_EQ(sessionOwnerPid("~lumidratmp20260101000000_000"), 0);
    EXPECT_EQ(sessionOwnerPid("other_p12"), 0);

    cleanupStaleSessions(scratch);
    const QStringList left = sessionFolders();
    for (const sessionCase &c : cases)
        EXPECT_EQ(left.contains(c.name), c.kept) << c.name.toStdString();
}

TEST_F(projectTest, unwritableScratchPadFailsConstruction)
{
    options->scratchpad.pathCurrent = scratch + "/file-not-folder";
    testSupport::writeFile(options->scratchpad.pathCurrent, "x");
    processingProject project(nullptr);
    EXPECT_TRUE(project.constructionFailed);
}

TEST_F(projectTest, twoProjectsNeverShareASession)
{
    processingProject a(nullptr);
    processingProject b(nullptr);
    EXPECT_NE(a.sessionName, b.sessionName);
    EXPECT_TRUE(a.sessionDirExists() && b.sessionDirExists());
}

TEST_F(projectTest, photoTempFilesPerSlot)
{
    processingProject project(nullptr);
    photoInfo_t photo;
    photo.id = 7;
    pyramid img, back;
    makeImage(img, 37, 11, 3);
    makeImage(back, 37, 11, 0);
    const qint64 bytes = qint64(img.levelBytes(0));

    ASSERT_TRUE(project.writeToTempFile(photo, 0, img));
    ASSERT_NE(photo.tempFiles[0], nullptr);
    EXPECT_TRUE(photo.tempFiles[0]->fileName().startsWith(project.sessionDirPath()));
    EXPECT_EQ(QFileInfo(photo.tempFiles[0]->fileName()).size(), bytes);
    ASSERT_TRUE(project.readFromTempFile(photo, 0, back));
    EXPECT_EQ(memcmp(img.levels[0].data, back.levels[0].data, size_t(bytes)), 0);
    ASSERT_TRUE(project.readFromTempFile(photo, 0, back)); // rewound before every read

    // A used slot refuses a second write and keeps its file.
    const QString first = photo.tempFiles[0]->fileName();
    EXPECT_FALSE(project.writeToTempFile(photo, 0, img));
    EXPECT_EQ(photo.tempFiles[0]->fileName(), first);

    // A shorter file cannot fill the pyramid.
    ASSERT_TRUE(project.writeToTempFile(photo, 3, img, bytes / 2));
    EXPECT_FALSE(project.readFromTempFile(photo, 3, back));
    EXPECT_TRUE(project.readFromTempFile(photo, 3, back, bytes / 2));
    // Counts beyond the buffer are refused, not read past it.
    EXPECT_FALSE(project.readFromTempFile(photo, 0, back, bytes + 1));
    EXPECT_FALSE(project.writeToTempFile(photo, 2, img, bytes + 1));

    EXPECT_FALSE(project.readFromTempFile(photo, 1, back)); // empty slot
    EXPECT_FALSE(project.readFromTempFile(photo, 4, back)); // no such slot

    project.closeTempFiles(photo, 0);
    EXPECT_EQ(photo.tempFiles[0], nullptr);
    EXPECT_FALSE(QFile::exists(first));
    project.closeTempFiles(photo, 0); // empty slot: nothing happens
    project.closeTempFiles(photo, 3);
    EXPECT_EQ(fileCount(project.sessionDirPath()), 0);
}

TEST_F(projectTest, photoListOperations)
{
    processingProject project(nullptr);
    project.width = 520;
    project.height = 520;
    ASSERT_TRUE(project.allocatePreview());
    EXPECT_EQ(project.previewWidth, 520);

    photoInfo_t photo;
    photo.id = 42;
    photo.preview = new uint16_t[size_t(520) * 520 * 3];
    std::fill(photo.preview, photo.preview + size_t(520) * 520 * 3, uint16_t(0x8000));
    photo.mask = new uint8_t[size_t(520) * 520];
    pyramid img;
    makeImage(img, 8, 8, 1);
    ASSERT_TRUE(project.writeToTempFile(photo, 0, img));
    project.photos << photo; // the copy in the list shares the buffers and slots

    project.makePhotoThumbnail(project.photos[0]);
    const QImage *thumb = project.photos[0].thumbnail;
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->size(), QSize(130, 130));
    EXPECT_EQ(thumb->pixel(5, 5), qRgb(0x80, 0x80, 0x80));
    EXPECT_GT(project.photos[0].meanBrightness, 0.0);

    EXPECT_EQ(project.getImageInfoIdx(42), 0);
    EXPECT_EQ(project.getImageInfoIdx(5), -1);
    EXPECT_FALSE(project.removePhoto(5));
    const QString tempName = photo.tempFiles[0]->fileName();
    EXPECT_TRUE(project.removePhoto(42));
    EXPECT_TRUE(project.photos.isEmpty());
    EXPECT_FALSE(QFile::exists(tempName));
}

TEST_F(projectTest, thumbnailLeavesOutPartialBlocks)
{
    processingProject project(nullptr);
    ASSERT_TRUE(project.allocatePreview(130, 130));
    photoInfo_t photo;
    photo.preview = new uint16_t[size_t(130) * 130 * 3]();
    // The last two rows and columns (outside the 32 x 32 blocks) are white.
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 130; ++x)
            if (x >= 128 || y >= 128)
                std::fill_n(photo.preview + (y * 130 + x) * 3, 3, uint16_t(65535));
    project.photos << photo;
    project.makePhotoThumbnail(project.photos[0]);
    ASSERT_NE(project.photos[0].thumbnail, nullptr);
    EXPECT_EQ(project.photos[0].thumbnail->size(), QSize(32, 32));
    EXPECT_EQ(project.photos[0].thumbnail->pixel(31, 31), qRgb(0, 0, 0));
    EXPECT_EQ(project.photos[0].meanBrightness, 0.0);
    project.removePhoto(0);
}

TEST_F(projectTest, buffersFollowTheImageSize)
{
    processingProject project(nullptr);
    project.width = 1000;
    project.height = 700;
    ASSERT_TRUE(project.allocatePreview());
    ASSERT_TRUE(project.allocatePyramids());
    EXPECT_EQ(project.hdrImage.levelCount, 2); // c = 500, 250
    EXPECT_EQ(project.hdrImage.bytesPerSample, 4);
    EXPECT_EQ(project.outputImage.channels, 3);
    EXPECT_EQ(project.lcPyramids[3].channels, 1);
    ASSERT_NE(project.displayBuffer, nullptr);
    EXPECT_EQ(project.layerSettings[9].vignetteProfileCount, vignetteProfileCount(1000, 700));
    EXPECT_EQ(project.thumbSettings.vignetteProfileCount, vignetteProfileCount(1000, 700));
    EXPECT_EQ(project.ghostLabelMask.levels[0].width, 1000);

    // The standard response: f(0) = c0, f(65535) = the coefficient sum.
    EXPECT_DOUBLE_EQ(project.defaultResponseTable[0], 0.011572206254299083);
    EXPECT_NEAR(project.defaultResponseTable[65535], 2.1101745083555938, 1e-12);
    responseRecord r;
    project.defaultResponse(&r);
    EXPECT_EQ(r.count, 6);
    EXPECT_DOUBLE_EQ(r.coefficients[5], 1.084440338878309);
    EXPECT_DOUBLE_EQ(project.ghostWeightTable[16384], 0.5);
    EXPECT_EQ(project.exposurePenaltyHigh[0], 1.0);
    EXPECT_EQ(project.exposurePenaltyLow[65535], 1.0);

    // A smaller crop keeps the buffers; a larger one reallocates the photos'.
    photoInfo_t photo;
    photo.preview = new uint16_t[size_t(1000) * 700 * 3];
    photo.mask = new uint8_t[size_t(1000) * 700];
    project.photos << photo;
    uint16_t *before = project.preview16;
    ASSERT_TRUE(project.resizePreviews(900, 600));
    EXPECT_EQ(project.previewWidth, 900);
    EXPECT_EQ(project.preview16, before);
    ASSERT_TRUE(project.resizePreviews(1400, 700));
    EXPECT_EQ(project.previewWidth, 700); // d = 2
    ASSERT_TRUE(project.resizePreviews(1399, 1000));
    EXPECT_EQ(project.previewWidth, 1399);
    EXPECT_NE(project.photos[0].preview, nullptr);

    project.width = 800;
    project.height = 600;
    ASSERT_NE(project.allocateDisplayBuffer(), nullptr);
    EXPECT_EQ(project.hdrImage.levels[0].width, 800);
    EXPECT_EQ(project.hdrImage.levels[1].width, 400);

    // YCbCr on the float image, in parallel, round trip.
    float *px = static_cast<float *>(project.hdrImage.levels[0].data);
    const int64_t n = int64_t(project.hdrImage.levels[0].width) * project.hdrImage.levels[0].height * 3;
    for (int64_t i = 0; i < n; ++i)
        px[i] = float((i % 97) / 50.0);
    project.toYCbCrParallel();
    project.fromYCbCrParallel();
    double worst = 0;
    for (int64_t i = 0; i < n; ++i)
        worst = std::max(worst, std::fabs(px[i] - (i % 97) / 50.0));
    EXPECT_LT(worst, 5e-3);

    project.cleanup();
    EXPECT_EQ(project.hdrImage.levelCount, 0);
    EXPECT_EQ(project.displayBuffer, nullptr);
    EXPECT_EQ(project.layerSettings[0].vignetteProfile, nullptr);
    EXPECT_TRUE(project.photos.isEmpty());
}
