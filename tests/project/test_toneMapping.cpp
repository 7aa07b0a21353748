#include "app/sharedFlags.h"
#include "project/curveMaths.h"
#include "project/tableSizes.h"
#include "project/toneMapping.h"
#include "project/toneMappingTables.h"

#include <QtConcurrent/QtConcurrentRun>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace {

// A layer record with its own tables, built from neutral settings: identity
// curves, gamma 1, compression 1, no local contrast, mask, colour or vignette.
struct layer_t
{
    processingTables_t tables;
    processingParams_t params;

    explicit layer_t(int index = 0, int width = 64, int height = 48)
    {
        EXPECT_TRUE(tables.allocate());
        EXPECT_TRUE(tables.allocateVignetteProfile(vignetteProfileCountFor(width, height)));
        tables.attach(&params);
        params.layerIndex = index;
        for (int c = 0; c < PP_CURVE_COUNT; ++c) {
            params.curves[c].points = {QPointF(0, 0), QPointF(1, 1)};
            curveToLut16(params.curveLut[c], params.curves[c].points, 0);
        }
        rebuild();
    }
    void rebuild()
    {
        for (int c = 0; c < 3; ++c)
            buildLookupTable(&params, c, 2);
        buildMaskToneTable(&params, 2);
        buildMaskWeightTable(&params);
        updateColorMatrix(&params);
        buildVignetteProfile(&params);
        params.precalculated = true;
    }
};

struct image_t
{
    int w, h;
    std::vector<float> hdr;
    std::vector<quint16> fine, medium, coarse, maskLum;
    image_t(int width, int height) : w(width), h(height)
    {
        const size_t n = size_t(w) * h;
        hdr.resize(n * 3);
        fine.resize(n);
        medium.resize(n);
        coarse.resize(n);
        maskLum.resize(n);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * w + x;
                hdr[i * 3] = 0.05f + 0.9f * x / w;
                hdr[i * 3 + 1] = 0.05f + 0.9f * y / h;
                hdr[i * 3 + 2] = 0.1f + 0.4f * ((x + y) % 7) / 7.0f;
                fine[i] = quint16((x * 997 + y * 131) % 65536);
                medium[i] = quint16((x * 300 + y * 200) % 65536);
                coarse[i] = quint16(20000 + x * 100);
                maskLum[i] = quint16((y * 1301) % 65536);
            }
        }
    }
    toneMappingFullJob_t job(quint16 *out) const
    {
        toneMappingFullJob_t j;
        j.width = w;
        j.height = h;
        j.hdr = const_cast<float *>(hdr.data());
        j.localFine = fine.data();
        j.localMedium = medium.data();
        j.localCoarse = coarse.data();
        j.maskLuminance = maskLum.data();
        j.hdrMedian = 0.25;
        j.lcCorrection = 1.0;
        j.output = out;
        j.threads = 3;
        return j;
    }
};

// Renders one pixel through the full-size driver with the given layer.
std::vector<quint16> renderPixel(float r, float g, float b, const processingParams_t &params,
                                 quint16 fine = 0, quint16 medium = 0, quint16 coarse = 0)
{
    std::vector<float> hdr{r, g, b};
    std::vector<quint16> out(3, 0);
    toneMappingFullJob_t job;
    job.width = job.height = 1;
    job.hdr = hdr.data();
    job.localFine = &fine;
    job.localMedium = &medium;
    job.localCoarse = &coarse;
    job.hdrMedian = 0.25;
    job.lcCorrection = 1.0;
    job.layers[0] = &params;
    job.output = out.data();
    EXPECT_EQ(toneMapFull(job), taskResult_t::done);
    return out;
}

struct pixelCase
{
    const char *name;
    float r, g, b;
    void (*setup)(processingParams_t &);
    double expected[3]; // 0..1
    quint16 fine, medium, coarse;
};

} // namespace

// Single pixels worked out by hand from the kernel's formulas.
TEST(toneMapping, knownPixels)
{
    const pixelCase cases[] = {
        {"neutralGrey", 0.25f, 0.25f, 0.25f, [](processingParams_t &) {}, {0.25, 0.25, 0.25}, 0, 0, 0},
        {"neutralColour", 0.5f, 0.2f, 0.1f, [](processingParams_t &) {}, {0.5, 0.2, 0.1}, 0, 0, 0},
        // L = Y^(1/2).
        {"compression2", 0.25f, 0.25f, 0.25f, [](processingParams_t &p) { p.compression = 2.0; },
         {0.5, 0.5, 0.5}, 0, 0, 0},
        // channelLut = v^(1/gamma).
        {"gamma2", 0.25f, 0.25f, 0.25f, [](processingParams_t &p) { p.gamma = 2.0; }, {0.5, 0.5, 0.5}, 0, 0, 0},
        // (0.4 - 0.2) / (0.6 - 0.2).
        {"clipValues", 0.4f, 0.4f, 0.4f,
         [](processingParams_t &p) {
             p.blackPointValue = 0.2;
             p.whitePointValue = 0.6;
         },
         {0.5, 0.5, 0.5}, 0, 0, 0},
        // Saturation 0: every channel becomes 0.3086 R + 0.6094 G + 0.082 B.
        {"saturation0", 0.5f, 0.2f, 0.1f,
         [](processingParams_t &p) {
             p.saturationActive = true;
             p.saturation = 0.0;
         },
         {0.28438, 0.28438, 0.28438}, 0, 0, 0},
        // Local contrast, strength 1, range 0.5 (the medium map M = 0.5),
        // hdrMedian 0.25 and correction 1 give N = Y; Q = (1 - Y) M + Y = 0.625;
        // compression 2 with strength 1 gives the exponent 1.
        {"localContrast", 0.25f, 0.25f, 0.25f,
         [](processingParams_t &p) {
             p.lcEnabled = true;
             p.lcStrength = 1.0;
             p.lcRange = 0.5;
             p.compression = 2.0;
         },
         {0.625, 0.625, 0.625}, 32768, 32768, 32768},
        // Black stays black through strong local contrast and compression.
        {"blackStaysBlack", 0.0f, 0.0f, 0.0f,
         [](processingParams_t &p) {
             p.lcEnabled = true;
             p.lcStrength = 1.0;
             p.lcMicro = 1.0;
             p.lcBlackness = 0.5;
             p.lcShadows = 1.0;
             p.compression = 0.5;
         },
         {0.0, 0.0, 0.0}, 65535, 65535, 65535},
        {"belowSinglePrecisionBlack", 1e-6f, 1e-6f, 1e-6f,
         [](processingParams_t &p) {
             p.lcEnabled = true;
             p.lcStrength = 1.0;
         },
         {0.0, 0.0, 0.0}, 65535, 65535, 65535},
        {"nanIsBlack", std::nanf(""), std::nanf(""), std::nanf(""), [](processingParams_t &) {},
         {0.0, 0.0, 0.0}, 0, 0, 0},
    };
    for (const pixelCase &c : cases) {
        layer_t layer(0, 1, 1);
        c.setup(layer.params);
        layer.rebuild();
        const std::vector<quint16> out =
            renderPixel(c.r, c.g, c.b, layer.params, c.fine, c.medium, c.coarse);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(out[size_t(ch)], c.expected[ch] * 65535.0, 3.0) << c.name << " channel " << ch;
    }
}

TEST(toneMapping, hueSelectiveAndWrap)
{
    // A pure hue (R max, B min) keeps its saturation with a zero table and
    // loses it with a table of -1 (all channels become the luminance).
    layer_t layer(0, 1, 1);
    layer.params.saturationActive = true;
    layer.params.hueSelectiveSet = true;
    std::fill(layer.params.hueSelectiveTable, layer.params.hueSelectiveTable + SAMPLE_TABLE_SIZE, -1.0);
    layer.rebuild();
    const std::vector<quint16> out = renderPixel(0.6f, 0.3f, 0.1f, layer.params);
    const double lum = 0.3086 * 0.6 + 0.6094 * 0.3 + 0.082 * 0.1;
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_NEAR(out[size_t(ch)], lum * 65535.0, 4.0);
    // Red with equal green and blue sits at hue 360, which wraps to 0: only
    // entry 0 of the table takes effect.
    std::fill(layer.params.hueSelectiveTable, layer.params.hueSelectiveTable + SAMPLE_TABLE_SIZE, -1.0);
    layer.params.hueSelectiveTable[0] = 0.0;
    const std::vector<quint16> red = renderPixel(0.6f, 0.2f, 0.2f, layer.params);
    EXPECT_GT(red[0], red[1] + 10000);
}

// Tables the kernel may take a short cut for: selective saturation with a
// zero table beside a non-zero one, and output curves that differ by channel
// after equal ones.
TEST(toneMapping, tablesThatLookAlikeStillCount)
{
    layer_t layer(0, 1, 1);
    layer.params.saturationActive = true;
    layer.params.hueSelectiveSet = true;
    layer.params.brightnessSelectiveSet = true;
    std::fill(layer.params.hueSelectiveTable, layer.params.hueSelectiveTable + SAMPLE_TABLE_SIZE, 0.0);
    std::fill(layer.params.brightnessSelectiveTable,
              layer.params.brightnessSelectiveTable + SAMPLE_TABLE_SIZE, 0.0);
    layer.rebuild();
    const std::vector<quint16> plain = renderPixel(0.6f, 0.3f, 0.1f, layer.params);
    // Zero tables change nothing.
    layer.params.hueSelectiveSet = layer.params.brightnessSelectiveSet = false;
    EXPECT_EQ(renderPixel(0.6f, 0.3f, 0.1f, layer.params), plain);
    // A brightness table of -1 with the hue table still zero: grey.
    layer.params.hueSelectiveSet = layer.params.brightnessSelectiveSet = true;
    std::fill(layer.params.brightnessSelectiveTable,
              layer.params.brightnessSelectiveTable + SAMPLE_TABLE_SIZE, -1.0);
    const std::vector<quint16> grey = renderPixel(0.6f, 0.3f, 0.1f, layer.params);
    EXPECT_NEAR(grey[0], grey[2], 4.0);
    EXPECT_GT(plain[0], plain[2] + 10000);

    // Equal curves, then a red curve that halves: only red changes.
    layer_t curves(0, 1, 1);
    const std::vector<quint16> same = renderPixel(0.5f, 0.4f, 0.3f, curves.params);
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
        curves.params.channelLut[0][i] *= 0.5;
    const std::vector<quint16> halved = renderPixel(0.5f, 0.4f, 0.3f, curves.params);
    EXPECT_NEAR(halved[0], same[0] / 2.0, 2.0);
    EXPECT_EQ(halved[1], same[1]);
    EXPECT_EQ(halved[2], same[2]);
}

TEST(toneMapping, layerMergeThroughMasks)
{
    const image_t img(40, 30);
    layer_t base(0), upper(1);
    upper.params.compression = 2.0;
    upper.rebuild();
    const size_t n = size_t(img.w) * img.h;

    auto render = [&](const processingParams_t *layer0, const processingParams_t *layer1,
                      const quint8 *mask, bool layersOn) {
        std::vector<quint16> out(n * 3, 0);
        toneMappingFullJob_t job = img.job(out.data());
        job.layers[0] = layer0;
        job.layers[1] = layer1;
        job.masks[1] = mask;
        job.layersOn = layersOn;
        EXPECT_EQ(toneMapFull(job), taskResult_t::done);
        return out;
    };
    const std::vector<quint16> baseOnly = render(&base.params, nullptr, nullptr, false);
    const std::vector<quint16> upperOnly = render(&upper.params, nullptr, nullptr, false);
    ASSERT_NE(baseOnly, upperOnly);

    // An empty mask: the base is unchanged (no layer covers any pixel, the
    // weight sum is 0 everywhere).
    std::vector<quint8> mask(n, 0);
    EXPECT_EQ(render(&base.params, &upper.params, mask.data(), true), baseOnly);

    // A full mask with opacity 1: the layer replaces the base.
    std::fill(mask.begin(), mask.end(), 255);
    EXPECT_EQ(render(&base.params, &upper.params, mask.data(), true), upperOnly);

    // Left half covered, right half not; half opacity blends half way.
    for (size_t i = 0; i < n; ++i)
        mask[i] = (i % size_t(img.w)) < size_t(img.w / 2) ? 255 : 0;
    upper.params.opacity = 0.5;
    const std::vector<quint16> half = render(&base.params, &upper.params, mask.data(), true);
    for (size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) {
            const size_t k = i * 3 + size_t(c);
            if ((i % size_t(img.w)) >= size_t(img.w / 2)) {
                ASSERT_EQ(half[k], baseOnly[k]);
            } else {
                ASSERT_NEAR(half[k], 0.5 * baseOnly[k] + 0.5 * upperOnly[k], 1.0);
            }
        }
    }
    // Layers switched off: only the base counts.
    EXPECT_EQ(render(&base.params, &upper.params, mask.data(), false), baseOnly);
}

// The detail image kept in the output's last third gives the result of a
// separate detail buffer, however the pixels are shared among the tasks, for
// images small enough for one ordered round and large enough for several.
TEST(toneMapping, detailInTheOutputGivesTheSameResult)
{
    for (const auto &size : {std::pair<int, int>{37, 23}, std::pair<int, int>{211, 97},
                             std::pair<int, int>{300, 200}}) {
        const image_t img(size.first, size.second);
        layer_t base(0, img.w, img.h);
        base.params.lcEnabled = true;
        base.params.lcStrength = 0.6;
        base.params.sharpness = 0.8;
        base.rebuild();
        const size_t n = size_t(img.w) * img.h;
        std::vector<qint16> detail(n);
        for (size_t i = 0; i < n; ++i)
            detail[i] = qint16(int((i * 7919) % 20001) - 10000);
        for (const int threads : {1, 3, 7}) {
            SCOPED_TRACE(testing::Message() << img.w << "x" << img.h << " tasks " << threads);
            std::vector<quint16> separate(n * 3, 0), inside(n * 3, 0);
            toneMappingFullJob_t job = img.job(separate.data());
            job.threads = threads;
            job.layers[0] = &base.params;
            job.detail = detail.data();
            job.detailFactor = 0.9;
            ASSERT_EQ(toneMapFull(job), taskResult_t::done);
            std::copy(detail.begin(), detail.end(), reinterpret_cast<qint16 *>(inside.data() + 2 * n));
            job.output = inside.data();
            job.detail = reinterpret_cast<const qint16 *>(inside.data() + 2 * n);
            job.detailInOutput = true;
            ASSERT_EQ(toneMapFull(job), taskResult_t::done);
            EXPECT_EQ(inside, separate);
        }
    }
    // Refused where the layers would read the detail after it was overwritten.
    const image_t img(20, 10);
    layer_t base(0, img.w, img.h), upper(1, img.w, img.h);
    std::vector<quint16> out(size_t(img.w) * img.h * 3, 0);
    std::vector<quint8> mask(size_t(img.w) * img.h, 255);
    toneMappingFullJob_t job = img.job(out.data());
    job.layers[0] = &base.params;
    job.layers[1] = &upper.params;
    job.masks[1] = mask.data();
    job.layersOn = true;
    job.detail = reinterpret_cast<const qint16 *>(out.data() + 2 * out.size() / 3);
    job.detailInOutput = true;
    EXPECT_EQ(toneMapFull(job), taskResult_t::failed);
}

TEST(toneMapping, refusesRecordsWithoutTables)
{
    const image_t img(8, 8);
    layer_t base(0);
    base.params.precalculated = false;
    std::vector<quint16> out(size_t(64) * 3, 0);
    toneMappingFullJob_t job = img.job(out.data());
    job.layers[0] = &base.params;
    EXPECT_EQ(toneMapFull(job), taskResult_t::failed);
    job.layers[0] = nullptr;
    EXPECT_EQ(toneMapFull(job), taskResult_t::failed);
}

TEST(toneMapping, previewAgreesWithFullSize)
{
    const image_t img(64, 48);
    layer_t base(0, img.w, img.h);
    base.params.lcEnabled = true;
    base.params.lcStrength = 0.7;
    base.params.lcMicro = 0.5;
    base.params.lcRange = 0.3;
    base.params.vignetteEnabled = true;
    base.params.vignetteAmount = 0.6;
    base.params.vignetteSize = 0.2;
    base.params.vignetteSmoothness = 0.5;
    base.params.maskEnabled = true;
    base.params.maskHighlights = 0.8;
    base.params.maskShadows = 0.3;
    base.rebuild();

    std::vector<quint16> full(size_t(img.w) * img.h * 3);
    toneMappingFullJob_t job = img.job(full.data());
    job.layers[0] = &base.params;
    ASSERT_EQ(toneMapFull(job), taskResult_t::done);

    // The window (offset 10, 7; 37 x 29) with its own crops of every input.
    const int ox = 10, oy = 7, ww = 37, wh = 29;
    std::vector<float> hdr(size_t(ww) * wh * 3);
    std::vector<quint16> fine(size_t(ww) * wh), medium(fine.size()), coarse(fine.size()),
        maskLum(fine.size());
    for (int y = 0; y < wh; ++y) {
        for (int x = 0; x < ww; ++x) {
            const size_t s = size_t(y + oy) * img.w + x + ox, d = size_t(y) * ww + x;
            for (int c = 0; c < 3; ++c)
                hdr[d * 3 + c] = img.hdr[s * 3 + c];
            fine[d] = img.fine[s];
            medium[d] = img.medium[s];
            coarse[d] = img.coarse[s];
            maskLum[d] = img.maskLum[s];
        }
    }
    std::vector<quint8> step1;
    for (int step : {1, 2, 4}) {
        std::vector<quint8> out(size_t(ww) * wh * 3, 0);
        toneMappingPreviewJob_t p;
        p.fullWidth = img.w;
        p.fullHeight = img.h;
        p.width = ww;
        p.height = wh;
        p.offsetX = ox;
        p.offsetY = oy;
        p.hdr = hdr.data();
        p.localFine = fine.data();
        p.localMedium = medium.data();
        p.localCoarse = coarse.data();
        p.maskLuminance = maskLum.data();
        p.hdrMedian = 0.25;
        p.params = &base.params;
        p.output = out.data();
        p.step = step;
        p.threads = 5;
        toneMapPreview(p);
        for (int y = 0; y < wh; ++y) {
            for (int x = 0; x < ww; ++x) {
                const size_t d = size_t(y) * ww + x;
                const size_t from = size_t(y - y % step) * ww + (x - x % step);
                for (int c = 0; c < 3; ++c) {
                    if (step == 1) {
                        const double v16 = full[(size_t(y + oy) * img.w + x + ox) * 3 + c];
                        ASSERT_NEAR(out[d * 3 + c], v16 / 257.0, 1.0) << x << "," << y;
                    } else {
                        // Pixels on the step grid are rendered, the rest copy them.
                        ASSERT_EQ(out[d * 3 + c], step1[from * 3 + c]) << step << ": " << x << "," << y;
                    }
                }
            }
        }
        if (step == 1)
            step1 = out;
    }
}

TEST(toneMapping, abortLeavesTheResultIncomplete)
{
    const image_t img(1500, 1000);
    layer_t base(0, img.w, img.h);
    std::vector<quint16> out(size_t(img.w) * img.h * 3);
    toneMappingFullJob_t job = img.job(out.data());
    job.layers[0] = &base.params;
    job.threads = 1;

    abortBackgroundFlag = true;
    EXPECT_EQ(toneMapFull(job), taskResult_t::cancelled);
    abortBackgroundFlag = false;

    // Abort while the pass runs.
    progressCounter = 0;
    QFuture<taskResult_t> running = QtConcurrent::run([&job]() { return toneMapFull(job); });
    while (progressCounter.load() == 0 && !running.isFinished())
        std::this_thread::yield();
    abortBackgroundFlag = true;
    EXPECT_EQ(running.result(), taskResult_t::cancelled);
    abortBackgroundFlag = false;
    progressCounter = 0;
}

TEST(toneMapping, statisticsAndAutoClipping)
{
    const image_t img(50, 40);
    layer_t base(0, img.w, img.h);
    base.params.blackPointValue = 0.3; // ignored while collecting
    toneMappingPreviewJob_t p;
    p.fullWidth = p.width = img.w;
    p.fullHeight = p.height = img.h;
    p.hdr = const_cast<float *>(img.hdr.data());
    p.hdrMedian = 0.25;
    p.params = &base.params;
    p.threads = 4;
    toneMapStatistics(p, base.params.histograms);
    quint64 sum[4] = {};
    for (int c = 0; c < 4; ++c)
        for (int j = 0; j < TM_HISTOGRAM_SIZE; ++j)
            sum[c] += base.params.histograms[c][j];
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(sum[c], quint64(img.w) * img.h);
    // Red is 0.05 + 0.9 x / w: no red below 0.05 (no clipping was applied).
    EXPECT_EQ(base.params.histograms[1][int(0.04 * 4095)], 0u);

    cumulativeFromHistograms(base.params.histograms, base.params.cumulative, qint64(img.w) * img.h);
    EXPECT_NEAR(base.params.cumulative[1][4095], 100.0, 1e-9);
    EXPECT_NEAR(base.params.cumulative[0][4095], 100.0, 1e-9);

    base.params.autoClipping = true;
    base.params.blackPoint = 1.0;
    base.params.whitePoint = 1.0;
    EXPECT_FALSE(applyAutoClipping(&base.params));
    EXPECT_GT(base.params.blackPointValue, 0.0);
    EXPECT_LT(base.params.whitePointValue, 1.0);
    EXPECT_LT(base.params.blackPointValue, base.params.whitePointValue);
    EXPECT_GE(base.params.clippedBelow, 1.0);
    EXPECT_GE(base.params.clippedAbove, 1.0 - 1e-9);
    // A requested percentage of 0 asks for automatic clipping to be switched off.
    base.params.blackPoint = 0.0;
    EXPECT_TRUE(applyAutoClipping(&base.params));
}

TEST(toneMappingTables, formulas)
{
    layer_t layer(0, 200, 100);
    processingParams_t &p = layer.params;

    // Equal mask highlights and shadows: t = 0.5, depth 0, weight 1 everywhere.
    p.maskHighlights = p.maskShadows = 0.4;
    buildMaskWeightTable(&p);
    for (int i = 0; i < PP_MASK_TABLE_SIZE; ++i)
        ASSERT_EQ(p.maskWeightTable[i], 1.0);
    p.maskHighlights = 1.0;
    p.maskShadows = 0.0; // t = 1: centre 0.875, depth 1
    buildMaskWeightTable(&p);
    EXPECT_EQ(p.maskWeightTable[2047], 1.0);
    EXPECT_NEAR(p.maskWeightTable[0], std::exp(-0.875 * 0.875 / 0.32), 1e-12);

    // Mask tone table: rows above mid-grey darken (c^b), rows below brighten.
    p.maskHighlights = 0.5;
    p.maskShadows = 0.2;
    buildMaskToneTable(&p, 3);
    const double d = 0.6 * 0.5;
    const int r = 1800, j = 1000;
    const double b = std::pow(10.0, std::fabs(r / 2048.0 * 2 - 1) * d);
    const double c = (j + 1) / 2049.0;
    EXPECT_NEAR(p.maskToneTable[r * 2048 + j], std::pow(c, b), 1e-6);
    EXPECT_LT(p.maskToneTable[r * 2048 + j], c);
    const double b2 = std::pow(10.0, std::fabs(100 / 2048.0 * 2 - 1) * d);
    EXPECT_NEAR(p.maskToneTable[100 * 2048 + j], 1.0 - std::pow(1.0 - c, b2), 1e-6);
    EXPECT_GT(p.maskToneTable[100 * 2048 + j], c);

    // Output curves: gamma and a master curve.
    p.gamma = 2.0;
    curveToLut16(p.curveLut[0], {QPointF(0, 0), QPointF(0.5, 1)}, 1);
    buildLookupTable(&p, 1, 4);
    EXPECT_NEAR(p.channelLut[1][16384], std::sqrt(std::min(1.0, 2.0 * 16384 / 65535.0) ), 1e-4);
    EXPECT_NEAR(p.channelLut[1][40000], 1.0, 1e-12);

    // Vignette profile: amount 0 gives 1 everywhere; otherwise the formula.
    EXPECT_EQ(p.vignetteProfileCount, int((std::sqrt(100 * 100 + 50 * 50) + 1) * 10));
    p.vignetteAmount = 0.0;
    buildVignetteProfile(&p);
    for (int i = 0; i < p.vignetteProfileCount; ++i)
        ASSERT_EQ(p.vignetteProfile[i], 1.0);
    p.vignetteAmount = 0.5;
    p.vignetteSize = 0.5;
    p.vignetteSmoothness = 1.0;
    buildVignetteProfile(&p);
    const double l = 0.5 / 3.0 + 2.0 / 3.0, g = std::pow(0.5, 4);
    const int i = p.vignetteProfileCount / 3;
    const double u = double(i) / p.vignetteProfileCount;
    EXPECT_NEAR(p.vignetteProfile[i], 1.0 - std::exp(-(u - l) * (u - l) / (g + 0.001)) * 0.5, 1e-12);
    EXPECT_EQ(p.vignetteProfile[p.vignetteProfileCount - 1], 0.5);
    // 64-bit size arithmetic for very wide panoramas.
    EXPECT_GT(vignetteProfileCountFor(100000, 20000), 500000);

    // Colour matrix: identity without saturation and colour adjustment; hue
    // rotation keeps grey grey.
    p.saturationActive = false;
    p.colorAdjustActive = true;
    p.hue = 1.5;
    updateColorMatrix(&p);
    const float v = 0.4f;
    for (int col = 0; col < 3; ++col) {
        const float out = v * p.colorMatrix[0][col] + v * p.colorMatrix[1][col]
                          + v * p.colorMatrix[2][col] + p.colorMatrix[3][col];
        EXPECT_NEAR(out, v, 1e-5);
    }
    p.colorAdjustActive = false;
    updateColorMatrix(&p);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            EXPECT_EQ(p.colorMatrix[row][col], row == col ? 1.0f : 0.0f);
}
