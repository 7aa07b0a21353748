#include "hdr/ghostMaths.h"

#include "app/debugLog.h"
#include "app/rawFileIO.h"

#include <algorithm>
#include <cmath>

double ghostDeviation(const ghostDeviationTables_t &t, const quint16 *r, const quint16 *g,
                      const quint16 *b, const double *exposure)
{
    const int count = std::min(t.photoCount, GHOST_MAX_PHOTOS);
    double n[GHOST_MAX_PHOTOS][3];
    for (int i = 0; i < count; i++) {
        if (!t.included[i])
            continue;
        const double e = exposure[i] > 0.0 ? exposure[i] : 1e-30;
        n[i][0] = std::sqrt(std::max(0.0, t.responseR[r[i]] / e));
        n[i][1] = std::sqrt(std::max(0.0, t.responseG[g[i]] / e));
        n[i][2] = std::sqrt(std::max(0.0, t.responseB[b[i]] / e));
    }

    double worst = 0.0;
    for (int a = 0; a < count; a++) {
        if (!t.included[a])
            continue;
        const quint16 sa[3] = {r[a], g[a], b[a]};
        for (int bb = 0; bb < count; bb++) {
            if (bb == a || !t.included[bb] || t.evLn[bb] < t.evLn[a])
                continue;
            const quint16 sb[3] = {r[bb], g[bb], b[bb]};
            const double m = 1.0 / std::max(t.evLn[bb] - t.evLn[a], 0.5);
            for (int c = 0; c < 3; c++) {
                const double d = std::fabs(n[a][c] - n[bb][c]) / (n[a][c] + n[bb][c] + 1e-5) * 0.5 * m
                                 * (t.ghostWeightTable[sa[c]] + t.ghostWeightTable[sb[c]]);
                worst = std::max(worst, d);
            }
        }
    }
    return std::min(worst, 1.0);
}

double ghostSpread(int smoothness)
{
    static const double spread[10] = {0.4, 0.5, 0.6, 0.8, 1.0, 1.25, 1.5, 2.0, 2.5, 3.0};
    return spread[std::clamp(smoothness, 1, 10) - 1];
}

double ghostThresholdForStrength(int strength, int photoCount)
{
    const int s = std::clamp(strength, 0, 9);
    const double step = s < 4 ? 0.075 : 0.05;
    const double t0 = 0.4 - (s - 4) * step;
    if (photoCount <= 3)
        return t0;
    const double factor = photoCount <= 5 ? 1.1 : photoCount <= 7 ? 1.2 : photoCount <= 9 ? 1.3 : 1.4;
    const double exponent = std::max(0.2, 1.0 - (photoCount - 3) / 12.0);
    return std::pow(t0 * factor, exponent);
}

void ghostMaskRadii(int smoothness, int previewLongSide, int *expand, int *smooth)
{
    const double g = ghostSpread(smoothness);
    const double scale = previewLongSide / 1400.0 * 0.5;
    const int e = int(g * 12.0 * scale);
    const int s = int(g * 50.0 * scale);
    debugLog("makeAntiGhostMasks, %d, expand=%d, smooth=%d", smoothness, e, s);
    *expand = std::max(2, e);
    *smooth = std::max(8, s);
    debugLog("-> expand=%d, smooth=%d\n", *expand, *smooth);
}

void ghostMaskRamp(quint8 *ramp256)
{
    for (int i = 0; i < 256; i++) {
        const double x = i / 255.0;
        ramp256[i] = quint8(std::min(255.0, std::floor(x * x * 450.0)));
    }
}

void fillUnsetLabels(quint8 *labelMask, qint64 pixelCount, int label)
{
    const quint8 value = quint8(label % 100 + 1);
    for (qint64 i = 0; i < pixelCount; i++)
        if (labelMask[i] == 255)
            labelMask[i] = value;
}

double ghostRegionScore(const quint8 *labelMask, qint64 pixelCount, qint64 start,
                        const quint16 *preview)
{
    double score = 0.0;
    for (qint64 i = pixelCount - 1; i >= start && i >= 0; i--) {
        if (labelMask[i] != 255)
            continue;
        const quint16 *p = preview + i * 3;
        const int l = (int(p[0]) + p[1] + p[2]) / 3;
        const double x = l / 65535.0 - 0.5;
        score += std::exp(-x * x / (2.0 * GHOST_EXPOSEDNESS_SPREAD * GHOST_EXPOSEDNESS_SPREAD));
    }
    return score;
}

std::vector<ghostRegion_t> ghostRegions(const quint8 *labelMask, int width, int height)
{
    std::vector<ghostRegion_t> regions;
    if (!labelMask || width <= 0 || height <= 0)
        return regions;
    const qint64 n = qint64(width) * height;
    std::vector<bool> seen(static_cast<size_t>(n), false);
    std::vector<qint64> stack;
    for (qint64 k = 0; k < n; k++) {
        if (labelMask[k] != 128 || seen[size_t(k)])
            continue;
        ghostRegion_t r;
        r.seed = k;
        r.left = r.right = int(k % width);
        r.top = r.bottom = int(k / width);
        seen[size_t(k)] = true;
        stack.push_back(k);
        while (!stack.empty()) {
            const qint64 p = stack.back();
            stack.pop_back();
            const int x = int(p % width), y = int(p / width);
            r.left = std::min(r.left, x);
            r.right = std::max(r.right, x);
            r.top = std::min(r.top, y);
            r.bottom = std::max(r.bottom, y);
            const qint64 next[4] = {x > 0 ? p - 1 : -1, x + 1 < width ? p + 1 : -1, y > 0 ? p - width : -1,
                                    y + 1 < height ? p + width : -1};
            for (qint64 q : next)
                if (q >= 0 && labelMask[q] == 128 && !seen[size_t(q)]) {
                    seen[size_t(q)] = true;
                    stack.push_back(q);
                }
        }
        regions.push_back(r);
    }
    return regions;
}

std::vector<int> ghostSubjects(const std::vector<ghostRegion_t> &regions)
{
    const int count = int(regions.size());
    std::vector<int> parent(static_cast<size_t>(count));
    for (int i = 0; i < count; i++)
        parent[size_t(i)] = i;
    auto root = [&parent](int i) {
        while (parent[size_t(i)] != i) {
            parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
            i = parent[size_t(i)];
        }
        return i;
    };
    struct box_t {
        qint64 left, top, right, bottom;
    };
    std::vector<box_t> grown(static_cast<size_t>(count));
    for (int i = 0; i < count; i++) {
        const ghostRegion_t &r = regions[size_t(i)];
        const qint64 g = std::max(r.right - r.left + 1, r.bottom - r.top + 1) / 4;
        grown[size_t(i)] = {r.left - g, r.top - g, r.right + g, r.bottom + g};
    }
    for (int i = 0; i < count; i++)
        for (int j = i + 1; j < count; j++) {
            const box_t &a = grown[size_t(i)], &b = grown[size_t(j)];
            if (a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom) {
                const int ri = root(i), rj = root(j);
                if (ri != rj)
                    parent[size_t(std::max(ri, rj))] = std::min(ri, rj);
            }
        }
    std::vector<int> group(static_cast<size_t>(count));
    for (int i = 0; i < count; i++)
        group[size_t(i)] = root(i);
    return group;
}

int ghostToneBin(double radiance, double invScale)
{
    const double x = radiance * invScale;
    if (!(x > 0.0))
        return 0;
    const double b = std::sqrt(x) * (GHOST_TONE_BINS - 1);
    return b >= GHOST_TONE_BINS - 1 ? GHOST_TONE_BINS - 1 : int(b);
}

namespace {

// Running sums over the bins, divided by the pixel count, then smoothed.
void finishCumulative(double *const tables[4], qint64 pixelCount)
{
    const double n = pixelCount > 0 ? double(pixelCount) : 1.0;
    for (int t = 0; t < 4; t++) {
        double running = 0.0;
        for (int i = 0; i < GHOST_TONE_BINS; i++) {
            running += tables[t][i];
            tables[t][i] = running / n;
        }
        gaussianSmoothHistogram4096(tables[t]);
    }
}

} // namespace

void ghostPhotoCumulative(const quint16 *preview, qint64 pixelCount, const double *const response[3],
                          double exposureFactor, double invScale, double *const cumulative[4])
{
    for (int t = 0; t < 4; t++)
        std::fill(cumulative[t], cumulative[t] + GHOST_TONE_BINS, 0.0);
    const double s = exposureFactor > 0.0 ? invScale / exposureFactor : 0.0;
    for (qint64 k = 0; k < pixelCount; k++) {
        const quint16 *p = preview + k * 3;
        int bin[3];
        for (int c = 0; c < 3; c++) {
            bin[c] = ghostToneBin(response[c][p[c]], s);
            cumulative[c][bin[c]] += 1.0;
        }
        cumulative[3][(bin[0] + bin[1] + bin[2]) / 3] += 1.0;
    }
    finishCumulative(cumulative, pixelCount);
}

void ghostHdrCumulative(const float *hdr, qint64 pixelCount, double invScale, double *const cumulative[4])
{
    for (int t = 0; t < 4; t++)
        std::fill(cumulative[t], cumulative[t] + GHOST_TONE_BINS, 0.0);
    for (qint64 k = 0; k < pixelCount; k++) {
        const float *p = hdr + k * 3;
        int bin[3];
        for (int c = 0; c < 3; c++) {
            bin[c] = ghostToneBin(double(p[c]), invScale);
            cumulative[c][bin[c]] += 1.0;
        }
        cumulative[3][(bin[0] + bin[1] + bin[2]) / 3] += 1.0;
    }
    finishCumulative(cumulative, pixelCount);
}

void ghostToneGains(const double *photoCumulative, const double *hdrCumulative, double *gain)
{
    // The first bin whose value reaches v is the first whose running maximum
    // does, and the running maximum can be searched by halves.
    double reached[GHOST_TONE_BINS];
    double top = 0.0;
    for (int j = 0; j < GHOST_TONE_BINS; j++) {
        top = j == 0 ? hdrCumulative[0] : std::max(top, hdrCumulative[j]);
        reached[j] = top;
    }
    for (int i = 0; i < GHOST_TONE_BINS; i++) {
        const double *found = std::lower_bound(reached, reached + GHOST_TONE_BINS, photoCumulative[i]);
        const int j = found == reached + GHOST_TONE_BINS ? GHOST_TONE_BINS - 1 : int(found - reached);
        const double ratio = (j + 0.5) / (i + 0.5);
        gain[i] = ratio * ratio;
    }
}

namespace {

// Gains of one table from its per-bin sums of log(merge / photo) and pixel
// counts (see ghostStillToneGains).
void stillGainsOfTable(const double *logSum, const double *count, double *gain)
{
    constexpr double enough = 3.0;   // pixels (window-weighted) a bin needs
    std::vector<double> mean(GHOST_TONE_BINS, 0.0);
    std::vector<bool> valid(GHOST_TONE_BINS, false);
    bool any = false;
    for (int i = 0; i < GHOST_TONE_BINS; i++) {
        const double sigma = std::max(double(GHOST_TONE_MIN_WINDOW), i / 20.0) / 2.0;
        const int reach = int(std::ceil(2.0 * sigma));
        double s = 0.0, w = 0.0;
        for (int j = std::max(0, i - reach); j <= std::min(GHOST_TONE_BINS - 1, i + reach); j++) {
            if (count[j] <= 0.0)
                continue;
            const double d = (j - i) / sigma;
            const double g = std::exp(-0.5 * d * d);
            s += g * logSum[j];
            w += g * count[j];
        }
        if (w >= enough) {
            mean[size_t(i)] = s / w;
            valid[size_t(i)] = true;
            any = true;
        }
    }
    if (!any) {
        std::fill(gain, gain + GHOST_TONE_BINS, 1.0);
        return;
    }
    // Gaps: straight lines between the neighbours; the ends keep the
    // nearest value.
    int last = -1;
    for (int i = 0; i < GHOST_TONE_BINS; i++) {
        if (!valid[size_t(i)])
            continue;
        if (last < 0) {
            std::fill(mean.begin(), mean.begin() + i, mean[size_t(i)]);
        } else {
            for (int k = last + 1; k < i; k++)
                mean[size_t(k)] = mean[size_t(last)] + (mean[size_t(i)] - mean[size_t(last)]) * (k - last) / (i - last);
        }
        last = i;
    }
    std::fill(mean.begin() + last + 1, mean.end(), mean[size_t(last)]);
    // Rising output: the bin's radiance (proportional to (i + 0.5)^2) times
    // its gain never falls.
    double top = 0.0;
    for (int i = 0; i < GHOST_TONE_BINS; i++) {
        const double x = (i + 0.5) * (i + 0.5);
        const double out = std::max(top, x * std::exp(mean[size_t(i)]));
        top = out;
        gain[i] = out / x;
    }
}

} // namespace

void ghostStillToneGains(const quint16 *preview, const float *hdr, const quint8 *still, qint64 pixelCount,
                         const double *const response[3], double exposureFactor, double invScale,
                         double *const count[4], double *const gain[4])
{
    std::vector<double> logSum(size_t(4) * GHOST_TONE_BINS, 0.0);
    for (int t = 0; t < 4; t++)
        std::fill(count[t], count[t] + GHOST_TONE_BINS, 0.0);
    const double inv = exposureFactor > 0.0 ? 1.0 / exposureFactor : 0.0;
    for (qint64 k = 0; k < pixelCount; k++) {
        if (!still[k])
            continue;
        const quint16 *p = preview + k * 3;
        const float *h = hdr + k * 3;
        int bin[3];
        double ratio[3];
        int usable = 0;
        for (int c = 0; c < 3; c++) {
            const double x = response[c][p[c]] * inv, y = double(h[c]);
            if (p[c] < GHOST_TONE_LOW_SAMPLE || p[c] > GHOST_TONE_HIGH_SAMPLE || !(x > 0.0) || !(y > 0.0))
                continue;
            bin[c] = ghostToneBin(x, invScale);
            ratio[c] = std::log(y / x);
            logSum[size_t(c) * GHOST_TONE_BINS + size_t(bin[c])] += ratio[c];
            count[c][bin[c]] += 1.0;
            usable++;
        }
        if (usable == 3) {
            const int b = (bin[0] + bin[1] + bin[2]) / 3;
            logSum[size_t(3) * GHOST_TONE_BINS + size_t(b)] += (ratio[0] + ratio[1] + ratio[2]) / 3.0;
            count[3][b] += 1.0;
        }
    }
    for (int t = 0; t < 4; t++)
        stillGainsOfTable(logSum.data() + size_t(t) * GHOST_TONE_BINS, count[t], gain[t]);
}
