#include "project/filterKernels.h"

#include "app/sharedFlags.h"
#include "app/utils.h"
#include "project/parallelRanges.h"
#include "project/pyramid.h"
#include "project/tableSizes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>


namespace {

inline double clamp16(double v)
{
    return v < 0 ? 0 : (v > 65535 ? 65535 : v);
}

inline int taskCountOr(int taskCount)
{
    return taskCount > 0 ? taskCount : idealThreadCount(false);
}

inline int clampRadius(int r, int maximum)
{
    return r < 0 ? 0 : (r > maximum ? maximum : r);
}

// Gamma luminance of the detail image, in the 16-bit range the blur works in.
inline uint16_t detailLuminance(const float *rgb)
{
    const double mean = (double(rgb[0]) + rgb[1] + rgb[2]) / 3.0;
    if (!(mean > 0))
        return 0; // also NaN
    return uint16_t(std::min(65535.0, std::pow(mean, 0.45454545454545453) * 32767));
}

inline int16_t saturate16(double v)
{
    return int16_t(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

// Luminance and chroma of the bilateral and median filters.
struct ycc_t {
    double y, cr, cb;
};

inline ycc_t toYcc(const uint16_t *p)
{
    const double r = p[0], g = p[1], b = p[2];
    return {clamp16(0.299 * r + 0.587 * g + 0.114 * b), 0.5 * r - 0.4187 * g - 0.0813 * b,
            0.5 * b - 0.3313 * g - 0.1687 * r};
}

inline void fromYccBlend(double y, const ycc_t &c, const uint16_t *in, uint16_t *out, double opacity)
{
    const double rgb[3] = {clamp16(y + 1.402 * c.cr), clamp16(y - 0.34414 * c.cb - 0.71414 * c.cr),
                           clamp16(y + 1.772 * c.cb)};
    for (int k = 0; k < 3; ++k)
        out[k] = uint16_t((1 - opacity) * in[k] + opacity * rgb[k]);
}

// One recursive pass y = ((65535 - a) x + a y) >> 16 forward, then backward.
inline void recursiveRun(uint32_t *run, int64_t n, uint64_t a)
{
    uint64_t y = run[0];
    for (int64_t i = 0; i < n; ++i) {
        y = ((65535 - a) * run[i] + a * y) >> 16;
        run[i] = uint32_t(y);
    }
    y = run[n - 1];
    for (int64_t i = n - 1; i >= 0; --i) {
        y = ((65535 - a) * run[i] + a * y) >> 16;
        run[i] = uint32_t(y);
    }
}

} // namespace

// ---- Tables ----

int buildSpatialWeights(double sigma, double cutOff, double weights[FILTER_WEIGHT_TAPS])
{
    if (!(sigma > 0))
        sigma = 1e-6;
    double sum = 0;
    for (int i = 0; i < FILTER_WEIGHT_TAPS; ++i) {
        weights[i] = std::exp(-double(i) * i / (2 * sigma * sigma));
        if (i < FILTER_MAX_RADIUS)
            sum += weights[i];
    }
    for (int i = 0; i < FILTER_WEIGHT_TAPS; ++i)
        weights[i] /= sum;
    for (int i = 0; i < FILTER_MAX_RADIUS; ++i)
        if (weights[i] < cutOff)
            return i;
    return FILTER_MAX_RADIUS;
}

void buildRangeWeights(double t, double *range)
{
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
        range[i] = std::exp(-double(i) / 65535.0 / (2 * t * t));
}

int buildMedianShape(int shapeIndex, uint8_t shape[MEDIAN_GATHER_SIZE])
{
    if (shapeIndex < 0 || shapeIndex >= MEDIAN_SHAPE_COUNT)
        shapeIndex = 0;
    const int r = shapeIndex % 3 + 1;
    const int kind = shapeIndex < 9 ? shapeIndex / 3 : 3; // square, vertical, horizontal, cross
    const int size = 2 * r + 1;
    std::memset(shape, 0, MEDIAN_GATHER_SIZE);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool column = x == r, row = y == r;
            bool inside = false;
            switch (kind) {
            case 0: inside = true; break;
            case 1: inside = column; break;
            case 2: inside = row; break;
            default: inside = column || row; break;
            }
            shape[y * size + x] = inside ? 1 : 0;
        }
    return r;
}

// ---- Detail image ----

void unsharpMaskThread(int pass, const _unsharpMaskThreadParams_t &p)
{
    uint16_t *plain = reinterpret_cast<uint16_t *>(p.detail);
    for (int64_t i = p.start; i < p.end; ++i) {
        if (pass == 0) {
            const uint16_t v = detailLuminance(p.input + 3 * i);
            plain[i] = v;
            if (p.luminanceCopy)
                p.luminanceCopy[i] = v;
        } else {
            const double unfiltered = p.luminanceCopy ? p.luminanceCopy[i] : detailLuminance(p.input + 3 * i);
            const double blurred = plain[i];
            p.detail[i] = saturate16(std::trunc((unfiltered - blurred) * DETAIL_GAIN));
        }
    }
    ++progressCounter;
}

void unsharpMask(const float *input, int16_t *detail, uint16_t *luminanceCopy, int32_t width, int32_t height,
                 bool panorama, double &outFactor, double scale, int32_t referenceWidth, int32_t referenceHeight,
                 int taskCount)
{
    const double f = std::sqrt(std::max(0.0, std::min(referenceWidth, referenceHeight) / 600.0 * scale));
    outFactor = f < 1 ? f : 1;
    const double sigma = std::max(f, 1.0);
    if (width <= 0 || height <= 0)
        return;
    const int n = taskCountOr(taskCount);
    const int64_t pixels = int64_t(width) * height;
    auto make = [&](const range_t &r) {
        return _unsharpMaskThreadParams_t{r.first, r.end, input, detail, luminanceCopy};
    };
    parallelRanges(pixels, n, make, [](const _unsharpMaskThreadParams_t &p) { unsharpMaskThread(0, p); });
    recursiveGaussian16(height, panorama, sigma, reinterpret_cast<uint16_t *>(detail), width, n);
    parallelRanges(pixels, n, make, [](const _unsharpMaskThreadParams_t &p) { unsharpMaskThread(1, p); });
}

// ---- Recursive Gaussian ----

void recursiveGaussian16(int32_t height, bool panorama, double sigma, uint16_t *image, int32_t width, int taskCount)
{
    if (!image || width < 3 || height < 1 || !(sigma > 0))
        return;
    const double b = std::exp(std::log(0.5) / sigma * std::sqrt(2.0));
    if (!(b > 0) || !(b < 1))
        return;
    const uint64_t a = uint64_t(b * 65536 * b);
    if (a == 0)
        return;
    const int64_t w = width, h = height;

    // Rows. In panorama mode the run starts 2.5 sigma before column 0 and
    // ends 2.5 sigma after the last column, wrapping round, so that the two
    // edges of a 360-degree panorama blur into each other.
    int64_t from = 0, to = w - 1;
    if (panorama) {
        const int64_t extra = int64_t(2.5 * sigma);
        from = -extra;
        to = std::min(w - 1 + extra, 2 * (w - 1));
    }
    const int64_t runLength = to - from + 1;
    const int64_t period = w - 1;
    // Columns are filtered in blocks of COLUMN_BLOCK, read and written a row
    // at a time, so that the column pass walks along rows of the image.
    constexpr int64_t COLUMN_BLOCK = 32;
    const int64_t columnBlocks = (w - 1 + COLUMN_BLOCK - 1) / COLUMN_BLOCK;
    // Two passes through the program's task runner (its thread count, not
    // OpenMP's): rows split among the tasks, then the column blocks.
    const int n = taskCountOr(taskCount);
    runTasks(int(std::min<int64_t>(n, h)), [&](int t) {
        std::vector<uint32_t> run(static_cast<size_t>(runLength));
        const range_t rows = taskRange(h, int(std::min<int64_t>(n, h)), t);
        for (int64_t y = rows.first; y < rows.end; ++y) {
            uint16_t *row = image + y * w;
            for (int64_t i = 0; i < runLength; ++i) {
                int64_t x = from + i;
                if (panorama)
                    x = ((x % period) + period) % period;
                run[size_t(i)] = row[x];
            }
            recursiveRun(run.data(), runLength, a);
            for (int64_t x = 1; x <= w - 2; ++x)
                row[x] = uint16_t(run[size_t(x - from)]);
        }
    });
    const int blockTasks = int(std::min<int64_t>(n, columnBlocks));
    runTasks(blockTasks, [&](int t) {
        std::vector<uint32_t> block(static_cast<size_t>(COLUMN_BLOCK * h));
        const range_t blocks = taskRange(columnBlocks, blockTasks, t);
        for (int64_t blockIndex = blocks.first; blockIndex < blocks.end; ++blockIndex) {
            const int64_t x0 = 1 + blockIndex * COLUMN_BLOCK;
            const int64_t cols = std::min(COLUMN_BLOCK, w - x0);
            for (int64_t y = 0; y < h; ++y) {
                const uint16_t *src = image + y * w + x0;
                for (int64_t c = 0; c < cols; ++c)
                    block[size_t(c * h + y)] = src[c];
            }
            for (int64_t c = 0; c < cols; ++c)
                recursiveRun(block.data() + c * h, h, a);
            for (int64_t y = 0; y < h; ++y) {
                uint16_t *dst = image + y * w + x0;
                for (int64_t c = 0; c < cols; ++c)
                    dst[c] = uint16_t(block[size_t(c * h + y)]);
            }
        }
    });
    for (int64_t y = 0; y < h; ++y) {
        uint16_t *row = image + y * w;
        row[w - 1] = row[w - 2];
        row[0] = row[1];
    }
}

// ---- Integer Gaussian ----

void gaussianKernelInt(uint8_t *image, uint8_t *scratch, int32_t width, int32_t height, int32_t radius)
{
    if (!image || !scratch || width <= 0 || height <= 0 || radius < 1)
        return;
    const int r = radius;
    std::vector<int64_t> k(size_t(2 * r + 1));
    int64_t kernelSum = 0;
    const double s = 0.35 * r;
    for (int j = -r; j <= r; ++j) {
        k[size_t(j + r)] = int64_t(std::exp(-double(j) * j / (2 * s * s)) * 256);
        kernelSum += k[size_t(j + r)];
    }
    const int64_t w = width, h = height;
#pragma omp parallel for schedule(static)
    for (int64_t y = 0; y < h; ++y) {
        const uint8_t *in = image + y * w;
        uint8_t *out = scratch + y * w;
        for (int64_t x = 0; x < w; ++x) {
            int64_t sum = 0, outside = 0;
            for (int j = -r; j <= r; ++j) {
                const int64_t xx = x + j;
                if (xx < 0 || xx >= w)
                    outside += k[size_t(j + r)];
                else
                    sum += in[xx] * k[size_t(j + r)];
            }
            out[x] = uint8_t(sum / (kernelSum - outside));
        }
    }
#pragma omp parallel for schedule(static)
    for (int64_t y = 0; y < h; ++y) {
        uint8_t *out = image + y * w;
        for (int64_t x = 0; x < w; ++x) {
            int64_t sum = 0, outside = 0;
            for (int j = -r; j <= r; ++j) {
                const int64_t yy = y + j;
                if (yy < 0 || yy >= h)
                    outside += k[size_t(j + r)];
                else
                    sum += scratch[yy * w + x] * k[size_t(j + r)];
            }
            out[x] = uint8_t(sum / (kernelSum - outside));
        }
    }
}

// ---- Block averages ----

void parallelFor(int32_t c, int32_t width, int32_t height, const uint16_t *source, uint16_t *destination)
{
    if (c < 1 || width <= 0 || height <= 0 || !source || !destination)
        return;
    const int64_t w = width, h = height;
    const int64_t ow = (w + c - 1) / c, oh = (h + c - 1) / c;
#pragma omp parallel for schedule(static)
    for (int64_t oy = 0; oy < oh; ++oy) {
        for (int64_t ox = 0; ox < ow; ++ox) {
            double sum[3] = {0, 0, 0};
            int64_t count = 0;
            for (int64_t y = oy * c; y < std::min(h, (oy + 1) * c); ++y)
                for (int64_t x = ox * c; x < std::min(w, (ox + 1) * c); ++x) {
                    const uint16_t *p = source + (y * w + x) * 3;
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                    ++count;
                }
            uint16_t *out = destination + (oy * ow + ox) * 3;
            for (int k = 0; k < 3; ++k)
                out[k] = uint16_t(clamp16(sum[k] / double(count)));
        }
    }
}

void boxDownsampleToRgb16(int32_t c, int32_t width, int32_t height, const float *source, bool fromXyY,
                          double weight, uint16_t *destination)
{
    if (c < 1 || width <= 0 || height <= 0 || !source || !destination)
        return;
    const int64_t w = width, h = height;
    const int64_t ow = (w + c - 1) / c, oh = (h + c - 1) / c;
#pragma omp parallel for schedule(static)
    for (int64_t oy = 0; oy < oh; ++oy) {
        for (int64_t ox = 0; ox < ow; ++ox) {
            double sum[3] = {0, 0, 0};
            int64_t count = 0;
            for (int64_t y = oy * c; y < std::min(h, (oy + 1) * c); ++y)
                for (int64_t x = ox * c; x < std::min(w, (ox + 1) * c); ++x) {
                    const float *p = source + (y * w + x) * 3;
                    double rgb[3] = {p[0], p[1], p[2]};
                    if (fromXyY) {
                        const double cx = p[0], cy = p[1], lum = p[2];
                        if (cy < 9.999999747378752e-6) {
                            rgb[0] = rgb[1] = rgb[2] = 0;
                        } else {
                            const double X = lum * cx / cy, Z = (1 - cx - cy) * lum / cy;
                            rgb[0] = 3.2404542 * X - 1.5371385 * lum - 0.4985314 * Z;
                            rgb[1] = -0.969266 * X + 1.8760108 * lum + 0.041556 * Z;
                            rgb[2] = 0.0556434 * X - 0.2040259 * lum + 1.0572252 * Z;
                            for (double &v : rgb)
                                v = v < 0 ? 0 : (v > 1 ? 1 : v);
                        }
                    }
                    for (int k = 0; k < 3; ++k)
                        sum[k] += rgb[k] * weight;
                    ++count;
                }
            uint16_t *out = destination + (oy * ow + ox) * 3;
            for (int k = 0; k < 3; ++k) {
                const double v = sum[k] / double(count) * 65535;
                out[k] = uint16_t(v != v ? 0 : clamp16(v));
            }
        }
    }
}

// ---- Bilateral ----

namespace {

// v / 65535.0 for every 16-bit value: the grey bilateral reads it per tap.
const double *unitScaleTable()
{
    static const std::vector<double> table = [] {
        std::vector<double> t(SAMPLE_TABLE_SIZE);
        for (int v = 0; v < SAMPLE_TABLE_SIZE; ++v)
            t[size_t(v)] = int64_t(v) / 65535.0;
        return t;
    }();
    return table.data();
}

// The grey bilateral's sums of N neighbouring pixels over their taps kFrom ..
// kTo: tap k of pixel j is taps[j + k * step], its centre value centre[j].
// Each pixel adds its taps in order with the same roundings as one pixel at a
// time; the N pixels' additions do not wait for each other.
template <int N>
inline void bilateralSums(const uint16_t *centre, const uint16_t *taps, int64_t step, int kFrom, int kTo,
                          const double *spatial, const double *range, const double *unit, double *sums,
                          double *weightSums)
{
    double s[N], ws[N];
    int64_t c[N];
    for (int j = 0; j < N; ++j) {
        s[j] = 0;
        ws[j] = 0;
        c[j] = centre[j];
    }
    for (int k = kFrom; k <= kTo; ++k) {
        const double spatialWeight = spatial[std::abs(k)];
        const uint16_t *tap = taps + k * step;
        for (int j = 0; j < N; ++j) {
            const int64_t d = tap[j];
            const double wgt = spatialWeight * range[std::abs(d - c[j])];
            s[j] += unit[d] * wgt;
            ws[j] += wgt;
        }
    }
    for (int j = 0; j < N; ++j) {
        sums[j] = s[j];
        weightSums[j] = ws[j];
    }
}

constexpr int BILATERAL_BLOCK = 4;

} // namespace

taskResult_t bilateralGrayThread(const _bilateral_threadParams_t &p)
{
    const int64_t w = p.width, h = p.height;
    const int r = clampRadius(p.radius, FILTER_MAX_RADIUS);
    const double *unit = unitScaleTable();
    const double *spatial = p.spatialWeights;
    // The range weight by the distance |d - c| of two values.
    std::vector<double> rangeByDistance(SAMPLE_TABLE_SIZE);
    for (int64_t e = 0; e < SAMPLE_TABLE_SIZE; ++e)
        rangeByDistance[size_t(e)] = p.rangeWeights[e * e / 65535];
    const double *range = rangeByDistance.data();
    auto finish = [&p](int64_t c, double sum, double weights) {
        const double result = weights > 0 ? clamp16(sum / weights * 65535) : double(c);
        return uint16_t((1 - p.opacity) * c + p.opacity * result);
    };
    constexpr int B = BILATERAL_BLOCK;
    double sums[B], weightSums[B];

    if (!p.vertical) {
        if (p.end > p.first)
            prefaultPages(p.output + int64_t(p.first) * w, size_t(p.end - p.first) * size_t(w) * sizeof(uint16_t),
                          true);
        for (int64_t line = p.first; line < p.end; ++line) {
            if (breakFlag || abortBackgroundFlag)
                return taskResult_t::cancelled;
            const uint16_t *in = p.input + line * w;
            uint16_t *out = p.output + line * w;
            int64_t i = 0;
            while (i < w) {
                // Pixels whose taps all lie inside the row go B at a time.
                if (i >= r && i + B - 1 + r <= w - 1) {
                    bilateralSums<B>(in + i, in + i, 1, -r, r, spatial, range, unit, sums, weightSums);
                    for (int j = 0; j < B; ++j)
                        out[i + j] = finish(in[i + j], sums[j], weightSums[j]);
                    i += B;
                } else {
                    const int kFrom = int(std::max<int64_t>(-r, -i)), kTo = int(std::min<int64_t>(r, w - 1 - i));
                    bilateralSums<1>(in + i, in + i, 1, kFrom, kTo, spatial, range, unit, sums, weightSums);
                    out[i] = finish(in[i], sums[0], weightSums[0]);
                    ++i;
                }
            }
            ++progressCounter;
        }
        return taskResult_t::done;
    }

    // Along columns: the task's columns are walked a row at a time, B columns
    // side by side, so that every tap reads along a row; each pixel adds its
    // taps from the top one down, as along rows.
    const int64_t first = p.first, cols = int64_t(p.end) - p.first;
    if (cols <= 0)
        return taskResult_t::done;
    int64_t reported = 0;
    for (int64_t y = 0; y < h; ++y) {
        if (breakFlag || abortBackgroundFlag)
            return taskResult_t::cancelled;
        const uint16_t *centre = p.input + y * w + first;
        const int kFrom = int(std::max<int64_t>(-r, -y)), kTo = int(std::min<int64_t>(r, h - 1 - y));
        uint16_t *out = p.output + y * w + first;
        int64_t x = 0;
        for (; x + B <= cols; x += B) {
            bilateralSums<B>(centre + x, centre + x, w, kFrom, kTo, spatial, range, unit, sums, weightSums);
            for (int j = 0; j < B; ++j)
                out[x + j] = finish(centre[x + j], sums[j], weightSums[j]);
        }
        for (; x < cols; ++x) {
            bilateralSums<1>(centre + x, centre + x, w, kFrom, kTo, spatial, range, unit, sums, weightSums);
            out[x] = finish(centre[x], sums[0], weightSums[0]);
        }
        // One step per column over the whole pass, as along rows.
        const int64_t target = cols * (y + 1) / h;
        progressCounter += uint64_t(target - reported);
        reported = target;
    }
    return taskResult_t::done;
}

void bilateralRgbThread(const _bilateral_threadParams_t &p)
{
    const int64_t w = p.width, h = p.height;
    const int r = clampRadius(p.radius, FILTER_MAX_RADIUS);
    auto filterPixel = [&](const uint16_t *in, uint16_t *out, int64_t c, const int32_t *neighbours, int64_t stride,
                           int kFrom, int kTo) {
        double sum = 0, weights = 0;
        for (int k = kFrom; k <= kTo; ++k) {
            const int64_t d = neighbours[k * stride];
            const double wgt = p.spatialWeights[std::abs(k)] * p.rangeWeights[(d - c) * (d - c) / 65535];
            sum += d / 65535.0 * wgt;
            weights += wgt;
        }
        const double y = weights > 0 ? clamp16(sum / weights * 65535) : double(c);
        fromYccBlend(y, toYcc(in), in, out, p.opacity);
    };

    if (!p.vertical) {
        std::vector<int32_t> lum(static_cast<size_t>(w));
        for (int64_t y = p.first; y < p.end; ++y) {
            const uint16_t *in = p.input + 3 * y * w;
            uint16_t *out = p.output + 3 * y * w;
            for (int64_t x = 0; x < w; ++x)
                lum[size_t(x)] = int32_t(toYcc(in + 3 * x).y);
            for (int64_t x = 0; x < w; ++x) {
                const int kFrom = int(std::max<int64_t>(-r, -x)), kTo = int(std::min<int64_t>(r, w - 1 - x));
                filterPixel(in + 3 * x, out + 3 * x, lum[size_t(x)], lum.data() + x, 1, kFrom, kTo);
            }
            ++progressCounter;
        }
        return;
    }

    // Along columns: rows are walked in the outer loop so that every tap
    // reads along a row; the luminance of the 2r + 1 rows around the current
    // one is kept in a ring.
    const int64_t cols = int64_t(p.end) - p.first;
    if (cols <= 0)
        return;
    const int64_t ringRows = 2 * r + 1;
    std::vector<int32_t> ring(size_t(ringRows * cols));
    auto fillRow = [&](int64_t row) {
        int32_t *dst = ring.data() + (row % ringRows) * cols;
        const uint16_t *src = p.input + 3 * (row * w + p.first);
        for (int64_t i = 0; i < cols; ++i)
            dst[i] = int32_t(toYcc(src + 3 * i).y);
    };
    for (int64_t row = 0; row < std::min<int64_t>(r, h); ++row)
        fillRow(row);
    std::vector<int32_t> column(static_cast<size_t>(ringRows));
    uint64_t reported = 0;
    for (int64_t y = 0; y < h; ++y) {
        if (y + r < h)
            fillRow(y + r);
        const int kFrom = int(std::max<int64_t>(-r, -y)), kTo = int(std::min<int64_t>(r, h - 1 - y));
        for (int64_t i = 0; i < cols; ++i) {
            for (int k = kFrom; k <= kTo; ++k)
                column[size_t(k + r)] = ring[size_t(((y + k) % ringRows) * cols + i)];
            const int64_t at = 3 * (y * w + p.first + i);
            filterPixel(p.input + at, p.output + at, column[size_t(r)], column.data() + r, 1, kFrom, kTo);
        }
        // Progress in columns, spread evenly over the rows.
        const uint64_t done = uint64_t(cols) * uint64_t(y + 1) / uint64_t(h);
        progressCounter += done - reported;
        reported = done;
    }
}

// ---- Separable convolution ----

void separableConvolution3Thread(const _separableConvolution3_threadParams_t &p)
{
    const int64_t w = p.width, h = p.height;
    const int r = clampRadius(p.radius, FILTER_MAX_RADIUS);
    const int64_t length = p.vertical ? h : w;
    // The taps of position i along the pass: k from -r to r - 1 inside the image.
    auto tapRange = [&](int64_t i, int &kFrom, int &kTo, double &weights) {
        kFrom = int(std::max<int64_t>(-r, -i));
        kTo = int(std::min<int64_t>(r - 1, length - 1 - i));
        weights = 0;
        for (int k = kFrom; k <= kTo; ++k)
            weights += p.weights[std::abs(k)];
    };
    auto store = [&](const uint16_t *own, uint16_t *out, const double sum[3], double weights) {
        double mean[3];
        for (int c = 0; c < 3; ++c)
            mean[c] = weights > 0 ? clamp16(sum[c] / weights) : own[c];
        if (!p.vertical) {
            for (int c = 0; c < 3; ++c)
                out[c] = uint16_t(mean[c]);
        } else if (p.mode == 0) {
            for (int c = 0; c < 3; ++c)
                out[c] = uint16_t((1 - p.amount) * out[c] + p.amount * mean[c]);
        } else {
            int64_t d[3];
            for (int c = 0; c < 3; ++c)
                d[c] = int64_t(out[c]) - int64_t(mean[c]);
            const double o = (std::llabs(d[0]) + std::llabs(d[1]) + std::llabs(d[2])) / 3.0 / 65535.0;
            if (o > p.threshold) {
                const double gain = p.amount * (1 - std::fabs(o - p.threshold));
                for (int c = 0; c < 3; ++c)
                    out[c] = uint16_t(clamp16(std::trunc(d[c] * gain + out[c])));
            }
        }
    };

    if (!p.vertical) {
        for (int64_t y = p.first; y < p.end; ++y) {
            const uint16_t *in = p.input + 3 * y * w;
            uint16_t *out = p.output + 3 * y * w;
            for (int64_t x = 0; x < w; ++x) {
                int kFrom, kTo;
                double weights;
                tapRange(x, kFrom, kTo, weights);
                double sum[3] = {0, 0, 0};
                for (int k = kFrom; k <= kTo; ++k) {
                    const uint16_t *s = in + 3 * (x + k);
                    const double wgt = p.weights[std::abs(k)];
                    sum[0] += s[0] * wgt;
                    sum[1] += s[1] * wgt;
                    sum[2] += s[2] * wgt;
                }
                store(in + 3 * x, out + 3 * x, sum, weights);
            }
            ++progressCounter;
        }
        return;
    }

    // Along columns, rows walked in the outer loop (every tap reads along a
    // row); the taps and their weight sum depend only on the row.
    const int64_t cols = int64_t(p.end) - p.first;
    if (cols <= 0)
        return;
    std::vector<double> sums(size_t(3 * cols));
    uint64_t reported = 0;
    for (int64_t y = 0; y < h; ++y) {
        int kFrom, kTo;
        double weights;
        tapRange(y, kFrom, kTo, weights);
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int k = kFrom; k <= kTo; ++k) {
            const double wgt = p.weights[std::abs(k)];
            const uint16_t *s = p.input + 3 * ((y + k) * w + p.first);
            for (int64_t i = 0; i < 3 * cols; ++i)
                sums[size_t(i)] += s[i] * wgt;
        }
        for (int64_t i = 0; i < cols; ++i) {
            const int64_t at = 3 * (y * w + p.first + i);
            store(p.input + at, p.output + at, sums.data() + 3 * i, weights);
        }
        const uint64_t done = uint64_t(cols) * uint64_t(y + 1) / uint64_t(h);
        progressCounter += done - reported;
        reported = done;
    }
}

// ---- Median ----

void quickSortInt(int *a, int first, int last)
{
    if (a && first < last)
        std::sort(a + first, a + last + 1);
}

void medianThread(const _median_threadParams_t &p)
{
    const int64_t w = p.width, h = p.height;
    const int r = clampRadius(p.radius, MEDIAN_MAX_RADIUS);
    const int size = 2 * r + 1;
    // Luminance of the rows first - r .. end + r, computed once.
    const int64_t lumFirst = std::max<int64_t>(0, int64_t(p.firstRow) - r);
    const int64_t lumEnd = std::min<int64_t>(h, int64_t(p.endRow) + r);
    if (lumEnd <= lumFirst)
        return;
    std::vector<int32_t> lum(size_t((lumEnd - lumFirst) * w));
    for (int64_t y = lumFirst; y < lumEnd; ++y)
        for (int64_t x = 0; x < w; ++x)
            lum[size_t((y - lumFirst) * w + x)] = int32_t(toYcc(p.input + 3 * (y * w + x)).y);
    int gathered[MEDIAN_GATHER_SIZE];
    for (int64_t y = p.firstRow; y < p.endRow; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            int count = 0;
            int64_t sum = 0;
            for (int dy = -r; dy <= r; ++dy) {
                const int64_t yy = y + dy;
                if (yy < 0 || yy >= h)
                    continue;
                const int32_t *row = lum.data() + (yy - lumFirst) * w;
                const uint8_t *shapeRow = p.shape + (dy + r) * size + r;
                for (int dx = -r; dx <= r; ++dx) {
                    const int64_t xx = x + dx;
                    if (xx < 0 || xx >= w || !shapeRow[dx])
                        continue;
                    gathered[count++] = row[xx];
                    sum += row[xx];
                }
            }
            if (count < 2)
                continue; // nothing around the centre to compare with
            const int centreY = lum[size_t((y - lumFirst) * w + x)];
            const double othersMean = double(sum - centreY) / (count - 1);
            if (p.threshold < std::fabs(othersMean - centreY) / 65535.0) {
                // The middle of the sorted values; nth_element finds the same one.
                std::nth_element(gathered, gathered + count / 2, gathered + count);
                const int64_t at = 3 * (y * w + x);
                fromYccBlend(gathered[count / 2], toYcc(p.input + at), p.input + at, p.output + at, p.opacity);
            }
        }
        ++progressCounter;
    }
}

// ---- Sample / target balance ----

void sampleTargetBalanceThread(const _sampleTargetBalance_threadParams_t &p)
{
    const int64_t w = p.width;
    for (int64_t y = p.firstRow; y < p.endRow; ++y) {
        uint16_t *row = p.image + 3 * y * w;
        for (int64_t x = 0; x < w; ++x) {
            uint16_t *px = row + 3 * x;
            const double rgb[3] = {px[0] / 65535.0, px[1] / 65535.0, px[2] / 65535.0};
            const double L = 0.3086 * rgb[0] + 0.6094 * rgb[1] + 0.082 * rgb[2];
            const double ws = (1 - L) * (1 - L), wh = L * L, wm = 1 - 4 * (L - 0.5) * (L - 0.5);
            for (int c = 0; c < 3; ++c) {
                double v = rgb[c];
                const double *s = p.sample[c], *t = p.target[c];
                if (s[0] != 0 && t[0] != 0)
                    v = v * ws * t[0] / s[0] + (1 - ws) * v;
                if (s[1] != 0 && t[1] != 0)
                    v = v * wm * t[1] / (s[1] + 0.01) + (1 - wm) * v;
                if (s[2] != 0 && t[2] != 0)
                    v = v * wh * t[2] / (s[2] + 0.01) + (1 - wh) * v;
                v = std::min(v, 1.0);
                px[c] = uint16_t(clamp16(((1 - p.opacity) * rgb[c] + p.opacity * v) * 65535));
            }
        }
        ++progressCounter;
    }
}

// ---- Flood fill ----

void floodFillAt(uint8_t *mask, int32_t width, int32_t height, int32_t x, int32_t y, uint8_t value)
{
    if (!mask || x < 0 || y < 0 || x >= width || y >= height)
        return;
    const int64_t w = width, h = height;
    const uint8_t target = mask[int64_t(y) * w + x];
    if (target == value)
        return;
    // Scanline fill with an explicit stack of seeds: every pushed seed is a
    // pixel of the target value; each pop fills the whole run through it.
    std::vector<std::pair<int32_t, int32_t>> stack;
    stack.emplace_back(x, y);
    while (!stack.empty()) {
        const auto [sx, sy] = stack.back();
        stack.pop_back();
        uint8_t *row = mask + int64_t(sy) * w;
        if (row[sx] != target)
            continue;
        int64_t left = sx, right = sx;
        while (left > 0 && row[left - 1] == target)
            --left;
        while (right < w - 1 && row[right + 1] == target)
            ++right;
        std::memset(row + left, value, size_t(right - left + 1));
        for (int dy : {-1, 1}) {
            const int64_t ny = sy + dy;
            if (ny < 0 || ny >= h)
                continue;
            const uint8_t *next = mask + ny * w;
            // One seed per run of matching pixels on the neighbour row.
            for (int64_t i = left; i <= right; ++i)
                if (next[i] == target && (i == left || next[i - 1] != target))
                    stack.emplace_back(int32_t(i), int32_t(ny));
        }
    }
}

// ---- Drivers ----

namespace {

template <typename Record, typename Kernel>
void runPass(Record common, int64_t lines, int n, Kernel kernel)
{
    parallelRanges(lines, n,
                   [&](const range_t &r) {
                       Record rec = common;
                       rec.first = int32_t(r.first);
                       rec.end = int32_t(r.end);
                       return rec;
                   },
                   kernel);
}

void separableRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                    int mode, double amount, double threshold, int taskCount)
{
    if (!image || !scratch || width <= 0 || height <= 0)
        return;
    double weights[FILTER_WEIGHT_TAPS];
    const int radius = buildSpatialWeights(sigma, POSTPROCESS_WEIGHT_CUTOFF, weights);
    const int n = taskCountOr(taskCount);
    _separableConvolution3_threadParams_t p{mode, false, image, scratch, width, height, 0, 0,
                                            amount, threshold, weights, radius};
    runPass(p, height, n, separableConvolution3Thread);
    p.vertical = true;
    p.input = scratch;
    p.output = image;
    runPass(p, width, n, separableConvolution3Thread);
}

} // namespace

void gaussianBlurRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                       double opacity, int taskCount)
{
    separableRgb16(image, scratch, width, height, sigma, 0, opacity, 0, taskCount);
}

void sharpenRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                  double amount, double threshold, int taskCount)
{
    separableRgb16(image, scratch, width, height, sigma, 1, amount, threshold, taskCount);
}

void bilateralRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, double sigma,
                    double threshold, double opacity, int taskCount)
{
    if (!image || !scratch || width <= 0 || height <= 0)
        return;
    double spatial[FILTER_WEIGHT_TAPS];
    const int radius = buildSpatialWeights(sigma, POSTPROCESS_WEIGHT_CUTOFF, spatial);
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    buildRangeWeights(threshold / 10, range.data());
    const int n = taskCountOr(taskCount);
    _bilateral_threadParams_t p{false, image, scratch, width, height, 0, 0, opacity, spatial, radius, range.data()};
    runPass(p, height, n, bilateralRgbThread);
    p.vertical = true;
    p.input = scratch;
    p.output = image;
    runPass(p, width, n, bilateralRgbThread);
}

void medianRgb16(uint16_t *image, uint16_t *scratch, int32_t width, int32_t height, int shapeIndex,
                 double threshold, double opacity, int taskCount)
{
    if (!image || !scratch || width <= 0 || height <= 0)
        return;
    uint8_t shape[MEDIAN_GATHER_SIZE];
    const int radius = buildMedianShape(shapeIndex, shape);
    std::memcpy(scratch, image, size_t(width) * size_t(height) * 3 * sizeof(uint16_t));
    const _median_threadParams_t common{scratch, image, width, height, 0, 0, opacity, threshold, shape, radius};
    parallelRanges(height, taskCountOr(taskCount),
                   [&](const range_t &r) {
                       _median_threadParams_t rec = common;
                       rec.firstRow = int32_t(r.first);
                       rec.endRow = int32_t(r.end);
                       return rec;
                   },
                   medianThread);
}

void sampleTargetBalanceRgb16(const _sampleTargetBalance_threadParams_t &settings, int taskCount)
{
    if (!settings.image || settings.width <= 0 || settings.height <= 0)
        return;
    parallelRanges(settings.height, taskCountOr(taskCount),
                   [&](const range_t &r) {
                       _sampleTargetBalance_threadParams_t rec = settings;
                       rec.firstRow = int32_t(r.first);
                       rec.endRow = int32_t(r.end);
                       return rec;
                   },
                   sampleTargetBalanceThread);
}
