#include "project/toneMapping.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "project/parallelRanges.h"
#include "project/tableSizes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// The single-precision 1e-5 below which a colour counts as black.
constexpr double BLACK_LIMIT = 9.999999747378752e-6;
constexpr double LUM_R = 0.3086, LUM_G = 0.6094, LUM_B = 0.082;

// Clamp to 0..1 that also maps NaN to 0, so a bad value never becomes an index.
inline double clamp01(double v)
{
    if (!(v > 0.0))
        return 0.0;
    return v < 1.0 ? v : 1.0;
}

inline int tableIndex(double v, int last)
{
    return int(clamp01(v) * last);
}

// Y^40 by squaring: Y^40 = (Y^5)^8.
inline double pow40(double y)
{
    const double y2 = y * y;
    double v = y2 * y2 * y; // y^5
    v *= v;                 // y^10
    v *= v;                 // y^20
    return v * v;           // y^40
}

// Per-task constants derived once from the record and the settings.
struct derived_t
{
    int halfW = 0, halfH = 0;
    double f = 0.0;
    double radiusX = 1.0, radiusY = 1.0, superExp = 2.0;
    double blackThreshold = 0.0, blackWidth = 0.0;
    double micro = 0.0;
    double compressionExp = 1.0;
    double shadowExp = 1.0;
    double clipBlack = 0.0, clipScale = 1.0;
    bool vignette = false;
    bool selective = false;
};

// Whether a selective-saturation table holds anything but zeros.
bool changesSomething(const double *table)
{
    if (!table)
        return false;
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i) {
        if (table[i] != 0.0)
            return true;
    }
    return false;
}

derived_t deriveConstants(const toneMapping_threadParams_t &p)
{
    const processingParams_t &s = *p.params;
    derived_t d;
    d.halfW = p.fullWidth / 2;
    d.halfH = p.fullHeight / 2;
    const double halfDiag = std::sqrt(double(d.halfW) * d.halfW + double(d.halfH) * d.halfH);
    d.f = std::trunc(halfDiag / std::sqrt(2.0));
    const double r = std::fabs(s.vignetteRoundness);
    d.radiusX = std::trunc((1.0 - r) * d.halfW + d.f * r);
    d.radiusY = std::trunc((1.0 - r) * d.halfH + d.f * r);
    if (!(d.radiusX >= 1.0))
        d.radiusX = 1.0;
    if (!(d.radiusY >= 1.0))
        d.radiusY = 1.0;
    d.superExp = r * r * r * r * 10.0 + 2.0;

    const double median = std::min(std::max(p.hdrMedian, 0.001), 0.9);
    const double correction = p.lcCorrection > 0.0 ? p.lcCorrection : 1.0;
    const double blackness = std::max(s.lcBlackness, 0.0);
    d.blackThreshold = blackness * 0.5 * std::sqrt(median);
    const double bw = std::pow(blackness, 0.8) * 0.15 * std::sqrt(median);
    d.blackWidth = bw * bw;
    d.micro = s.lcMicro * 0.25;
    const double c = s.compression > 0.0 ? s.compression : 1.0;
    d.compressionExp = s.lcEnabled ? 1.0 / (c * (1.0 - s.lcStrength) + c * s.lcStrength * 0.5)
                                   : 1.0 / c;
    if (!std::isfinite(d.compressionExp))
        d.compressionExp = 1.0;
    d.shadowExp = std::log(correction * 0.25) / std::log(median);

    const double range = s.whitePointValue - s.blackPointValue;
    d.clipBlack = s.blackPointValue;
    d.clipScale = std::fabs(range) > 1e-9 ? 1.0 / range : 1e9;
    d.vignette = s.vignetteEnabled && s.vignetteAmount != 0.0 && s.vignetteProfile
                 && s.vignetteProfileCount > 0;
    // A table of zeros changes nothing (the factor is 1 + 0): with both
    // tables so, the step and its two lookups per pixel are left out.
    d.selective = s.saturationActive
                  && ((s.hueSelectiveSet && changesSomething(s.hueSelectiveTable))
                      || (s.brightnessSelectiveSet && changesSomething(s.brightnessSelectiveTable)));
    return d;
}

// Local contrast on the luminance Y (steps of the local mapping).
inline double localContrast(double Y, qint64 i, const toneMapping_threadParams_t &p,
                            const processingParams_t &s, const derived_t &d)
{
    const double fine = p.localFine[i] / 65535.0;
    const double medium = p.localMedium[i] / 65535.0;
    const double coarse = p.localCoarse[i] / 65535.0;
    double M;
    if (s.lcRange < 0.5) {
        const double t = (0.5 - s.lcRange) * 2.0;
        M = (1.0 - t) * medium + t * fine;
    } else {
        const double t = (s.lcRange - 0.5) * 2.0;
        M = (1.0 - t) * medium + t * coarse;
    }
    if (fine > M)
        M = 0.25 * fine + 0.75 * M;
    if (d.blackThreshold > Y) {
        const double dy = Y - d.blackThreshold;
        const double g = std::min(1.0, std::exp(-dy * dy / (2.0 * d.blackWidth)));
        Y *= g;
        M *= g;
    }
    if (Y > 0.75)
        M = std::min(1.0, M * (pow40(Y) + 1.0));
    const double N = d.shadowExp == 1.0 ? Y : std::pow(Y, d.shadowExp);
    const double Q = ((1.0 - N) * M + N) * (1.0 - s.lcHighlights) + M * s.lcHighlights;
    const double O = std::min(1.0, (N * Q * s.lcShadows + (1.0 - s.lcShadows) * Q) * s.lcStrength
                                       + (1.0 - s.lcStrength) * Y);
    const double v = ((1.0 - (1.0 - fine) * (1.0 - O)) * O + fine * O * (1.0 - O)) * d.micro
                     + (1.0 - d.micro) * O;
    return clamp01(v);
}

inline double hueOf(double R, double G, double B, double mx, double mn)
{
    const double span = mx - mn;
    if (std::fabs(span) < 1e-5 || mx == 0.0)
        return 0.0;
    double hue;
    if (R == mn)
        hue = (3.0 - (G - B) / span) * 60.0;
    else if (G == mn)
        hue = (5.0 - (B - R) / span) * 60.0;
    else
        hue = (1.0 - (R - G) / span) * 60.0;
    if (hue >= 3600.0)
        hue -= std::floor(hue / 360.0) * 360.0;
    while (hue >= 360.0)
        hue -= 360.0;
    return hue;
}

// The steps of one pixel of toneMappingThread, in the order it runs them.
// Each is used once; they are small enough for the compiler to inline.

// Pixels between the sampled ones of a coarse pass copy the sampled pixel.
inline void copySampledPixel(const toneMapping_threadParams_t &p, qint64 i, int x, int y, int step)
{
    const qint64 from = qint64(y - y % step) * p.width + (x - x % step);
    if (p.output8) {
        p.output8[i * 3] = p.output8[from * 3];
        p.output8[i * 3 + 1] = p.output8[from * 3 + 1];
        p.output8[i * 3 + 2] = p.output8[from * 3 + 2];
    } else if (p.output16) {
        p.output16[i * 3] = p.output16[from * 3];
        p.output16[i * 3 + 1] = p.output16[from * 3 + 1];
        p.output16[i * 3 + 2] = p.output16[from * 3 + 2];
    }
}

// White balance (temperature and tint multipliers) weighted away from the
// brightest colours, keeping the luminance.
inline void adjustColor(double &R, double &G, double &B, const processingParams_t &s)
{
    const double F = LUM_R * R + LUM_G * G + LUM_B * B;
    const double F2 = F * F, F4 = F2 * F2, F8 = F4 * F4;
    const double k = F8 * F4 * F2 * F; // F^15
    R = R * k + R * (1.0 - k) * s.rgbMultipliers[0];
    G = G * k + G * (1.0 - k) * s.rgbMultipliers[1];
    B = B * k + B * (1.0 - k) * s.rgbMultipliers[2];
    const double J = LUM_R * R + LUM_G * G + LUM_B * B;
    if (J > 1e-4) {
        R *= F / J;
        G *= F / J;
        B *= F / J;
    }
    R = std::min(R, 1.0);
    G = std::min(G, 1.0);
    B = std::min(B, 1.0);
}

// Luminance through local contrast and the compression exponent, with the
// pixel's chromaticity kept (XYZ and back).
inline void compressLuminance(double &R, double &G, double &B, qint64 i, const toneMapping_threadParams_t &p,
                              const processingParams_t &s, const derived_t &d, bool lc)
{
    double Y = 0.2126729 * R + 0.7151522 * G + 0.072175 * B;
    const double X = 0.4124564 * R + 0.3575761 * G + 0.1804375 * B;
    const double Z = 0.0193339 * R + 0.119192 * G + 0.9503041 * B;
    const double S = X + Y + Z;
    double cx = 0.0, cy = 0.0;
    if (!(S > BLACK_LIMIT)) {
        Y = 0.0;
    } else {
        cx = X / S;
        cy = Y / S;
    }
    if (!(Y > 0.0))
        Y = 0.0;

    if (lc)
        Y = localContrast(Y, i, p, s, d);

    const double L = d.compressionExp == 1.0 ? Y : std::pow(Y, d.compressionExp);
    if (cy < BLACK_LIMIT) {
        R = G = B = 0.0;
    } else {
        const double X2 = L * cx / cy;
        const double Z2 = (1.0 - cx - cy) * L / cy;
        R = clamp01(3.2404542 * X2 - 1.5371385 * L - 0.4985314 * Z2);
        G = clamp01(-0.969266 * X2 + 1.8760108 * L + 0.041556 * Z2);
        B = clamp01(0.0556434 * X2 - 0.2040259 * L + 1.0572252 * Z2);
    }
}

// The mask's tone table for the pixel's mask luminance, blended by the
// weight of the pixel's own luminance.
inline void applyMaskTone(double &R, double &G, double &B, qint64 i, const toneMapping_threadParams_t &p,
                          const processingParams_t &s)
{
    const double w = s.maskWeightTable[tableIndex(LUM_R * R + LUM_G * G + LUM_B * B, PP_MASK_TABLE_SIZE - 1)];
    const float *row = s.maskToneTable + size_t(p.maskLuminance[i] / 32) * PP_MASK_TABLE_SIZE;
    R = row[tableIndex(R, PP_MASK_TABLE_SIZE - 1)] * w + (1.0 - w) * R;
    G = row[tableIndex(G, PP_MASK_TABLE_SIZE - 1)] * w + (1.0 - w) * G;
    B = row[tableIndex(B, PP_MASK_TABLE_SIZE - 1)] * w + (1.0 - w) * B;
}

// Saturation by brightness and by hue (the selective curves).
inline void applySelectiveSaturation(double &R, double &G, double &B, const processingParams_t &s)
{
    const double lum = LUM_R * R + LUM_G * G + LUM_B * B;
    const double mx = std::max(R, std::max(G, B));
    const double mn = std::min(R, std::min(G, B));
    const double hue = hueOf(R, G, B, mx, mn);
    const double b = 1.0
                     + (s.brightnessSelectiveSet && s.brightnessSelectiveTable
                            ? s.brightnessSelectiveTable[tableIndex(mx, 65535)]
                            : 0.0);
    const double h = 1.0
                     + (s.hueSelectiveSet && s.hueSelectiveTable
                            ? s.hueSelectiveTable[tableIndex(hue / 360.0, 65535)]
                            : 0.0);
    R = b * (h * R + (1.0 - h) * lum) + (1.0 - b) * lum;
    G = b * (h * G + (1.0 - h) * lum) + (1.0 - b) * lum;
    B = b * (h * B + (1.0 - h) * lum) + (1.0 - b) * lum;
}

// The saturation and hue matrix (row vector times matrix, last row offsets).
inline void applyColorMatrix(double &R, double &G, double &B, const float (*m)[4])
{
    const double r2 = R * m[0][0] + G * m[1][0] + B * m[2][0] + m[3][0];
    const double g2 = R * m[0][1] + G * m[1][1] + B * m[2][1] + m[3][1];
    const double b2 = R * m[0][2] + G * m[1][2] + B * m[2][2] + m[3][2];
    R = r2;
    G = g2;
    B = b2;
}

// The vignette's gain at the pixel's place in the full image.
inline double vignetteGain(int x, int y, const toneMapping_threadParams_t &p, const processingParams_t &s,
                           const derived_t &d)
{
    const double fx = std::trunc(x / p.scale + p.offsetX) - d.halfW;
    const double fy = std::trunc(y / p.scale + p.offsetY) - d.halfH;
    double q;
    if (s.vignetteRoundness >= 0.0) {
        q = (fx / d.radiusX) * (fx / d.radiusX) + (fy / d.radiusY) * (fy / d.radiusY);
    } else {
        q = std::pow(std::fabs(fx / std::max(d.halfW, 1)), d.superExp)
            + std::pow(std::fabs(fy / std::max(d.halfH, 1)), d.superExp);
    }
    double kk = std::trunc(std::sqrt(q) * d.f * 10.0);
    if (!(kk >= 0.0))
        kk = 0.0;
    const int k = int(std::min(kk, double(s.vignetteProfileCount - 1)));
    return s.vignetteProfile[k];
}

// Clip points (not in a statistics pass), the histograms (only there), and
// the 8- or 16-bit output.
inline void storePixel(double R, double G, double B, qint64 i, const toneMapping_threadParams_t &p,
                       const derived_t &d, bool collect)
{
    if (!collect) {
        R = (R - d.clipBlack) * d.clipScale;
        G = (G - d.clipBlack) * d.clipScale;
        B = (B - d.clipBlack) * d.clipScale;
    }
    R = clamp01(R);
    G = clamp01(G);
    B = clamp01(B);
    if (collect) {
        p.histLuminance[int((LUM_R * R + LUM_G * G + LUM_B * B) * 4095.0)]++;
        p.histRed[int(R * 4095.0)]++;
        p.histGreen[int(G * 4095.0)]++;
        p.histBlue[int(B * 4095.0)]++;
    }
    if (p.output16) {
        p.output16[i * 3] = quint16(R * 65535.0);
        p.output16[i * 3 + 1] = quint16(G * 65535.0);
        p.output16[i * 3 + 2] = quint16(B * 65535.0);
    } else if (p.output8) {
        p.output8[i * 3] = quint8(R * 255.0);
        p.output8[i * 3 + 1] = quint8(G * 255.0);
        p.output8[i * 3 + 2] = quint8(B * 255.0);
    }
}

} // namespace

taskResult_t toneMappingThread(const toneMapping_threadParams_t &p)
{
    if (!p.params || !p.hdr || p.width <= 0)
        return taskResult_t::failed;
    const processingParams_t &s = *p.params;
    const derived_t d = deriveConstants(p);
    const bool collect = p.histLuminance && p.histRed && p.histGreen && p.histBlue;
    const bool maskSkip = p.layerMask && p.output16 && s.layerIndex != 0;
    const int step = std::max(1, p.step);
    const bool lc = s.lcEnabled && p.localFine && p.localMedium && p.localCoarse;
    const bool mask = s.maskEnabled && p.maskLuminance && s.maskToneTable && s.maskWeightTable;
    const bool channelCurves = s.channelLut[0] && s.channelLut[1] && s.channelLut[2];
    // Equal curves (the usual case: no colour curve) are read from one table,
    // a third of the memory the lookups keep in the caches.
    const double *lut[3] = {s.channelLut[0], s.channelLut[1], s.channelLut[2]};
    if (channelCurves) {
        for (int c = 1; c < 3; ++c) {
            if (lut[c] != lut[0] && std::memcmp(lut[c], lut[0], SAMPLE_TABLE_SIZE * sizeof(double)) == 0)
                lut[c] = lut[0];
        }
    }

    // Column and row of the first pixel; advanced without a division per pixel.
    int x = int(p.start % p.width);
    int y = int(p.start / p.width);
    for (qint64 i = p.start; i < p.end; ++i, ++x) {
        if (x == p.width) {
            x = 0;
            ++y;
        }
        if (step > 1 && (x % step || y % step)) {
            copySampledPixel(p, i, x, y, step);
        } else if (!(maskSkip && p.layerMask[i] == 0)) {
            float *px = p.hdr + i * 3;
            for (int c = 0; c < 3; ++c) {
                if (!std::isfinite(px[c]))
                    px[c] = 0.0f;
            }
            double R = px[0], G = px[1], B = px[2];
            if (s.colorAdjustActive)
                adjustColor(R, G, B, s);
            compressLuminance(R, G, B, i, p, s, d, lc);
            if (channelCurves) {
                R = lut[0][int(R * 65535.0)];
                G = lut[1][int(G * 65535.0)];
                B = lut[2][int(B * 65535.0)];
            }
            if (mask)
                applyMaskTone(R, G, B, i, p, s);
            if (d.selective)
                applySelectiveSaturation(R, G, B, s);
            applyColorMatrix(R, G, B, s.colorMatrix);
            if (p.detail) {
                const double dd = s.sharpness * 2.0 * p.detailFactor * p.detail[i] / 32767.0;
                R += dd;
                G += dd;
                B += dd;
            }
            if (d.vignette) {
                const double g = vignetteGain(x, y, p, s, d);
                R *= g;
                G *= g;
                B *= g;
            }
            storePixel(R, G, B, i, p, d, collect);
        }
        if (i % 100 == 0)
            progressCounter.fetch_add(100, std::memory_order_relaxed);
        if (!p.ignoreAbort && abortBackgroundFlag.load(std::memory_order_relaxed))
            return taskResult_t::cancelled;
    }
    return taskResult_t::done;
}

taskResult_t mergeLayersThread(const mergeLayers_threadParams_t &p)
{
    if (!p.source || !p.destination)
        return taskResult_t::failed;
    const int L = std::min(std::max(p.layerIndex, 0), LAYER_COUNT - 1);
    double opacity[LAYER_COUNT];
    for (int k = 0; k < LAYER_COUNT; ++k)
        opacity[k] = std::min(std::max(p.opacities[k], 0.0), 1.0);

    for (qint64 i = p.start; i < p.end; ++i) {
        double a = 0.0, sum = 0.0;
        for (int k = 1; k < LAYER_COUNT; ++k) {
            if (!p.masks[k])
                continue;
            const double v = p.masks[k][i] * opacity[k];
            a = std::max(a, v);
            sum += v;
        }
        const quint16 *src = p.source + i * 3;
        quint16 *dst = p.destination + i * 3;
        if (p.accumulated) {
            // Final pass: the upper layers cover the base by their largest weight.
            const double dd = 1.0 - a / 255.0;
            const quint16 *acc = p.accumulated + i * 3;
            for (int c = 0; c < 3; ++c)
                dst[c] = quint16(std::min(65535.0, src[c] * dd + acc[c] * (1.0 - dd)));
        } else if (sum > 0.0 && p.masks[L]) {
            // Where no layer covers the pixel (sum 0) nothing is accumulated;
            // the final pass gives the accumulated value weight 0 there.
            const double wt = p.masks[L][i] * opacity[L] / sum;
            for (int c = 0; c < 3; ++c)
                dst[c] = quint16(std::min(65535.0, src[c] * wt + dst[c]));
        }
        if (!p.ignoreAbort && (i & 1023) == 0 && abortBackgroundFlag.load(std::memory_order_relaxed))
            return taskResult_t::cancelled;
    }
    return taskResult_t::done;
}

namespace {

int taskCount(int threads)
{
    return std::min(std::max(threads, 1), TM_MAX_TASKS);
}

} // namespace

taskResult_t toneMapFull(const toneMappingFullJob_t &job)
{
    const qint64 total = qint64(job.width) * job.height;
    if (total <= 0 || !job.hdr || !job.output) {
        debugLog("%s: nothing to tone map\n", "toneMapFull");
        return taskResult_t::failed;
    }
    if (!job.layers[0]) {
        debugLog("%s: the base layer is missing\n", "toneMapFull");
        return taskResult_t::failed;
    }
    for (int k = 0; k < LAYER_COUNT; ++k) {
        if (job.layers[k] && !job.layers[k]->precalculated) {
            debugLog("%s: Trying to tonemap using invalid tone mapping settings (not "
                     "precalculated)\n",
                     "toneMapFull");
            return taskResult_t::failed;
        }
    }
    const int n = taskCount(job.threads);
    std::unique_ptr<quint16[]> accumulation;
    if (job.layersOn) {
        accumulation.reset(new (std::nothrow) quint16[size_t(total) * 3]());
        if (!accumulation) {
            debugLog("%s: failed to allocate memory\n", "toneMapFull");
            return taskResult_t::failed;
        }
    }

    toneMapping_threadParams_t common;
    common.total = total;
    common.fullWidth = common.width = job.width;
    common.fullHeight = common.height = job.height;
    common.hdrMedian = job.hdrMedian;
    common.lcCorrection = job.lcCorrection;
    common.hdr = job.hdr;
    common.localFine = job.localFine;
    common.localMedium = job.localMedium;
    common.localCoarse = job.localCoarse;
    common.maskLuminance = job.maskLuminance;
    common.output16 = job.output;
    common.detail = job.detail;
    common.detailFactor = job.detailFactor;

    mergeLayers_threadParams_t mergeCommon;
    mergeCommon.total = total;
    for (int k = 1; k < LAYER_COUNT; ++k) {
        if (job.layers[k] && job.masks[k]) {
            mergeCommon.masks[k] = job.masks[k];
            mergeCommon.opacities[k] = job.layers[k]->opacity;
        }
    }

    int rendered = 0;
    for (int layer = 0; layer < LAYER_COUNT; ++layer)
        rendered += job.layers[layer] && (layer == 0 || job.layersOn) ? 1 : 0;
    if (job.detailInOutput && (rendered != 1 || !job.detail)) {
        debugLog("%s: the detail image in the output needs a single layer\n", "toneMapFull");
        return taskResult_t::failed;
    }
    const std::vector<range_t> ranges = splitRanges(total, n);
    // Rounds of ranges run one after the other; the tasks of a round run side
    // by side. Pixel i writes output samples 3i .. 3i+2; with the detail image
    // in the last third (value j at sample 2 total + j), a round [a, b) with
    // 3 b <= a + 2 total overwrites only detail values of pixels before a,
    // which earlier rounds have read. Each round is a third of what is left;
    // the last few pixels go in one task, in order (each pixel reads its own
    // detail value before it writes, and overwrites none after its own).
    std::vector<std::vector<range_t>> rounds;
    if (job.detailInOutput) {
        constexpr qint64 LAST_ROUND = 16384;
        qint64 a = 0;
        while (total - a > LAST_ROUND) {
            const qint64 b = (a + 2 * total) / 3;
            std::vector<range_t> round = splitRanges(b - a, n);
            for (range_t &r : round) {
                r.first += a;
                r.end += a;
            }
            rounds.push_back(round);
            a = b;
        }
        rounds.push_back({range_t{a, total}});
    } else {
        rounds.push_back(ranges);
    }
    for (int layer = LAYER_COUNT - 1; layer >= 0; --layer) {
        if (!job.layers[layer] || (layer > 0 && !job.layersOn))
            continue;
        for (const std::vector<range_t> &round : rounds) {
            std::vector<toneMapping_threadParams_t> records;
            for (const range_t &r : round) {
                toneMapping_threadParams_t p = common;
                p.start = r.first;
                p.end = r.end;
                p.params = job.layers[layer];
                p.layerMask = job.masks[layer];
                records.push_back(p);
            }
            const taskResult_t toned = runThreadRecords(records, toneMappingThread);
            if (toned != taskResult_t::done)
                return toned;
        }
        if (!job.layersOn)
            continue;
        std::vector<mergeLayers_threadParams_t> merges;
        for (const range_t &r : ranges) {
            mergeLayers_threadParams_t p = mergeCommon;
            p.start = r.first;
            p.end = r.end;
            p.layerIndex = layer;
            p.source = job.output;
            if (layer > 0) {
                p.destination = accumulation.get();
            } else {
                p.accumulated = accumulation.get();
                p.destination = job.output;
            }
            merges.push_back(p);
        }
        const taskResult_t merged = runThreadRecords(merges, mergeLayersThread);
        if (merged != taskResult_t::done)
            return merged;
    }
    return taskResult_t::done;
}

namespace {

toneMapping_threadParams_t previewRecord(const toneMappingPreviewJob_t &job)
{
    toneMapping_threadParams_t p;
    p.total = qint64(job.width) * job.height;
    p.fullWidth = job.fullWidth;
    p.fullHeight = job.fullHeight;
    p.width = job.width;
    p.height = job.height;
    p.offsetX = job.offsetX;
    p.offsetY = job.offsetY;
    p.scale = job.scale > 0.0 ? job.scale : 1.0;
    p.hdrMedian = job.hdrMedian;
    p.lcCorrection = job.lcCorrection;
    p.hdr = job.hdr;
    p.localFine = job.localFine;
    p.localMedium = job.localMedium;
    p.localCoarse = job.localCoarse;
    p.maskLuminance = job.maskLuminance;
    p.output8 = job.output;
    p.detail = job.detail;
    p.layerMask = job.layerMask;
    p.params = job.params;
    p.detailFactor = job.detailFactor;
    p.ignoreAbort = true;
    return p;
}

} // namespace

taskResult_t toneMapPreview(const toneMappingPreviewJob_t &job)
{
    if (job.width <= 0 || job.height <= 0 || !job.hdr || !job.params || !job.output)
        return taskResult_t::failed;
    const int n = std::min(taskCount(job.threads), job.height);
    const int step = std::max(1, job.step);
    const toneMapping_threadParams_t common = previewRecord(job);
    std::vector<toneMapping_threadParams_t> records;
    for (int k = 0; k < n; ++k) {
        const qint64 first = (qint64(job.height) * k / n) / step * step;
        const qint64 last = k == n - 1 ? job.height : (qint64(job.height) * (k + 1) / n) / step * step;
        if (last <= first)
            continue;
        toneMapping_threadParams_t p = common;
        p.start = first * job.width;
        p.end = last * job.width;
        p.step = step;
        records.push_back(p);
    }
    return runThreadRecords(records, toneMappingThread);
}

void toneMapStatistics(const toneMappingPreviewJob_t &job, quint32 *const histograms[4])
{
    for (int c = 0; c < 4; ++c)
        std::fill(histograms[c], histograms[c] + TM_HISTOGRAM_SIZE, 0u);
    const qint64 total = qint64(job.width) * job.height;
    if (total <= 0 || !job.hdr || !job.params)
        return;
    const std::vector<range_t> ranges = splitRanges(total, taskCount(job.threads));
    std::vector<std::vector<quint32>> taskHist(ranges.size(),
                                               std::vector<quint32>(4 * TM_HISTOGRAM_SIZE, 0u));
    toneMapping_threadParams_t common = previewRecord(job);
    common.detail = nullptr;
    common.layerMask = nullptr;
    common.detailFactor = 1.0;
    common.step = 1;
    std::vector<toneMapping_threadParams_t> records;
    for (size_t k = 0; k < ranges.size(); ++k) {
        toneMapping_threadParams_t p = common;
        p.start = ranges[k].first;
        p.end = ranges[k].end;
        quint32 *h = taskHist[k].data();
        p.histLuminance = h;
        p.histRed = h + TM_HISTOGRAM_SIZE;
        p.histGreen = h + 2 * TM_HISTOGRAM_SIZE;
        p.histBlue = h + 3 * TM_HISTOGRAM_SIZE;
        records.push_back(p);
    }
    runThreadRecords(records, toneMappingThread);
    for (const std::vector<quint32> &h : taskHist) {
        for (int c = 0; c < 4; ++c) {
            for (int j = 0; j < TM_HISTOGRAM_SIZE; ++j)
                histograms[c][j] += h[size_t(c) * TM_HISTOGRAM_SIZE + j];
        }
    }
}

void cumulativeFromHistograms(const quint32 *const histograms[4], double *const cumulative[4],
                              qint64 pixelCount)
{
    const double N = pixelCount > 0 ? double(pixelCount) : 1.0;
    for (int c = 1; c <= 3; ++c) {
        double running = 0.0;
        for (int j = 0; j < TM_HISTOGRAM_SIZE; ++j) {
            running += histograms[c][j] / N * 100.0;
            cumulative[c][j] = running;
        }
    }
    for (int j = 0; j < TM_HISTOGRAM_SIZE; ++j)
        cumulative[0][j] = (cumulative[1][j] + cumulative[2][j] + cumulative[3][j]) / 3.0;
}

bool applyAutoClipping(processingParams_t *params)
{
    const double *cm = params->cumulative[0];
    if (!cm)
        return false;
    bool disable = false;
    if (params->autoClipping) {
        int j = 0;
        for (int i = 0; i < TM_HISTOGRAM_SIZE; ++i) {
            if (params->blackPoint <= cm[i]) {
                j = i;
                break;
            }
        }
        int m = 0;
        for (int i = TM_HISTOGRAM_SIZE - 1; i >= 0; --i) {
            if (cm[i] <= 100.0 - params->whitePoint) {
                m = i;
                break;
            }
        }
        if (params->blackPoint >= 1e-4)
            params->blackPointValue = std::max(0, (j < m || j < 1) ? j : m - 1) / 4095.0;
        if (params->whitePoint >= 1e-4)
            params->whitePointValue = ((j == 0 && m == 0) ? m + 1 : m) / 4095.0;
        disable = params->blackPoint < 1e-4 || params->whitePoint < 1e-4;
    }
    auto at = [cm](double v) { return cm[std::min(std::max(int(v * 4095.0), 0), 4095)]; };
    params->clippedBelow = at(params->blackPointValue);
    params->clippedAbove = 100.0 - at(params->whitePointValue);
    return disable;
}
