#include "hdr/autoAlign.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "hdr/cornerDetection.h"
#include "project/parallelRanges.h"
#include "project/tableSizes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <random>

namespace {

// Tiles are extracted and matched in batches of this many corners, so that
// the memory they take stays bounded however many corners a photo has.
const int TILE_BATCH = 1024;
const int MIN_BASE_CORNERS = 12;
const int FITS_PER_PASS = 400;

inline const uint8_t *levelData(const pyramid &p, int level)
{
    return static_cast<const uint8_t *>(p.levels[level].data);
}

} // namespace

alignSizes_t alignmentSizes(int width, int height)
{
    alignSizes_t s;
    int side = std::min(width, height);
    int d = 0;
    while (side > 64 && d < 16) {
        side /= 2;
        ++d;
    }
    s.depth = d;
    s.matchDepth = std::min(d, 3);
    s.tileRadius = 12 + 4 * std::min(9, std::max(width, height) / 240);
    s.cornerLevel = std::max(0, s.matchDepth - 1);
    // The tile search starts at most two levels up, and never above the
    // pyramid's last level: small images (depth 1 or 2) match from the top
    // level they really have.
    s.topMatchLevel = std::max(0, std::min(std::min(s.matchDepth, 2), d - 1));
    return s;
}

namespace {

// Grey value of one pixel: the channel mean, corrected through the
// histogram-matching tables when they are given.
inline uint32_t greyOf(const uint16_t *p, const double *photoTable, const double *baseTable)
{
    uint32_t g = (uint32_t(p[0]) + p[1] + p[2]) / 3;
    if (photoTable && baseTable) {
        const double den = baseTable[g >> 4];
        if (den > 0) {
            const double v = std::trunc(g * photoTable[g >> 4] / den);
            g = v > 65535 ? 65535 : uint32_t(v);
        }
    }
    return g;
}

} // namespace

void matchLevels(const uint16_t *rgb, int width, int height, bool isBase, double maxEvGap,
                 matchLevelsState_t &state, pyramid &target, const double *photoGreyTable,
                 const double *baseGreyTable, int photoIndex, int threadCount)
{
    const int64_t count = int64_t(width) * height;
    const double *t1 = isBase ? nullptr : photoGreyTable;
    const double *t2 = isBase ? nullptr : baseGreyTable;

    // Pass 1: histogram of the grey values (one per task, then summed).
    const int tasks = std::max(1, threadCount);
    const std::vector<range_t> ranges = splitRanges(count, tasks);
    std::vector<std::vector<int64_t>> partial(ranges.size());
    runTasks(int(ranges.size()), [&](int r) {
        std::vector<int64_t> &local = partial[size_t(r)];
        local.assign(SAMPLE_TABLE_SIZE, 0);
        for (int64_t i = ranges[size_t(r)].first; i < ranges[size_t(r)].end; ++i)
            ++local[greyOf(rgb + i * 3, t1, t2)];
    });
    std::vector<int64_t> histogram(SAMPLE_TABLE_SIZE, 0);
    for (const std::vector<int64_t> &local : partial)
        for (size_t v = 0; v < SAMPLE_TABLE_SIZE; ++v)
            histogram[v] += local[v];

    const double half = double(count / 2);
    int p1 = -1, p2 = -1, p3 = -1;
    int64_t cumulative = 0;
    for (int v = 0; v < SAMPLE_TABLE_SIZE && p3 < 0; ++v) {
        cumulative += histogram[size_t(v)];
        const int value = v == 0 ? 1 : v;
        if (p1 < 0 && cumulative > 0.95 * half)
            p1 = value;
        if (p2 < 0 && cumulative > half)
            p2 = value;
        if (p3 < 0 && cumulative > 1.05 * half)
            p3 = value;
    }
    p1 = std::max(p1, 1);
    p2 = std::max(p2, 1);
    p3 = std::max(p3, 1);
    debugLog("middle[%d]=%d,%d,%d\n", photoIndex, p1, p2, p3);
    const double m = std::max(1, (p1 + p2 + p3) / 3) / 65536.0;

    // Pass 2: level 0 of the 8-bit pyramid.
    uint8_t *level0 = static_cast<uint8_t *>(target.levels[0].data);
    double ratio = 1.0;
    if (isBase) {
        const double goal = std::min(0.5, (maxEvGap + 1) * m);
        debugLog("targetMedian=%lf, maxEvDiff=%lf\n", goal, maxEvGap);
        state.baseScale = goal > m ? goal / m : 1.0;
        state.baseMedian = m;
        debugLog("Base (%d) median = %lf\n", photoIndex, m);
    } else {
        debugLog("ToAlign (%d) median = %lf\n", photoIndex, m);
        ratio = m / state.baseMedian;
    }
    // The 8-bit value depends on the grey value alone: one table for all pixels.
    const double f = state.baseScale / 65535.0 * 255.0;
    std::vector<uint8_t> table(SAMPLE_TABLE_SIZE);
    for (int g = 0; g < SAMPLE_TABLE_SIZE; ++g) {
        if (isBase)
            table[size_t(g)] = uint8_t(std::min(255.0, std::trunc(g * f)));
        else if (g >= 62259.2)
            table[size_t(g)] = 255;
        else if (g <= 3276.8)
            table[size_t(g)] = 0;
        else
            table[size_t(g)] = uint8_t(std::min(255.0, std::trunc(std::trunc(g / ratio) * f)));
    }
    const uint8_t *lut = table.data();
    auto toLevel0 = [=](const range_t &r) {
        for (int64_t i = r.first; i < r.end; ++i)
            level0[i] = lut[greyOf(rgb + i * 3, t1, t2)];
    };
    runThreadRecords(ranges, toLevel0);
    target.buildLevelsFrom(0);
    for (int l = 0; l < target.levelCount; ++l) {
        uint8_t *d = static_cast<uint8_t *>(target.levels[l].data);
        const int64_t n = int64_t(target.levels[l].width) * target.levels[l].height;
        for (int64_t i = 0; i < n; ++i)
            if (d[i] == 0)
                d[i] = 1;
    }
}

std::vector<fastXY_t> detectChunkCorners(const uint8_t *chunk, int width, int height,
                                         int stride, int &threshold)
{
    int32_t offsets[16];
    fastMakeOffsets(offsets, stride);
    int t = 140;
    for (;;) {
        t -= t > 60 ? 5 : (t > 20 ? 2 : 1);
        int n = 0;
        fastXY_t *found = fast9Detect(chunk, width, height, stride, t, &n);
        std::vector<int> scores(size_t(std::max(n, 0)));
        for (int i = 0; i < n; ++i)
            scores[i] = fast9CornerScore(chunk + int64_t(found[i].y) * stride + found[i].x,
                                         offsets, t);
        int kept = 0;
        fastXY_t *best = fastNonmaxSuppression(found, scores.data(), n, &kept);
        free(found);
        if (kept > 20 || t <= 15) {
            std::vector<fastXY_t> result(best, best + kept);
            free(best);
            threshold = t;
            return result;
        }
        free(best);
    }
}

std::vector<corner> findCornersInChunks(const pyramid &p, int level)
{
    std::vector<corner> corners;
    if (level < 0 || level >= p.levelCount || !p.levels[level].data)
        return corners;
    const int f = 1 << level;
    const int w = p.levels[level].width, ht = p.levels[level].height;
    const int nx = f * w / 1000 + 2, ny = f * ht / 1000 + 2;
    debugLog("%dx%d: Nx=%d, Ny=%d\n", w, ht, nx, ny);
    const uint8_t *data = levelData(p, level);
    const int cw = w / nx, ch = ht / ny;
    for (int i = 0; i < nx; ++i) {
        const int x0 = i * cw, x1 = i == nx - 1 ? w : x0 + cw;
        for (int j = 0; j < ny; ++j) {
            const int y0 = j * ch, y1 = j == ny - 1 ? ht : y0 + ch;
            int threshold = 0;
            const std::vector<fastXY_t> found = detectChunkCorners(
                data + int64_t(y0) * w + x0, x1 - x0, y1 - y0, w, threshold);
            for (const fastXY_t &c : found)
                corners.push_back({(x0 + c.x) * f, (y0 + c.y) * f, threshold});
            debugLog("Chunk_%dx%d: n=%d, threshold=%d\n", i + 1, j + 1, int(found.size()),
                     threshold);
        }
    }
    return corners;
}

void coarseOffset(const pyramid &photo, const pyramid &base, int depth, int &ox, int &oy,
                  int threadCount)
{
    int ax = 0, ay = 0, bx = 0, by = 0;
    ox = oy = 0;
    if (depth <= 1)
        return;
    for (int L = depth - 1; L >= 1; --L) {
        ax = 2 * (ax + bx);
        ay = 2 * (ay + by);
        const int r = L == depth - 1 ? 8 : 1;
        const int w = base.levels[L].width, h = base.levels[L].height;
        const uint8_t *P = levelData(photo, L), *Q = levelData(base, L);
        double bestScore = 1e9;
        int winX = ax, winY = ay;
        for (int dy = ay - r; dy <= ay + r; ++dy) {
            // Rows y with y + dy in [r, h - r), columns x with x + dx in [r, w - r).
            const int yFrom = std::max(0, r - dy), yTo = std::min(h, h - r - dy);
            for (int dx = ax - r; dx <= ax + r; ++dx) {
                const int xFrom = std::max(0, r - dx), xTo = std::min(w, w - r - dx);
                // Sum and weight of rows [y0, y1).
                auto rows = [&](int y0, int y1, int64_t &sum, int64_t &weight) {
                    for (int y = y0; y < y1; ++y) {
                        const uint8_t *q = Q + int64_t(y) * w;
                        const uint8_t *pp = P + int64_t(y + dy) * w + dx;
                        int64_t rowSum = 0, rowWeight = 0;
                        for (int x = xFrom; x < xTo; ++x) {
                            const int pv = pp[x], qv = q[x];
                            const bool counted = !(pv > 245 && qv < 245);
                            rowSum += counted ? (qv - pv) * (qv - pv) : 0;
                            rowWeight += counted;
                        }
                        sum += rowSum;
                        weight += rowWeight;
                    }
                };
                int64_t sum = 0, weight = 0;
                const int n = int64_t(w) * h > 200000 ? std::max(1, threadCount) : 1;
                const std::vector<range_t> bands = splitRanges(std::max(0, yTo - yFrom), n);
                if (bands.size() <= 1) {
                    rows(yFrom, yTo, sum, weight);
                } else {
                    std::vector<int64_t> sums(bands.size(), 0), weights(bands.size(), 0);
                    runTasks(int(bands.size()), [&](int b) {
                        rows(yFrom + int(bands[size_t(b)].first), yFrom + int(bands[size_t(b)].end),
                             sums[size_t(b)], weights[size_t(b)]);
                    });
                    for (size_t b = 0; b < bands.size(); ++b) {
                        sum += sums[b];
                        weight += weights[b];
                    }
                }
                const double score = double(sum) / (1.0 + double(weight));
                if (score < bestScore) {
                    bestScore = score;
                    winX = dx;
                    winY = dy;
                }
            }
        }
        bx = winX - ax;
        by = winY - ay;
    }
    ox = -2 * (ax + bx);
    oy = -2 * (ay + by);
}

void extractTileThread(const _extractTile_threadParams_t &p)
{
    const int R = p.tileRadius;
    const int w = p.photo->levels[0].width, ht = p.photo->levels[0].height;
    const uint8_t *img = levelData(*p.photo, 0);
    const int n0 = 2 * R + 1, R1 = R / 2, n1 = 2 * R1 + 1, R2 = R / 4, n2 = 2 * R2 + 1;
    for (int i = p.firstCorner; i < p.endCorner; ++i) {
        alignTile &t = p.tiles[i - p.batchStart];
        t.valid = 0;
        t.matchX = t.matchY = 0;
        const int cx = p.corners[i].x - p.ox, cy = p.corners[i].y - p.oy;
        if (cx - (R + 8) < 0 || cx + R + 8 >= w || cy - (R + 8) < 0 || cy + R + 8 >= ht)
            continue;
        int64_t sum = 0;
        for (int u = 0; u < n0; ++u)
            for (int v = 0; v < n0; ++v) {
                const uint8_t s = img[int64_t(cy - R + v) * w + (cx - R + u)];
                t.level0[v * ALIGN_TILE_STRIDE0 + u] = s;
                sum += s;
            }
        const float mean = float(sum) / float(n0 * n0);
        t.valid = mean > 10 && mean < 245 ? 1 : 0;
        // Lower levels by 2 x 2 averaging; the last row and column copy the
        // one corresponding sample.
        auto halve = [](const uint8_t *src, int srcStride, int srcN, uint8_t *dst, int dstStride,
                        int dstN) {
            for (int u = 0; u < dstN; ++u)
                for (int v = 0; v < dstN; ++v) {
                    const int su = 2 * u, sv = 2 * v;
                    if (su + 1 >= srcN || sv + 1 >= srcN) {
                        dst[u * dstStride + v] = src[std::min(su, srcN - 1) * srcStride +
                                                     std::min(sv, srcN - 1)];
                        continue;
                    }
                    const int a = src[su * srcStride + sv], b = src[(su + 1) * srcStride + sv],
                              c = src[su * srcStride + sv + 1],
                              d = src[(su + 1) * srcStride + sv + 1];
                    dst[u * dstStride + v] = uint8_t((a + b + c + d) >> 2);
                }
        };
        halve(t.level0, ALIGN_TILE_STRIDE0, n0, t.level1, ALIGN_TILE_STRIDE1, n1);
        halve(t.level1, ALIGN_TILE_STRIDE1, n1, t.level2, ALIGN_TILE_STRIDE2, n2);
    }
}

namespace {

struct tileCandidate_t {
    int64_t n = 0;
    int64_t sumSq = 0;
    int64_t sumAbs = 0;
};

// Sums over the tile samples (u, v) in [-s, s]^2 whose base position
// (centre + d + (u, v)) lies inside the base level.
tileCandidate_t compareTile(const uint8_t *tile, int stride, int s, const uint8_t *base, int w,
                            int h, int px, int py)
{
    tileCandidate_t c;
    const int uFrom = std::max(-s, -px), uTo = std::min(s, w - 1 - px);
    const int vFrom = std::max(-s, -py), vTo = std::min(s, h - 1 - py);
    if (uTo < uFrom || vTo < vFrom)
        return c;
    const int len = uTo - uFrom + 1;
    for (int v = vFrom; v <= vTo; ++v) {
        const uint8_t *row = base + int64_t(py + v) * w + px + uFrom;
        const uint8_t *t = tile + (v + s) * stride + (uFrom + s);
        // A row holds at most 97 samples: 32-bit sums cannot overflow.
        int32_t sq = 0, ab = 0;
        for (int u = 0; u < len; ++u) {
            const int32_t d = int32_t(row[u]) - int32_t(t[u]);
            sq += d * d;
            ab += d < 0 ? -d : d;
        }
        c.sumSq += sq;
        c.sumAbs += ab;
    }
    c.n = int64_t(len) * (vTo - vFrom + 1);
    return c;
}

// Median (first value whose cumulative count reaches n / 2, 255 when none)
// and mean of the base and tile samples of one placement.
void placementStats(const uint8_t *tile, int stride, int s, const uint8_t *base, int w, int h,
                    int px, int py, int &baseMedian, int &tileMedian, double &baseMean,
                    double &tileMean)
{
    int hb[256] = {0}, ht[256] = {0};
    int64_t n = 0, sb = 0, st = 0;
    const int uFrom = std::max(-s, -px), uTo = std::min(s, w - 1 - px);
    const int vFrom = std::max(-s, -py), vTo = std::min(s, h - 1 - py);
    for (int v = vFrom; v <= vTo; ++v)
        for (int u = uFrom; u <= uTo; ++u) {
            const int b = base[int64_t(py + v) * w + px + u];
            const int t = tile[(v + s) * stride + (u + s)];
            ++hb[b];
            ++ht[t];
            sb += b;
            st += t;
            ++n;
        }
    auto median = [n](const int *hist) {
        int64_t c = 0;
        for (int i = 0; i < 256; ++i) {
            c += hist[i];
            if (c >= n / 2)
                return i;
        }
        return 255;
    };
    baseMedian = median(hb);
    tileMedian = median(ht);
    baseMean = n ? double(sb) / n : 0;
    tileMean = n ? double(st) / n : 0;
}

void matchTile(alignTile &t, const corner &c, const pyramid &base, int topLevel, int R,
               int searchRadius, int ox, int oy)
{
    int ax = 0, ay = 0, bx = 0, by = 0;
    for (int L = topLevel; L >= 0; --L) {
        ax = 2 * (ax + bx);
        ay = 2 * (ay + by);
        if (L == topLevel)
            ax = ay = 0;
        const int radius = L == topLevel ? searchRadius : 2;
        const int s = R >> L;
        const int cx = c.x >> L, cy = c.y >> L;
        const uint8_t *tile = L == 0 ? t.level0 : (L == 1 ? t.level1 : t.level2);
        const int stride =
            L == 0 ? ALIGN_TILE_STRIDE0 : (L == 1 ? ALIGN_TILE_STRIDE1 : ALIGN_TILE_STRIDE2);
        const int w = base.levels[L].width, h = base.levels[L].height;
        const uint8_t *img = levelData(base, L);
        double best = 1e9;
        int64_t bestAbs = 0, bestN = 0;
        int winX = ax, winY = ay;
        for (int dx = ax - radius; dx <= ax + radius; ++dx)
            for (int dy = ay - radius; dy <= ay + radius; ++dy) {
                const tileCandidate_t k = compareTile(tile, stride, s, img, w, h, cx + dx, cy + dy);
                if (k.n == 0)
                    continue;
                const double score = double(k.sumSq) / double(k.n);
                if (score < best) {
                    best = score;
                    bestAbs = k.sumAbs;
                    bestN = k.n;
                    winX = dx;
                    winY = dy;
                }
            }
        bx = winX - ax;
        by = winY - ay;
        if (bestN == 0) {
            t.valid = 0;
            continue;
        }
        const double mad = double(bestAbs) / double(bestN);
        int baseMedian = 255, tileMedian = 255;
        double baseMean = 0, tileMean = 0;
        placementStats(tile, stride, s, img, w, h, cx + winX, cy + winY, baseMedian, tileMedian,
                       baseMean, tileMean);
        if (std::abs(tileMedian - baseMedian) + 20 < mad || baseMean > 245 || baseMean < 10 ||
            tileMean > 245 || tileMean < 10)
            t.valid = 0;
    }
    t.matchX = ox + ax + bx;
    t.matchY = oy + ay + by;
}

} // namespace

void matchTileThread(const _matchTile_threadParams_t &p)
{
    for (int i = p.firstTile; i < p.endTile; ++i) {
        alignTile &t = p.tiles[i - p.batchStart];
        if (t.valid)
            matchTile(t, p.corners[i], *p.base, p.topLevel, p.tileRadius, p.searchRadius, p.ox,
                      p.oy);
    }
}

bool pinsSpreadCheck(const int x[4], const int y[4], int &centreX, int &centreY)
{
    static const int pairs[6][4] = {{0, 1, 2, 3}, {0, 2, 1, 3}, {0, 3, 1, 2},
                                    {1, 2, 0, 3}, {1, 3, 0, 2}, {2, 3, 0, 1}};
    for (const auto &q : pairs) {
        const int i = q[0], j = q[1], k = q[2], l = q[3];
        const float s1 = (float(y[i] - y[j]) + 0.5f) / (float(x[i] - x[j]) + 0.5f);
        const float s2 = (float(y[k] - y[l]) - 0.5f) / (float(x[k] - x[l]) - 0.5f);
        if (s1 == s2 || !std::isfinite(s1) || !std::isfinite(s2))
            continue;
        const float ix = (float(y[k] - y[i]) + s1 * x[i] - s2 * x[k]) / (s1 - s2);
        const float iy = float(y[i]) + s1 * (ix - float(x[i]));
        if (!std::isfinite(ix) || !std::isfinite(iy) || std::fabs(ix) > 1e9f ||
            std::fabs(iy) > 1e9f)
            continue;
        const int cx = int(ix + 0.5f), cy = int(iy + 0.5f);
        int tl = 0, tr = 0, bl = 0, br = 0;
        for (int m = 0; m < 4; ++m) {
            const bool left = x[m] < cx, top = y[m] < cy;
            if (left && top)
                ++tl;
            else if (!left && top)
                ++tr;
            else if (left)
                ++bl;
            else
                ++br;
        }
        if ((tl == 2 && br == 2) || (tr == 2 && bl == 2) ||
            (tl == 1 && tr == 1 && bl == 1 && br == 1)) {
            centreX = cx;
            centreY = cy;
            return true;
        }
    }
    return false;
}

bool pickPins(std::function<uint32_t()> &rng, const corner *corners, int count, int shortSide,
              int picked[4], int &centreX, int &centreY)
{
    if (count < 1)
        return false;
    int dmin = shortSide / 2;
    for (int attempt = 0; attempt < 15000; ++attempt) {
        if (attempt == 300 || attempt == 1000 || attempt == 2000)
            dmin /= 2;
        int x[4], y[4];
        for (int i = 0; i < 4; ++i) {
            picked[i] = int(rng() % uint32_t(count));
            x[i] = corners[picked[i]].x;
            y[i] = corners[picked[i]].y;
        }
        bool apart = true;
        for (int i = 0; i < 4 && apart; ++i)
            for (int j = i + 1; j < 4 && apart; ++j)
                apart = int(std::hypot(double(x[i] - x[j]), double(y[i] - y[j]))) >= dmin;
        if (!apart || !pinsSpreadCheck(x, y, centreX, centreY))
            continue;
        bool farFromCentre = true;
        for (int i = 0; i < 4; ++i)
            farFromCentre = farFromCentre &&
                            std::hypot(double(x[i] - centreX), double(y[i] - centreY)) >= dmin;
        if (farFromCentre)
            return true;
    }
    return false;
}

void sortPinsByQuadrant(int picked[4], const corner *corners, int centreX, int centreY)
{
    int resultSlots[4] = {picked[0], picked[1], picked[2], picked[3]};
    for (int i = 0; i < 4; ++i) {
        const corner &c = corners[picked[i]];
        const bool left = c.x < centreX, top = c.y < centreY;
        const int slot = left && top ? 0 : (!left && !top ? 1 : (left ? 2 : 3));
        resultSlots[slot] = picked[i];
    }
    for (int i = 0; i < 4; ++i)
        picked[i] = resultSlots[i];
}

namespace {

using consensusSlot_t = consensusPart_t::slot_t;

// Weighted success limit of one photo's search.
int64_t minimumSuccess(const _findTransform_threadParams_t &p, int &validCount)
{
    int64_t validWeight = 0, allWeight = 0;
    validCount = 0;
    for (int i = 0; i < p.cornerCount; ++i) {
        allWeight += p.corners[i].weight;
        if (p.matches[i].valid) {
            validWeight += p.corners[i].weight;
            ++validCount;
        }
    }
    return std::max(int64_t(0.2 * double(validWeight)), int64_t(0.1 * double(allWeight)));
}

inline double consensusTolerance(int shortSide)
{
    return std::min(1.2, std::max(0.4, shortSide / 1500.0));
}

} // namespace

void consensusPassesThread(const _findTransform_threadParams_t &p, consensusPart_t &out)
{
    out = consensusPart_t();
    const int N = p.cornerCount;
    const double tau = consensusTolerance(p.shortSide);
    const int J = int(50 * tau);
    const double jitterDivisor = 20 / tau;

    std::mt19937 engine(p.seed ? p.seed
                               : uint32_t(time(nullptr)) ^ uint32_t(p.photoIndex * 7919 + p.part));
    std::function<uint32_t()> rng = [&engine]() { return uint32_t(engine() >> 1); };
    auto jitter = [&]() { return (double(rng() % uint32_t(J)) - J * 0.5) / jitterDivisor; };

    // Corner positions and their tracked photo positions, valid tiles only.
    std::vector<double> bx, by, px, py;
    std::vector<int> weight;
    for (int i = 0; i < N; ++i)
        if (p.matches[i].valid) {
            bx.push_back(p.corners[i].x);
            by.push_back(p.corners[i].y);
            px.push_back(p.corners[i].x - p.matches[i].matchX);
            py.push_back(p.corners[i].y - p.matches[i].matchY);
            weight.push_back(p.corners[i].weight);
        }
    const size_t nv = bx.size();

    int failedDraws = 0;
    for (int pass = 0; pass < p.passes;) {
        if (hdrBreakFlag)
            break;
        int picked[4], centreX = 0, centreY = 0;
        if (!pickPins(rng, p.corners, N, p.shortSide, picked, centreX, centreY)) {
            out.status = CONSENSUS_NO_SPREAD;
            return;
        }
        bool allValid = true;
        for (int i = 0; i < 4; ++i)
            allValid = allValid && p.matches[picked[i]].valid;
        if (!allValid) {
            if (++failedDraws >= p.failedDrawLimit) {
                out.status = CONSENSUS_DRAWS_EXHAUSTED;
                return;
            }
            continue;
        }
        ++pass;
        sortPinsByQuadrant(picked, p.corners, centreX, centreY);

        for (int fit = 0; fit < FITS_PER_PASS; ++fit) {
            alignPin_t basePins[4], photoPins[4];
            for (int i = 0; i < 4; ++i) {
                const corner &c = p.corners[picked[i]];
                const alignMatch_t &m = p.matches[picked[i]];
                const double j1 = jitter(), j2 = jitter(), j3 = jitter(), j4 = jitter();
                basePins[i] = {float(c.x + j1), float(c.y + j2)};
                photoPins[i] = {float(c.x - m.matchX + j3), float(c.y - m.matchY + j4)};
            }
            alignTransform_t t;
            fitTransform(ALIGN_METHOD_PERSPECTIVE, photoPins, basePins, t);
            const double *a = t.a;
            int64_t score = 0;
            double error = 0;
            for (size_t k = 0; k < nv; ++k) {
                const double iw = 1.0 / (a[6] * bx[k] + a[7] * by[k] + 1.0);
                const double ex = std::fabs((a[0] * bx[k] + a[1] * by[k] + a[2]) * iw - px[k]);
                const double ey = std::fabs((a[3] * bx[k] + a[4] * by[k] + a[5]) * iw - py[k]);
                const bool inlier = ex <= tau && ey <= tau;
                score += inlier ? weight[k] : 0;
                error += inlier ? std::sqrt(ex * ex + ey * ey) : 0.0;
            }
            const double meanError = score > 0 ? error / double(score) : 0;
            consensusSlot_t *results = out.results;
            if (!out.fitted) {
                results[0] = {score, meanError, t};
                out.fitted = true;
            } else {
                int lowest = 0;
                for (int s = 1; s < CONSENSUS_SLOTS; ++s)
                    if (results[s].score < results[lowest].score)
                        lowest = s;
                bool beats = false;
                for (int s = 0; s < CONSENSUS_SLOTS && !beats; ++s)
                    beats = score > results[s].score ||
                            (score == results[s].score && meanError < results[s].error);
                if (beats)
                    results[lowest] = {score, meanError, t};
            }
            if (score > out.bestScore) {
                out.bestScore = score;
                for (int i = 0; i < 4; ++i) {
                    out.basePins[i] = basePins[i];
                    out.photoPins[i] = photoPins[i];
                }
            }
        }
    }
}

bool finishTransform(const _findTransform_threadParams_t &p, const consensusPart_t *parts,
                     int partCount)
{
    p.transform->setIdentity();
    int validCount = 0;
    const int64_t minSuccess = minimumSuccess(p, validCount);

    bool anySpread = false, exhausted = false;
    int64_t best = -1;
    const consensusPart_t *bestPart = nullptr;
    std::vector<consensusSlot_t> all;
    for (int i = 0; i < partCount; ++i) {
        const consensusPart_t &part = parts[i];
        anySpread = anySpread || part.status != CONSENSUS_NO_SPREAD;
        exhausted = exhausted || part.status == CONSENSUS_DRAWS_EXHAUSTED;
        if (part.fitted)
            all.insert(all.end(), part.results, part.results + CONSENSUS_SLOTS);
        if (part.fitted && part.bestScore > best) {
            best = part.bestScore;
            bestPart = &part;
        }
    }
    if (!anySpread) {
        debugLog("#%d: Error! Failed to align images (#1)\n", p.photoIndex);
        return false;
    }
    if (exhausted) {
        if (best < minSuccess) {
            debugLog("#%d: Error! Failed to align images (#2): %d/%d\n", p.photoIndex, int(best),
                     int(minSuccess));
            return false;
        }
        debugLog("#%d: Failed to find good set of pins, but we already got a good result: "
                 "%d/%d\n",
                 p.photoIndex, int(best), int(minSuccess));
    }
    // The best results of every part: highest score first, then smallest error.
    std::stable_sort(all.begin(), all.end(), [](const consensusSlot_t &a, const consensusSlot_t &b) {
        return a.score > b.score || (a.score == b.score && a.error < b.error);
    });
    if (all.size() > size_t(CONSENSUS_SLOTS))
        all.resize(size_t(CONSENSUS_SLOTS));
    int64_t maxc = 0;
    for (const consensusSlot_t &s : all)
        maxc = std::max(maxc, s.score);
    debugLog("#%d: maxc=%d, min_success=%d | valid corners: %d/%d\n", p.photoIndex, int(maxc),
             int(minSuccess), validCount, p.cornerCount);
    if (maxc < minSuccess || maxc == 0) {
        debugLog("#%d: Error! No matches are good enough (#3): %d/%d\n", p.photoIndex, int(maxc),
                 int(minSuccess));
        return false;
    }
    alignTransform_t mean;
    for (double &v : mean.a)
        v = 0;
    int used = 0;
    for (const consensusSlot_t &s : all)
        if (double(s.score) >= 0.95 * double(maxc)) {
            for (int i = 0; i < 8; ++i)
                mean.a[i] += s.t.a[i];
            ++used;
        }
    for (double &v : mean.a)
        v /= used;
    *p.transform = mean;
    if (bestPart)
        for (int i = 0; i < 4; ++i) {
            p.basePins[i] = bestPart->basePins[i];
            p.photoPins[i] = bestPart->photoPins[i];
        }
    return true;
}

bool findTransformThread(const _findTransform_threadParams_t &p)
{
    consensusPart_t part;
    consensusPassesThread(p, part);
    return finishTransform(p, &part, 1);
}

namespace {

void reportProgress(const autoAlignSource_t &s, int rows)
{
    progressCounter += uint64_t(rows);
    if (s.progress)
        s.progress(rows);
}

// Extracts and matches the tiles of one photo batch by batch and keeps only
// the match of every corner.
bool trackCorners(const autoAlignSource_t &src, const alignSizes_t &sz, const pyramid &photo,
                  const pyramid &base, const std::vector<corner> &corners, int ox, int oy,
                  std::vector<alignMatch_t> &matches)
{
    const int N = int(corners.size());
    matches.assign(size_t(N), alignMatch_t());
    const int batch = std::min(N, TILE_BATCH);
    std::unique_ptr<alignTile[]> tiles(new (std::nothrow) alignTile[size_t(batch)]);
    if (!tiles)
        return false;
    const int n = std::max(1, src.threadCount);
    const int searchRadius =
        std::min(8, std::max(3, std::min(src.width, src.height) / 300));
    for (int start = 0; start < N; start += batch) {
        const int end = std::min(N, start + batch);
        std::vector<_extractTile_threadParams_t> extract;
        for (const range_t &r : splitRanges(end - start, n))
            extract.push_back({int(start + r.first), int(start + r.end), &photo, tiles.get(),
                               start, sz.tileRadius, corners.data(), ox, oy});
        runThreadRecords(extract, extractTileThread);
        std::vector<_matchTile_threadParams_t> match;
        for (const range_t &r : splitRanges(end - start, n))
            match.push_back({int(start + r.first), int(start + r.end), &base, sz.topMatchLevel,
                             tiles.get(), start, sz.tileRadius, corners.data(), searchRadius,
                             ox, oy});
        runThreadRecords(match, matchTileThread);
        for (int i = start; i < end; ++i) {
            const alignTile &t = tiles[size_t(i - start)];
            matches[size_t(i)] = {t.matchX, t.matchY, t.valid != 0};
        }
    }
    return true;
}

} // namespace

bool autoAlignPhotos(const autoAlignSource_t &src, int baseIndex, int toAlign,
                     autoAlignResult_t &result)
{
    const int W = src.width, H = src.height, count = src.photoCount;
    result.transforms.assign(size_t(std::max(count, 0)), alignTransform_t());
    result.basePins.assign(size_t(std::max(count, 0)), {});
    result.photoPins.assign(size_t(std::max(count, 0)), {});
    result.aligned.assign(size_t(std::max(count, 0)), true);
    result.error.clear();
    if (count < 1 || baseIndex < 0 || baseIndex >= count || !src.readPhoto || W < 1 || H < 1) {
        result.error = QStringLiteral("nothing to align");
        return false;
    }

    const alignSizes_t sz = alignmentSizes(W, H);
    debugLog("- auto align: init...\n");
    if (sz.depth == 0) {
        debugLog("%s: lvlb=0\n", "alignmentWorker::autoAlignEx");
        result.error = QStringLiteral("the photos are too small to align");
        return false;
    }
    pyramid basePyr, photoPyr;
    std::unique_ptr<uint16_t[]> ownBuffer;
    uint16_t *work = src.workBuffer;
    if (!work) {
        ownBuffer.reset(new (std::nothrow) uint16_t[size_t(W) * size_t(H) * 3]);
        work = ownBuffer.get();
    }
    if (!work || !basePyr.makePyramid(W, H, sz.depth, 1, 1, true) ||
        !photoPyr.makePyramid(W, H, sz.depth, 1, 1, true)) {
        debugLog("%s: memory alloc failed\n", "alignmentWorker::autoAlignEx");
        result.error = QStringLiteral("not enough memory");
        return false;
    }

    double maxGap = 0;
    for (int k = 0; k < count && k < int(src.ev.size()); ++k)
        if (baseIndex < int(src.ev.size()))
            maxGap = std::max(maxGap, std::fabs(src.ev[size_t(baseIndex)] - src.ev[size_t(k)]));

    debugLog("- auto align: step 1...\n");
    matchLevelsState_t state;
    if (!src.readPhoto(baseIndex, work)) {
        result.error = QStringLiteral("the base photo cannot be read");
        return false;
    }
    matchLevels(work, W, H, true, maxGap, state, basePyr, nullptr, nullptr, baseIndex,
                src.threadCount);
    if (hdrBreakFlag)
        return true;
    const std::vector<corner> corners = findCornersInChunks(basePyr, sz.cornerLevel);
    const int N = int(corners.size());
    if (N < MIN_BASE_CORNERS) {
        debugLog("  base corners < 12\n");
        result.error = QStringLiteral("the base photo has too few corners");
        return false;
    }
    reportProgress(src, H);
    if (hdrBreakFlag)
        return true;

    // Steps 2 and 3 photo by photo: the tiles of one photo are matched right
    // after they are extracted, so only the matches stay in memory.
    debugLog("- auto align: step 2 (toAlign=%d)...\n", toAlign);
    std::vector<std::vector<alignMatch_t>> matches(static_cast<size_t>(count));
    std::vector<int> selected;
    std::vector<double> photoTable(4096), baseTable(4096);
    for (int k = 0; k < count; ++k) {
        if (k == baseIndex || (toAlign != -1 && toAlign != k))
            continue;
        if (hdrBreakFlag)
            return true;
        if (!src.readPhoto(k, work)) {
            debugLog("#%d: the photo cannot be read\n", k);
            result.aligned[size_t(k)] = false;
            continue;
        }
        const bool matched = src.histogramMatch &&
                             src.histogramMatch(k, baseIndex, photoTable.data(), baseTable.data());
        matchLevels(work, W, H, false, maxGap, state, photoPyr,
                    matched ? photoTable.data() : nullptr, matched ? baseTable.data() : nullptr, k,
                    src.threadCount);
        int ox = 0, oy = 0;
        coarseOffset(photoPyr, basePyr, sz.depth, ox, oy, src.threadCount);
        debugLog("%d: ox=%d, oy=%d\n", k, ox, oy);
        if (!trackCorners(src, sz, photoPyr, basePyr, corners, ox, oy, matches[size_t(k)])) {
            debugLog("%s: memory alloc failed\n", "alignmentWorker::autoAlignEx");
            result.aligned[size_t(k)] = false;
            continue;
        }
        selected.push_back(k);
        reportProgress(src, H);
        reportProgress(src, H / 4);
    }
    basePyr.freeAll();
    photoPyr.freeAll();
    ownBuffer.reset();
    if (hdrBreakFlag)
        return true;

    debugLog("- auto align: step 4...\n");
    // Every photo's 200 passes are shared by a few tasks, so that the search
    // keeps all cores busy even with two or three photos.
    const int shortSide = std::min(W, H);
    const int photos = int(selected.size());
    const int partsPerPhoto =
        photos > 0 ? std::max(1, std::min(8, std::max(1, src.threadCount) / photos)) : 1;
    std::vector<_findTransform_threadParams_t> records;
    for (int k : selected) {
        _findTransform_threadParams_t p;
        p.shortSide = shortSide;
        p.photoIndex = k;
        p.matches = matches[size_t(k)].data();
        p.corners = corners.data();
        p.cornerCount = N;
        p.basePins = result.basePins[size_t(k)].data();
        p.photoPins = result.photoPins[size_t(k)].data();
        p.transform = &result.transforms[size_t(k)];
        for (const range_t &r : splitRanges(CONSENSUS_PASSES, partsPerPhoto)) {
            p.part = int(records.size());
            p.passes = int(r.end - r.first);
            p.failedDrawLimit = std::max(1, MAX_FAILED_DRAWS / partsPerPhoto);
            p.seed = src.seed ? src.seed + uint32_t(k) * 101u + uint32_t(p.part) : 0;
            records.push_back(p);
        }
    }
    std::vector<consensusPart_t> parts(records.size());
    runTasks(int(records.size()),
             [&records, &parts](int i) { consensusPassesThread(records[size_t(i)], parts[size_t(i)]); });
    for (size_t i = 0; i < records.size(); i += size_t(partsPerPhoto)) {
        const int k = records[i].photoIndex;
        const int n = std::min(partsPerPhoto, int(records.size() - i));
        if (!finishTransform(records[i], &parts[i], n)) {
            result.transforms[size_t(k)].setIdentity();
            result.aligned[size_t(k)] = false;
        }
    }
    for (int k = 0; k < count; ++k)
        debugLog("==> ALIGN STATUS #%d %s\n", k, result.aligned[size_t(k)] ? "ok" : "failed");
    reportProgress(src, H);
    return true;
}
