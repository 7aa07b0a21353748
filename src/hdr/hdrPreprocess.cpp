#include "hdr/hdrPreprocess.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "project/parallelRanges.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The True HDR normalising curve 1.5385 x^0.6 - 0.5385 x^1.3 on 0..1, with one
// logarithm shared by both powers.
inline float trueHdrCurve(float x)
{
    if (!(x > 0.0f))
        return 0.0f;
    if (x >= 1.0f)
        return 1.0f;
    const float l = std::log(x);
    return 1.5385f * std::exp(0.6f * l) - 0.5385f * std::exp(1.3f * l);
}

inline float smartMergeCurve(float x)
{
    if (!(x > 0.0f))
        return 0.0f;
    if (x >= 1.0f)
        return 1.0f;
    return std::exp(1.35f * std::log(x));
}

inline float clamp01(float x)
{
    return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
}

// Mirrors an index into 0..n-1 (index -k reads k, index n-1+k reads n-1-k).
inline int mirror(int j, int n)
{
    if (n <= 1)
        return 0;
    while (j < 0 || j >= n) {
        if (j < 0)
            j = -j;
        if (j >= n)
            j = 2 * (n - 1) - j;
    }
    return j;
}

} // namespace

void applyResponseCurveThread(const _applyResponseCurve_threadParams_t &p)
{
    std::fill(p.histogram, p.histogram + p.binCount, 0);
    const float range = std::max(p.maximum - p.minimum, 1e-7f);
    const float inv = 1.0f / range;
    const float top = float(p.binCount - 1);
    float *px = p.image + p.first * 3;
    for (qint64 i = p.first; i < p.end; i++, px += 3) {
        float v[3];
        for (int c = 0; c < 3; c++) {
            const float x = clamp01((px[c] - p.minimum) * inv);
            v[c] = p.method == 0 ? trueHdrCurve(x) : p.method == 1 ? smartMergeCurve(x) : x;
            v[c] = clamp01(v[c]);
        }
        const float l = clamp01(0.3086f * v[0] + 0.6094f * v[1] + 0.082f * v[2]);
        p.histogram[int(top * l)]++;
        px[0] = v[0];
        px[1] = v[1];
        px[2] = v[2];
    }
}

exposureStatistics_t exposureCorrection(const qint64 *histogram, int binCount, qint64 pixelCount)
{
    exposureStatistics_t out;
    const double n = pixelCount > 0 ? double(pixelCount) : 1.0;
    std::vector<double> cumulative(static_cast<size_t>(binCount));
    qint64 sum = 0;
    for (int k = 0; k < binCount; k++) {
        sum += histogram[k];
        cumulative[size_t(k)] = sum / n;
    }
    const double unit = 1.0 / binCount;
    double lo = 0.0, med = 0.0, hi = 1.0;
    for (int k = 0; k < binCount; k++)
        if (cumulative[size_t(k)] >= 0.1) {
            lo = k * unit;
            break;
        }
    for (int k = binCount - 1; k >= 0; k--)
        if (cumulative[size_t(k)] <= 0.9) {
            hi = k * unit;
            break;
        }
    for (int k = 0; k < binCount; k++)
        if (cumulative[size_t(k)] >= 0.5) {
            med = k * unit;
            break;
        }

    // The exponent moves in whole hundredths so that it never passes its floor 0.5.
    int hundredths = 100;
    double p = 1.0;
    while (std::pow(hi, p) < 0.2) {
        const double loP = std::pow(lo, p), hiP = std::pow(hi, p);
        if (loP < 0.04 && hundredths > 50) {
            hundredths--;
            p = hundredths / 100.0;
            debugLog("hs2=%lf, he2=%lf, project->pi.lcCorrection=%lf\n", loP, hiP, p);
        } else {
            break;
        }
    }
    out.lcCorrection = p;
    debugLog("project->pi.lcCorrection=%lf\n", p);
    out.hdrMedian = std::max(med, 0.001);
    debugLog("hdrMedian=%lf\n", out.hdrMedian);
    if (out.hdrMedian > 0.9) {
        out.hdrMedian = 0.9;
        debugLog("hdrMedianFixed=%lf\n", out.hdrMedian);
    }
    return out;
}

taskResult_t ldrEnhancementPreprocessThread(const _LDRenhancementPreprocess_threadParams_t &p)
{
    const qint64 width = p.width > 0 ? p.width : std::max<qint64>(1, p.end - p.first);
    const float scale = 1.0f / 65535.0f;
    for (qint64 i = p.first; i < p.end; i++) {
        if (i % width == 0 || i == p.first) {
            if (hdrBreakFlag.load(std::memory_order_relaxed))
                return taskResult_t::cancelled;
            if (i % width == 0)
                progressCounter.fetch_add(1, std::memory_order_relaxed);
        }
        const quint16 *s = p.source + i * 3;
        float *d = p.destination + i * 3;
        for (int c = 0; c < 3; c++) {
            const float v = std::min(1.0f, s[c] * scale);
            d[c] = p.applyCurve ? trueHdrCurve(v) : v;
        }
    }
    return taskResult_t::done;
}

namespace {

// Reads sample j of row y of the level's source (the image channel or a plane).
struct waveletSource_t {
    const float *base;
    qint64 stride;   // distance between neighbouring samples of a row
};

inline waveletSource_t sourceOf(const _waveletDenoise_threadParams_t &p)
{
    if (p.sourcePlane == 0)
        return {p.image + p.channel, 3};
    return {p.planes[p.sourcePlane - 1], 1};
}

} // namespace

void waveletRowsThread(const _waveletDenoise_threadParams_t &p)
{
    const waveletSource_t src = sourceOf(p);
    float *target = p.planes[p.targetPlane - 1];
    const int w = p.width, sp = p.spacing;
    for (qint64 y = p.first; y < p.end; y++) {
        const float *row = src.base + y * w * src.stride;
        float *out = target + y * w;
        auto at = [&](int j) { return row[qint64(mirror(j, w)) * src.stride]; };
        const int safeEnd = w - sp;
        for (int j = 0; j < w; j++) {
            const float center = row[qint64(j) * src.stride];
            float left, right;
            if (j >= sp && j < safeEnd) {
                left = row[qint64(j - sp) * src.stride];
                right = row[qint64(j + sp) * src.stride];
            } else {
                left = at(j - sp);
                right = at(j + sp);
            }
            out[j] = 0.25f * (left + right) + 0.5f * center;
        }
        progressCounter.fetch_add(1, std::memory_order_relaxed);
    }
}

void waveletColumnsThread(const _waveletDenoise_threadParams_t &p)
{
    float *target = p.planes[p.targetPlane - 1];
    const int w = p.width, h = p.height, sp = p.spacing;
    // Columns are handled in blocks: the block's rows are copied into the
    // scratch (contiguous), then filtered down the rows back into the plane.
    for (qint64 x0 = p.first; x0 < p.end; x0 += WAVELET_COLUMN_BLOCK) {
        const int n = int(std::min<qint64>(WAVELET_COLUMN_BLOCK, p.end - x0));
        for (int y = 0; y < h; y++)
            std::copy(target + qint64(y) * w + x0, target + qint64(y) * w + x0 + n,
                      p.line + qint64(y) * WAVELET_COLUMN_BLOCK);
        for (int y = 0; y < h; y++) {
            const float *up = p.line + qint64(mirror(y - sp, h)) * WAVELET_COLUMN_BLOCK;
            const float *mid = p.line + qint64(y) * WAVELET_COLUMN_BLOCK;
            const float *down = p.line + qint64(mirror(y + sp, h)) * WAVELET_COLUMN_BLOCK;
            float *out = target + qint64(y) * w + x0;
            for (int k = 0; k < n; k++)
                out[k] = 0.25f * (up[k] + down[k]) + 0.5f * mid[k];
        }
        progressCounter.fetch_add(quint64(n), std::memory_order_relaxed);
    }
}

void waveletThresholdThread(const _waveletDenoise_threadParams_t &p)
{
    float *target = p.planes[p.targetPlane - 1];
    float *sourcePlane = p.sourcePlane == 0 ? nullptr : p.planes[p.sourcePlane - 1];
    float *image = p.image + p.channel;
    const float t = p.threshold;
    const qint64 w = std::max(1, p.width);
    for (qint64 i = p.first; i < p.end; i++) {
        const float source = sourcePlane ? sourcePlane[i] : image[i * 3];
        const float diff = source - target[i];
        const float a = diff < -t ? diff + t : diff > t ? diff - t : 0.0f;
        if (p.level == 0) {
            image[i * 3] = a;
        } else {
            image[i * 3] += a;
            sourcePlane[i] = a;
        }
        if ((i + 1) % w == 0)
            progressCounter.fetch_add(1, std::memory_order_relaxed);
    }
}

void waveletResidualThread(const _waveletDenoise_threadParams_t &p)
{
    const float *target = p.planes[p.targetPlane - 1];
    float *image = p.image + p.channel;
    for (qint64 i = p.first; i < p.end; i++)
        image[i * 3] += target[i];
}

double denoiseSoftness(int step)
{
    static const double table[10] = {10, 3, 2, 1, 0.85, 0.7, 0.6, 0.52, 0.44, 0.36};
    return table[std::clamp(step, 1, 10) - 1];
}

bool denoiseChannel(int width, int height, double strength, double softness, float *image,
                    float *plane1, float *plane2, int channel, int tasks)
{
    tasks = std::max(1, std::min(tasks, 64));
    const qint64 pixels = qint64(width) * height;
    if (pixels <= 0)
        return true;
    std::vector<std::vector<float>> lines(static_cast<size_t>(tasks));
    for (auto &l : lines)
        l.resize(size_t(std::max(width, height)) * WAVELET_COLUMN_BLOCK);

    const double d2 = softness * softness;
    const double base = std::exp(-2.6 * d2);
    _waveletDenoise_threadParams_t common;
    common.width = width;
    common.height = height;
    common.image = image;
    common.planes[0] = plane1;
    common.planes[1] = plane2;
    common.channel = channel;

    auto run = [&](qint64 total, void (*kernel)(const _waveletDenoise_threadParams_t &),
                   const _waveletDenoise_threadParams_t &level) {
        const int n = int(std::min<qint64>(tasks, std::max<qint64>(1, total)));
        runTasks(n, [&](int i) {
            _waveletDenoise_threadParams_t p = level;
            const range_t part = taskRange(total, n, i);
            p.first = part.first;
            p.end = part.end;
            p.line = lines[size_t(i)].data();
            kernel(p);
        });
    };
    auto broken = [] { return hdrBreakFlag.load(std::memory_order_relaxed); };

    int lastTarget = 1;
    for (int e = 0; e < 5; e++) {
        _waveletDenoise_threadParams_t level = common;
        level.level = e;
        level.spacing = 1 << e;
        level.sourcePlane = e == 0 ? 0 : lastTarget;
        level.targetPlane = (e % 2) + 1;
        level.threshold = float(std::exp(-2.6 * d2 * double(std::sqrt(float(e + 1)))) * strength * 0.8 / base);
        debugLog(" # denoise step 1\n");
        run(height, waveletRowsThread, level);
        if (broken())
            return false;
        debugLog(" # denoise step 2\n");
        run(width, waveletColumnsThread, level);
        if (broken())
            return false;
        debugLog(" # denoise step 3\n");
        run(pixels, waveletThresholdThread, level);
        lastTarget = level.targetPlane;
        if (broken())
            return false;
    }
    debugLog(" # denoise step 4\n");
    _waveletDenoise_threadParams_t last = common;
    last.targetPlane = lastTarget;
    run(pixels, waveletResidualThread, last);
    debugLog(" # denoise end\n");
    return true;
}
