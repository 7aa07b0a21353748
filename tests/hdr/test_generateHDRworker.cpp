// The HDR worker's stages over a project: synthetic brackets merged back to their
// scene, real brackets, breaks, missing files, saving and read-back.

#include "app/sharedFlags.h"
#include "hdr/deghostWorker.h"
#include "hdr/generateHDRworker.h"
#include "hdr/ghostMaths.h"
#include "imageio/openEXR.h"
#include "imageio/radianceRGBE.h"
#include "imageio/tiffReader.h"
#include "project/tableSizes.h"
#include "projectFixture.h"
#include "syntheticBracket.h"
#include "testSupport.h"

#include <ImfCRgbaFile.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <tiffio.h>

namespace {

constexpr double LOW_EV_5 = -12.0, HIGH_EV = 1.0;

// Renders a bracket of `frames` photos 2 EV apart into the fixture.
void addSyntheticBracket(hdrProjectFixture &f, int w, int h, int frames, bool eightBit, double lowEv)
{
    const std::vector<double> response = syntheticBracket::responseTable(syntheticBracket::standardCoefficients, 6);
    for (int k = 0; k < frames; k++)
        ASSERT_TRUE(f.addPhoto(syntheticBracket::renderPhoto(response, w, h, 2.0 * k, eightBit, lowEv, HIGH_EV),
                               w, h, 2.0 * k));
    f.recentreEvs();
}

generateHDRoptions_t optionsFor(processingProject *p, int method)
{
    generateHDRoptions_t o;
    o.project = p;
    o.method = method;
    o.selectivity = 1;
    o.smartMergeStrength = 5;
    return o;
}

// Runs one stage slot and returns the value of its finished signal.
template <typename Slot>
bool runStage(generateHDRworker &worker, Slot slot)
{
    int result = -1;
    int emitted = 0;
    QObject::connect(&worker, &generateHDRworker::finished, [&](bool ok) {
        result = ok;
        emitted++;
    });
    (worker.*slot)();
    EXPECT_EQ(emitted, 1) << "a stage emits finished exactly once";
    QObject::disconnect(&worker, &generateHDRworker::finished, nullptr, nullptr);
    return result == 1;
}

bool allFinite(const float *v, qint64 n)
{
    for (qint64 i = 0; i < n; i++)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}

} // namespace

struct workerBracketCase {
    const char *name;
    int frames;
    bool eightBit;
    bool recover;       // fit the response curve and fix the EVs from the photos
    double tolerance;   // natural-log radiance, after removing the common scale
};

class workerBracket : public ::testing::TestWithParam<workerBracketCase> {};

TEST_P(workerBracket, trueHdrMergesBackToTheScene)
{
    const workerBracketCase c = GetParam();
    const int w = 320, h = 48;
    const double lowEv = -2.0 * (c.frames - 1) - 2.0;
    hdrProjectFixture f;
    f.options->generateHDR.dontRecoverResponceCurve = !c.recover;
    addSyntheticBracket(f, w, h, c.frames, c.eightBit, lowEv);
    generateHDRoptions_t o = optionsFor(f.project(), 0);
    takeStoredSettings(o, *f.options);
    generateHDRworker worker(o);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_TRUE(f.project()->hdrState.responseRecovered);
    if (!c.recover) {
        for (const photoInfo_t &p : f.project()->photos)
            EXPECT_EQ(p.evlFix, 0.0);
    }
    ASSERT_TRUE(worker.generateHDR_core());
    const float *hdr = f.hdr();
    ASSERT_TRUE(allFinite(hdr, qint64(w) * h * 3));

    // Well exposed: some photo sees the pixel between 10 % and 90 % of its range.
    std::vector<double> logRatio;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const qint64 i = qint64(y) * w + x;
            bool wellExposed = false;
            for (const photoInfo_t &p : f.project()->photos) {
                // previews equal the photos at this size (divisor 1)
                const quint16 s = p.preview[i * 3];
                wellExposed |= s > 6553 && s < 58981;
            }
            if (wellExposed)
                logRatio.push_back(std::log(hdr[i * 3 + 1] / syntheticBracket::sceneRadiance(x, y, w, h, lowEv, HIGH_EV)));
        }
    ASSERT_GT(logRatio.size(), size_t(w * h / 2));
    std::vector<double> sorted = logRatio;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    double worst = 0.0;
    for (double v : logRatio)
        worst = std::max(worst, std::fabs(v - median));
    EXPECT_LT(worst, c.tolerance) << "largest log-radiance error";
}

INSTANTIATE_TEST_SUITE_P(frames, workerBracket,
                         // With the camera's own (standard) curve the merge is exact up to
                         // quantisation. With recovery the exposure fix, which compares the
                         // photos' median brightness, pulls the brightest photo (over half of
                         // it clipped in this scene) about 0.75 EV down: the stated tolerance
                         // covers that, the order of radiances is kept.
                         ::testing::Values(workerBracketCase{"three8", 3, true, false, 0.05},
                                           workerBracketCase{"five8", 5, true, false, 0.05},
                                           workerBracketCase{"three16", 3, false, false, 0.03},
                                           workerBracketCase{"five16", 5, false, false, 0.03},
                                           workerBracketCase{"three8recovered", 3, true, true, 0.3},
                                           workerBracketCase{"five16recovered", 5, false, true, 0.3}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(generateHDRworker, exposureFixKeepsExactExposures)
{
    // Photos rendered through the standard curve at exact EVs, recovery and
    // the exposure fix on (the default path): the fix must leave the EVs
    // where they are. The scene spans 13 EV, so that no photo is clipped
    // over half its area (the fix compares the photos' median brightness, and
    // a mostly clipped photo has no true median).
    hdrProjectFixture f;
    f.options->generateHDR.dontRecoverResponceCurve = false;
    addSyntheticBracket(f, 320, 48, 3, true, LOW_EV_5);
    generateHDRworker worker(optionsFor(f.project(), 0));
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_TRUE(f.project()->hdrState.responseRecovered);
    const QList<photoInfo_t> &photos = f.project()->photos;
    for (int k = 0; k < photos.size(); k++)
        EXPECT_NEAR(photos[k].evlFix / M_LN2, 0.0, 0.1) << "photo " << k << " (EV " << photos[k].ev << ")";
}

TEST(generateHDRworker, prepareBuildsWeightTablesByMethod)
{
    hdrProjectFixture f;
    addSyntheticBracket(f, 64, 32, 3, true, -6.0);
    QList<photoInfo_t> &photos = f.project()->photos;
    {
        generateHDRworker worker(optionsFor(f.project(), 1));
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        // Smart Merge ramps: the brightest photo peaks low, the darkest high.
        const auto peak = [](const double *t) { return int(std::max_element(t, t + SAMPLE_TABLE_SIZE) - t); };
        EXPECT_LT(peak(photos[2].mergeBuffer), peak(photos[1].mergeBuffer));
        EXPECT_LT(peak(photos[1].mergeBuffer), peak(photos[0].mergeBuffer));
        EXPECT_NEAR(peak(photos[1].mergeBuffer), 32768, 1);
    }
    {
        generateHDRworker worker(optionsFor(f.project(), 0));
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        // True HDR: the brightest photo keeps the dark half, the darkest the bright half.
        EXPECT_EQ(photos[2].mergeBuffer[100], 1.0);
        EXPECT_EQ(photos[0].mergeBuffer[65000], 1.0);
        EXPECT_EQ(photos[2].lowLevel, 0);
        EXPECT_EQ(photos[0].highLevel, 65535);
    }
}

TEST(generateHDRworker, everyMethodGivesAFiniteImageAndAResult)
{
    for (int method : {0, 1, 2}) {
        SCOPED_TRACE(method);
        hdrProjectFixture f;
        addSyntheticBracket(f, 200, 60, 3, true, -6.0);
        generateHDRoptions_t o = optionsFor(f.project(), method);
        o.noiseFilter = true;
        o.noiseFilterStrength = 50;
        o.noiseFilterSoftness = 5;
        generateHDRworker worker(o);
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
        EXPECT_TRUE(f.project()->hdrState.resultValid);
        EXPECT_TRUE(f.project()->hdrState.hdrPresent);
        EXPECT_GE(f.project()->hdrState.hdrMedian, 0.001);
        EXPECT_LE(f.project()->hdrState.hdrMedian, 0.9);
        const float *hdr = f.hdr();
        EXPECT_TRUE(allFinite(hdr, 200 * 60 * 3));
        EXPECT_GE(*std::min_element(hdr, hdr + 200 * 60 * 3), -0.01f);
        EXPECT_LE(*std::max_element(hdr, hdr + 200 * 60 * 3), 1.01f);
    }
}

TEST(generateHDRworker, mergeRebuildsEveryPhotosThumbnailFromItsPreview)
{
    hdrProjectFixture f;
    addSyntheticBracket(f, 200, 64, 3, true, -6.0);
    processingProject *p = f.project();
    const qint64 pn = qint64(p->previewWidth) * p->previewHeight;
    ASSERT_GE(p->previewWidth, 4);
    ASSERT_GE(p->previewHeight, 4);
    // Previews changed after loading (as alignment would), thumbnails gone.
    for (int k = 0; k < p->photos.size(); k++) {
        photoInfo_t &photo = p->photos[k];
        delete photo.thumbnail;
        photo.thumbnail = nullptr;
        std::fill(photo.preview, photo.preview + pn * 3, quint16(0x1000 * (k + 3)));
    }
    generateHDRworker worker(optionsFor(p, 0));
    ASSERT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    ASSERT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
    for (int k = 0; k < p->photos.size(); k++) {
        SCOPED_TRACE(k);
        const QImage *thumb = p->photos[k].thumbnail;
        ASSERT_TRUE(thumb);
        EXPECT_EQ(thumb->size(), QSize(p->previewWidth / 4, p->previewHeight / 4));
        const int expected = (0x1000 * (k + 3)) >> 8;
        EXPECT_EQ(thumb->pixel(0, 0), qRgb(expected, expected, expected));
        EXPECT_EQ(thumb->pixel(thumb->width() - 1, thumb->height() - 1), qRgb(expected, expected, expected));
    }
}

TEST(generateHDRworker, missingTemporaryFileFailsTheStageCleanly)
{
    hdrProjectFixture f;
    addSyntheticBracket(f, 64, 32, 3, true, -6.0);
    processingProject *p = f.project();
    p->closeTempFiles(p->photos[1], 0);
    float *hdr = static_cast<float *>(p->hdrImage.levels[0].data);
    std::fill(hdr, hdr + 64 * 32 * 3, -1.0f);
    generateHDRworker worker(optionsFor(p, 0));
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_FALSE(runStage(worker, &generateHDRworker::generateHDR_function));
    EXPECT_FALSE(p->hdrState.resultValid);
    EXPECT_FALSE(p->hdrState.hdrPresent);
    EXPECT_EQ(hdr[0], -1.0f);   // nothing was merged
}

TEST(generateHDRworker, failedAntiGhostMaskFailsTheMergeCleanly)
{
    hdrProjectFixture f;
    addSyntheticBracket(f, 256, 64, 3, true, -6.0);
    processingProject *p = f.project();
    // Mark a ghost region for photo 1, then make every mask file write fail.
    quint8 *labels = static_cast<quint8 *>(p->ghostLabelMask.levels[0].data);
    std::fill(labels, labels + 256 * 20, quint8(ghostLabelOf(p->photos[1].id)));
    generateHDRoptions_t o = optionsFor(p, 0);
    o.ghostRemoval = true;
    generateHDRworker worker(o);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    struct rlimit old, small;
    getrlimit(RLIMIT_FSIZE, &old);
    small = old;
    small.rlim_cur = 1024;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = runStage(worker, &generateHDRworker::generateHDR_function);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(p->hdrState.resultValid);

    // With room on the disk the same merge works, and masked pixels stay finite.
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
    EXPECT_TRUE(allFinite(f.hdr(), 256 * 64 * 3));
}

TEST(generateHDRworker, breakMidMergeStopsAndLeavesNoResult)
{
    // Large enough that the breaking thread gets its turn while the merge runs.
    const int w = 4096, h = 1024;
    hdrProjectFixture f;
    addSyntheticBracket(f, w, h, 2, true, -4.0);
    processingProject *p = f.project();
    generateHDRworker worker(optionsFor(p, 0));
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    float *hdr = static_cast<float *>(p->hdrImage.levels[0].data);
    std::fill(hdr, hdr + qint64(w) * h * 3, -1.0f);
    progressCounter = 0;
    std::atomic<bool> done{false};
    std::thread breaker([&] {
        // The merge adds 10 per row: break once a few rows are done.
        while (!done && progressCounter.load() < 50)
            std::this_thread::yield();
        hdrBreakFlag = true;
    });
    const bool ok = runStage(worker, &generateHDRworker::generateHDR_function);
    done = true;
    breaker.join();
    hdrBreakFlag = false;
    EXPECT_FALSE(ok);
    EXPECT_FALSE(p->hdrState.resultValid);
    EXPECT_FALSE(p->hdrState.hdrPresent);
    const qint64 untouched = std::count(hdr, hdr + qint64(w) * h * 3, -1.0f);
    EXPECT_GT(untouched, 0) << "the merge went on after the break";
    EXPECT_TRUE(allFinite(hdr, qint64(w) * h * 3));
}

namespace {

std::vector<float> readExrWithLibrary(const QString &path, int *w, int *h)
{
    std::vector<float> out;
    ImfInputFile *in = ImfOpenInputFile(QFile::encodeName(path).constData());
    if (!in)
        return out;
    int xMin, yMin, xMax, yMax;
    ImfHeaderDataWindow(ImfInputHeader(in), &xMin, &yMin, &xMax, &yMax);
    *w = xMax - xMin + 1;
    *h = yMax - yMin + 1;
    std::vector<ImfRgba> pixels(size_t(*w) * *h);
    ImfInputSetFrameBuffer(in, pixels.data() - xMin - yMin * *w, 1, *w);
    ImfInputReadPixels(in, yMin, yMax);
    ImfCloseInputFile(in);
    for (const ImfRgba &p : pixels) {
        out.push_back(ImfHalfToFloat(p.r));
        out.push_back(ImfHalfToFloat(p.g));
        out.push_back(ImfHalfToFloat(p.b));
    }
    return out;
}

std::vector<float> readTiffWithLibrary(const QString &path, int *w, int *h)
{
    std::vector<float> out;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return out;
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    *w = int(width);
    *h = int(height);
    out.resize(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; y++)
        TIFFReadScanline(tif, out.data() + size_t(y) * width * 3, y, 0);
    TIFFClose(tif);
    return out;
}

} // namespace

TEST(generateHDRworker, savedHdrFilesReadBackWithTheMergedValues)
{
    const int w = 96, h = 40;
    hdrProjectFixture f;
    addSyntheticBracket(f, w, h, 3, false, -6.0);
    processingProject *p = f.project();
    const QString dir = testSupport::freshDir();
    struct formatCase {
        QString name;
        double relTolerance;   // of the format's precision
    };
    const formatCase cases[] = {{"out.hdr", 0.01}, {"OUT.HDR", 0.01}, {"out.exr", 0.001}, {"out.tif", 0.0},
                                {"deflate.tif", 0.0}};
    for (const formatCase &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        generateHDRoptions_t o = optionsFor(p, 0);
        o.saveHDR = true;
        o.outputPath = dir + "/" + c.name;
        f.options->savingResult.hdrFormatTiffCompression = c.name.startsWith("deflate");
        takeStoredSettings(o, *f.options);
        generateHDRworker worker(o);
        EXPECT_EQ(worker.outputPath(), o.outputPath);
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
        EXPECT_TRUE(worker.saved);
        // The file holds the merge before preprocessing: merge again to compare.
        ASSERT_TRUE(worker.generateHDR_core());
        const std::vector<float> merged(f.hdr(), f.hdr() + w * h * 3);

        std::vector<std::vector<float>> readings;
        int rw = 0, rh = 0;
        const QString suffix = c.name.section('.', -1).toLower();
        if (suffix == "hdr") {
            std::vector<float> v(size_t(w) * h * 3);
            float mn, mx;
            ASSERT_TRUE(imageLoader::loadRadianceRGBE(o.outputPath, w, h, v.data(), mn, mx));
            for (float &x : v)
                x /= 256.0f;   // our reader's scale (see radianceRGBE.h)
            readings.push_back(v);
        } else if (suffix == "exr") {
            std::vector<float> v(size_t(w) * h * 3);
            float mn, mx;
            ASSERT_TRUE(imageLoader::getOpenEXRinfo(o.outputPath, rw, rh));
            ASSERT_TRUE(imageLoader::loadOpenEXR(o.outputPath, w, h, v.data(), mn, mx));
            readings.push_back(v);
            readings.push_back(readExrWithLibrary(o.outputPath, &rw, &rh));
            EXPECT_EQ(rw, w);
            EXPECT_EQ(rh, h);
        } else {
            readings.push_back(readTiffWithLibrary(o.outputPath, &rw, &rh));
            EXPECT_EQ(rw, w);
            int tw = 0, th = 0, bits = 0;
            ASSERT_TRUE(imageLoader::getTIFFinfo(o.outputPath, &tw, &th, &bits));
            EXPECT_EQ(bits, 32);
            std::vector<float> v(size_t(w) * h * 3);
            float mn, mx;
            exifInfo_t exif;
            std::memset(&exif, 0, sizeof exif);
            ASSERT_TRUE(imageLoader::loadTIFF(o.outputPath, nullptr, v.data(), &mn, &mx, &exif, tw, th));
            exifFreeStripTables(&exif);
            readings.push_back(v);
        }
        for (const std::vector<float> &v : readings) {
            ASSERT_EQ(v.size(), merged.size());
            for (size_t i = 0; i < v.size(); i++)
                ASSERT_NEAR(v[i], merged[i], merged[i] * c.relTolerance + 1e-6) << "sample " << i;
        }
    }

    // Smart Merge never saves; an unwritable place is reported and leaves no file.
    generateHDRoptions_t smart = optionsFor(p, 1);
    smart.saveHDR = true;
    smart.outputPath = dir + "/smart.hdr";
    EXPECT_TRUE(generateHDRworker(smart).outputPath().isEmpty());
    for (const QString &name : {QString("out.hdr"), QString("out.exr"), QString("out.tif")}) {
        ASSERT_TRUE(testSupport::writeFile(dir + "/file", "x"));
        generateHDRoptions_t o = optionsFor(p, 0);
        o.saveHDR = true;
        o.outputPath = dir + "/file/" + name;
        generateHDRworker worker(o);
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));   // the merge itself worked
        EXPECT_FALSE(worker.saved) << name.toStdString();
    }
    // A full disk: every format's writer reports the failure and leaves no half file.
    for (const QString &name : {QString("full.hdr"), QString("full.exr"), QString("full.tif")}) {
        generateHDRoptions_t o = optionsFor(p, 0);
        o.saveHDR = true;
        o.outputPath = dir + "/" + name;
        generateHDRworker worker(o);
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        struct rlimit old, small;
        getrlimit(RLIMIT_FSIZE, &old);
        small = old;
        small.rlim_cur = 2048;
        void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        runStage(worker, &generateHDRworker::generateHDR_function);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(worker.saved) << name.toStdString();
        EXPECT_FALSE(QFile::exists(o.outputPath)) << name.toStdString();
        EXPECT_FALSE(QFile::exists(o.outputPath + "~")) << name.toStdString();
    }

    // A read-only HDR file is refused with a reason unless replacing it was
    // agreed; then it is replaced and stays read-only.
    for (const QString &name : {QString("ro.hdr"), QString("ro.exr"), QString("ro.tif")}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir + "/" + name;
        ASSERT_TRUE(testSupport::writeFile(path, "old"));
        ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        for (bool agreed : {false, true}) {
            generateHDRoptions_t o = optionsFor(p, 0);
            o.saveHDR = true;
            o.outputPath = path;
            o.replaceReadOnly = agreed;
            generateHDRworker worker(o);
            EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
            EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
            EXPECT_EQ(worker.saved, agreed);
            EXPECT_EQ(worker.saveError.contains("read-only"), !agreed) << qPrintable(worker.saveError);
            EXPECT_EQ(testSupport::readFile(path) == "old", !agreed);
        }
        EXPECT_EQ(QFile::permissions(path) & 0x7077, // owner, group, others
                  QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    }
}

TEST(generateHDRworker, ldrEnhancementConvertsOnePhoto)
{
    hdrProjectFixture f;
    std::vector<quint16> rgb(64 * 32 * 3, 32768);
    rgb[0] = 65535;
    ASSERT_TRUE(f.addPhoto(rgb, 64, 32, 0.0));
    generateHDRoptions_t o = optionsFor(f.project(), 0);
    generateHDRworker worker(o);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateLDR_function));
    EXPECT_TRUE(f.project()->hdrState.ldrResult);
    EXPECT_EQ(f.project()->hdrState.hdrMedian, 0.4);
    EXPECT_EQ(f.hdr()[0], 1.0f);
    EXPECT_NEAR(f.hdr()[1], 32768 / 65535.0, 1e-6);

    hdrBreakFlag = true;
    EXPECT_FALSE(runStage(worker, &generateHDRworker::generateLDR_function));
    hdrBreakFlag = false;
    EXPECT_FALSE(f.project()->hdrState.ldrResult);
}

// ------------------------------------------------------------ real brackets

namespace {

double luma(const float *p)
{
    return 0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2];
}

} // namespace

TEST(generateHDRworker, realBracketsMergeIntoConsistentHdrImages)
{
    LUMIDRA_REQUIRE_TESTDATA();
    for (const char *set : {"room_7exp", "canal_aeb_misaligned_3exp", "sony_aeb_night_5exp",
                            "airport_moving_people_3exp"}) {
        SCOPED_TRACE(set);
        hdrProjectFixture f;
        const QDir dir(testSupport::testDataFile(QString("brackets/") + set));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            if (f.addImageFile(dir.filePath(name)))
                continue;
            // The night set is 200 x 113: the loader refuses photos under 128 pixels,
            // so its pixels come in without the loader to still test the merge.
            ASSERT_TRUE(f.project()->lastErrorMessage.contains("too small")) << name.toStdString();
            ASSERT_TRUE(f.addDecodedFile(dir.filePath(name))) << name.toStdString();
        }
        f.recentreEvs();
        processingProject *p = f.project();
        generateHDRworker worker(optionsFor(p, 0));
        EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
        ASSERT_TRUE(worker.generateHDR_core());
        const qint64 n = qint64(p->width) * p->height;
        ASSERT_TRUE(allFinite(f.hdr(), n * 3));

        // Luminance grows with the scene's exposure: binned by the brightness of
        // the middle photo (well exposed there), the merged luminance rises.
        int middle = 0;
        for (int i = 0; i < p->photos.size(); i++)
            if (std::fabs(p->photos[i].ev) < std::fabs(p->photos[middle].ev))
                middle = i;
        const int d = p->previewDivisor;
        double sum[8] = {}, count[8] = {};
        for (int y = 0; y < p->previewHeight; y++)
            for (int x = 0; x < p->previewWidth; x++) {
                const quint16 *s = p->photos[middle].preview + (qint64(y) * p->previewWidth + x) * 3;
                const double l = (0.3086 * s[0] + 0.6094 * s[1] + 0.082 * s[2]) / 65535.0;
                if (l < 0.1 || l >= 0.9)
                    continue;
                const int bin = int((l - 0.1) / 0.1);
                const qint64 fx = std::min<qint64>(p->width - 1, qint64(x) * d);
                const qint64 fy = std::min<qint64>(p->height - 1, qint64(y) * d);
                sum[bin] += luma(f.hdr() + (fy * p->width + fx) * 3);
                count[bin]++;
            }
        double previous = -1.0;
        for (int b = 0; b < 8; b++) {
            if (count[b] < 20)
                continue;
            const double mean = sum[b] / count[b];
            EXPECT_GT(mean, previous) << "bin " << b;
            previous = mean;
        }

        // Consistency: where two photos next to each other in the bracket both
        // see a pixel well exposed (20 % .. 80 % of the range), each sample
        // through the response table and over its photo's exposure gives the
        // same radiance. The frames of the canal set are shifted against each
        // other (no alignment here) and are left out of this check.
        if (QString(set) == "canal_aeb_misaligned_3exp")
            continue;
        std::vector<int> order(size_t(p->photos.size()));
        for (int i = 0; i < int(order.size()); i++)
            order[size_t(i)] = i;
        std::sort(order.begin(), order.end(),
                  [p](int a, int b) { return p->photos[a].evLn < p->photos[b].evLn; });
        const qint64 pn = qint64(p->previewWidth) * p->previewHeight;
        for (size_t k = 0; k + 1 < order.size(); k++) {
            const photoInfo_t &a = p->photos[order[k]], &b = p->photos[order[k + 1]];
            const double ea = std::exp(a.evLn + a.evlFix), eb = std::exp(b.evLn + b.evlFix);
            std::vector<double> logRatio;
            for (qint64 i = 0; i < pn; i++) {
                const quint16 sa = a.preview[i * 3 + 1], sb = b.preview[i * 3 + 1];
                if (sa < 13107 || sa > 52428 || sb < 13107 || sb > 52428)
                    continue;
                logRatio.push_back(std::fabs(std::log((p->responseG[sa] / ea) / (p->responseG[sb] / eb))));
            }
            // Only pairs that share a real area (1 % of the picture): the two
            // shortest room exposures (1/4000 and 1/1000 s) share just the lamp's
            // bulb, which flickers with the mains at such shutter speeds.
            if (qint64(logRatio.size()) < pn / 100)
                continue;
            std::nth_element(logRatio.begin(), logRatio.begin() + logRatio.size() / 2, logRatio.end());
            const double median = logRatio[logRatio.size() / 2];
            // 0.2 in natural log: about 0.3 EV.
            EXPECT_LT(median, 0.2) << "photos " << order[k] << " and " << order[k + 1];
        }
    }
}

TEST(generateHDRworker, movingPeopleGetMasksOverThePeopleOnly)
{
    LUMIDRA_REQUIRE_TESTDATA();
    hdrProjectFixture f;
    const QDir dir(testSupport::testDataFile("brackets/airport_moving_people_3exp"));
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        ASSERT_TRUE(f.addImageFile(dir.filePath(name)));
    f.recentreEvs();
    processingProject *p = f.project();
    generateHDRoptions_t o = optionsFor(p, 0);
    o.ghostRemoval = true;
    generateHDRworker worker(o);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    deghostWorker ghosts(p, 5);
    ghosts.autoAntiGhostMask(0.5, -1);
    const quint8 *labels = static_cast<const quint8 *>(p->ghostLabelMask.levels[0].data);
    const int pw = p->previewWidth, ph = p->previewHeight;
    if (qEnvironmentVariableIsSet("LUMIDRA_HDR_DUMP")) {
        QImage img(pw, ph, QImage::Format_RGB888);
        for (int y = 0; y < ph; y++)
            for (int x = 0; x < pw; x++) {
                const quint16 *s = p->photos[0].preview + (qint64(y) * pw + x) * 3;
                const int l = labels[qint64(y) * pw + x];
                img.setPixel(x, y, qRgb(l ? 255 : s[0] >> 8, s[1] >> 8, s[2] >> 8));
            }
        img.save(qEnvironmentVariable("LUMIDRA_HDR_DUMP"));
    }
    qint64 labelled = 0;
    for (qint64 i = 0; i < qint64(pw) * ph; i++)
        labelled += labels[i] != 0;
    const double fraction = double(labelled) / (qint64(pw) * ph);
    EXPECT_GT(fraction, 0.001);
    EXPECT_LT(fraction, 0.1);
    // The walkers are on the floor between the columns and the lift; the ceiling,
    // the windows, the tree and the railing in front stay unmasked.
    qint64 inside = 0;
    for (int y = 0; y < ph; y++)
        for (int x = 0; x < pw; x++)
            if (labels[qint64(y) * pw + x])
                inside += x >= pw * 0.4 && x < pw * 0.85 && y >= ph * 0.45 && y < ph * 0.9;
    EXPECT_GE(inside, labelled * 95 / 100);

    // The full merge with the masks runs and gives a finite image.
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
    EXPECT_TRUE(allFinite(f.hdr(), qint64(p->width) * p->height * 3));
}

TEST(generateHDRworker, breakDuringNoiseFilteringLeavesAnRgbImage)
{
    hdrProjectFixture f;
    std::vector<quint16> rgb(160 * 120 * 3);
    for (size_t i = 0; i < rgb.size(); i++)
        rgb[i] = quint16((i * 7919) % 60000 + 1000);
    ASSERT_TRUE(f.addPhoto(rgb, 160, 120, 0.0));
    generateHDRoptions_t o = optionsFor(f.project(), 0);
    o.noiseFilter = true;
    o.noiseFilterStrength = 80;
    o.noiseFilterSoftness = 3;
    generateHDRworker worker(o);
    ASSERT_TRUE(worker.ldrPreprocess());
    const std::vector<float> before(f.hdr(), f.hdr() + 160 * 120 * 3);
    // Broken off in the first channel: the filter stops, the image goes back
    // to RGB (not left in YCbCr) and the stage reports no result.
    hdrBreakFlag = true;
    EXPECT_FALSE(worker.noiseFiltering());
    hdrBreakFlag = false;
    for (size_t i = 0; i < before.size(); i++)
        ASSERT_NEAR(f.hdr()[i], before[i], 1e-4) << "sample " << i;
    // Unbroken, the filter changes the image and keeps it RGB-like (close to the input).
    EXPECT_TRUE(worker.noiseFiltering());
    double diff = 0.0;
    for (size_t i = 0; i < before.size(); i++)
        diff = std::max(diff, double(std::fabs(f.hdr()[i] - before[i])));
    EXPECT_GT(diff, 1e-4);
    EXPECT_LT(diff, 0.5);
}

TEST(generateHDRworker, geometryStagesReportTheirResult)
{
    hdrProjectFixture f;
    addSyntheticBracket(f, 400, 300, 3, true, -6.0);
    processingProject *p = f.project();
    generateHDRworker worker(optionsFor(p, 0));
    // No metadata: the lens stage fails with its status text and changes nothing.
    worker.setLensExif(QString(), QString(), -1.0);
    EXPECT_FALSE(runStage(worker, &generateHDRworker::generateHDR_preLensCorrection));
    EXPECT_FALSE(worker.statusText().isEmpty());
    EXPECT_FALSE(p->hdrState.lensCorrected);
    EXPECT_EQ(p->width, 400);

    // Alignment of photos that already match ends with every photo still
    // readable for the merge.
    const bool aligned = runStage(worker, &generateHDRworker::generateHDR_preAutoAlign);
    EXPECT_EQ(p->hdrState.aligned, aligned);
    for (const photoInfo_t &ph : p->photos)
        ASSERT_NE(ph.tempFiles[0], nullptr);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
    EXPECT_TRUE(allFinite(f.hdr(), qint64(p->width) * p->height * 3));
}

TEST(generateHDRworker, savedTiffCarriesTheFirstPhotosExif)
{
    LUMIDRA_REQUIRE_TESTDATA();
    hdrProjectFixture f;
    const QDir dir(testSupport::testDataFile("brackets/room_7exp"));
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (int i = 2; i < 5; i++)
        ASSERT_TRUE(f.addImageFile(dir.filePath(names[i])));
    f.recentreEvs();
    generateHDRoptions_t o = optionsFor(f.project(), 0);
    o.saveHDR = true;
    o.outputPath = testSupport::freshDir() + "/room.tif";
    generateHDRworker worker(o);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
    ASSERT_TRUE(worker.saved);
    QProcess exiftool;
    exiftool.start("exiftool", {"-s", "-s", "-s", "-Model", "-FNumber", "-ISO", "-BitsPerSample", o.outputPath});
    ASSERT_TRUE(exiftool.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(exiftool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{"Canon EOS REBEL T2i", "4.5", "200", "32 32 32"}));
}

TEST(generateHDRworker, previewMergeUsesThePreviewsAndTheirMasks)
{
    // 2800 x 200: preview divisor 3, preview 934 x 67.
    hdrProjectFixture f;
    addSyntheticBracket(f, 2800, 200, 3, true, -6.0);
    processingProject *p = f.project();
    ASSERT_EQ(p->previewDivisor, 3);
    generateHDRoptions_t o = optionsFor(p, 0);
    generateHDRworker prepare(o);
    EXPECT_TRUE(runStage(prepare, &generateHDRworker::generateHDR_prepare));
    // The ghost dialog's preview: masks at preview size, no full-size files needed.
    for (photoInfo_t &ph : p->photos)
        p->closeTempFiles(ph, 0);
    std::fill(p->photos[2].mask, p->photos[2].mask + qint64(p->previewWidth) * p->previewHeight, 255);
    o.preview = true;
    o.ghostRemoval = true;
    generateHDRworker worker(o);
    ASSERT_TRUE(worker.generateHDR_core());
    const qint64 pn = qint64(p->previewWidth) * p->previewHeight;
    EXPECT_TRUE(allFinite(f.hdr(), pn * 3));
    // Fully masked by the brightest photo: its linearised value over its exposure.
    const quint16 s = p->photos[2].preview[0];
    EXPECT_NEAR(f.hdr()[0], p->responseR[s] / std::exp(p->photos[2].evLn + p->photos[2].evlFix), 1e-4);
}

TEST(generateHDRworker, misalignedBracketIsAlignedAndCroppedBeforeTheMerge)
{
    LUMIDRA_REQUIRE_TESTDATA();
    hdrProjectFixture f;
    const QDir dir(testSupport::testDataFile("brackets/canal_aeb_misaligned_3exp"));
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        ASSERT_TRUE(f.addImageFile(dir.filePath(name)));
    f.recentreEvs();
    processingProject *p = f.project();
    generateHDRworker worker(optionsFor(p, 0));
    ASSERT_TRUE(runStage(worker, &generateHDRworker::generateHDR_preAutoAlign));
    EXPECT_TRUE(p->hdrState.aligned);
    // The frames are shifted by up to 22 pixels: the common area is smaller.
    EXPECT_LT(p->width, 720);
    EXPECT_GT(p->width, 600);
    EXPECT_LT(p->height, 1080);
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function));
    EXPECT_TRUE(allFinite(f.hdr(), qint64(p->width) * p->height * 3));
}
