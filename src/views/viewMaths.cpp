#include "views/viewMaths.h"

#include <algorithm>
#include <cmath>

const uint32_t VIEW_BACKGROUND_COLORS[8] = {0x403028, 0x402828, 0x201510, 0x201010,
                                            0xC0A0A8, 0xC0A8A8, 0xF0D0D8, 0xF0D8D8};

bool operator==(const cropRect &a, const cropRect &b)
{
    return a.left == b.left && a.right == b.right && a.top == b.top && a.bottom == b.bottom
           && a.width == b.width && a.height == b.height;
}

int backgroundIndex(int stored)
{
    // C++ keeps the sign of the dividend: a stored -1 would index before the list.
    return ((stored % 8) + 8) % 8;
}

double fitZoomPercent(int w, int h, int canvasW, int canvasH, double dpr)
{
    if (w <= 0 || h <= 0)
        return 100.0;
    const int zx = int(canvasW * 100.0 * dpr / (w + 10));
    const int zy = int(canvasH * 100.0 * dpr / (h + 10));
    return double(std::min(zx, zy));
}

scrollLimits_t scrollLimits(double s, int cx, int cy, int w, int h, int canvasW, int canvasH, double dpr)
{
    const double hx = canvasW * dpr * 0.5;
    const double hy = canvasH * dpr * 0.5;
    scrollLimits_t l;
    l.minX = int(hx - cx * s + 0.5);
    l.maxX = -int(hx - (w - cx) * s + 0.5);
    l.minY = int(hy - cy * s + 0.5);
    l.maxY = -int(hy - (h - cy) * s + 0.5);
    return l;
}

void scrollBarRange(int lo, int hi, int &minimum, int &maximum)
{
    if (lo < hi) {
        minimum = lo - 20;
        maximum = hi + 20;
    } else {
        minimum = 0;
        maximum = 0;
    }
}

double zoomAtPointPosition(double position, double s0, double s, int centre, int point)
{
    return (s0 - s) * centre + position + (s - s0) * point;
}

int wheelScrollValue(int value, int dir, int minimum, int maximum, double s, int length)
{
    if (dir == 0 || s <= 0.0)
        return value;
    const int sign = dir / std::abs(dir);
    return int(value - (sign * double(maximum - minimum)) / 20.0 / s * length / 1000.0);
}

double imageOriginX(int deviceWidth, int cx, double s, int scrollX)
{
    return std::floor(deviceWidth * 0.5 - cx * s - scrollX);
}

void pyramidLevelFor(double s, const bool *ready, int levelCount, int &levelOut, int &factorOut)
{
    const int m = std::max(1, int(1.0 / s));
    int level = 0, t = 1;
    while (m / t > 1 && level + 1 < levelCount && ready[level + 1]) {
        ++level;
        t *= 2;
    }
    levelOut = level;
    factorOut = t;
}

void stripeRows(int height, int n, int i, int &first, int &end)
{
    if (n < 1)
        n = 1;
    first = height / n * i;
    end = i == n - 1 ? height : height / n * (i + 1);
}

uint8_t checkerTone(int row, int column, double dpr, uint8_t toneA, uint8_t toneB)
{
    const int shift = dpr > 1.0 ? 5 : 4;
    return (((row >> shift) + (column >> shift)) & 1) == 0 ? toneB : toneA;
}

int guidelineCount(int extent, bool dense)
{
    if (!dense)
        return 2;
    return std::min(20, std::max(2, extent / 80));
}

int guidelinePosition(int start, int end, int i, int n)
{
    return start + i * ((end - start) / (n + 1));
}

void compositeLayers(const uint8_t base[3], int layerCount, const uint8_t *const *layerRgb,
                     const double *weights, uint8_t out[3])
{
    double g = 0.0, h = 0.0;
    for (int l = 0; l < layerCount; ++l) {
        if (!layerRgb[l])
            continue;
        g = std::max(g, weights[l]);
        h += weights[l];
    }
    if (!(g > 0.0) || !(h > 0.0)) {
        // No layer covers this pixel: the weighted mean would be 0 / 0.
        out[0] = base[0];
        out[1] = base[1];
        out[2] = base[2];
        return;
    }
    for (int c = 0; c < 3; ++c) {
        double sum = 0.0;
        for (int l = 0; l < layerCount; ++l) {
            if (layerRgb[l])
                sum += layerRgb[l][c] * weights[l];
        }
        const double v = base[c] * (1.0 - g / 255.0) + std::min(sum / h, 255.0) * (g / 255.0);
        out[c] = uint8_t(std::min(255.0, std::max(0.0, v)));
    }
}

int clippingWarning(int r, int g, int b, bool shadowWarning, bool highlightWarning)
{
    const int mean = (r + g + b) / 3;
    if (highlightWarning && mean > 252)
        return 1;
    if (shadowWarning && mean <= 2)
        return 2;
    return 0;
}

uint8_t overlayTint(uint8_t value, int channel, int mode, uint8_t mask)
{
    const double o = mask / 255.0 * 0.5;
    const double tint = (mode - 1 == channel) ? 255.0 : 0.0;
    return uint8_t(tint * o + value * (1.0 - o));
}

int samplingRadius(double s)
{
    const int r = int(s * 7.0);
    if (r <= 1)
        return 2;
    return std::min(r, 25);
}

std::vector<double> samplingWeights(int r)
{
    const int q = int((0.6 * r) * (0.6 * r));
    const int side = 2 * r + 1;
    std::vector<double> w(size_t(side) * side);
    for (int j = -r; j <= r; ++j)
        for (int i = -r; i <= r; ++i)
            w[size_t(j + r) * side + size_t(i + r)] =
                std::exp(i * i / (-2.0 * q)) * std::exp(j * j / (-2.0 * q));
    return w;
}

int cropHandleAt(int x, int y, int left, int top, int right, int bottom, bool edges, double tolerance)
{
    const int mx = (left + right) / 2, my = (top + bottom) / 2;
    struct handle_t {
        int id, hx, hy;
        bool edge;
    };
    // Test order: 1, 2, 3, 4, 5, 6, 8, 7.
    const handle_t handles[8] = {{1, left, top, false},   {2, mx, top, true},    {3, right, top, false},
                                 {4, left, my, true},     {5, right, my, true},  {6, left, bottom, false},
                                 {8, right, bottom, false}, {7, mx, bottom, true}};
    for (const handle_t &h : handles) {
        if (h.edge && !edges)
            continue;
        if (std::abs(x - h.hx) <= tolerance && std::abs(y - h.hy) <= tolerance)
            return h.id;
    }
    return 0;
}

namespace {

void orderRect(cropRect &r)
{
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
}

// Left/right after a height change forced the width: grow toward the mouse.
void placeWidth(cropRect &r, int width, int mouseX, int W)
{
    if (r.left < mouseX)
        r.right = r.left + width;
    else
        r.left = r.right - width;
    r.right = std::min(r.right, W);
}

} // namespace

cropRect updateCropRect(cropRect r, const cropDrag_t &drag, int mx, int my, int W, int H, double aspect)
{
    switch (drag.kind) {
    case CROP_DRAG_CREATE:
        r.left = std::min(drag.startX, mx);
        r.right = std::max(drag.startX, mx);
        r.top = std::min(drag.startY, my);
        r.bottom = std::max(drag.startY, my);
        break;
    case CROP_DRAG_MOVE: {
        const int width = r.right - r.left, height = r.bottom - r.top;
        r.left = mx - drag.offsetX;
        r.right = r.left + width;
        r.top = my - drag.offsetY;
        r.bottom = r.top + height;
        if (r.left < 0) {
            r.left = 0;
            r.right = width;
        }
        if (r.top < 0) {
            r.top = 0;
            r.bottom = height;
        }
        if (r.right >= W) {
            r.right = W;
            r.left = W - width;
        }
        if (r.bottom >= H) {
            r.bottom = H;
            r.top = H - height;
        }
        break;
    }
    case CROP_DRAG_HANDLE: {
        const int h = drag.handle;
        if (h == 1 || h == 4 || h == 6)
            r.left = std::min(mx, r.right);
        if (h == 3 || h == 5 || h == 8)
            r.right = std::max(mx, r.left);
        if (h == 1 || h == 2 || h == 3)
            r.top = std::min(my, r.bottom);
        if (h == 6 || h == 7 || h == 8)
            r.bottom = std::max(my, r.top);
        break;
    }
    }
    orderRect(r);
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, W);
    r.bottom = std::min(r.bottom, H);

    const bool sized = drag.kind == CROP_DRAG_CREATE || drag.kind == CROP_DRAG_HANDLE;
    if (aspect > 0.0 && sized) {
        const int height = int((r.right - r.left) / aspect + 0.5);
        bool moveTop;
        if (drag.kind == CROP_DRAG_CREATE)
            moveTop = my < drag.startY;
        else
            moveTop = drag.handle >= 1 && drag.handle <= 3;
        const bool moveBottom = drag.kind == CROP_DRAG_CREATE ? !moveTop : drag.handle >= 6 && drag.handle <= 8;
        if (moveTop)
            r.top = my < r.bottom ? r.bottom - height : r.bottom;
        else if (moveBottom)
            r.bottom = my > r.top ? r.top + height : r.top;
        orderRect(r);
        r.left = std::max(r.left, 0);
        if (r.top < 0) {
            r.top = 0;
            placeWidth(r, int(r.bottom * aspect + 0.5), mx, W);
        }
        if (r.bottom > H) {
            r.bottom = H;
            placeWidth(r, int((H - r.top) * aspect + 0.5), mx, W);
        }
    }
    r.width = r.right - r.left;
    r.height = r.bottom - r.top;
    return r;
}

double cropRotationAngle(double startAngle, int startX, int startY, int mouseX, int mouseY, int W, int H)
{
    const int hw = W / 2, hh = H / 2;
    double a = startAngle
               + (std::atan2(double(mouseX - hw), double(mouseY - hh)) - std::atan2(double(startX - hw), double(startY - hh)))
                     * 180.0 / 3.141592653589793;
    while (a < 0.0)
        a += 360.0;
    while (a >= 360.0)
        a -= 360.0;
    return a;
}

double cropDragValue(double startValue, int delta, int extent)
{
    if (extent <= 0)
        return startValue;
    const double v = startValue + double(delta) / extent * 0.25 * 2.0;
    return std::min(0.25, std::max(-0.25, v));
}

int viewportOffset(int a, int b, int centre, double s)
{
    return int(((a + b) / 2 - centre) * s);
}
