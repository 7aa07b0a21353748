#include "hdr/responseCurve.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "hdr/ghostMaths.h"
#include "project/parallelRanges.h"
#include "project/tableSizes.h"

#include <algorithm>
#include <cmath>
#include <random>

double responsePolynomial(const double *c, int count, double x)
{
    double v = 0.0, p = 1.0;
    for (int j = 0; j < count; j++) {
        v += c[j] * p;
        p *= x;
    }
    return v;
}

void fillResponseTable(double *table65536, const double *c, int count)
{
    for (int i = 0; i < SAMPLE_TABLE_SIZE; i++) {
        const double v = count > 0 ? responsePolynomial(c, count, i / 65535.0) : 0.0;
        table65536[i] = v > 0.0 ? v : 0.001;
    }
}

namespace {

inline int lumaOf(const quint16 *p)
{
    return int(std::floor(0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2]));
}

} // namespace

int selectCurveSamples(const responsePhotoSet_t &set, quint8 *out, quint32 seed)
{
    const int photos = std::min(set.photoCount, CURVE_MAX_PHOTOS);
    const int w = set.width, h = set.height;
    if (photos < 1 || w < 12 || h < 12)
        return 0;
    for (int k = 0; k < photos; k++)
        if (!set.previews[k])
            return 0;

    double exposure[CURVE_MAX_PHOTOS];
    for (int k = 0; k < photos; k++)
        exposure[k] = std::exp(set.evLn[k] - set.evMinLn + (set.evlFix ? set.evlFix[k] : 0.0));

    ghostDeviationTables_t dev;
    dev.photoCount = photos;
    dev.included = set.included;
    dev.evLn = set.evLn;
    dev.responseR = dev.responseG = dev.responseB = set.defaultResponse;
    dev.ghostWeightTable = set.ghostWeightTable;

    std::vector<char> taken(size_t(w) * size_t(h), 0);
    int levelCount[256] = {0};
    std::mt19937 rng(seed);
    const double maxDistance = (w + h) / 3.5;
    int accepted = 0, failures = 0;
    quint16 r[CURVE_MAX_PHOTOS], g[CURVE_MAX_PHOTOS], b[CURVE_MAX_PHOTOS];
    int luma[CURVE_MAX_PHOTOS];

    while (accepted < CURVE_SAMPLE_COUNT && failures <= 1000) {
        const int x = int(rng() % quint32(w));
        const int y = int(rng() % quint32(h));
        const qint64 idx = qint64(y) * w + x;
        qint64 sumLM = 0, sumM = 0;
        for (int k = 0; k < photos; k++) {
            const quint16 *p = set.previews[k] + idx * 3;
            r[k] = p[0];
            g[k] = p[1];
            b[k] = p[2];
            luma[k] = lumaOf(p);
            const int l = luma[k] >> 8;
            const int m = luma[k] > 32767 ? 255 - l : l;
            sumLM += l * m;
            sumM += m;
        }
        const int level = int(std::min<qint64>(255, sumLM / (1 + sumM)));
        const double dx = x - w / 2.0, dy = y - h / 2.0;
        bool ok = levelCount[level] < 4 && !taken[size_t(idx)]
                  && std::sqrt(dx * dx + dy * dy) < maxDistance && x > 5 && x < w - 5 && y > 5
                  && y < h - 5 && (!set.labelMask || set.labelMask[idx] == 0);
        if (ok)
            ok = ghostDeviation(dev, r, g, b, exposure) / 0.23 <= 0.4;
        if (!ok) {
            failures++;
            continue;
        }
        quint8 *dst = out + size_t(accepted) * size_t(photos);
        for (int k = 0; k < photos; k++)
            dst[k] = quint8(luma[k] >> 8);
        levelCount[level]++;
        taken[size_t(idx)] = 1;
        accepted++;
        failures = 0;
    }
    debugLog("  ctrOK=%d/%d N=%d\n", accepted, 102, CURVE_SAMPLE_COUNT);
    return accepted > CURVE_SAMPLE_COUNT * 0.1 ? accepted : 0;
}

void fitResponsePolynomial(int photoCount, const quint8 *samples, int sampleCount, const bool *use,
                           const double *exposures, double *c, int count, double scale)
{
    const int photos = std::min(photoCount, CURVE_MAX_PHOTOS);
    if (count < 6 || count > CURVE_MAX_COEFFICIENTS || sampleCount <= 0 || photos < 1 || scale <= 0.0)
        return;

    double confidence[256], average[256];
    for (int i = 0; i < 256; i++) {
        const double e = i <= 128 ? std::pow((255 - i) / 255.0, 10.0) : std::pow(i / 255.0, 10.0);
        confidence[i] = std::max(0.0, 1.0 - e - 0.1);
        average[i] = i < 128 ? std::min(150, 3 * (i + 1)) : std::min(150, 3 * (256 - i));
    }
    double invSqrtExposure[CURVE_MAX_PHOTOS];
    for (int k = 0; k < photos; k++)
        invSqrtExposure[k] = exposures[k] > 0.0 ? 1.0 / std::sqrt(exposures[k]) : 0.0;

    // The candidate grid is searched in ten slices (one per step of the first
    // coefficient), each on its own task; the slices' winners are then taken
    // in grid order with the same rule as within a slice (the first candidate
    // with a strictly smaller error), so the result is the serial search's.
    struct slice_t {
        double best[CURVE_MAX_COEFFICIENTS];
        double bestError = 0.0;
        bool haveBest = false;
        int steps[4] = {0, 0, 0, 0};
    };
    slice_t slices[10];
    runTasks(10, [&](int slice) {
        const int a = slice - 5;
        slice_t &out = slices[slice];
        std::copy(c, c + count, out.best);
        double cand[CURVE_MAX_COEFFICIENTS];
        std::copy(c, c + count, cand);
        double rootT[256];
        double error[CURVE_MAX_PHOTOS], weight[CURVE_MAX_PHOTOS], rk[CURVE_MAX_PHOTOS];
        bool stop = false;
        for (int b = -5; b <= 4 && !stop; b++) {
            for (int cc = -5; cc <= 4 && !stop; cc++) {
                for (int d = -5; d <= 4 && !stop; d++) {
                    cand[1] = c[1] * (1.0 + a / (10.0 * scale));
                    cand[2] = c[2] * (1.0 + b / (5.0 * scale));
                    cand[3] = c[3] * (1.0 + cc / (5.0 * scale));
                    cand[4] = c[4] * (1.0 + d / (7.0 * scale));

                    bool valid = true;
                    double previous = 0.0;
                    for (int l = 0; l < 256 && valid; l++) {
                        const double t = responsePolynomial(cand, count, l / 256.0);
                        if (t < 0.0 || (l > 0 && t < previous))
                            valid = false;
                        previous = t;
                        rootT[l] = std::sqrt(std::max(t, 0.0));
                    }
                    if (valid) {
                        std::fill(error, error + photos, 0.0);
                        std::fill(weight, weight + photos, 0.0);
                        for (int s = sampleCount - 1; s >= 0; s--) {
                            const quint8 *row = samples + size_t(s) * size_t(photos);
                            double sumRS = 0.0, sumS = 0.0;
                            // The mean and the errors run over every photo;
                            // only the used ones choose the candidate below.
                            for (int k = 0; k < photos; k++) {
                                rk[k] = rootT[row[k]] * invSqrtExposure[k];
                                sumRS += rk[k] * average[row[k]];
                                sumS += average[row[k]];
                            }
                            if (sumS <= 0.0)
                                continue;
                            const double mean = sumRS / sumS;
                            if (!(mean > 0.0))
                                continue;
                            for (int k = 0; k < photos; k++) {
                                error[k] += std::fabs(rk[k] - mean) * confidence[row[k]] / mean;
                                weight[k] += confidence[row[k]];
                            }
                        }
                        for (int k = 0; k < photos; k++) {
                            if (!use[k] || weight[k] <= 0.0)
                                continue;
                            const double e = error[k] / weight[k];
                            if (!out.haveBest || e < out.bestError) {
                                out.haveBest = true;
                                out.bestError = e;
                                std::copy(cand, cand + count, out.best);
                                out.steps[0] = a;
                                out.steps[1] = b;
                                out.steps[2] = cc;
                                out.steps[3] = d;
                            }
                        }
                    }
                    if (hdrBreakFlag.load(std::memory_order_relaxed))
                        stop = true;
                }
            }
        }
    });
    double best[CURVE_MAX_COEFFICIENTS];
    std::copy(c, c + count, best);
    double bestError = 0.0;
    bool haveBest = false;
    int bestSteps[4] = {0, 0, 0, 0};
    for (const slice_t &sl : slices) {
        if (!sl.haveBest || (haveBest && !(sl.bestError < bestError)))
            continue;
        haveBest = true;
        bestError = sl.bestError;
        std::copy(sl.best, sl.best + count, best);
        std::copy(sl.steps, sl.steps + 4, bestSteps);
    }
    for (int j = 0; j < 4; j++)
        debugLog("--- %d: %d\n", j + 1, bestSteps[j]);
    std::copy(best, best + count, c);
}

void fixExposureValues(const responsePhotoSet_t &set, const bool *use, const double *c, int count,
                       int reference, double *evlFix)
{
    const int photos = std::min(set.photoCount, CURVE_MAX_PHOTOS);
    if (photos < 1 || reference < 0 || reference >= photos)
        return;
    debugLog("evlFix_1\n");
    double m[CURVE_MAX_PHOTOS];
    for (int i = 0; i < photos; i++) {
        m[i] = std::exp(set.evLn[i] - set.evLn[reference]);
        debugLog("m[%d]=%lf\n", i, m[i]);
    }
    double t[256];
    for (int i = 0; i < 256; i++)
        t[i] = responsePolynomial(c, count, i / 255.0);
    debugLog("evlFix_2 (gmax=%lf)\n", t[255]);
    const double top = t[255] > 0.0 ? t[255] : 1.0;

    const qint64 n = qint64(set.width) * set.height;
    const qint64 half = n / 2;
    std::vector<qint64> histogram(size_t(photos) * 256, 0);
    // Per photo a 256-entry map from the grey level to the normalised bin.
    std::vector<quint8> binOf(size_t(photos) * 256);
    for (int k = 0; k < photos; k++)
        for (int g = 0; g < 256; g++) {
            const double v = std::sqrt(std::max(0.0, t[g] / top / m[k])) * 255.0;
            binOf[size_t(k) * 256 + g] = quint8(std::min(255.0, std::floor(v)));
        }
    for (int k = 0; k < photos; k++) {
        const quint16 *p = set.previews[k];
        if (!p)
            continue;
        qint64 *hist = histogram.data() + size_t(k) * 256;
        const quint8 *bins = binOf.data() + size_t(k) * 256;
        for (qint64 i = 0; i < n; i++, p += 3) {
            const int g = std::min(255, (int(p[0]) + p[1] + p[2]) / 3 / 256);
            hist[bins[g]]++;
        }
    }

    debugLog("evlFix_3\n");
    double f[CURVE_MAX_PHOTOS];
    for (int k = 0; k < photos; k++) {
        f[k] = 1.0;
        if (!use[k])
            continue;
        const qint64 *hist = histogram.data() + size_t(k) * 256;
        int k95 = 0, k100 = 0, k105 = 0;
        qint64 cumulative = 0;
        for (int bin = 0; bin < 256; bin++) {
            cumulative += hist[bin];
            if (k95 == 0 && cumulative >= 0.95 * half)
                k95 = bin;
            if (k100 == 0 && cumulative >= half)
                k100 = bin;
            if (k105 == 0 && cumulative >= 1.05 * half)
                k105 = bin;
        }
        const int level = std::max(48, (k95 + k100 + k105) / 3);
        f[k] = level / 128.0;
    }
    debugLog("evlFix_4\n");
    const double fmida = f[reference];
    debugLog("evlFix_5 (fmida=%lf)\n", fmida);
    for (int k = 0; k < photos; k++) {
        const double v = use[k] ? f[k] / fmida : 1.0;
        evlFix[k] = std::log(v);
        debugLog("FIX: %d: %0.2fx (%0.2f EV)\n", k, v, evlFix[k] / M_LN2);
    }
    debugLog("evlFix_done\n");
}

bool recoverResponseCoefficients(const responsePhotoSet_t &set, double *coefficients, int count,
                                 std::vector<double> &evlFix)
{
    const int photos = std::min(set.photoCount, CURVE_MAX_PHOTOS);
    evlFix.assign(size_t(std::max(0, set.photoCount)), 0.0);
    debugLog("Recover response curve...\n");

    int reference = -1;
    double nearest = 0.0;
    for (int i = 0; i < photos; i++) {
        if (!set.included[i])
            continue;
        const double d = std::fabs(set.evLn[i] - set.evMeanLn);
        if (reference < 0 || d < nearest) {
            reference = i;
            nearest = d;
        }
    }
    if (reference < 0)
        return false;

    std::vector<quint8> samples(size_t(CURVE_SAMPLE_COUNT) * size_t(std::max(photos, 1)));
    responsePhotoSet_t noFix = set;
    noFix.evlFix = nullptr;
    const int sampleCount = selectCurveSamples(noFix, samples.data());
    if (sampleCount == 0) {
        debugLog("  Too few valid pixels found to be used for curve recovery. Using standard curve.\n");
        return false;
    }

    double exposure[CURVE_MAX_PHOTOS];
    bool use[CURVE_MAX_PHOTOS];
    int used = 0;
    for (int i = 0; i < photos; i++) {
        exposure[i] = std::exp(set.evLn[i]);
        const double d = std::fabs(set.evLn[i] - set.evLn[reference]);
        use[i] = set.included[i] && !((i != reference && d < 0.5 * M_LN2) || d > 3.0 * M_LN2);
        if (use[i])
            used++;
        else
            debugLog("  %d: too small or too big EV difference, skipping this photo\n", i);
    }
    if (used < 2) {
        debugLog("  Too few photos can be used for curve recovery. Using standard curve.\n");
        return false;
    }
    fitResponsePolynomial(photos, samples.data(), sampleCount, use, exposure, coefficients, count, 1.0);
    fixExposureValues(noFix, use, coefficients, count, reference, evlFix.data());
    return true;
}
