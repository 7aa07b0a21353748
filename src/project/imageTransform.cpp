#include "project/imageTransform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

bool transformOutputSize(int mode, int width, int height, int x1, int y1, int x2, int y2,
                         int &outWidth, int &outHeight)
{
    if (width < 1 || height < 1)
        return false;
    switch (mode) {
    case TRANSFORM_ROTATE_CCW:
    case TRANSFORM_ROTATE_CW:
        outWidth = height;
        outHeight = width;
        return true;
    case TRANSFORM_ROTATE_180:
    case TRANSFORM_MIRROR_LR:
    case TRANSFORM_MIRROR_TB:
    case TRANSFORM_SHIFT:
        outWidth = width;
        outHeight = height;
        return true;
    case TRANSFORM_CROP:
    case TRANSFORM_WARP:
        // A rectangle outside the image would read outside the source.
        if (x1 < 0 || y1 < 0 || x2 > width || y2 > height || x2 <= x1 || y2 <= y1)
            return false;
        outWidth = x2 - x1;
        outHeight = y2 - y1;
        return true;
    default:
        return false;
    }
}

transformKernelParams_t makeTransformParams(int mode, int width, int height, int x1, int y1,
                                            int x2, int y2, double angle, double distortion,
                                            double perspectiveX, double perspectiveY)
{
    transformKernelParams_t p;
    p.mode = mode;
    p.srcWidth = width;
    p.srcHeight = height;
    transformOutputSize(mode, width, height, x1, y1, x2, y2, p.outWidth, p.outHeight);
    p.x1 = x1;
    p.y1 = y1;
    const double radians = angle / 360.0 * 2.0 * 3.141592653589793;
    p.sine = std::sin(radians);
    p.cosine = std::cos(radians);
    p.distortion = distortion;
    p.perspectiveX = perspectiveX;
    p.perspectiveY = perspectiveY;
    const int shorter = std::min(width, height);
    p.normalisation = shorter > 1 ? 2.0 / (shorter - 1) : 0.0;
    p.centreX = width / 2;
    p.centreY = height / 2;
    return p;
}

namespace {

template <typename T>
inline T fromDouble(double v)
{
    return static_cast<T>(v); // integer samples truncate toward zero
}

template <>
inline float fromDouble<float>(double v)
{
    return float(v);
}

template <typename T>
void warpPixel(const transformKernelParams_t &p, const T *src, T *out, int channels, int x, int y)
{
    const int W = p.srcWidth, H = p.srcHeight;
    const double n = p.normalisation;
    double u = x + p.x1 - p.centreX;
    double t = y + p.y1 - p.centreY;
    const double r = std::sqrt(t * t + u * u);
    const double D = p.distortion * (r * n) * (r * n) + (1 - p.distortion);
    t *= D;
    u *= D;
    const double yr = t * p.cosine + p.sine * u;
    const double xr = p.cosine * u - p.sine * t;
    const double sy = yr * (xr * n * p.perspectiveY + 1) + p.centreY;
    const double sx = (yr * n * p.perspectiveX + 1) * xr + p.centreX;
    if (!(sx >= 0 && sy >= 0 && sx < W - 1 && sy < H - 1)) {
        for (int c = 0; c < channels; ++c)
            out[c] = T(0);
        return;
    }
    const int X0 = int(sx), Y0 = int(sy);
    const double fx = 1 - std::fabs(sx - std::floor(sx));
    const double fy = 1 - std::fabs(sy - std::floor(sy));
    const T *s00 = src + (int64_t(Y0) * W + X0) * channels;
    const T *s10 = s00 + channels, *s01 = s00 + int64_t(W) * channels, *s11 = s01 + channels;
    for (int c = 0; c < channels; ++c)
        out[c] = fromDouble<T>(fy * fx * s00[c] + fy * (1 - fx) * s10[c] +
                               (1 - fy) * fx * s01[c] + (1 - fy) * (1 - fx) * s11[c]);
}

} // namespace

template <typename T>
void transformKernelRows(const transformKernelParams_t &p, const T *source, T *destination,
                         int channels, int firstRow, int endRow)
{
    const int W = p.srcWidth, H = p.srcHeight, ow = p.outWidth;
    for (int y = firstRow; y < endRow; ++y) {
        T *out = destination + int64_t(y) * ow * channels;
        for (int x = 0; x < ow; ++x, out += channels) {
            int sx = 0, sy = 0;
            switch (p.mode) {
            case TRANSFORM_ROTATE_CCW: sx = W - 1 - y; sy = x; break;
            case TRANSFORM_ROTATE_180: sx = W - 1 - x; sy = H - 1 - y; break;
            case TRANSFORM_ROTATE_CW: sx = y; sy = H - 1 - x; break;
            case TRANSFORM_MIRROR_LR: sx = W - 1 - x; sy = y; break;
            case TRANSFORM_MIRROR_TB: sx = x; sy = H - 1 - y; break;
            case TRANSFORM_CROP: sx = x + p.x1; sy = y + p.y1; break;
            case TRANSFORM_WARP:
                warpPixel(p, source, out, channels, x, y);
                continue;
            case TRANSFORM_SHIFT:
                sx = x - p.x1;
                sy = y - p.y1;
                if (sx < 0 || sy < 0 || sx >= W || sy >= H)
                    continue; // keeps its value
                break;
            default:
                continue;
            }
            if (sx < 0 || sy < 0 || sx >= W || sy >= H)
                continue;
            const T *in = source + (int64_t(sy) * W + sx) * channels;
            for (int c = 0; c < channels; ++c)
                out[c] = in[c];
        }
    }
}

template <typename T>
bool transformBuffer(T *buffer, int width, int height, int channels, int mode, int x1, int y1,
                     int x2, int y2, double angle, double distortion, double perspectiveX,
                     double perspectiveY)
{
    int ow = 0, oh = 0;
    if (!buffer || channels < 1 || !transformOutputSize(mode, width, height, x1, y1, x2, y2, ow, oh))
        return false;
    const transformKernelParams_t p = makeTransformParams(mode, width, height, x1, y1, x2, y2,
                                                          angle, distortion, perspectiveX,
                                                          perspectiveY);
    const size_t srcSamples = size_t(width) * size_t(height) * size_t(channels);
    const size_t outSamples = size_t(ow) * size_t(oh) * size_t(channels);
    std::unique_ptr<T[]> scratch(new (std::nothrow) T[outSamples]);
    if (!scratch)
        return false;
    if (mode == TRANSFORM_SHIFT)
        std::memcpy(scratch.get(), buffer, srcSamples * sizeof(T));
    T *dst = scratch.get();
#pragma omp parallel for schedule(static)
    for (int y = 0; y < oh; ++y)
        transformKernelRows(p, static_cast<const T *>(buffer), dst, channels, y, y + 1);
    std::memcpy(buffer, scratch.get(), outSamples * sizeof(T));
    return true;
}

template void transformKernelRows<uint8_t>(const transformKernelParams_t &, const uint8_t *,
                                           uint8_t *, int, int, int);
template void transformKernelRows<uint16_t>(const transformKernelParams_t &, const uint16_t *,
                                            uint16_t *, int, int, int);
template void transformKernelRows<float>(const transformKernelParams_t &, const float *, float *,
                                         int, int, int);
template bool transformBuffer<uint8_t>(uint8_t *, int, int, int, int, int, int, int, int, double,
                                       double, double, double);
template bool transformBuffer<uint16_t>(uint16_t *, int, int, int, int, int, int, int, int,
                                        double, double, double, double);
template bool transformBuffer<float>(float *, int, int, int, int, int, int, int, int, double,
                                     double, double, double);
