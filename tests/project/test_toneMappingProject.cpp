// The project's tone-mapping drivers, the preparation and post-processing
// workers, on a small synthetic HDR image.

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "project/toneMappingPreprocessWorker.h"
#include "project/curveMaths.h"
#include "project/postProcessWorker.h"
#include "project/processingProject.h"
#include "project/toneMappingTables.h"

#include "testSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

class toneMappingProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = testSupport::freshDir();
        optionsInstance = options.get();
        project.reset(new processingProject(nullptr));
        project->width = W;
        project->height = H;
        ASSERT_TRUE(project->allocatePyramids());
        float *hdr = static_cast<float *>(project->hdrImage.levels[0].data);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                float *px = hdr + (size_t(y) * W + x) * 3;
                px[0] = 0.02f + 0.9f * x / W;
                px[1] = 0.02f + 0.6f * y / H;
                px[2] = 0.05f + 0.3f * ((x / 9 + y / 7) % 2);
            }
        project->hdrImage.buildLevelsFrom(0);
        project->hdrState.hdrMedian = 0.25;
        prepareLayer(project->layerSettings[0]);
    }
    void TearDown() override
    {
        project.reset();
        optionsInstance = nullptr;
        breakFlag = false;
        abortBackgroundFlag = false;
    }

    void prepareLayer(processingParams_t &p)
    {
        for (int c = 0; c < PP_CURVE_COUNT; ++c) {
            p.curves[c].points = {QPointF(0, 0), QPointF(1, 1)};
            curveToLut16(p.curveLut[c], p.curves[c].points, 0);
        }
        p.lcEnabled = true;
        p.lcStrength = 0.6;
        p.compression = 1.4;
        for (int c = 0; c < 3; ++c)
            buildLookupTableParallel(project.get(), &p, c);
        project->generateTMtable(&p);
        project->toneCurveTable(&p);
        updateColorMatrix(&p);
        project->vignetteProfile(&p);
        p.precalculated = true;
    }

    const quint16 *output() const
    {
        return static_cast<const quint16 *>(project->outputImage.levels[0].data);
    }

    static constexpr int W = 96, H = 64;
    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
};

} // namespace

TEST_F(toneMappingProjectTest, preparationSetsReadinessOnlyForCompleteMaps)
{
    // Stopped by the Break button or by a background abort: not ready.
    for (std::atomic<bool> *flag : {&breakFlag, &abortBackgroundFlag}) {
        project->maskReady = project->localContrastReady = project->prepared = false;
        *flag = true;
        toneMappingPreprocessWorker worker(project.get());
        QSignalSpy finished(&worker, &toneMappingPreprocessWorker::finished);
        worker.doIt();
        *flag = false;
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(worker.mapsReady());
        EXPECT_FALSE(project->maskReady);
        EXPECT_FALSE(project->localContrastReady);
        EXPECT_FALSE(project->prepared);
    }
    toneMappingPreprocessWorker worker(project.get());
    worker.doIt();
    EXPECT_TRUE(worker.mapsReady());
    EXPECT_TRUE(project->maskReady && project->localContrastReady && project->prepared);
    // The maps are filled, and the lower levels rebuilt.
    for (int k = 0; k < 4; ++k) {
        const pyramid &p = project->lcPyramids[k];
        const quint16 *d = static_cast<const quint16 *>(p.levels[0].data);
        EXPECT_GT(d[size_t(H / 2) * W + W - 3], 0) << k;
        if (p.levelCount > 1) {
            const quint16 *s = static_cast<const quint16 *>(p.levels[1].data);
            EXPECT_GT(s[p.levels[1].width - 2], 0) << k;
        }
    }
    // The worker computes the two side by side in separate scratch; the maps
    // are those of the passes run one after the other.
    std::vector<std::vector<quint16>> together;
    for (int k = 0; k < 4; ++k) {
        const quint16 *d = static_cast<const quint16 *>(project->lcPyramids[k].levels[0].data);
        together.emplace_back(d, d + size_t(W) * H);
    }
    ASSERT_TRUE(project->localContrast());
    ASSERT_TRUE(project->computeMask());
    for (int k = 0; k < 4; ++k) {
        const quint16 *d = static_cast<const quint16 *>(project->lcPyramids[k].levels[0].data);
        EXPECT_EQ(std::vector<quint16>(d, d + size_t(W) * H), together[size_t(k)]) << k;
    }

    // A batch task that makes no image prepares nothing.
    project->maskReady = project->localContrastReady = false;
    project->batchRunning = true;
    project->batchOutputType = 21;
    toneMappingPreprocessWorker none(project.get());
    none.doIt();
    EXPECT_FALSE(project->maskReady);
}

TEST_F(toneMappingProjectTest, fullSizeToneMappingReportsCompletion)
{
    ASSERT_TRUE(project->computeMask());
    ASSERT_TRUE(project->localContrast());
    ASSERT_TRUE(project->doToneMappingFull());
    const std::vector<quint16> first(output(), output() + size_t(W) * H * 3);
    EXPECT_GT(first[(size_t(H / 2) * W + W / 2) * 3], 1000);

    postProcessWorker worker(project.get(), postProcessParams_t());
    worker.prepareForPostProcessing();
    EXPECT_TRUE(worker.success());

    // Aborted: never passes as complete.
    abortBackgroundFlag = true;
    EXPECT_FALSE(project->doToneMappingFull());
    postProcessWorker aborted(project.get(), postProcessParams_t());
    QSignalSpy finished(&aborted, &postProcessWorker::finished);
    aborted.prepareForPostProcessing();
    EXPECT_FALSE(aborted.success());
    EXPECT_EQ(finished.count(), 1);
    abortBackgroundFlag = false;

    // A layer without its tables is refused.
    project->layerSettings[0].precalculated = false;
    EXPECT_FALSE(project->doToneMappingFull());
}

TEST_F(toneMappingProjectTest, filterWorkerAndUndo)
{
    ASSERT_TRUE(project->doToneMappingFull());
    const std::vector<quint16> before(output(), output() + size_t(W) * H * 3);
    postProcessUndo undo;
    ASSERT_TRUE(undo.save(project->outputImage, project->sessionDirPath()));
    postProcessParams_t params;
    params.sigma = 3.0;
    params.opacity = 1.0;
    postProcessWorker worker(project.get(), params);
    worker.gaussianBlur();
    EXPECT_TRUE(worker.success());
    EXPECT_NE(std::vector<quint16>(output(), output() + before.size()), before);
    ASSERT_TRUE(undo.restore(project->outputImage));
    EXPECT_EQ(std::vector<quint16>(output(), output() + before.size()), before);
}

TEST_F(toneMappingProjectTest, previewRenderAndStatistics)
{
    ASSERT_TRUE(project->computeMask());
    ASSERT_TRUE(project->localContrast());
    ASSERT_TRUE(project->doToneMappingFull());
    const std::vector<quint16> full(output(), output() + size_t(W) * H * 3);

    // The view shows the whole image at zoom 1 with the full-size maps.
    std::vector<quint8> view(size_t(W) * H * 3, 0);
    std::vector<qint16> detail(size_t(W) * H, 0);
    project->view.width = W;
    project->view.height = H;
    project->view.zoom = 1.0;
    project->view.hdr = static_cast<float *>(project->hdrImage.levels[0].data);
    project->view.localFine = static_cast<quint16 *>(project->lcPyramids[LC_PYRAMID_FINE].levels[0].data);
    project->view.localMedium = static_cast<quint16 *>(project->lcPyramids[LC_PYRAMID_MEDIUM].levels[0].data);
    project->view.localCoarse = static_cast<quint16 *>(project->lcPyramids[LC_PYRAMID_COARSE].levels[0].data);
    project->view.maskLuminance = static_cast<quint16 *>(project->lcPyramids[LC_PYRAMID_MASK].levels[0].data);
    project->view.layerOutput[0] = view.data();

    // Refused: a layer that does not exist, settings without tables.
    processingParams_t missing = project->layerSettings[0];
    missing.layerIndex = 4;
    project->doToneMapping(&missing, nullptr, true, true);
    processingParams_t stale = project->layerSettings[0];
    stale.precalculated = false;
    project->doToneMapping(&stale, nullptr, true, true);
    EXPECT_EQ(view, std::vector<quint8>(view.size(), 0));

    project->doToneMapping(&project->layerSettings[0], nullptr, true, true);
    EXPECT_TRUE(project->previewOutputReady);
    EXPECT_FALSE(imageBusyFlag.load());
    // Same pixels as the full-size result without its sharpening detail.
    int worst = 0;
    for (size_t i = 0; i < view.size(); ++i)
        worst = std::max(worst, std::abs(int(view[i]) - int(full[i] / 257)));
    EXPECT_LE(worst, 3);

    // Statistics with auto clipping and a black percentage of 0: one signal per
    // pass, none when rendering into an external buffer.
    processingParams_t &s = project->layerSettings[0];
    s.autoClipping = true;
    s.blackPoint = 0.0;
    s.whitePoint = 0.5;
    QSignalSpy disable(project.get(), &processingProject::disableAutoClipping);
    project->doToneMapping(&s, nullptr, false, true);
    EXPECT_EQ(disable.count(), 1);
    quint64 counted = 0;
    for (int j = 0; j < 4096; ++j)
        counted += s.histograms[0][j];
    const pyramidLevel_t &small = project->hdrImage.levels[project->hdrImage.levelCount - 1];
    EXPECT_EQ(counted, quint64(small.width) * small.height);
    EXPECT_LT(s.whitePointValue, 1.0);
    std::vector<quint8> thumb(size_t(small.width) * small.height * 3, 0);
    project->doToneMapping(&s, thumb.data(), false, false);
    EXPECT_EQ(disable.count(), 1);
    EXPECT_NE(thumb, std::vector<quint8>(thumb.size(), 0));
}

TEST_F(toneMappingProjectTest, smallQueries)
{
    // No display transform: the colour comes back as it is.
    EXPECT_EQ(project->transformColor(QColor(10, 200, 30)), QColor(10, 200, 30));
    EXPECT_EQ(project->enabledLayerCount(), 1);
    project->layersOn = true;
    project->layerExists[3] = project->layerExists[5] = 1;
    EXPECT_EQ(project->enabledLayerCount(), 3);
    EXPECT_FALSE(project->isProjectInput());
    photoInfo_t photo;
    photo.filePath = "/tmp/shot-lmpx_0.tif";
    project->photos.append(photo);
    EXPECT_TRUE(project->isProjectInput());
    project->photos.clear();
}

TEST_F(toneMappingProjectTest, histogramMatchBringsTheDarkerPhotoUp)
{
    project->previewWidth = 32;
    project->previewHeight = 16;
    const size_t n = size_t(32) * 16 * 3;
    std::vector<quint16> dark(n), bright(n);
    for (size_t i = 0; i < n; ++i) {
        dark[i] = quint16((i * 37) % 20000);
        bright[i] = quint16(dark[i] * 2);
    }
    photoInfo_t a, b;
    a.preview = dark.data();
    b.preview = bright.data();
    a.evLn = b.evLn = 0.0; // equal EV: the first photo counts as the darker
    std::vector<double> ta(4 * 4096), tb(4 * 4096);
    double *tablesA[4] = {&ta[0], &ta[4096], &ta[8192], &ta[12288]};
    double *tablesB[4] = {&tb[0], &tb[4096], &tb[8192], &tb[12288]};
    bool aDarker = false;
    project->prepareHistogramMatch(a, b, tablesA, tablesB, &aDarker);
    a.preview = b.preview = nullptr;
    EXPECT_TRUE(aDarker);
    EXPECT_EQ(tb[500], 1.0);
    EXPECT_NEAR(ta[600], 2.0, 0.3); // twice as bright at mid levels
}
