#include "project/localContrast.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "project/filterKernels.h"
#include "project/parallelRanges.h"
#include "project/pyramid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr double BLACK_LIMIT = 9.999999747378752e-6;

inline bool stopRequested()
{
    return breakFlag.load(std::memory_order_relaxed)
           || abortBackgroundFlag.load(std::memory_order_relaxed);
}

// Geometry of one pass: the sample grid (every s-th pixel) and the task's
// grid columns.
struct passGeometry_t
{
    int W = 0, H = 0, s = 1, r = 0;  // image, step, radius in grid units
    int GW = 0, GH = 0;              // grid size
    int ga = 0, gb = 0;              // the task's grid columns [ga, gb)
    bool panorama = false;

    int sample(const quint16 *in, int gx, int gy) const
    {
        return std::min<int>(in[qint64(gy) * s * W + qint64(gx) * s], LC_LEVELS - 1);
    }
    // Grid column of a window column, or -1 when it lies outside the image.
    int column(int v) const
    {
        if (panorama)
            return ((v % GW) + GW) % GW;
        return (v >= 0 && v < GW) ? v : -1;
    }
    int validColumns(int X) const
    {
        if (panorama)
            return 2 * r + 1;
        return std::min(X + r, GW - 1) - std::max(X - r, 0) + 1;
    }
    int validRows(int Y) const { return std::min(Y + r, GH - 1) - std::max(Y - r, 0) + 1; }
};

passGeometry_t geometryOf(const _localContrast_threadParams_t &p)
{
    passGeometry_t g;
    g.W = p.width;
    g.H = p.height;
    g.s = localContrastStep(p.fine, p.width, p.height);
    g.r = std::max(p.radius, 0) / g.s;
    g.GW = (g.W + g.s - 1) / g.s;
    g.GH = (g.H + g.s - 1) / g.s;
    g.ga = std::max(p.firstColumn, 0) / g.s;
    g.gb = std::min((std::max(p.lastColumn, 0) + g.s - 1) / g.s, g.GW);
    g.panorama = p.panorama;
    return g;
}

// Writes the result of every pixel of the s x s block at grid (X, Y) from a
// ready count function below(lo) and soft(lo, hi) = sum of count[q] (hi - q).
template <typename Query>
void writeBlock(const _localContrast_threadParams_t &p, const passGeometry_t &g, int X, int Y,
                qint64 samples, Query query)
{
    const int x1 = std::min(X * g.s + g.s, g.W), y1 = std::min(Y * g.s + g.s, g.H);
    const double scale = 65535.0 / double(samples);
    // The pixels of a block share their window: equal levels give equal results.
    int lastLevel = -1;
    quint16 lastResult = 0;
    for (int y = Y * g.s; y < y1; ++y) {
        for (int x = X * g.s; x < x1; ++x) {
            const qint64 i = qint64(y) * g.W + x;
            const int v = std::min<int>(p.input[i], LC_LEVELS - 1);
            if (v != lastLevel) {
                const int w = p.valueWindow[v];
                const int lo = std::max(v - w, 0);
                const int hi = std::min(v + w / 2, LC_LEVELS - 1);
                double value = query(lo, hi) * scale;
                if (!(value > 0.0))
                    value = 0.0;
                lastResult = quint16(std::min(value, 65535.0));
                lastLevel = v;
            }
            p.output[i] = lastResult;
        }
    }
}

// Column histograms (counts of one window column over the window's rows) and
// window histograms, each on three levels: single levels, bins of 16 levels
// (with the sum of the level offsets inside the bin) and bins of 256 levels.
// The column histograms live in the task's scratch, zeroed here.
template <typename Count>
struct columnSet_t
{
    quint32 *coarseW;
    Count *fine, *coarse, *super;
    static size_t bytesFor(size_t n)
    {
        return n * LC_COARSE_BINS * sizeof(quint32)
               + n * (LC_LEVELS + LC_COARSE_BINS + LC_SUPER_BINS) * sizeof(Count);
    }
    columnSet_t(size_t n, unsigned char *store)
    {
        prefaultPages(store, bytesFor(n), true);
        std::memset(store, 0, bytesFor(n));
        coarseW = reinterpret_cast<quint32 *>(store);
        fine = reinterpret_cast<Count *>(coarseW + n * LC_COARSE_BINS);
        coarse = fine + n * LC_LEVELS;
        super = coarse + n * LC_COARSE_BINS;
    }
    void update(size_t c, int v, int d)
    {
        fine[c * LC_LEVELS + size_t(v)] = Count(fine[c * LC_LEVELS + size_t(v)] + d);
        coarse[c * LC_COARSE_BINS + size_t(v >> 4)] =
            Count(coarse[c * LC_COARSE_BINS + size_t(v >> 4)] + d);
        coarseW[c * LC_COARSE_BINS + size_t(v >> 4)] += quint32(d * (v & 15));
        super[c * LC_SUPER_BINS + size_t(v >> 8)] =
            Count(super[c * LC_SUPER_BINS + size_t(v >> 8)] + d);
    }
};

struct windowHist_t
{
    qint32 fine[LC_LEVELS];
    qint32 coarse[LC_COARSE_BINS];
    qint64 coarseW[LC_COARSE_BINS];
    qint32 super[LC_SUPER_BINS];

    void clear() { std::memset(this, 0, sizeof(*this)); }
    void update(int v, int d)
    {
        fine[v] += d;
        coarse[v >> 4] += d;
        coarseW[v >> 4] += d * (v & 15);
        super[v >> 8] += d;
    }
    template <typename Count>
    void addColumn(const columnSet_t<Count> &cols, size_t c, int sign)
    {
        const Count *f = &cols.fine[c * LC_LEVELS];
        for (int q = 0; q < LC_LEVELS; ++q)
            fine[q] += sign * qint32(f[q]);
        const Count *cc = &cols.coarse[c * LC_COARSE_BINS];
        const quint32 *cw = &cols.coarseW[c * LC_COARSE_BINS];
        for (int b = 0; b < LC_COARSE_BINS; ++b) {
            coarse[b] += sign * qint32(cc[b]);
            coarseW[b] += sign * qint64(cw[b]);
        }
        const Count *sp = &cols.super[c * LC_SUPER_BINS];
        for (int b = 0; b < LC_SUPER_BINS; ++b)
            super[b] += sign * qint32(sp[b]);
    }
};

// Adds (sign +1) or removes (-1) the bins of 16 and 256 levels of one column.
template <typename Count>
void addColumnBins(windowHist_t &w, const columnSet_t<Count> &cols, size_t c, int sign)
{
    const Count *cc = &cols.coarse[c * LC_COARSE_BINS];
    const quint32 *cw = &cols.coarseW[c * LC_COARSE_BINS];
    for (int b = 0; b < LC_COARSE_BINS; ++b) {
        w.coarse[b] += sign * qint32(cc[b]);
        w.coarseW[b] += sign * qint64(cw[b]);
    }
    const Count *sp = &cols.super[c * LC_SUPER_BINS];
    for (int b = 0; b < LC_SUPER_BINS; ++b)
        w.super[b] += sign * qint32(sp[b]);
}

// Samples below lo, times (hi - lo), plus the soft part over [lo, hi), divided
// by (hi - lo), over the sum of two histograms: the part the rows of a sweep
// share and one row's own correction.
double splitQuery(const windowHist_t &S, const windowHist_t &C, int lo, int hi)
{
    qint64 below = 0;
    const int sb = lo >> 8, cb = lo >> 4, hb = hi >> 4;
    for (int b = 0; b < sb; ++b)
        below += S.super[b] + C.super[b];
    for (int b = sb * 16; b < cb; ++b)
        below += S.coarse[b] + C.coarse[b];
    for (int q = cb * 16; q < lo; ++q)
        below += S.fine[q] + C.fine[q];
    qint64 soft = 0;
    if (cb == hb) {
        for (int q = lo; q < hi; ++q)
            soft += qint64(S.fine[q] + C.fine[q]) * (hi - q);
    } else {
        for (int q = lo; q < cb * 16 + 16; ++q)
            soft += qint64(S.fine[q] + C.fine[q]) * (hi - q);
        for (int b = cb + 1; b < hb; ++b)
            soft += qint64(hi - 16 * b) * (S.coarse[b] + C.coarse[b]) - (S.coarseW[b] + C.coarseW[b]);
        for (int q = hb * 16; q < hi; ++q)
            soft += qint64(S.fine[q] + C.fine[q]) * (hi - q);
    }
    const qint64 span = hi - lo;
    return (double(below) * span + double(soft)) / double(span);
}

// Rows handled by one sweep across the task's columns: the column histograms
// are read once for all of them.
constexpr int SWEEP_ROWS = 16;
constexpr int WINDOW_COUNT = SWEEP_ROWS + 2;

// Scratch bytes of a pass whose task touches L + 1 window columns.
template <typename Count>
size_t passScratchBytes(int L)
{
    return WINDOW_COUNT * sizeof(windowHist_t) + columnSet_t<Count>::bytesFor(size_t(L) + 1);
}

// One sweep's windows are split in two: the shared part, the column
// histograms (rows [Y0-r, Y0+r]) summed over the window's columns, and per
// row j a correction for the rows [Y0+j-r, Y0+j+r] the window really holds.
// The shared part's bins of 16 and 256 levels follow every step to the next
// column; its single levels are brought up to date one bin of 16 at a time,
// only when a query reads them. Every count stays an exact integer, so the
// results are those of a full window histogram.
template <typename Count>
taskResult_t slidingPass(const _localContrast_threadParams_t &p, const passGeometry_t &g)
{
    const int r = g.r;
    const int L = g.gb - g.ga + 2 * r; // window columns the task touches
    // Grid column of each window column (-1 outside the image).
    std::vector<int> act(size_t(L) + 1);
    for (int vi = 0; vi <= L; ++vi)
        act[size_t(vi)] = g.column(g.ga - r + vi);
    const int colsInBase = std::min(2 * r + 1, L + 1);

    // Rows' corrections [0, SWEEP_ROWS), the window at the first column and
    // row Y0, and the shared part, then the column histograms, all in the
    // task's scratch (kept by the driver from pass to pass).
    localContrastScratch_t ownScratch;
    localContrastScratch_t &scratch = p.scratch ? *p.scratch : ownScratch;
    unsigned char *store = scratch.reserve(passScratchBytes<Count>(L));
    windowHist_t *win = reinterpret_cast<windowHist_t *>(store);
    for (int j = 0; j < WINDOW_COUNT; ++j)
        new (win + j) windowHist_t();
    columnSet_t<Count> cols(size_t(L) + 1, store + WINDOW_COUNT * sizeof(windowHist_t));
    windowHist_t &base = win[SWEEP_ROWS];
    windowHist_t &shared = win[SWEEP_ROWS + 1];
    // The column at which each bin of the shared single levels is current.
    std::vector<int> fineAt(LC_COARSE_BINS);

    // Column histograms over rows [-r, r], and the first window.
    for (int vi = 0; vi <= L; ++vi) {
        if (act[size_t(vi)] < 0)
            continue;
        for (int gy = 0; gy <= std::min(r, g.GH - 1); ++gy)
            cols.update(size_t(vi), g.sample(p.input, act[size_t(vi)], gy), 1);
    }
    base.clear();
    for (int vi = 0; vi < colsInBase; ++vi)
        base.addColumn(cols, size_t(vi), 1);

    // Single levels of bin b of the shared part at column X: by the columns
    // that entered and left since it was last current, or summed afresh over
    // the window when that is fewer columns.
    auto fineBin = [&](int b, int X) {
        int &at = fineAt[size_t(b)];
        if (at == X)
            return;
        qint32 *f = shared.fine + b * 16;
        auto addSegment = [&](int vi, int sign) {
            const Count *c = &cols.fine[size_t(vi) * LC_LEVELS + size_t(b) * 16];
            for (int k = 0; k < 16; ++k)
                f[k] += sign * qint32(c[k]);
        };
        if (2 * (X - at) <= colsInBase) {
            for (int x = at + 1; x <= X; ++x) {
                const int vin = x - g.ga + 2 * r, vout = x - g.ga - 1;
                if (act[size_t(vin)] >= 0)
                    addSegment(vin, 1);
                if (act[size_t(vout)] >= 0)
                    addSegment(vout, -1);
            }
        } else {
            std::fill(f, f + 16, 0);
            for (int vi = X - g.ga; vi < X - g.ga + colsInBase; ++vi) {
                if (act[size_t(vi)] >= 0)
                    addSegment(vi, 1);
            }
        }
        at = X;
    };

    const qint64 taskPixels = qint64(std::min(g.gb * g.s, g.W) - g.ga * g.s);
    qint64 progressDone = 0;
    auto rowValid = [&](int gy) { return gy >= 0 && gy < g.GH; };

    for (int Y0 = 0; Y0 < g.GH; Y0 += SWEEP_ROWS) {
        const int nb = std::min(SWEEP_ROWS, g.GH - Y0);
        shared = base;
        std::fill(fineAt.begin(), fineAt.end(), g.ga);
        // Corrections of rows Y0 .. Y0+nb-1 at the first column.
        win[0].clear();
        for (int j = 1; j < nb; ++j) {
            win[size_t(j)] = win[size_t(j) - 1];
            const int add = Y0 + j + r, rem = Y0 + j - 1 - r;
            for (int vi = 0; vi < colsInBase; ++vi) {
                const int a = act[size_t(vi)];
                if (a < 0)
                    continue;
                if (rowValid(add))
                    win[size_t(j)].update(g.sample(p.input, a, add), 1);
                if (rowValid(rem))
                    win[size_t(j)].update(g.sample(p.input, a, rem), -1);
            }
        }
        for (int X = g.ga; X < g.gb; ++X) {
            if (X > g.ga) {
                const int vin = X - g.ga + 2 * r, vout = X - g.ga - 1;
                const int ain = act[size_t(vin)], aout = act[size_t(vout)];
                if (ain >= 0)
                    addColumnBins(shared, cols, size_t(vin), 1);
                if (aout >= 0)
                    addColumnBins(shared, cols, size_t(vout), -1);
                // The column histograms hold rows [Y0-r, Y0+r]; window j needs
                // rows [Y0+j-r, Y0+j+r].
                for (int t = 1; t < nb; ++t) {
                    const int add = Y0 + r + t, rem = Y0 - r + t - 1;
                    for (int side = 0; side < 2; ++side) {
                        const int a = side == 0 ? ain : aout;
                        const int sign = side == 0 ? 1 : -1;
                        if (a < 0)
                            continue;
                        const int va = rowValid(add) ? g.sample(p.input, a, add) : -1;
                        const int vr = rowValid(rem) ? g.sample(p.input, a, rem) : -1;
                        for (int j = t; j < nb; ++j) {
                            if (va >= 0)
                                win[size_t(j)].update(va, sign);
                            if (vr >= 0)
                                win[size_t(j)].update(vr, -sign);
                        }
                    }
                }
            }
            const qint64 nCols = g.validColumns(X);
            for (int j = 0; j < nb; ++j) {
                const windowHist_t &c = win[size_t(j)];
                const qint64 samples = nCols * g.validRows(Y0 + j);
                writeBlock(p, g, X, Y0 + j, std::max<qint64>(samples, 1),
                           [&](int lo, int hi) {
                               fineBin(lo >> 4, X);
                               fineBin(hi >> 4, X);
                               return splitQuery(shared, c, lo, hi);
                           });
            }
            if (stopRequested())
                return taskResult_t::cancelled;
        }
        // Move the column histograms (and the first window) down by nb rows.
        for (int vi = 0; vi <= L; ++vi) {
            const int a = act[size_t(vi)];
            if (a < 0)
                continue;
            for (int t = 0; t < nb; ++t) {
                const int rem = Y0 - r + t, add = Y0 + r + 1 + t;
                if (rowValid(rem)) {
                    const int v = g.sample(p.input, a, rem);
                    cols.update(size_t(vi), v, -1);
                    if (vi < colsInBase)
                        base.update(v, -1);
                }
                if (rowValid(add)) {
                    const int v = g.sample(p.input, a, add);
                    cols.update(size_t(vi), v, 1);
                    if (vi < colsInBase)
                        base.update(v, 1);
                }
            }
        }
        const qint64 target = taskPixels * (Y0 + nb) / g.GH;
        progressCounter.fetch_add(quint64(target - progressDone), std::memory_order_relaxed);
        progressDone = target;
    }
    return taskResult_t::done;
}

} // namespace

void localContrastValueWindow(int *table, bool fine)
{
    for (int i = 0; i < LC_LEVELS; ++i) {
        int v = fine ? 40 : int(0.2 * i);
        v = std::min(std::max(v, 80), 320);
        if (i > 1638)
            v = int((2047 - i) * double(v) / 409.0);
        table[i] = std::max(v, 40);
    }
}

int localContrastStep(bool fine, int width, int height)
{
    return (fine && std::min(width, height) < 2000) ? 1 : 2;
}

int localContrastRadius(int pass, int m)
{
    int k;
    switch (pass) {
    case 1:
        k = std::max(int(m / 8.5), 10);
        break;
    case 2:
        k = std::max(int(m / 50.0), 8);
        break;
    default:
        k = std::max(int(m / 2.8), 20);
        break;
    }
    return k & ~1;
}

void localContrastPrepareThread(const _localContrastPrepare_threadParams_t &p)
{
    if (p.end > p.start)
        prefaultPages(p.output + p.start, size_t(p.end - p.start) * sizeof(quint16), true);
    for (qint64 i = p.start; i < p.end; ++i) {
        const float *px = p.input + i * 3;
        const double R = px[0], G = px[1], B = px[2];
        double Y = 0.2126729 * R + 0.7151522 * G + 0.072175 * B;
        const double X = 0.4124564 * R + 0.3575761 * G + 0.1804375 * B;
        const double Z = 0.0193339 * R + 0.119192 * G + 0.9503041 * B;
        if (!(X + Y + Z > BLACK_LIMIT) || !(Y > 0.0))
            Y = 0.0;
        double v = std::pow(0.99 * Y, p.exponent);
        if (!(v > 0.0))
            v = 0.0;
        v = std::min(v, 1.0);
        p.output[i] = quint16(quint16(v * 65535.0) >> 5);
    }
}

void powHdrLumThread(const _powHdrLum_threadParams_t &p)
{
    if (p.end > p.start)
        prefaultPages(p.output + p.start, size_t(p.end - p.start) * sizeof(quint16), true);
    for (qint64 i = p.start; i < p.end; ++i) {
        const float *px = p.input + i * 3;
        double v = std::pow(0.3086 * px[0] + 0.6094 * px[1] + 0.082 * px[2], p.exponent);
        if (!(v > 0.0))
            v = 0.0;
        p.output[i] = quint16(std::min(v, 1.0) * 65535.0);
    }
}

namespace {

// Scratch bytes the task of a record needs (0 when it has no columns).
size_t scratchBytesOf(const _localContrast_threadParams_t &p)
{
    const passGeometry_t g = geometryOf(p);
    if (g.ga >= g.gb)
        return 0;
    const int L = g.gb - g.ga + 2 * g.r;
    return std::min(2 * g.r + 1, g.GH) <= 65535 ? passScratchBytes<quint16>(L)
                                                : passScratchBytes<quint32>(L);
}

} // namespace

taskResult_t localContrastThread(const _localContrast_threadParams_t &p)
{
    if (!p.input || !p.output || !p.valueWindow || p.width <= 0 || p.height <= 0)
        return taskResult_t::failed;
    const passGeometry_t g = geometryOf(p);
    if (g.ga >= g.gb)
        return taskResult_t::done;
    // A column histogram counts at most min(2r + 1, grid height) samples per bin.
    if (std::min(2 * g.r + 1, g.GH) <= 65535)
        return slidingPass<quint16>(p, g);
    return slidingPass<quint32>(p, g);
}

taskResult_t localContrastThreadReference(const _localContrast_threadParams_t &p)
{
    if (!p.input || !p.output || !p.valueWindow || p.width <= 0 || p.height <= 0)
        return taskResult_t::failed;
    const passGeometry_t g = geometryOf(p);
    std::vector<qint64> count(LC_LEVELS);
    for (int X = g.ga; X < g.gb; ++X) {
        for (int Y = 0; Y < g.GH; ++Y) {
            std::fill(count.begin(), count.end(), 0);
            qint64 samples = 0;
            for (int i = -g.r; i <= g.r; ++i) {
                const int gx = g.column(X + i);
                if (gx < 0)
                    continue;
                for (int j = -g.r; j <= g.r; ++j) {
                    if (Y + j < 0 || Y + j >= g.GH)
                        continue;
                    count[size_t(g.sample(p.input, gx, Y + j))]++;
                    ++samples;
                }
            }
            writeBlock(p, g, X, Y, std::max<qint64>(samples, 1), [&count](int lo, int hi) {
                double below = 0.0;
                for (int q = 0; q < lo; ++q)
                    below += double(count[size_t(q)]);
                for (int q = lo; q < hi; ++q)
                    below += double(count[size_t(q)]) * (1.0 - double(q - lo) / (hi - lo));
                return below;
            });
        }
        if (stopRequested())
            return taskResult_t::cancelled;
    }
    return taskResult_t::done;
}

taskResult_t computeLocalContrastMaps(const float *hdr, int width, int height, double lcCorrection,
                              bool panorama, quint16 *scratch, quint16 *fineMap,
                              quint16 *mediumMap, quint16 *coarseMap, int threads,
                              const std::vector<spareMemory_t> &spare)
{
    if (!hdr || !scratch || !fineMap || !mediumMap || !coarseMap || width <= 0 || height <= 0)
        return taskResult_t::failed;
    debugLog("Local Contrast (panorama mode = %d)...\n", int(panorama));
    debugLog("* preparing...\n");
    const qint64 total = qint64(width) * height;
    parallelRanges(total, threads,
                   [&](range_t r) {
                       _localContrastPrepare_threadParams_t p;
                       p.start = r.first;
                       p.end = r.end;
                       p.input = hdr;
                       p.output = scratch;
                       p.exponent = 0.75 * lcCorrection;
                       return p;
                   },
                   localContrastPrepareThread);

    const int m = std::min(width, height);
    struct
    {
        int pass;
        bool fine;
        quint16 *out;
    } passes[3] = {{1, false, mediumMap}, {2, true, fineMap}, {3, false, coarseMap}};
    std::vector<int> valueWindows[3];
    std::vector<_localContrast_threadParams_t> records[3];
    for (int i = 0; i < 3; ++i) {
        const auto &pass = passes[i];
        valueWindows[i].resize(LC_LEVELS);
        localContrastValueWindow(valueWindows[i].data(), pass.fine);
        const int s = localContrastStep(pass.fine, width, height);
        const int gridWidth = (width + s - 1) / s;
        for (const range_t &r : splitRanges(gridWidth, threads)) {
            _localContrast_threadParams_t p;
            p.width = width;
            p.height = height;
            p.firstColumn = int(r.first) * s;
            p.lastColumn = int(std::min<qint64>(r.end * s, width));
            p.input = scratch;
            p.output = pass.out;
            p.radius = localContrastRadius(pass.pass, m);
            p.panorama = panorama;
            p.fine = pass.fine;
            p.valueWindow = valueWindows[i].data();
            records[i].push_back(p);
        }
    }
    // Task k of every pass works in the same histograms, set up once at the
    // size the largest pass needs.
    size_t taskCount = 0;
    for (const auto &r : records)
        taskCount = std::max(taskCount, r.size());
    std::vector<localContrastScratch_t> histograms(taskCount);
    std::vector<size_t> bytes(taskCount, 0);
    for (auto &r : records) {
        for (size_t k = 0; k < r.size(); ++k) {
            r[k].scratch = &histograms[k];
            bytes[k] = std::max(bytes[k], scratchBytesOf(r[k]));
        }
    }
    // Each task's block from the spare memory while it lasts (first fit,
    // 64-byte aligned), the rest allocated.
    std::vector<spareMemory_t> left = spare;
    for (size_t k = 0; k < taskCount; ++k) {
        for (spareMemory_t &m : left) {
            unsigned char *begin = static_cast<unsigned char *>(m.data);
            const size_t skip = (64 - reinterpret_cast<uintptr_t>(begin) % 64) % 64;
            if (!begin || m.bytes < skip + bytes[k])
                continue;
            histograms[k].data = begin + skip;
            histograms[k].size = bytes[k];
            m.data = begin + skip + bytes[k];
            m.bytes -= skip + bytes[k];
            break;
        }
        histograms[k].reserve(bytes[k]);
    }
    // The maps are new memory: their pages are made present a block per task
    // in one call each, cheaper than a fault per page as the passes write.
    const quint16 *maps[3] = {mediumMap, fineMap, coarseMap};
    runRanges(total, threads, [&](range_t r, int) {
        for (const quint16 *map : maps)
            prefaultPages(map + r.first, size_t(r.end - r.first) * sizeof(quint16), true);
    });
    for (int i = 0; i < 3; ++i) {
        debugLog("* step %d (k=%d)...\n", passes[i].pass, localContrastRadius(passes[i].pass, m));
        const taskResult_t result = runThreadRecords(records[i], localContrastThread);
        if (result != taskResult_t::done)
            return result;
    }
    return taskResult_t::done;
}

taskResult_t computeMaskLuminance(const float *hdr, int width, int height, quint16 *scratch,
                          quint16 *maskMap, int threads)
{
    if (!hdr || !scratch || !maskMap || width <= 0 || height <= 0)
        return taskResult_t::failed;
    debugLog("Mask...\n");
    parallelRanges(qint64(width) * height, threads,
                   [&](range_t r) {
                       _powHdrLum_threadParams_t p;
                       p.start = r.first;
                       p.end = r.end;
                       p.input = hdr;
                       p.output = maskMap;
                       p.exponent = 2.0 / 3.0;
                       return p;
                   },
                   powHdrLumThread);

    // Range weights exp(-i / 65535 / (2 x 0.2^2)), spatial sigma 10 (2 sigma^2 = 200).
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    buildRangeWeights(0.2, range.data());
    double spatial[FILTER_WEIGHT_TAPS];
    const int radius = buildSpatialWeights(10.0, MASK_LUMINANCE_WEIGHT_CUTOFF, spatial);
    _bilateral_threadParams_t common{};
    common.width = width;
    common.height = height;
    common.opacity = 1.0;
    common.spatialWeights = spatial;
    common.radius = radius;
    common.rangeWeights = range.data();
    for (int pass = 0; pass < 2; ++pass) {
        const bool vertical = pass == 1;
        const taskResult_t result = parallelRanges(vertical ? width : height, threads,
                       [&](range_t r) {
                           _bilateral_threadParams_t p = common;
                           p.vertical = vertical;
                           p.input = vertical ? scratch : maskMap;
                           p.output = vertical ? maskMap : scratch;
                           p.first = int(r.first);
                           p.end = int(r.end);
                           return p;
                       },
                       bilateralGrayThread);
        if (result != taskResult_t::done)
            return result;
    }
    return taskResult_t::done;
}
