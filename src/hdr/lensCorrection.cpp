#include "hdr/lensCorrection.h"

#include "app/sharedFlags.h"
#include "project/parallelRanges.h"

#include <algorithm>
#include <cmath>
#include <vector>

double lensRadiusFactor(int width, int height, const lensCalibData &calib)
{
    const double s = std::min(width, height);
    const double e = double(std::max(width, height)) / std::max(1.0, s);
    const double c = calib.lens.aspectRatio;
    if (s <= 1)
        return 0;
    return 2.0 / (s - 1) * std::sqrt(c * c + 1) / std::sqrt(e * e + 1) * calib.cropFactorRatio;
}

double lensTcaFactor(const lensCalibData &calib, int channel, double r)
{
    if (!calib.tca.enabled || channel == 1)
        return 1.0;
    const bool red = channel == 0;
    if (calib.tca.model == LENS_TCA_LINEAR)
        return red ? calib.tca.linear.kr : calib.tca.linear.kb;
    if (calib.tca.model == LENS_TCA_POLY3)
        return red ? calib.tca.poly3.br * r * r + calib.tca.poly3.vr
                   : calib.tca.poly3.bb * r * r + calib.tca.poly3.vb;
    return 1.0;
}

double lensDistortionFactor(const lensCalibData &calib, double r)
{
    if (!calib.lens.enabled)
        return 1.0;
    switch (calib.lens.model) {
    case LENS_DIST_PTLENS: {
        const lensPtlensEntry_t &k = calib.lens.ptlens;
        return k.a * r * r * r + k.b * r * r + k.c * r + (1 - k.a - k.b - k.c);
    }
    case LENS_DIST_POLY3:
        return calib.lens.poly3.k1 * r * r + (1 - calib.lens.poly3.k1);
    case LENS_DIST_POLY5:
        return calib.lens.poly5.k2 * r * r * r * r + calib.lens.poly5.k1 * r * r + 1;
    default:
        return 1.0;
    }
}

void lensCorrectionWorkerRows(const _lensCorrection_threadParams_t &p)
{
    const int W = p.width, H = p.height;
    const double cx = p.centreX, cy = p.centreY;
    for (int y = p.firstRow; y < p.endRow; ++y) {
        uint16_t *out = p.destination + int64_t(y) * W * 3;
        for (int x = 0; x < W; ++x) {
            const double r = std::sqrt((y - cy) * (y - cy) + (x - cx) * (x - cx)) * p.radiusFactor;
            const double dist = lensDistortionFactor(p.calib, r);
            for (int c = 0; c < 3; ++c) {
                const double scale = lensTcaFactor(p.calib, c, r) * dist;
                const double sx = (x - cx) * scale + cx, sy = (y - cy) * scale + cy;
                if (!(std::fabs(sx) < 1e9 && std::fabs(sy) < 1e9)) {
                    out[x * 3 + c] = 0;
                    continue;
                }
                const int ix = int(sx), iy = int(sy);
                if (ix < 0 || iy < 0 || ix >= W - 1 || iy >= H - 1) {
                    out[x * 3 + c] = 0;
                    continue;
                }
                const double fx = 1 - std::fabs(sx - std::floor(sx));
                const double fy = 1 - std::fabs(sy - std::floor(sy));
                const uint16_t *p00 = p.source + (int64_t(iy) * W + ix) * 3 + c;
                const uint16_t *p10 = p00 + 3, *p01 = p00 + int64_t(W) * 3, *p11 = p01 + 3;
                out[x * 3 + c] = uint16_t(*p10 * fy * (1 - fx) + *p00 * fy * fx +
                                          *p01 * (1 - fy) * fx + *p11 * (1 - fy) * (1 - fx));
            }
        }
        progressCounter += 1;
    }
}

void runLensCorrection(const uint16_t *source, uint16_t *destination, int width, int height,
                       const lensCalibData &calib, double centreX, double centreY,
                       int threadCount)
{
    _lensCorrection_threadParams_t common;
    common.width = width;
    common.height = height;
    common.firstRow = common.endRow = 0;
    common.source = source;
    common.destination = destination;
    common.centreX = int(centreX * width);
    common.centreY = int(centreY * height);
    common.radiusFactor = lensRadiusFactor(width, height, calib);
    common.calib = calib;
    parallelRanges(height, threadCount,
                   [&common](const range_t &r) {
                       _lensCorrection_threadParams_t p = common;
                       p.firstRow = int(r.first);
                       p.endRow = int(r.end);
                       return p;
                   },
                   lensCorrectionWorkerRows);
}

void cropRectRows(_getCropRectParams_t &p)
{
    const int W = p.width, H = p.height, step = std::max(1, p.step);
    const double cx = p.centreX * W, cy = p.centreY * H;
    const int b = 2 * step;
    for (int y = p.firstRow; y < p.endRow; y += step) {
        for (int x = 0; x < W; x += step) {
            // Only the border zone: the middle three fifths of both axes are skipped.
            if (x > W / 5.0 && x < 4 * W / 5.0 && y > H / 5.0 && y < 4 * H / 5.0)
                continue;
            const double dx = std::trunc(x - cx), dy = std::trunc(y - cy);
            const double r = std::sqrt(dx * dx + dy * dy) * p.radiusFactor;
            double tca = 1.0;
            if (p.calib.tca.enabled)
                tca = std::max(lensTcaFactor(p.calib, 0, r), lensTcaFactor(p.calib, 2, r));
            const double scale = tca * lensDistortionFactor(p.calib, r);
            const double fu = (x - cx) * scale + cx, fv = (y - cy) * scale + cy;
            if (!(fu > -1.0 && fv > -1.0 && fu < W + 1.0 && fv < H + 1.0))
                continue;
            const int u = int(fu), v = int(fv);
            if (u > W || v > H)
                continue;
            if (v <= b)
                p.top = std::max(p.top, y);
            if (u <= b)
                p.left = std::max(p.left, x);
            if (v >= H - b)
                p.bottom = std::min(p.bottom, y);
            if (u >= W - b)
                p.right = std::min(p.right, x);
        }
    }
}

namespace {

// Whether every channel of the point samples inside the source image.
bool lensPointCovered(int W, int H, const lensCalibData &calib, double g, int cx, int cy, int x,
                      int y)
{
    const double r = std::sqrt(double(y - cy) * (y - cy) + double(x - cx) * (x - cx)) * g;
    const double dist = lensDistortionFactor(calib, r);
    for (int c = 0; c < 3; ++c) {
        const double scale = lensTcaFactor(calib, c, r) * dist;
        const double sx = (x - cx) * scale + cx, sy = (y - cy) * scale + cy;
        if (!(sx >= 0 && sy >= 0 && sx < W - 1 && sy < H - 1))
            return false;
    }
    return true;
}

} // namespace

bool lensRectCovered(int width, int height, const lensCalibData &calib, double centreX,
                     double centreY, const lensCropRect_t &rect, int step)
{
    const double g = lensRadiusFactor(width, height, calib);
    const int cx = int(centreX * width), cy = int(centreY * height);
    step = std::max(1, step);
    for (int x = rect.left;; x = std::min(x + step, rect.right)) {
        if (!lensPointCovered(width, height, calib, g, cx, cy, x, rect.top) ||
            !lensPointCovered(width, height, calib, g, cx, cy, x, rect.bottom))
            return false;
        if (x >= rect.right)
            break;
    }
    for (int y = rect.top;; y = std::min(y + step, rect.bottom)) {
        if (!lensPointCovered(width, height, calib, g, cx, cy, rect.left, y) ||
            !lensPointCovered(width, height, calib, g, cx, cy, rect.right, y))
            return false;
        if (y >= rect.bottom)
            break;
    }
    return true;
}

lensCropRect_t computeLensCropRect(int width, int height, int step, const lensCalibData &calib,
                                   double centreX, double centreY, int threadCount)
{
    const int W = width, H = height, T = std::max(1, threadCount);
    step = std::max(1, step);
    const int band = (H / step / T) * step;
    std::vector<_getCropRectParams_t> tasks;
    for (int i = 0; i < T; ++i) {
        _getCropRectParams_t p;
        p.calib = calib;
        p.radiusFactor = lensRadiusFactor(W, H, calib);
        p.centreX = centreX;
        p.centreY = centreY;
        p.top = 0;
        p.left = 0;
        p.right = W;
        p.bottom = H;
        p.width = W;
        p.height = H;
        p.step = step;
        p.firstRow = i * band;
        p.endRow = i == T - 1 ? H : (i + 1) * band;
        if (p.endRow > p.firstRow)
            tasks.push_back(p);
    }
    runTasks(int(tasks.size()), [&tasks](int i) { cropRectRows(tasks[size_t(i)]); });
    lensCropRect_t r;
    r.left = 0;
    r.top = 0;
    r.right = W;
    r.bottom = H;
    for (const _getCropRectParams_t &p : tasks) {
        r.top = std::max(r.top, p.top);
        r.left = std::max(r.left, p.left);
        r.right = std::min(r.right, p.right);
        r.bottom = std::min(r.bottom, p.bottom);
    }
    r.right = std::min(r.right, W - 1);
    r.bottom = std::min(r.bottom, H - 1);
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    // The border samples decide each side on its own, so for a strong
    // correction the rectangle's corners can still lie outside the data:
    // shrink it until its whole outline is covered.
    while (r.right - r.left + 1 >= W / 2 && r.bottom - r.top + 1 >= H / 2 &&
           !lensRectCovered(W, H, calib, centreX, centreY, r, step)) {
        r.left += step;
        r.right -= step;
        r.top += step;
        r.bottom -= step;
    }
    if (r.right < r.left || r.bottom < r.top || r.right - r.left + 1 < W / 2 ||
        r.bottom - r.top + 1 < H / 2) {
        r.left = 0;
        r.top = 0;
        r.right = W - 1;
        r.bottom = H - 1;
    }
    return r;
}

int lensCropStep(int width, int height)
{
    return std::max(1, int(std::floor(std::sqrt(double(width) * width + double(height) * height) /
                                      1000.0)));
}
