// Tone-mapping speed: the preview of a 1.3-megapixel window (what must follow
// a slider) and the full-size 24-megapixel result with its local-contrast and
// mask maps, each with one thread and with all threads.
//
//   ./bench_tonemap --benchmark_filter=Preview

#include "project/curveMaths.h"
#include "project/filterKernels.h"
#include "project/localContrast.h"
#include "project/tableSizes.h"
#include "project/toneMapping.h"
#include "project/toneMappingTables.h"

#include <QElapsedTimer>
#include <QThread>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

int allThreads()
{
    return std::min(std::max(QThread::idealThreadCount(), 1), 64);
}

// A synthetic HDR scene: smooth gradients over four stops with textured
// detail, so the histograms are busy.
std::vector<float> makeScene(int w, int h)
{
    std::vector<float> hdr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            const double base = 0.02 * std::pow(16.0, u * 0.7 + v * 0.3);
            const double texture = 1.0 + 0.3 * std::sin(x * 0.07) * std::cos(y * 0.05)
                                   + 0.1 * (((x * 7 + y * 13) % 17) / 17.0 - 0.5);
            float *px = &hdr[(size_t(y) * w + x) * 3];
            px[0] = float(std::min(1.0, base * texture * (0.8 + 0.4 * u)));
            px[1] = float(std::min(1.0, base * texture));
            px[2] = float(std::min(1.0, base * texture * (1.2 - 0.4 * v)));
        }
    }
    return hdr;
}

// Typical settings: local contrast, mask operation, selective saturation,
// colour adjustment, vignette and a tone curve.
struct layerSetup_t
{
    processingTables_t tables;
    processingParams_t params;
    layerSetup_t(int width, int height)
    {
        tables.allocate();
        tables.allocateVignetteProfile(vignetteProfileCountFor(width, height));
        tables.attach(&params);
        params.curves[0].points = {QPointF(0, 0), QPointF(0.3, 0.25), QPointF(0.7, 0.8), QPointF(1, 1)};
        for (int c = 1; c < 4; ++c)
            params.curves[c].points = {QPointF(0, 0), QPointF(1, 1)};
        for (int c = 0; c < 4; ++c)
            curveToLut16(params.curveLut[c], params.curves[c].points, 0);
        params.gamma = 1.1;
        params.compression = 1.6;
        params.lcEnabled = true;
        params.lcStrength = 0.6;
        params.lcHighlights = 0.4;
        params.lcShadows = 0.5;
        params.lcBlackness = 0.2;
        params.lcMicro = 0.5;
        params.lcRange = 0.4;
        params.maskEnabled = true;
        params.maskHighlights = 0.5;
        params.maskShadows = 0.3;
        params.saturationActive = true;
        params.saturation = 1.2;
        params.hueSelectiveSet = true;
        selectiveCurveToTable(params.hueSelectiveTable, SAMPLE_TABLE_SIZE, {{0.3, 0.7, 1.0}}, true, true);
        params.colorAdjustActive = true;
        params.rgbMultipliers[0] = 1.05;
        params.rgbMultipliers[2] = 0.95;
        params.hue = 1.02;
        params.vignetteEnabled = true;
        params.vignetteAmount = 0.3;
        params.vignetteSize = 0.5;
        params.vignetteSmoothness = 0.6;
        params.vignetteRoundness = 0.3;
        params.blackPointValue = 0.02;
        params.whitePointValue = 0.98;
        for (int c = 0; c < 3; ++c)
            buildLookupTable(&params, c, allThreads());
        buildMaskToneTable(&params, allThreads());
        buildMaskWeightTable(&params);
        updateColorMatrix(&params);
        buildVignetteProfile(&params);
        params.precalculated = true;
    }
};

void BM_PreviewWindow(benchmark::State &state)
{
    const int threads = state.range(0) == 0 ? allThreads() : int(state.range(0));
    const int step = int(state.range(1));
    const int w = 1280, h = 1024; // 1.31 megapixels
    std::vector<float> hdr = makeScene(w, h);
    std::vector<quint16> scratch(size_t(w) * h), fine(scratch.size()), medium(scratch.size()),
        coarse(scratch.size()), mask(scratch.size());
    computeLocalContrastMaps(hdr.data(), w, h, 0.8, false, scratch.data(), fine.data(),
                             medium.data(), coarse.data(), allThreads());
    computeMaskLuminance(hdr.data(), w, h, scratch.data(), mask.data(), allThreads());
    std::vector<qint16> detail(size_t(w) * h);
    double detailFactor = 1.0;
    unsharpMask(hdr.data(), detail.data(), nullptr, w, h, false, detailFactor, 0.25, 4 * w, 4 * h,
                allThreads());
    layerSetup_t layer(4 * w, 4 * h);
    layer.params.sharpness = 0.5;
    std::vector<quint8> out(size_t(w) * h * 3);

    toneMappingPreviewJob_t job;
    job.fullWidth = 4 * w;
    job.fullHeight = 4 * h;
    job.width = w;
    job.height = h;
    job.offsetX = 600;
    job.offsetY = 400;
    job.scale = 0.25;
    job.hdr = hdr.data();
    job.localFine = fine.data();
    job.localMedium = medium.data();
    job.localCoarse = coarse.data();
    job.maskLuminance = mask.data();
    job.detail = detail.data();
    job.detailFactor = detailFactor;
    job.hdrMedian = 0.2;
    job.lcCorrection = 0.8;
    job.params = &layer.params;
    job.output = out.data();
    job.step = step;
    job.threads = threads;
    for (auto _ : state) {
        toneMapPreview(job);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["threads"] = threads;
    state.counters["Mpixel/s"] = benchmark::Counter(double(w) * h * state.iterations() / 1e6,
                                                    benchmark::Counter::kIsRate);
}
// Arguments: threads (0 = all), step.
BENCHMARK(BM_PreviewWindow)
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The whole full-size result as the program computes it for a new HDR image:
// mask luminance, the three local-contrast maps, the detail image and the tone
// mapping of the base layer plus one masked layer.
struct fullScene_t
{
    int w = 6000, h = 4000; // 24 megapixels
    std::vector<float> hdr;
    std::vector<quint16> scratch, fine, medium, coarse, mask, output;
    std::vector<qint16> detail;
    std::vector<quint8> layerMask;
    fullScene_t()
        : hdr(makeScene(w, h)), scratch(size_t(w) * h), fine(scratch.size()),
          medium(scratch.size()), coarse(scratch.size()), mask(scratch.size()),
          output(scratch.size() * 3), detail(scratch.size()), layerMask(scratch.size())
    {
        for (size_t i = 0; i < layerMask.size(); ++i)
            layerMask[i] = quint8((i % size_t(w)) * 255 / size_t(w));
    }
};

fullScene_t &fullScene()
{
    static fullScene_t scene;
    return scene;
}

void BM_LocalContrastMaps24MP(benchmark::State &state)
{
    const int threads = state.range(0) == 0 ? allThreads() : int(state.range(0));
    fullScene_t &s = fullScene();
    for (auto _ : state) {
        computeLocalContrastMaps(s.hdr.data(), s.w, s.h, 0.8, false, s.scratch.data(),
                                 s.fine.data(), s.medium.data(), s.coarse.data(), threads);
    }
    state.counters["threads"] = threads;
}
BENCHMARK(BM_LocalContrastMaps24MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_FullSize24MP(benchmark::State &state)
{
    const int threads = state.range(0) == 0 ? allThreads() : int(state.range(0));
    const bool twoLayers = state.range(1) == 2;
    fullScene_t &s = fullScene();
    static layerSetup_t base(s.w, s.h), upper(s.w, s.h);
    upper.params.layerIndex = 1;
    upper.params.compression = 2.0;
    double stage[4] = {};
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        computeMaskLuminance(s.hdr.data(), s.w, s.h, s.scratch.data(), s.mask.data(), threads);
        stage[0] = timer.nsecsElapsed() / 1e6;
        computeLocalContrastMaps(s.hdr.data(), s.w, s.h, 0.8, false, s.scratch.data(),
                                 s.fine.data(), s.medium.data(), s.coarse.data(), threads);
        stage[1] = timer.nsecsElapsed() / 1e6 - stage[0];
        double detailFactor = 1.0;
        unsharpMask(s.hdr.data(), s.detail.data(), nullptr, s.w, s.h, false, detailFactor, 1.0,
                    s.w, s.h, threads);
        stage[2] = timer.nsecsElapsed() / 1e6 - stage[0] - stage[1];
        toneMappingFullJob_t job;
        job.width = s.w;
        job.height = s.h;
        job.hdr = s.hdr.data();
        job.localFine = s.fine.data();
        job.localMedium = s.medium.data();
        job.localCoarse = s.coarse.data();
        job.maskLuminance = s.mask.data();
        job.detail = s.detail.data();
        job.detailFactor = detailFactor;
        job.hdrMedian = 0.2;
        job.lcCorrection = 0.8;
        job.layersOn = twoLayers;
        job.layers[0] = &base.params;
        if (twoLayers) {
            job.layers[1] = &upper.params;
            job.masks[1] = s.layerMask.data();
        }
        job.output = s.output.data();
        job.threads = threads;
        toneMapFull(job);
        stage[3] = timer.nsecsElapsed() / 1e6 - stage[0] - stage[1] - stage[2];
    }
    state.counters["threads"] = threads;
    state.counters["layers"] = twoLayers ? 2 : 1;
    state.counters["mask_ms"] = stage[0];
    state.counters["localContrast_ms"] = stage[1];
    state.counters["detail_ms"] = stage[2];
    state.counters["toneMap_ms"] = stage[3];
}
// Arguments: threads (0 = all), layers.
BENCHMARK(BM_FullSize24MP)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
