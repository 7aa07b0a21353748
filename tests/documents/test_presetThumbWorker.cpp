#include "documents/presetThumbWorker.h"

#include "presetTestProject.h"

#include <QSignalSpy>
#include <algorithm>
#include <lcms2.h>
#include <vector>
#include <gtest/gtest.h>

namespace
{
class presetThumbWorkerTest : public ::testing::Test
{
protected:
    // One prepared project for the whole suite (building one is the slow part).
    static void SetUpTestSuite()
    {
        shared = new presetTestProject;
        loaded = shared->load();
    }
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(loaded); }
    void TearDown() override
    {
        abortBackgroundFlag = false;
        if (project()->photos.isEmpty())
            project()->photos.append(photoInfo_t());
    }

    processingParams_t look(double temperature, double saturation = 1.0)
    {
        processingParams_t p;
        p.compression = 1.4;
        p.lcEnabled = true;
        p.lcStrength = 0.5;
        p.temperature = temperature;
        p.saturation = saturation;
        return p;
    }

    static presetTestProject *shared;
    static bool loaded;
    processingProject *project() { return shared->project.get(); }
};
presetTestProject *presetThumbWorkerTest::shared = nullptr;
bool presetThumbWorkerTest::loaded = false;
} // namespace

// The thumbnail is the main view's picture at the same size: same pixels,
// same channel order.
TEST_F(presetThumbWorkerTest, thumbnailMatchesTheMainViewAtTheSameSize)
{
    const processingParams_t warm = look(1.6, 1.3);
    const QImage thumb = presetThumbWorker::renderThumbnail(project(), warm, {}, processingParams_t());
    const pyramidLevel_t &lv = project()->hdrImage.levels[project()->hdrImage.levelCount - 1];
    ASSERT_EQ(thumb.size(), QSize(lv.width, lv.height));
    ASSERT_EQ(thumb.format(), QImage::Format_RGB32);

    processingParams_t &layer = project()->layerSettings[0];
    copySettingsKeepingTables(&layer, warm);
    preparePresetTables(project(), &layer);
    const int level = project()->hdrImage.levelCount - 1;
    std::vector<quint8> view(size_t(lv.width) * lv.height * 3, 0);
    previewWindow_t &v = project()->view;
    v.width = lv.width;
    v.height = lv.height;
    v.zoom = double(lv.width) / presetTestProject::W;
    v.hdr = static_cast<float *>(lv.data);
    v.localFine = static_cast<quint16 *>(project()->lcPyramids[LC_PYRAMID_FINE].levels[level].data);
    v.localMedium = static_cast<quint16 *>(project()->lcPyramids[LC_PYRAMID_MEDIUM].levels[level].data);
    v.localCoarse = static_cast<quint16 *>(project()->lcPyramids[LC_PYRAMID_COARSE].levels[level].data);
    v.maskLuminance = static_cast<quint16 *>(project()->lcPyramids[LC_PYRAMID_MASK].levels[level].data);
    v.layerOutput[0] = view.data();
    project()->doToneMapping(&layer, nullptr, true, false);
    ASSERT_TRUE(project()->previewOutputReady);

    int worst = 0;
    bool warmer = false;
    for (int y = 0; y < lv.height; ++y)
        for (int x = 0; x < lv.width; ++x) {
            const quint8 *px = view.data() + (size_t(y) * lv.width + x) * 3;
            const QRgb t = thumb.pixel(x, y);
            EXPECT_EQ(qAlpha(t), 255);
            worst = std::max({worst, std::abs(qRed(t) - px[0]), std::abs(qGreen(t) - px[1]),
                              std::abs(qBlue(t) - px[2])});
            warmer = warmer || qRed(t) > qBlue(t) + 20;
        }
    EXPECT_LE(worst, 3);
    EXPECT_TRUE(warmer) << "a warm look must show more red than blue somewhere";
}

TEST_F(presetThumbWorkerTest, everyPresetOnceInJobOrderOrOnlyTheAskedOne)
{
    presetThumbJob_t job;
    job.items = {{7, look(0.8)}, {3, look(1.0)}, {0x8001, look(1.2)}};
    presetThumbWorker worker(project(), job);
    QSignalSpy single(&worker, &presetThumbWorker::finishedSingle);
    QSignalSpy finished(&worker, &presetThumbWorker::finished);
    worker.generateThumbs();
    ASSERT_EQ(single.count(), 3);
    EXPECT_EQ(single[0][0].toInt(), 7);
    EXPECT_EQ(single[1][0].toInt(), 3);
    EXPECT_EQ(single[2][0].toInt(), 0x8001);
    EXPECT_NE(single[0][1].value<QImage>(), single[2][1].value<QImage>());
    EXPECT_EQ(finished.count(), 1);

    single.clear();
    worker.generateThumbs(3);
    ASSERT_EQ(single.count(), 1);
    EXPECT_EQ(single[0][0].toInt(), 3);
    EXPECT_EQ(finished.count(), 2);
}

TEST_F(presetThumbWorkerTest, abortStopsAfterTheCurrentPresetWithoutReportingIt)
{
    presetThumbJob_t job;
    job.items = {{1, look(0.8)}, {2, look(1.0)}, {3, look(1.2)}};
    presetThumbWorker worker(project(), job);
    QSignalSpy finished(&worker, &presetThumbWorker::finished);
    QList<int> reported;
    QObject::connect(&worker, &presetThumbWorker::finishedSingle, [&](int id, const QImage &) {
        reported.append(id);
        abortBackgroundFlag = true; // asked to stop while the next preset renders
    });
    worker.generateThumbs();
    EXPECT_EQ(reported, QList<int>{1});
    EXPECT_EQ(finished.count(), 1);

    // The lock is free again: the next run renders everything.
    abortBackgroundFlag = false;
    reported.clear();
    QObject::disconnect(&worker, &presetThumbWorker::finishedSingle, nullptr, nullptr);
    QSignalSpy single(&worker, &presetThumbWorker::finishedSingle);
    worker.generateThumbs();
    EXPECT_EQ(single.count(), 3);
}

// Each run builds its tables anew: a table left spoilt between two runs (a
// new project whose scratch table took the old one's place) does not reach
// the next thumbnails.
TEST_F(presetThumbWorkerTest, everyRunBuildsTheMaskTableAgain)
{
    processingParams_t masked = look(1.0);
    masked.maskEnabled = true;
    masked.maskHighlights = 0.6;
    masked.maskShadows = 0.6;
    const QImage first = presetThumbWorker::renderThumbnail(project(), masked, {}, processingParams_t());
    ASSERT_FALSE(first.isNull());
    float *table = project()->thumbSettings.maskToneTable;
    ASSERT_NE(table, nullptr);
    std::fill(table, table + size_t(PP_MASK_TABLE_SIZE) * PP_MASK_TABLE_SIZE, 0.0f);
    EXPECT_EQ(presetThumbWorker::renderThumbnail(project(), masked, {}, processingParams_t()), first);

    std::fill(table, table + size_t(PP_MASK_TABLE_SIZE) * PP_MASK_TABLE_SIZE, 0.0f);
    presetThumbJob_t job;
    job.items = {{1, masked}};
    presetThumbWorker worker(project(), job);
    QSignalSpy single(&worker, &presetThumbWorker::finishedSingle);
    worker.generateThumbs();
    ASSERT_EQ(single.count(), 1);
    EXPECT_EQ(single[0][1].value<QImage>(), first);
}

// With colour management on, the display transform works on the RGB bytes
// before they are packed into the image: each thumbnail pixel is the
// transformed pixel of the unmanaged thumbnail, channel for channel.
TEST_F(presetThumbWorkerTest, displayTransformKeepsTheChannelOrder)
{
    const processingParams_t warm = look(1.6, 1.3);
    const QImage plain = presetThumbWorker::renderThumbnail(project(), warm, {}, processingParams_t());
    ASSERT_FALSE(plain.isNull());

    programOptionsSettings &options = *shared->options;
    options.colorManagement.enabled = true;
    options.colorManagement.intent = INTENT_RELATIVE_COLORIMETRIC;
    options.colorManagement.inputProfile = 2;  // Adobe RGB (1998): reds and blues move differently
    options.colorManagement.outputProfile = 1; // sRGB display
    ASSERT_TRUE(project()->setMonitorProfile(photoInfo_t()));
    ASSERT_TRUE(project()->transformsAreValid());
    const QImage managed = presetThumbWorker::renderThumbnail(project(), warm, {}, processingParams_t());
    std::vector<quint8> rgb, want(size_t(plain.width()) * plain.height() * 3);
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            rgb.insert(rgb.end(), {quint8(qRed(plain.pixel(x, y))), quint8(qGreen(plain.pixel(x, y))),
                                   quint8(qBlue(plain.pixel(x, y)))});
    const bool transformed = project()->doTransform(processingProject::TRANSFORM_TO_MONITOR_8, rgb.data(),
                                                    want.data(), uint32_t(plain.width() * plain.height()));
    project()->deleteProfileTransform();
    options.colorManagement.enabled = false;
    ASSERT_TRUE(transformed);
    ASSERT_EQ(managed.size(), plain.size());

    int worst = 0;
    bool changed = false;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const quint8 *w = want.data() + (size_t(y) * plain.width() + x) * 3;
            const QRgb got = managed.pixel(x, y);
            EXPECT_EQ(qAlpha(got), 255);
            changed = changed || got != plain.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(got) - w[0]), std::abs(qGreen(got) - w[1]),
                              std::abs(qBlue(got) - w[2])});
        }
    EXPECT_LE(worst, 1);
    EXPECT_TRUE(changed) << "the display transform must have changed the picture";
}

TEST_F(presetThumbWorkerTest, projectWithoutPhotosFinishesAtOnce)
{
    project()->photos.clear();
    presetThumbJob_t job;
    job.items = {{1, look(1.0)}};
    presetThumbWorker worker(project(), job);
    QSignalSpy single(&worker, &presetThumbWorker::finishedSingle);
    QSignalSpy finished(&worker, &presetThumbWorker::finished);
    worker.generateThumbs();
    EXPECT_EQ(single.count(), 0);
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(presetThumbWorkerTest, lockedPanelsKeepTheFirstLayersValues)
{
    processingParams_t preset = look(0.4, 0.2);
    preset.vignetteAmount = -0.8;
    preset.vignetteCenterX = 0.1;
    preset.hueSelectivePoints = {{0.5, 0.9, 1.0}};
    preset.gamma = 2.0;
    processingParams_t first = look(1.5, 1.4);
    first.vignetteAmount = 0.3;
    first.vignetteCenterX = 0.7;
    first.gamma = 0.7;

    processingParams_t p = preset;
    keepLockedPanelValues(&p, first, {processingPanel_e::colorAdjustment, processingPanel_e::vignette});
    EXPECT_DOUBLE_EQ(p.temperature, 1.5);
    EXPECT_DOUBLE_EQ(p.vignetteAmount, 0.3);
    EXPECT_DOUBLE_EQ(p.vignetteCenterX, 0.7);
    EXPECT_DOUBLE_EQ(p.saturation, 0.2);      // colour saturation is not locked
    EXPECT_EQ(p.hueSelectivePoints.size(), 1);
    EXPECT_DOUBLE_EQ(p.gamma, 2.0);           // the tone-mapping panel has no padlock

    keepLockedPanelValues(&p, first, {processingPanel_e::colorSaturation});
    EXPECT_DOUBLE_EQ(p.saturation, 1.4);
    EXPECT_TRUE(p.hueSelectivePoints.isEmpty());

    // Two presets that differ only in colour adjustment look the same with it locked.
    const lockedPanels_t locked{processingPanel_e::colorAdjustment};
    const QImage a = presetThumbWorker::renderThumbnail(project(), look(0.3), locked, first);
    const QImage b = presetThumbWorker::renderThumbnail(project(), look(1.9), locked, first);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, presetThumbWorker::renderThumbnail(project(), look(0.3), {}, first));
}

// Automatic clipping takes the output levels from the picture's own histogram.
TEST_F(presetThumbWorkerTest, automaticClippingUsesThePicturesHistogram)
{
    processingParams_t p = look(1.0);
    p.autoClipping = true;
    p.blackPoint = 0.1;
    p.whitePoint = 0.2;
    const QImage image = presetThumbWorker::renderThumbnail(project(), p, {}, processingParams_t());
    ASSERT_FALSE(image.isNull());
    int darkest = 255, brightest = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int g = qGray(image.pixel(x, y));
            darkest = std::min(darkest, g);
            brightest = std::max(brightest, g);
        }
    EXPECT_LT(darkest, 40);
    EXPECT_GT(brightest, 180);
}
