#include "hdr/transformFitting.h"

#include "hdr/matrixHelpers.h"
#include "project/parallelRanges.h"

#include <cmath>
#include <cstring>

void alignTransform_t::setIdentity()
{
    for (double &v : a)
        v = 0;
    a[0] = a[4] = 1;
}

bool alignTransform_t::isIdentity() const
{
    return a[0] == 1 && a[1] == 0 && a[2] == 0 && a[3] == 0 && a[4] == 1 && a[5] == 0 &&
           a[6] == 0 && a[7] == 0;
}

void applyTransform(int method, const alignTransform_t &t, double x, double y, double &X,
                    double &Y)
{
    const double *a = t.a;
    if (method == ALIGN_METHOD_SHIFT) {
        X = x + a[2];
        Y = y + a[5];
    } else if (method == ALIGN_METHOD_SHIFT_ROTATION) {
        X = a[0] * x + a[1] * y + a[2];
        Y = a[3] * x + a[4] * y + a[5];
    } else {
        const double w = a[6] * x + a[7] * y + 1.0;
        X = (a[0] * x + a[1] * y + a[2]) / w;
        Y = (a[3] * x + a[4] * y + a[5]) / w;
    }
}

namespace {

void fitShiftRotation(const alignPin_t *P, const alignPin_t *B, alignTransform_t &out)
{
    const double x0 = P[0].x, y0 = P[0].y, x1 = P[1].x, y1 = P[1].y;
    const double u0 = B[0].x, q0 = B[0].y, u1 = B[1].x, q1 = B[1].y;
    if (x0 == u0 && y0 == q0 && x1 == u1 && y1 == q1)
        return;
    double theta = 0;
    const bool photoPinsApart = !(x0 == x1 && y0 == y1);
    const bool basePinsApart = !(u0 == u1 && q0 == q1);
    if (photoPinsApart && basePinsApart)
        theta = std::atan2(y1 - y0, x1 - x0) - std::atan2(q1 - q0, u1 - u0);
    const float c = static_cast<float>(std::cos(theta));
    const float s = static_cast<float>(std::sin(theta));
    const float fx0 = P[0].x, fy0 = P[0].y, fx1 = P[1].x, fy1 = P[1].y;
    const float fu0 = B[0].x, fq0 = B[0].y, fu1 = B[1].x, fq1 = B[1].y;
    out.a[0] = c;
    out.a[1] = -s;
    out.a[3] = s;
    out.a[4] = c;
    out.a[2] = ((fx0 - (fu0 * c - fq0 * s)) + (fx1 - (fu1 * c - fq1 * s))) * 0.5f;
    out.a[5] = ((fy0 - (fu0 * s + fq0 * c)) + (fy1 - (fu1 * s + fq1 * c))) * 0.5f;
}

void fitPerspective(const alignPin_t *P, const alignPin_t *B, alignTransform_t &out)
{
    bool same = true;
    for (int i = 0; i < 4; ++i)
        same = same && P[i].x == B[i].x && P[i].y == B[i].y;
    if (same)
        return;

    // Stack storage: the automatic search fits tens of thousands of these.
    double mData[64] = {0}, invData[64] = {0}, rhsData[8] = {0}, solData[8] = {0};
    matrix_t m{8, 8, mData}, inv{8, 8, invData}, rhs{1, 8, rhsData}, sol{1, 8, solData};
    for (int i = 0; i < 4; ++i) {
        const double u = B[i].x, q = B[i].y, x = P[i].x, y = P[i].y;
        double *r1 = &matrixAt(m, i, 0);
        r1[0] = u; r1[1] = q; r1[2] = 1;
        r1[6] = -u * x; r1[7] = -q * x;
        double *r2 = &matrixAt(m, i + 4, 0);
        r2[3] = u; r2[4] = q; r2[5] = 1;
        r2[6] = -u * y; r2[7] = -q * y;
        matrixAt(rhs, i, 0) = x;
        matrixAt(rhs, i + 4, 0) = y;
    }
    matrixSwapRows37(m);
    if (matrixInverse(m, inv)) {
        // Swapping rows 3 and 7 of A swaps columns 3 and 7 of its inverse.
        for (int r = 0; r < 8; ++r)
            std::swap(matrixAt(inv, r, 3), matrixAt(inv, r, 7));
        matrixMultiply(sol, inv, rhs);
        for (int i = 0; i < 8; ++i)
            out.a[i] = matrixAt(sol, i, 0);
    }
}

} // namespace

void fitTransform(int method, const alignPin_t *photoPins, const alignPin_t *basePins,
                  alignTransform_t &out)
{
    out.setIdentity();
    if (!photoPins || !basePins)
        return;
    if (method == ALIGN_METHOD_SHIFT) {
        out.a[2] = static_cast<double>(photoPins[0].x) - basePins[0].x;
        out.a[5] = static_cast<double>(photoPins[0].y) - basePins[0].y;
    } else if (method == ALIGN_METHOD_SHIFT_ROTATION) {
        fitShiftRotation(photoPins, basePins, out);
    } else {
        fitPerspective(photoPins, basePins, out);
    }
}

namespace {

// Whether the mapped position, rounded, lies inside the image.
bool mapsInside(int method, const alignTransform_t &t, double x, double y, int w, int h)
{
    double X, Y;
    applyTransform(method, t, x, y, X, Y);
    const double rx = std::trunc(X + 0.5), ry = std::trunc(Y + 0.5);
    return rx >= 0 && rx < w && ry >= 0 && ry < h;
}

// Base column that the photo column c falls on at row y (or row at column x
// for the vertical edges).
double edgeColumn(int method, const double *a, double y, double c, double limit)
{
    const double den = c * a[6] - a[0];
    if (std::fabs(den) <= limit)
        return method == ALIGN_METHOD_SHIFT ? c - a[2] : 0.0;
    return (a[1] * y + a[2] - c * a[7] * y - c) / den;
}

double edgeRow(int method, const double *a, double x, double c, double limit)
{
    const double den = c * a[7] - a[4];
    if (std::fabs(den) <= limit)
        return method == ALIGN_METHOD_SHIFT ? c - a[5] : 0.0;
    return (a[3] * x + a[5] - c * a[6] * x - c) / den;
}

} // namespace

alignCrop_t computeAlignedCrop(int width, int height, int baseIndex, int method,
                               const alignTransform_t *transforms, int photoCount)
{
    const int W = width, H = height;
    int left = 0, top = 0, right = W, bottom = H;
    for (int k = 0; k < photoCount && transforms; ++k) {
        if (k == baseIndex)
            continue;
        const alignTransform_t &t = transforms[k];
        // The model-0 shift only uses a2 and a5: evaluate the edges as a pure
        // shift in that case.
        alignTransform_t e = t;
        if (method == ALIGN_METHOD_SHIFT) {
            e.setIdentity();
            e.a[2] = t.a[2];
            e.a[5] = t.a[5];
        } else if (method == ALIGN_METHOD_SHIFT_ROTATION) {
            e.a[6] = e.a[7] = 0;
        }
        const double *a = e.a;
        for (int y = 0; y < H; ++y) {
            const int xl = static_cast<int>(std::trunc(edgeColumn(method, a, y, 0, 1e-6)));
            if (mapsInside(method, t, xl, y, W, H) && xl > left)
                left = xl;
            const int xr = static_cast<int>(std::trunc(edgeColumn(method, a, y, W - 1, 1e-6)));
            if (mapsInside(method, t, xr, y, W, H) && xr < right)
                right = xr;
        }
        for (int x = 0; x < W; ++x) {
            const int yt = static_cast<int>(std::trunc(edgeRow(method, a, x, 0, 1e-6)));
            if (mapsInside(method, t, x, yt, W, H) && yt > top)
                top = yt;
            const int yb = static_cast<int>(std::trunc(edgeRow(method, a, x, H - 1, 1e-7)));
            if (mapsInside(method, t, x, yb, W, H) && yb < bottom)
                bottom = yb;
        }
    }
    alignCrop_t crop;
    crop.left = left < 0 ? 0 : left;
    crop.top = top < 0 ? 0 : top;
    crop.right = right >= W ? W - 1 : right;
    crop.bottom = bottom >= H ? H - 1 : bottom;
    if (crop.right - crop.left < W / 5 || crop.bottom - crop.top < H / 5 ||
        crop.right < crop.left || crop.bottom < crop.top) {
        crop.left = 0;
        crop.top = 0;
        crop.right = W - 1;
        crop.bottom = H - 1;
    }
    return crop;
}

void getTransformedImageRows(const _getTransformedImage_threadParams_t &p)
{
    const int W = p.width, H = p.height;
    const uint16_t *src = p.source;
    for (int y = p.firstRow; y < p.endRow; ++y) {
        uint16_t *out = p.output + static_cast<int64_t>(y) * W * 3;
        for (int x = 0; x < W; ++x, out += 3) {
            double X, Y;
            applyTransform(p.method, *p.transform, x, y, X, Y);
            if (!(std::isfinite(X) && std::isfinite(Y)) || X < -1.0 || Y < -1.0 || X >= W ||
                Y >= H) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
            const int ix = static_cast<int>(X); // toward zero
            const int iy = static_cast<int>(Y);
            const double wx = 1.0 - (X - std::floor(X));
            const double wy = 1.0 - (Y - std::floor(Y));
            if (ix < 0) {
                out[0] = out[1] = out[2] = 0;
            } else if (ix < W - 1 && iy >= 0 && iy < H - 1) {
                const uint16_t *p00 = src + (static_cast<int64_t>(iy) * W + ix) * 3;
                const uint16_t *p10 = p00 + 3;
                const uint16_t *p01 = p00 + static_cast<int64_t>(W) * 3;
                const uint16_t *p11 = p01 + 3;
                for (int c = 0; c < 3; ++c)
                    out[c] = static_cast<uint16_t>(
                        wy * wx * p00[c] + wy * (1 - wx) * p10[c] + (1 - wy) * wx * p01[c] +
                        (1 - wy) * (1 - wx) * p11[c]);
            } else if (ix < W && iy >= 0 && iy < H) {
                const uint16_t *p00 = src + (static_cast<int64_t>(iy) * W + ix) * 3;
                out[0] = p00[0];
                out[1] = p00[1];
                out[2] = p00[2];
            } else {
                out[0] = out[1] = out[2] = 0;
            }
        }
    }
}

void runGetTransformedImage(const uint16_t *source, uint16_t *output, int width, int height,
                            const alignTransform_t &transform, int method, int threadCount)
{
    parallelRanges(height, threadCount,
                   [&](const range_t &r) {
                       _getTransformedImage_threadParams_t p;
                       p.firstRow = int(r.first);
                       p.endRow = int(r.end);
                       p.width = width;
                       p.height = height;
                       p.transform = &transform;
                       p.method = method;
                       p.source = source;
                       p.output = output;
                       return p;
                   },
                   getTransformedImageRows);
}

void packCropRect(uint16_t *image, int width, const alignCrop_t &crop)
{
    const int64_t sx = crop.right - crop.left + 1;
    for (int y = crop.top; y <= crop.bottom; ++y) {
        const uint16_t *from = image + (static_cast<int64_t>(y) * width + crop.left) * 3;
        uint16_t *to = image + static_cast<int64_t>(y - crop.top) * sx * 3;
        memmove(to, from, static_cast<size_t>(sx) * 3 * sizeof(uint16_t));
    }
}
