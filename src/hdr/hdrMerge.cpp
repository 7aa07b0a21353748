#include "hdr/hdrMerge.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "hdr/ghostMaths.h"
#include "project/pyramid.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Everything one task needs, hoisted out of the pixel loop: only the included
// photos, in list order, with their pointers and exposure factors.
struct mergeSetup_t {
    int n = 0;                                   // included photos
    int index[HDR_MAX_PHOTOS];                   // their list positions
    const quint16 *pixels[HDR_MAX_PHOTOS];
    const quint16 *smart[HDR_MAX_PHOTOS];
    const quint8 *ghost[HDR_MAX_PHOTOS];
    const double *weights[HDR_MAX_PHOTOS];
    const double *confidence[HDR_MAX_PHOTOS][3];
    quint16 low[HDR_MAX_PHOTOS], high[HDR_MAX_PHOTOS];
    double evLn[HDR_MAX_PHOTOS];
    double invA[HDR_MAX_PHOTOS];
    double invB[HDR_MAX_PHOTOS];
    double exposureQ[HDR_MAX_PHOTOS * 1];          // by list position (ghostDeviation)
    bool included[HDR_MAX_PHOTOS];                 // by list position
    double evLnAll[HDR_MAX_PHOTOS];                // by list position
    double invK = 0.0;
};

struct pixelSum_t {
    double r = 0.0, g = 0.0, b = 0.0, w = 0.0;
};

// Keeps every written value finite: float overflow saturates, a not-a-number
// (which the formulas never produce from valid tables) becomes 0.
inline double finiteValue(double v)
{
    if (!(v >= -double(FLT_MAX)))
        return v < 0.0 ? -double(FLT_MAX) : 0.0;
    return v > double(FLT_MAX) ? double(FLT_MAX) : v;
}

inline void writePixel(float *out, double r, double g, double b, double &mn, double &mx)
{
    r = finiteValue(r);
    g = finiteValue(g);
    b = finiteValue(b);
    out[0] = float(r);
    out[1] = float(g);
    out[2] = float(b);
    mn = std::min(mn, std::min(r, std::min(g, b)));
    mx = std::max(mx, std::max(r, std::max(g, b)));
}

inline int confidenceIndex(double v)
{
    if (!(v > 0.0))
        return 0;
    const double x = std::sqrt(v) * 4095.0;
    return x >= 4095.0 ? 4095 : int(x);
}

// A ghost-masked True HDR pixel: the photos' masks decide their share; the rest
// of the weight (255 - mask sum) keeps the ordinary weighted merge.
void mergeMaskedPixel(const _HDRgeneration_threadParams_t &p, const mergeSetup_t &s, qint64 idx,
                      const pixelSum_t &sum, double out[3])
{
    const hdrMergeTables_t &t = *p.tables;
    int maskSum = 0;
    for (int j = 0; j < s.n; j++)
        maskSum += s.ghost[j] ? s.ghost[j][idx] : 0;
    double z = 1.0;
    double sMask = maskSum;
    if (maskSum > 255) {
        z = 255.0 / maskSum;
        sMask = 255.0;
    }
    // Without any usable weight the ordinary merge has no value; it then counts as black.
    double merged[3] = {0.0, 0.0, 0.0};
    if (sum.w > 0.0) {
        merged[0] = sum.r / sum.w;
        merged[1] = sum.g / sum.w;
        merged[2] = sum.b / sum.w;
    }
    double acc[3] = {merged[0] * (255.0 - sMask), merged[1] * (255.0 - sMask), merged[2] * (255.0 - sMask)};

    double bad[HDR_MAX_PHOTOS];
    bool anyBad = false;
    quint16 r[HDR_MAX_PHOTOS] = {}, g[HDR_MAX_PHOTOS] = {}, b[HDR_MAX_PHOTOS] = {};
    for (int j = 0; j < s.n; j++) {
        const quint16 *px = s.pixels[j] + idx * 3;
        const int k = s.index[j];
        r[k] = px[0];
        g[k] = px[1];
        b[k] = px[2];
        const int v = std::max(px[0], std::max(px[1], px[2]));
        bad[j] = t.exposurePenaltyLow[v] + t.exposurePenaltyHigh[v];
        if (bad[j] > 0.05)
            anyBad = true;
    }
    double dev = 0.0;
    if (anyBad) {
        ghostDeviationTables_t dt;
        dt.photoCount = t.photoCount;
        dt.included = s.included;
        dt.evLn = s.evLnAll;
        dt.responseR = t.responseR;
        dt.responseG = t.responseG;
        dt.responseB = t.responseB;
        dt.ghostWeightTable = t.ghostWeightTable;
        dev = ghostDeviation(dt, r, g, b, s.exposureQ) / 0.1;
    }

    const double *response[3] = {t.responseR, t.responseG, t.responseB};
    for (int j = 0; j < s.n; j++) {
        const double f = (s.ghost[j] ? s.ghost[j][idx] : 0) * z;
        const quint16 *px = s.pixels[j] + idx * 3;
        double tBlend = 0.0;
        const bool repair = p.ghostRemovalRepair && bad[j] > 0.05;
        if (repair)
            tBlend = std::clamp(2.0 * dev - bad[j], 0.0, 1.0);
        for (int c = 0; c < 3; c++) {
            const double linear = response[c][px[c]];
            double contribution = f * linear * s.invA[j];
            if (p.noiseWeighting && s.confidence[j][c])
                contribution *= s.confidence[j][c][confidenceIndex(linear * s.invB[j] * s.invK)];
            if (repair)
                acc[c] += ((1.0 - bad[j]) * contribution + bad[j] * f * merged[c]) * (1.0 - tBlend)
                          + tBlend * contribution;
            else
                acc[c] += contribution;
        }
    }
    out[0] = acc[0] / 255.0;
    out[1] = acc[1] / 255.0;
    out[2] = acc[2] / 255.0;
}

void mergeTrueHdrPixel(const _HDRgeneration_threadParams_t &p, const mergeSetup_t &s, qint64 idx,
                       double out[3])
{
    const hdrMergeTables_t &t = *p.tables;
    pixelSum_t sum;
    int under = -1, over = -1;
    bool masked = false;
    for (int j = 0; j < s.n; j++) {
        const quint16 *px = s.pixels[j] + idx * 3;
        const int r = px[0], g = px[1], b = px[2];
        if (r > s.high[j] || g > s.high[j] || b > s.high[j])
            if (over < 0 || s.evLn[j] < s.evLn[over])
                over = j;
        if (r < s.low[j] || g < s.low[j] || b < s.low[j])
            if (under < 0 || s.evLn[j] > s.evLn[under])
                under = j;
        const double w = s.weights[j][(r + g + b) / 3];
        const double wa = w * s.invA[j];
        sum.r += t.responseR[r] * wa;
        sum.g += t.responseG[g] * wa;
        sum.b += t.responseB[b] * wa;
        sum.w += w;
        if (p.ghostRemoval && s.ghost[j] && s.ghost[j][idx])
            masked = true;
    }
    if (sum.w == 0.0) {
        const int source = under >= 0 ? under : over;
        if (source >= 0) {
            const quint16 *px = s.pixels[source] + idx * 3;
            sum.r = t.responseR[px[0]] * s.invA[source];
            sum.g = t.responseG[px[1]] * s.invA[source];
            sum.b = t.responseB[px[2]] * s.invA[source];
            sum.w = 1.0;
        }
    }
    if (masked) {
        mergeMaskedPixel(p, s, idx, sum, out);
        return;
    }
    if (sum.w > 0.0) {
        out[0] = sum.r / sum.w;
        out[1] = sum.g / sum.w;
        out[2] = sum.b / sum.w;
    } else {
        out[0] = out[1] = out[2] = 0.0;
    }
}

inline void averagePixel(const mergeSetup_t &s, qint64 idx, double out[3])
{
    double r = 0.0, g = 0.0, b = 0.0;
    for (int j = 0; j < s.n; j++) {
        const quint16 *px = s.pixels[j] + idx * 3;
        r += px[0];
        g += px[1];
        b += px[2];
    }
    const double w = s.n > 0 ? 1.0 / s.n : 0.0;
    out[0] = r * w;
    out[1] = g * w;
    out[2] = b * w;
}

void mergeSmartPixel(const _HDRgeneration_threadParams_t &p, const mergeSetup_t &s, qint64 idx,
                     double out[3])
{
    pixelSum_t sum;
    for (int j = 0; j < s.n; j++) {
        const quint16 *px = s.pixels[j] + idx * 3;
        const double w = std::clamp(s.weights[j][s.smart[j][idx]] + p.smartMergeOffset, 0.0, 1.0);
        sum.r += px[0] * w;
        sum.g += px[1] * w;
        sum.b += px[2] * w;
        sum.w += w;
    }
    if (sum.w > 0.0) {
        out[0] = sum.r / sum.w;
        out[1] = sum.g / sum.w;
        out[2] = sum.b / sum.w;
    } else {
        // No photo has weight here: fall back to the plain average.
        averagePixel(s, idx, out);
    }
}

bool prepareSetup(const _HDRgeneration_threadParams_t &p, mergeSetup_t &s)
{
    const hdrMergeTables_t &t = *p.tables;
    const int count = std::min(t.photoCount, HDR_MAX_PHOTOS);
    double bMin = 0.0;
    for (int i = 0; i < count; i++) {
        const hdrMergePhoto_t &ph = t.photo[i];
        const double b = std::exp(ph.evLn + ph.evlFix);
        bMin = i == 0 ? b : std::min(bMin, b);
        s.included[i] = ph.included;
        s.evLnAll[i] = ph.evLn;
        s.exposureQ[i] = std::exp(ph.evLn - t.evMinLn + ph.evlFix);
        if (!ph.included)
            continue;
        const int j = s.n++;
        s.index[j] = i;
        s.pixels[j] = p.pixels[i];
        s.smart[j] = p.smartMasks[i];
        s.ghost[j] = p.ghostMasks[i];
        s.weights[j] = ph.mergeBuffer;
        for (int c = 0; c < 3; c++)
            s.confidence[j][c] = ph.confidence[c];
        s.low[j] = ph.lowLevel;
        s.high[j] = ph.highLevel;
        s.evLn[j] = ph.evLn;
        s.invA[j] = 1.0 / std::exp(ph.evLn - p.exposureReference + ph.evlFix);
        s.invB[j] = 1.0 / b;
        if (!s.pixels[j] || (p.method != 2 && !s.weights[j]) || (p.method == 1 && !s.smart[j]))
            return false;
    }
    const double k = count > 0 && bMin > 0.0 ? t.responseR[65535] / bMin : 0.0;
    s.invK = k > 0.0 ? 1.0 / k : 0.0;
    return true;
}

// Copies a merged row segment to the image with streaming stores: the image
// is far larger than the caches and only the next pass reads it again, so its
// cache lines need not be fetched before they are overwritten.
void streamRow(float *to, const float *from, size_t count)
{
#if defined(__SSE2__)
    size_t k = 0;
    while (k < count && (reinterpret_cast<uintptr_t>(to + k) & 15) != 0) {
        to[k] = from[k];
        k++;
    }
    for (; k + 4 <= count; k += 4)
        _mm_stream_ps(to + k, _mm_loadu_ps(from + k));
    for (; k < count; k++)
        to[k] = from[k];
#else
    std::copy(from, from + count, to);
#endif
}

} // namespace

int mergeChunk(const _HDRgeneration_threadParams_t &p, double *minOut, double *maxOut)
{
    double mn = 9e9, mx = 0.0;
    int lastRow = -1;
    if (!p.tables || !p.output || p.count <= 0) {
        *minOut = mn;
        *maxOut = mx;
        return lastRow;
    }
    auto setup = std::make_unique<mergeSetup_t>();
    mergeSetup_t &s = *setup;
    if (!prepareSetup(p, s)) {
        debugLog("%s: missing photo data, chunk at %lld not merged\n", "generateHDRworker::mergeChunk",
                 (long long)p.start);
        *minOut = mn;
        *maxOut = mx;
        return lastRow;
    }
    const qint64 width = p.width > 0 ? p.width : p.count;
    float *out = p.output + p.start * 3;
    // Each row segment is merged into this buffer, then streamed to the image.
    std::vector<float> rowBuffer(size_t(std::min<qint64>(width, p.count)) * 3);
    qint64 i = 0;
    while (i < p.count) {
        const qint64 column = (p.start + i) % width;
        if (column == 0)
            progressCounter.fetch_add(10, std::memory_order_relaxed);
        if (hdrBreakFlag.load(std::memory_order_relaxed) || abortBackgroundFlag.load(std::memory_order_relaxed))
            break;
        const qint64 end = std::min<qint64>(p.count, i + (width - column));
        // One row at a time, so that the freshly cleared pages are still in
        // the cache when the loop writes them.
        prefaultPages(out + i * 3, size_t(end - i) * 3 * sizeof(float), true);
        for (int j = 0; j < s.n; j++)
            prefaultPages(s.pixels[j] + i * 3, size_t(end - i) * 3 * sizeof(quint16), false);
        double v[3];
        const qint64 segment = i;
        float *row = rowBuffer.data();
        switch (p.method) {
        case 0:
            for (; i < end; i++) {
                mergeTrueHdrPixel(p, s, i, v);
                writePixel(row + (i - segment) * 3, v[0], v[1], v[2], mn, mx);
            }
            break;
        case 1:
            for (; i < end; i++) {
                mergeSmartPixel(p, s, i, v);
                writePixel(row + (i - segment) * 3, v[0], v[1], v[2], mn, mx);
            }
            break;
        default:
            for (; i < end; i++) {
                averagePixel(s, i, v);
                writePixel(row + (i - segment) * 3, v[0], v[1], v[2], mn, mx);
            }
            break;
        }
        streamRow(out + segment * 3, rowBuffer.data(), size_t(end - segment) * 3);
        lastRow = int((p.start + i - 1) / width);
    }
#if defined(__SSE2__)
    _mm_sfence();   // the streamed rows are visible before the task reports done
#endif
    *minOut = mn;
    *maxOut = mx;
    return lastRow;
}
