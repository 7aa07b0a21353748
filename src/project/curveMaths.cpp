#include "project/curveMaths.h"

#include "app/debugLog.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace {

// Clamps a coordinate read from a list (possibly from a file) to lo..hi; NaN
// becomes lo.
double clampCoordinate(double v, double lo, double hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

// A divisor that is a spacing, a span of spacings or a pivot: values too close
// to zero are replaced by 0.01 whatever their sign.
double guarded(double d)
{
    return std::fabs(d) < 0.01 ? 0.01 : d;
}

double clamp01(double v)
{
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

} // namespace

bool curveToTable(double *table, int n, const QList<QPointF> &points, int mode)
{
    if (!table || n < 2) {
        debugLog("%s: invalid table size %d\n", "curveToTable", n);
        return false;
    }
    const int count = points.size();
    if (count > CURVE_MAX_POINTS) {
        debugLog("%s: too many curve points (%d, at most %d)\n", "curveToTable", count,
                 CURVE_MAX_POINTS);
        return false;
    }
    if (mode != CURVE_SPLINE && mode != CURVE_LINEAR)
        return true; // the table is left exactly as it was

    // Fixed working storage: no allocation on the editors' mouse-move path.
    double x[CURVE_MAX_POINTS] = {}, y[CURVE_MAX_POINTS] = {};
    for (int k = 0; k < count; ++k) {
        x[k] = clampCoordinate(points[k].x(), 0.0, 1.0);
        y[k] = clampCoordinate(points[k].y(), 0.0, 1.0);
    }
    if (count == 0) {
        for (int i = 0; i < n; ++i)
            table[i] = double(i) / (n - 1);
        return true;
    }
    if (count == 1) {
        std::fill(table, table + n, y[0]);
        return true;
    }

    double h[CURVE_MAX_POINTS] = {}, hg[CURVE_MAX_POINTS] = {};
    for (int k = 0; k < count - 1; ++k) {
        h[k] = x[k + 1] - x[k];
        hg[k] = guarded(h[k]);
    }

    // Natural cubic spline: one tridiagonal row per interior point in the
    // unknowns m_j (a sixth of the second derivative), m_0 = m_{n-1} = 0.
    double mu[CURVE_MAX_POINTS] = {}, lambda[CURVE_MAX_POINTS] = {}, r[CURVE_MAX_POINTS] = {};
    double e[CURVE_MAX_POINTS] = {}, g[CURVE_MAX_POINTS] = {}, m[CURVE_MAX_POINTS] = {};
    double b[CURVE_MAX_POINTS] = {}, c[CURVE_MAX_POINTS] = {}, d[CURVE_MAX_POINTS] = {};
    if (mode == CURVE_SPLINE && count > 2) {
        for (int j = 1; j <= count - 2; ++j) {
            const double span = guarded(x[j + 1] - x[j - 1]);
            mu[j] = h[j - 1] / span;
            lambda[j] = h[j] / span;
            r[j] = ((y[j + 1] - y[j]) / hg[j] - (y[j] - y[j - 1]) / hg[j - 1])
                   / guarded(hg[j - 1] + hg[j]);
        }
        e[1] = lambda[1] / 2.0;
        g[1] = r[1] / 2.0;
        for (int j = 2; j <= count - 2; ++j) {
            const double q = guarded(2.0 - mu[j] * e[j - 1]);
            e[j] = lambda[j] / q;
            g[j] = (r[j] - mu[j] * g[j - 1]) / q;
        }
        m[count - 2] = g[count - 2];
        for (int j = count - 3; j >= 1; --j)
            m[j] = g[j] - e[j] * m[j + 1];
    }
    if (mode == CURVE_SPLINE) {
        for (int k = 0; k < count; ++k)
            c[k] = 3.0 * m[k];
        c[count - 1] = 0.0;
        for (int k = 0; k < count - 1; ++k) {
            d[k] = (c[k + 1] - c[k]) / (3.0 * hg[k]);
            b[k] = (y[k + 1] - y[k]) / hg[k] - c[k] * hg[k] - d[k] * hg[k] * hg[k];
        }
    } else {
        // Piecewise linear: slope b (spacings below 0.01, signed, count as 0.01)
        // and intercept d.
        for (int k = 0; k < count - 1; ++k) {
            const double step = h[k] < 0.01 ? 0.01 : h[k];
            b[k] = (y[k + 1] - y[k]) / step;
            d[k] = y[k] - b[k] * x[k];
        }
    }

    // Each entry is written once, each segment visited once, in list order.
    const double last = double(n - 1);
    int i = 0;
    for (int k = 0; k < count - 1; ++k) {
        const int segmentEnd = int(x[k + 1] * last);
        while (i <= segmentEnd && i <= n - 1) {
            const double t = i / last;
            if (t < x[0]) {
                table[i] = y[0];
            } else if (mode == CURVE_SPLINE) {
                const double u = t - x[k];
                table[i] = clamp01(y[k] + u * (b[k] + u * (c[k] + u * d[k])));
            } else {
                table[i] = clamp01(b[k] * t + d[k]);
            }
            ++i;
        }
    }
    for (; i < n; ++i)
        table[i] = y[count - 1];
    return true;
}

bool curveToLut16(quint16 *lut, const QList<QPointF> &points, int mode)
{
    if (!lut)
        return false;
    std::unique_ptr<double[]> table(new (std::nothrow) double[SAMPLE_TABLE_SIZE]);
    if (!table) {
        debugLog("%s: failed to allocate memory\n", "curveToLut16");
        return false;
    }
    if (mode != CURVE_SPLINE && mode != CURVE_LINEAR)
        return true;
    if (!curveToTable(table.get(), SAMPLE_TABLE_SIZE, points, mode))
        return false;
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
        lut[i] = quint16(clamp01(table[i]) * 65535.0 + 0.5);
    return true;
}

bool selectiveCurveToTable(double *table, int n, const QList<selKneePoints_t> &knees,
                           bool invert, bool wrap)
{
    if (!table || n < 2) {
        debugLog("%s: invalid table size %d\n", "selectiveCurveToTable", n);
        return false;
    }
    const int count = knees.size();
    if (count > CURVE_MAX_KNEES) {
        debugLog("%s: too many knee points (%d, at most %d)\n", "selectiveCurveToTable",
                 count, CURVE_MAX_KNEES);
        return false;
    }
    std::fill(table, table + n, 0.0);

    double kx[CURVE_MAX_KNEES], amplitude[CURVE_MAX_KNEES], width[CURVE_MAX_KNEES];
    double sigma[CURVE_MAX_KNEES];
    qint64 position[CURVE_MAX_KNEES];
    for (int k = 0; k < count; ++k) {
        kx[k] = clampCoordinate(knees[k].x, 0.0, 1.0);
        const double ky = clampCoordinate(knees[k].y, 0.0, 1.0);
        sigma[k] = clampCoordinate(knees[k].sigma, KNEE_SIGMA_MIN, KNEE_SIGMA_MAX);
        amplitude[k] = (ky - 0.5) * -2.0;
        width[k] = (n / 100.0) * 4.0 * (sigma[k] + 0.2);
        position[k] = qint64((n - 1) * kx[k]);
    }
    auto bell = [&](int k, qint64 i, qint64 centre) {
        const double dist = double(i - centre);
        return amplitude[k] * std::exp(-dist * dist / (2.0 * width[k] * width[k]));
    };

    for (int k = 0; k < count; ++k) {
        const int partner = (k + 1 < count) ? k + 1 : 0;
        qint64 partnerPos = position[partner];
        double partnerX = kx[partner];
        if (partner == 0) {
            partnerPos += n;
            partnerX += 1.0;
        }
        if (!wrap) {
            if (k == 0) {
                for (qint64 i = 0; i < position[0]; ++i)
                    table[i] = bell(0, i, position[0]);
            }
            if (k == count - 1) {
                for (qint64 i = position[k]; i < n; ++i)
                    table[i] = bell(k, i, position[k]);
                break;
            }
        }
        const double delta = partnerX - kx[k];
        const bool tooClose = delta < (sigma[partner] + sigma[k]) * 0.5 / 10.0;
        for (qint64 i = position[k]; i < partnerPos; ++i) {
            double t = 1.0;
            if (delta > 0.001)
                t = std::min(1.0, (partnerX - double(i) / (n - 1)) / delta);
            double value;
            if (tooClose)
                value = t * amplitude[k] + (1.0 - t) * amplitude[partner];
            else
                value = t * bell(k, i, position[k]) + (1.0 - t) * bell(partner, i, partnerPos);
            table[i % n] = value;
        }
    }

    for (int i = 0; i < n; ++i) {
        double v = table[i];
        if (!(std::fabs(v) >= 0.01))
            v = 0.0;
        else if (v > 1.0)
            v = 1.0;
        else if (v < -1.0)
            v = -1.0;
        if (invert && v != 0.0)
            v = -v;
        table[i] = v;
    }
    return true;
}

namespace {

// Spreads the source counts over binCount + 1 accumulator cells (linear
// interpolation between neighbouring display bins).
std::vector<double> accumulateHistogram(const quint32 *source, int sourceCount, int binCount)
{
    std::vector<double> acc(size_t(binCount) + 1, 0.0);
    for (int s = 0; s < sourceCount; ++s) {
        const double e = double(s) / double(unsigned(sourceCount)) * binCount;
        const double f = std::floor(e);
        const int lo = std::min(int(e), binCount - 1);
        const int hi = std::min(int(e) + 1, binCount - 1);
        acc[size_t(lo)] += source[s] * (1.0 - (e - f));
        acc[size_t(hi)] += source[s] * (e - f);
    }
    return acc;
}

const int SMOOTH_WEIGHTS[3] = {1, 3, 1};

} // namespace

void resampleHistogram(const quint32 *source, int sourceCount, int *bins, int binCount,
                       int height)
{
    if (!source || !bins || sourceCount <= 0 || binCount <= 0)
        return;
    const std::vector<double> acc = accumulateHistogram(source, sourceCount, binCount);
    int maximum = 0;
    for (int b = 0; b < binCount; ++b) {
        qint64 sum = 0;
        int used = 0;
        for (int o = -1; o <= 1; ++o) {
            const int j = b + o;
            if (j < 0 || j >= binCount)
                continue;
            sum = qint64(SMOOTH_WEIGHTS[o + 1] * acc[size_t(j)] + double(sum));
            used += SMOOTH_WEIGHTS[o + 1];
        }
        bins[b] = int(std::min<qint64>(sum / used, INT32_MAX));
        maximum = std::max(maximum, bins[b]);
    }
    if (maximum > 0) {
        for (int b = 0; b < binCount; ++b)
            bins[b] = int(double(bins[b]) / maximum * height);
    }
}

void resampleHistogramNormalized(const quint32 *source, int sourceCount, double *bins,
                                 int binCount)
{
    if (!source || !bins || sourceCount <= 0 || binCount <= 0)
        return;
    const std::vector<double> acc = accumulateHistogram(source, sourceCount, binCount);
    double maximum = 0.0;
    for (int b = 0; b < binCount; ++b) {
        double sum = 0.0;
        int used = 0;
        for (int o = -1; o <= 1; ++o) {
            const int j = b + o;
            if (j < 0 || j >= binCount)
                continue;
            sum += SMOOTH_WEIGHTS[o + 1] * acc[size_t(j)];
            used += SMOOTH_WEIGHTS[o + 1];
        }
        bins[b] = sum / used;
        maximum = std::max(maximum, bins[b]);
    }
    if (maximum > 0.0) {
        for (int b = 0; b < binCount; ++b)
            bins[b] /= maximum;
    }
}

void resampleHistogramCounts(const quint32 *source, int sourceCount, double *bins, int binCount)
{
    if (!source || !bins || sourceCount <= 0 || binCount <= 0)
        return;
    const std::vector<double> acc = accumulateHistogram(source, sourceCount, binCount);
    for (int b = 0; b < binCount; ++b) {
        qint64 sum = 0;
        int used = 0;
        for (int o = -1; o <= 1; ++o) {
            const int j = b + o;
            if (j < 0 || j >= binCount)
                continue;
            sum = qint64(SMOOTH_WEIGHTS[o + 1] * acc[size_t(j)] + double(sum));
            used += SMOOTH_WEIGHTS[o + 1];
        }
        bins[b] = double(sum / used);
    }
}
