#include "project/exposureValues.h"

#include "app/debugLog.h"
#include "project/parallelRanges.h"
#include "project/pyramid.h"
#include "project/tableSizes.h"

#include <QSet>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

constexpr double MISSING = 1e-7;
constexpr int AUTO_EV_LEVELS = 3;

// One-channel grey pyramid of a photo's preview: level 0 = (R + G + B) / 3.
bool greyPyramid(const photoInfo_t &photo, int w, int h, pyramid &out)
{
    if (!photo.preview || w <= 0 || h <= 0)
        return false;
    if (!out.makePyramid(w, h, AUTO_EV_LEVELS, 2, 1, true))
        return false;
    uint16_t *dst = static_cast<uint16_t *>(out.levels[0].data);
    const size_t n = size_t(w) * h;
    for (size_t i = 0; i < n; ++i) {
        const uint16_t *p = photo.preview + i * 3;
        dst[i] = uint16_t((unsigned(p[0]) + p[1] + p[2]) / 3);
    }
    out.buildLevelsFrom(0);
    return true;
}

struct autoEvSearch {
    const uint16_t *a = nullptr;
    const uint16_t *b = nullptr;
    int w = 0, h = 0;
    const double *L = nullptr;
    std::vector<double> weight; // W' : 0 below 0.1, else W

    double score(double x, int dx, int dy) const
    {
        const double f = 1.0 / std::pow(2.0, x);
        double s = 0.0, n = 0.01;
        for (int row = 0; row < h; ++row) {
            const int rb = row + dy;
            if (rb < 0 || rb >= h)
                continue;
            for (int col = 0; col < w; ++col) {
                const int cb = col + dx;
                if (cb < 0 || cb >= w)
                    continue;
                const uint16_t va = a[size_t(row) * w + col];
                const uint16_t vb = b[size_t(rb) * w + cb];
                const double p = L[va];
                const double q = L[vb] * f;
                double wt = weight[va] * weight[vb];
                if (wt > 0.5)
                    wt = 1.0;
                if (wt <= 0.0 || p + q <= 0.0)
                    continue;
                s += (p - q) * (p - q) * wt / (p + q);
                n += wt;
            }
        }
        return s / n;
    }

    double shiftMeasure(double x, int dx, int dy) const
    {
        const double f = 1.0 / std::pow(2.0, x);
        double s = 0.0;
        double count = 1.0;
        for (int row = 0; row < h; ++row) {
            const int rb = row + dy;
            if (rb < 0 || rb >= h)
                continue;
            for (int col = 0; col < w; ++col) {
                const int cb = col + dx;
                if (cb < 0 || cb >= w)
                    continue;
                s += std::fabs(L[a[size_t(row) * w + col]] - L[b[size_t(rb) * w + cb]] * f);
                count += 1.0;
            }
        }
        return s / count;
    }

    // The x of the smallest score among centre + j x step (first on ties).
    double bestOf(double centre, double step, int range, int dx, int dy) const
    {
        double best = centre, bestScore = 0.0;
        bool first = true;
        for (int j = -range; j <= range; ++j) {
            const double x = centre + j * step;
            const double sc = score(x, dx, dy);
            if (first || sc < bestScore) {
                best = x;
                bestScore = sc;
                first = false;
            }
        }
        return best;
    }
};

} // namespace

namespace exposureValues {

double evFromExposure(double t, double n, double s, bool &fromExif)
{
    const bool hasT = std::fabs(t) > MISSING, hasN = std::fabs(n) > MISSING, hasS = std::fabs(s) > MISSING;
    if (!hasT && !hasN && !hasS) {
        fromExif = false;
        return 0.0;
    }
    fromExif = true;
    if (!hasT)
        t = 1.0;
    if (!hasN)
        n = 1.0;
    if (!hasS)
        s = 100.0;
    return std::log2(t / (n * n) * s / 100.0);
}

double computeAutoEV(const photoInfo_t &a, const photoInfo_t &b, int previewWidth, int previewHeight,
                     const double *L, const double *W)
{
    if (!L || !W)
        return 0.0;
    pyramid pa, pb;
    if (!greyPyramid(a, previewWidth, previewHeight, pa) || !greyPyramid(b, previewWidth, previewHeight, pb))
        return 0.0;
    const int level = std::min(AUTO_EV_LEVELS, pa.levelCount) - 1;
    autoEvSearch search;
    search.a = static_cast<const uint16_t *>(pa.levels[level].data);
    search.b = static_cast<const uint16_t *>(pb.levels[level].data);
    search.w = pa.levels[level].width;
    search.h = pa.levels[level].height;
    search.L = L;
    search.weight.resize(SAMPLE_TABLE_SIZE);
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
        search.weight[i] = W[i] < 0.1 ? 0.0 : W[i];

    // Round 0: whole EVs without a shift.
    double best = search.bestOf(0.0, 1.0, 6, 0, 0);
    // Then the shift of b against a that matches best at that EV.
    int bestDx = 0, bestDy = 0;
    double bestMeasure = 0.0;
    bool first = true;
    for (int dx = -6; dx <= 6; ++dx) {
        for (int dy = -6; dy <= 6; ++dy) {
            const double m = search.shiftMeasure(best, dx, dy);
            if (first || m < bestMeasure) {
                bestMeasure = m;
                bestDx = dx;
                bestDy = dy;
                first = false;
            }
        }
    }
    debugLog("ai=%d, bj=%d\n", bestDx, bestDy);
    // Rounds 1 and 2: quarter and sixteenth steps around the best so far.
    best = search.bestOf(best, 0.25, 4, bestDx, bestDy);
    best = search.bestOf(best, 1.0 / 16.0, 4, bestDx, bestDy);
    debugLog("Auto EV diff = %lf\n", best);
    return best;
}

void evRange(QList<photoInfo_t> &photos, evState_t &state)
{
    const int count = photos.size();
    if (count == 0)
        return;
    double sum = 0.0;
    for (const photoInfo_t &p : photos)
        sum += p.ev;
    state.evMean = sum / count;
    // The photo nearest the mean; on equal distance the later one.
    int mid = 0;
    double nearest = 0.0;
    for (int i = 0; i < count; ++i) {
        const double d = std::fabs(photos[i].ev - state.evMean);
        if (i == 0 || d <= nearest) {
            nearest = d;
            mid = i;
        }
    }
    state.idxMid = mid;
    const double centre = photos[mid].ev;
    for (photoInfo_t &p : photos) {
        p.ev -= centre;
        p.evLn = p.ev * M_LN2;
    }
    state.evMin = state.evMax = photos[0].ev;
    state.idxMin = state.idxMax = 0;
    sum = 0.0;
    for (int i = 0; i < count; ++i) {
        const double ev = photos[i].ev;
        if (ev < state.evMin) {
            state.evMin = ev;
            state.idxMin = i;
        }
        if (ev > state.evMax) {
            state.evMax = ev;
            state.idxMax = i;
        }
        sum += ev;
    }
    state.evMean = sum / count;
    state.evMinLn = state.evMin * M_LN2;
    state.evMaxLn = state.evMax * M_LN2;
    state.evMeanLn = state.evMean * M_LN2;
    debugLog("evMin=%lf, evMax=%lf, evMean=%lf\n", state.evMin, state.evMax, state.evMean);
}

void sortPhotosByEV(QList<photoInfo_t> &photos, evState_t &state, int previewWidth, int previewHeight,
                    const double *L, const double *W)
{
    const int count = photos.size();
    if (count == 0)
        return;
    state.biasDistinct = true;
    QSet<long long> keys;
    for (const photoInfo_t &p : photos) {
        const long long key = (long long)std::trunc(double(p.exif.exposureBias) * 100.0);
        if (keys.contains(key))
            state.biasDistinct = false;
        keys.insert(key);
    }
    for (photoInfo_t &p : photos) {
        bool fromExif = false;
        p.evExif = evFromExposure(p.exif.exposureTime, p.exif.fNumber, p.exif.iso, fromExif);
        state.evFromExif = fromExif;
        p.exifBias = p.exif.exposureBias;
        if (state.evFromExif)
            p.ev = p.evExif;
        else if (state.biasDistinct)
            p.ev = p.exifBias;
    }
    // Brightness order: brightest first; equal means keep list order.
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int i, int j) { return photos[i].meanBrightness > photos[j].meanBrightness; });
    for (int k = 0; k < count; ++k)
        photos[order[k]].brightnessRank = k;

    if (state.evFromExif || state.biasDistinct)
        evRange(photos, state);

    // The neighbours' EV differences are independent searches: one task each
    // (on the program's thread pool), added up in order afterwards.
    // (Read through a const list: the tasks must not make it detach.)
    const QList<photoInfo_t> &list = photos;
    std::vector<double> steps(size_t(count - 1), 0.0);
    runTasks(count - 1, [&](int k) {
        steps[size_t(k)] = computeAutoEV(list.at(order[size_t(k)]), list.at(order[size_t(k) + 1]), previewWidth,
                                         previewHeight, L, W);
    });
    photos[order[0]].evAuto = 0.0;
    for (int k = 0; k + 1 < count; ++k)
        photos[order[k + 1]].evAuto = photos[order[k]].evAuto + steps[size_t(k)];
    const int reference = (state.evFromExif || state.biasDistinct) ? state.idxMid : order[count / 2];
    const double refAuto = photos[reference].evAuto;
    for (photoInfo_t &p : photos)
        p.evAuto -= refAuto;

    if (state.evFromExif)
        for (photoInfo_t &p : photos)
            p.evExif = p.ev;
}

bool aebEVdiff(const QList<photoInfo_t> &photos, const evState_t &state)
{
    if (photos.isEmpty() || !state.biasDistinct || state.idxMid < 0 || state.idxMid >= photos.size())
        return false;
    const double offset = photos[state.idxMid].exifBias - photos[state.idxMid].evExif;
    bool differs = false;
    for (const photoInfo_t &p : photos) {
        const double d = p.evExif - p.exifBias + offset;
        debugLog("AEB EV diff = %0.2f (EV=%0.2f, AEB_EV=%0.2f, offset=%0.2f)\n", d, p.evExif, p.exifBias, offset);
        if (std::fabs(d) >= 0.5)
            differs = true;
    }
    return differs;
}

bool minEVdiff(const QList<photoInfo_t> &photos)
{
    double smallest = 100.0;
    for (int i = 0; i < photos.size(); ++i)
        for (int j = i + 1; j < photos.size(); ++j)
            smallest = std::min(smallest, std::fabs(photos[i].ev - photos[j].ev));
    debugLog("EV minDiff = %0.2f\n", smallest);
    return smallest < 0.01;
}

} // namespace exposureValues
