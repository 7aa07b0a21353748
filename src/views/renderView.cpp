#include "views/renderView.h"

#include "app/debugLog.h"
#include "project/processingProject.h"
#include "views/viewMaths.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <type_traits>
#include <vector>

pyramidView_t describePyramid(const pyramid &p)
{
    pyramidView_t v;
    v.levelCount = std::max(0, std::min(int(p.levelCount), PYRAMID_MAX_LEVELS));
    v.bytesPerSample = p.bytesPerSample;
    v.channels = p.channels;
    for (int k = 0; k < v.levelCount; ++k) {
        v.levels[k].width = p.levels[k].width;
        v.levels[k].height = p.levels[k].height;
        v.levels[k].data = p.levels[k].data;
        v.levels[k].ready = p.levels[k].data && (k == 0 || p.levels[k].valid);
    }
    return v;
}

namespace {

constexpr uint32_t MARKER = 0x01000000u;

inline uint32_t packRgb(int r, int g, int b, uint32_t marker)
{
    return marker | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

inline uint32_t greyPixel(uint8_t v)
{
    return packRgb(v, v, v, 0);
}

// Sample of one channel at an index, by sample size.
inline double rawSample(const void *data, int bytes, int64_t index)
{
    switch (bytes) {
    case 1:
        return static_cast<const uint8_t *>(data)[index];
    case 2:
        return static_cast<const uint16_t *>(data)[index];
    default:
        return static_cast<const float *>(data)[index];
    }
}

// Position of a sample between four neighbours; levels one pixel wide or
// high use the same pixel twice.
struct samplePos_t {
    int64_t i00, i10, i01, i11;
    double fx, fy;
};

inline samplePos_t bilinearPos(double x, double y, int w, int h, int channels)
{
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    x0 = std::min(std::max(x0, 0), std::max(0, w - 2));
    y0 = std::min(std::max(y0, 0), std::max(0, h - 2));
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    samplePos_t p;
    p.fx = std::min(1.0, std::max(0.0, x - x0));
    p.fy = std::min(1.0, std::max(0.0, y - y0));
    p.i00 = (int64_t(y0) * w + x0) * channels;
    p.i10 = (int64_t(y0) * w + x1) * channels;
    p.i01 = (int64_t(y1) * w + x0) * channels;
    p.i11 = (int64_t(y1) * w + x1) * channels;
    return p;
}

inline int64_t nearestIndex(double x, double y, int w, int h, int channels)
{
    const int nx = std::min(std::max(int(x + 0.5), 0), w - 1);
    const int ny = std::min(std::max(int(y + 0.5), 0), h - 1);
    return (int64_t(ny) * w + nx) * channels;
}

// The part of a sample position along one axis: the two neighbours, the
// fraction between them and the nearest pixel (bilinearPos and nearestIndex
// along x or along y).
struct axisPos_t {
    int lo = 0, hi = 0, nearest = 0;
    double f = 0.0;
};

inline axisPos_t axisPos(double v, int n)
{
    axisPos_t a;
    a.lo = std::min(std::max(int(std::floor(v)), 0), std::max(0, n - 2));
    a.hi = std::min(a.lo + 1, n - 1);
    a.f = std::min(1.0, std::max(0.0, v - a.lo));
    a.nearest = std::min(std::max(int(v + 0.5), 0), n - 1);
    return a;
}

inline samplePos_t combine(const axisPos_t &ax, const axisPos_t &ay, int w, int channels)
{
    samplePos_t p;
    p.fx = ax.f;
    p.fy = ay.f;
    p.i00 = (int64_t(ay.lo) * w + ax.lo) * channels;
    p.i10 = (int64_t(ay.lo) * w + ax.hi) * channels;
    p.i01 = (int64_t(ay.hi) * w + ax.lo) * channels;
    p.i11 = (int64_t(ay.hi) * w + ax.hi) * channels;
    return p;
}

// The level of a project pyramid to read for a level index chosen on the
// picture: the same index when it holds data, else the nearest finer one.
inline int usableLevel(const pyramid &p, int level)
{
    level = std::min(level, int(p.levelCount) - 1);
    while (level > 0 && !p.levels[level].data)
        --level;
    return level;
}

// One level of a project pyramid, chosen once per stripe.
struct levelReader_t {
    const void *data = nullptr;
    int w = 0, h = 0, channels = 1, bytes = 1;
    double scale = 1.0; // level pixels per level-0 pixel
};

inline levelReader_t projectLevel(const pyramid &p, int level)
{
    levelReader_t r;
    if (p.levelCount < 1)
        return r;
    const int l = usableLevel(p, level);
    const pyramidLevel_t &lv = p.levels[l];
    if (!lv.data || lv.width <= 0 || lv.height <= 0)
        return r;
    r.data = lv.data;
    r.w = lv.width;
    r.h = lv.height;
    r.channels = std::max(1, int(p.channels));
    r.bytes = p.bytesPerSample;
    r.scale = 1.0 / double(1 << l);
    return r;
}

template <typename T>
inline void bilinearChannels(const T *d, const samplePos_t &p, int n, double *out)
{
    const double w00 = (1 - p.fx) * (1 - p.fy), w10 = p.fx * (1 - p.fy), w01 = (1 - p.fx) * p.fy, w11 = p.fx * p.fy;
    for (int c = 0; c < n; ++c)
        out[c] = d[p.i00 + c] * w00 + d[p.i10 + c] * w10 + d[p.i01 + c] * w01 + d[p.i11 + c] * w11;
}

// Bilinear read of every channel at a level-0 position.
inline bool readLevel(const levelReader_t &r, double x0, double y0, double *out)
{
    if (!r.data)
        return false;
    const samplePos_t pos = bilinearPos(x0 * r.scale, y0 * r.scale, r.w, r.h, r.channels);
    switch (r.bytes) {
    case 1:
        bilinearChannels(static_cast<const uint8_t *>(r.data), pos, r.channels, out);
        break;
    case 2:
        bilinearChannels(static_cast<const uint16_t *>(r.data), pos, r.channels, out);
        break;
    default:
        bilinearChannels(static_cast<const float *>(r.data), pos, r.channels, out);
        break;
    }
    return true;
}

inline bool onSourceSide(int mode, int x, int row, int splitX, int splitY)
{
    switch (mode) {
    case 1:
        return x <= splitX;
    case 2:
        return x >= splitX;
    case 3:
        return row <= splitY;
    case 4:
        return row >= splitY;
    default:
        return false;
    }
}

} // namespace

void renderViewStripe(const _viewDrawThreadParams_t &p)
{
    const pyramidView_t &pic = *p.picture;
    processingProject *proj = p.project;
    previewWindow_t &win = proj->view;
    const double s = p.zoom;
    const double ox = std::floor(p.viewWidth * 0.5 - p.centreX * s - p.scrollX);
    const double oy = std::floor(p.viewHeight * 0.5 - p.centreY * s - p.scrollY);
    const int wx = std::max(0, int(ox + 0.5)), wy = std::max(0, int(oy + 0.5));
    const int winW = win.width, winH = win.height;

    bool ready[PYRAMID_MAX_LEVELS] = {};
    for (int k = 0; k < pic.levelCount; ++k)
        ready[k] = pic.levels[k].ready;
    int level = 0, t = 1;
    pyramidLevelFor(s, ready, pic.levelCount, level, t);
    bool smooth = p.smooth != 0;
    if (pic.levelCount > 1 && !pic.levels[1].ready && s < 1.0)
        smooth = false;
    const pyramidView_t::level_t &lv = pic.levels[std::max(0, level)];
    const int lw = lv.width, lh = lv.height;
    const bool image = p.hasImage && lv.data && lw > 0 && lh > 0;

    // Crop-transform constants (level pixels of the chosen level).
    const double mx = double((t * lw) / 2), my = double((t * lh) / 2);
    const double norm = 2.0 / std::max(1, std::min(lw, lh) - 1);

    const bool tmView = p.toneMappedView != 0;
    const bool resample = p.resample != 0 && tmView;
    const bool showToneMapped = tmView && !p.resample && !p.showSource && win.ready;
    const bool overlayOn = p.maskPainting && p.overlayMode != 0;
    const bool warnings = (p.shadowWarning || p.highlightWarning) && !overlayOn;
    const int cur = p.currentLayer;
    const bool curShown = cur > 0 && cur < LAYER_COUNT && proj->layerEnabled[cur]
                          && (!p.layerVisible || p.layerVisible[cur]) && win.layerMask[cur];

    // Layers composited while a mask is painted.
    const uint8_t *layerRgb[LAYER_COUNT] = {};
    const uint8_t *layerMask[LAYER_COUNT] = {};
    double opacity[LAYER_COUNT] = {};
    int layerCount = 0;
    if (p.maskPainting) {
        for (int l = 1; l < LAYER_COUNT; ++l) {
            if (!proj->layerEnabled[l] || (p.layerVisible && !p.layerVisible[l]) || !win.layerOutput[l]
                || !win.layerMask[l])
                continue;
            layerRgb[layerCount] = win.layerOutput[l];
            layerMask[layerCount] = win.layerMask[l];
            opacity[layerCount] = proj->layerSettings[l].opacity;
            ++layerCount;
        }
    }

    levelReader_t hdrReader, mapReader[PROJECT_LC_PYRAMIDS], maskReader[LAYER_COUNT];
    if (resample) {
        hdrReader = projectLevel(proj->hdrImage, level);
        for (int m = 0; m < PROJECT_LC_PYRAMIDS; ++m)
            mapReader[m] = projectLevel(proj->lcPyramids[m], level);
        for (int l = 1; l < LAYER_COUNT; ++l)
            maskReader[l] = projectLevel(proj->layerMasks[l], level);
    }
    quint16 *const maps[PROJECT_LC_PYRAMIDS] = {win.maskLuminance, win.localFine, win.localMedium, win.localCoarse};
    const int bytes = pic.bytesPerSample, ch = std::max(1, int(pic.channels));

    // Outside crop mode a column maps to the same level position on every
    // row: its position and sampling neighbours are worked out once here.
    const bool straight = !p.cropMode;
    std::vector<double> columnX;
    std::vector<axisPos_t> columnPos;
    if (straight && p.viewWidth > 0) {
        columnX.resize(size_t(p.viewWidth));
        columnPos.resize(size_t(p.viewWidth));
        for (int x = 0; x < p.viewWidth; ++x) {
            columnX[size_t(x)] = ((x - ox) / s) / t;
            if (image)
                columnPos[size_t(x)] = axisPos(columnX[size_t(x)], lw);
        }
    }

    for (int k = p.firstRow; k < p.endRow; ++k) {
        uint32_t *row = p.pixels + int64_t(k) * p.viewWidth;
        int firstImage = -1, lastImage = -1;
        const double Y = (k - oy) / s;
        const bool rowInWindow = k >= wy && k < wy + winH;
        const double rowY = Y / t;
        const axisPos_t rowPos = straight && image ? axisPos(rowY, lh) : axisPos_t();
        for (int x = 0; x < p.viewWidth; ++x) {
            double sx, sy; // level pixels
            if (straight) {
                sx = columnX[size_t(x)];
                sy = rowY;
            } else {
                const double X = (x - ox) / s;
                const double r = std::hypot(X - mx, Y - my) * norm / t;
                const double f = p.distortion * r * r + (1.0 - p.distortion);
                const double dx = f * (X - mx), dy = f * (Y - my);
                const double rx = p.cosAngle * dx - p.sinAngle * dy;
                const double ry = p.cosAngle * dy + p.sinAngle * dx;
                sx = ((ry * norm / t * p.perspectiveX + 1.0) * rx + mx) / t;
                sy = ((rx * norm / t * p.perspectiveY + 1.0) * ry + my) / t;
            }
            const bool outside = sx < 0 || sy < 0 || sx >= lw || sy >= lh;
            const bool inWindow = rowInWindow && x >= wx && x < wx + winW;

            if (!inWindow) {
                if (p.cropMode && image && !outside)
                    row[x] = packRgb(255, 255, 0, MARKER);
                else
                    row[x] = greyPixel(checkerTone(k, x, p.dpr, p.checkerA, p.checkerB));
                continue;
            }
            if (!image) {
                row[x] = greyPixel(p.flatTone);
                continue;
            }
            if (p.cropMode && outside) {
                row[x] = packRgb(255, 0, 255, MARKER);
                continue;
            }
            const int64_t wi = int64_t(x - wx) + int64_t(k - wy) * winW;
            if (resample) {
                const double x0 = sx * t, y0 = sy * t;
                if (p.refreshLayer <= 0) {
                    double v[4];
                    if (win.hdr && hdrReader.channels == 3 && readLevel(hdrReader, x0, y0, v)) {
                        float *h = win.hdr + wi * 3;
                        h[0] = float(v[0]);
                        h[1] = float(v[1]);
                        h[2] = float(v[2]);
                    }
                    for (int m = 0; m < PROJECT_LC_PYRAMIDS; ++m) {
                        if (maps[m] && mapReader[m].channels == 1 && readLevel(mapReader[m], x0, y0, v))
                            maps[m][wi] = quint16(std::min(65535.0, v[0]));
                    }
                }
                if (p.maskPainting) {
                    for (int l = 1; l < LAYER_COUNT; ++l) {
                        if (!proj->layerEnabled[l] || !win.layerMask[l] || (p.refreshLayer >= 1 && p.refreshLayer != l))
                            continue;
                        double v[4];
                        if (maskReader[l].channels == 1 && readLevel(maskReader[l], x0, y0, v))
                            win.layerMask[l][wi] = quint8(std::min(255.0, v[0]));
                    }
                }
            }
            int r, g, b;
            if (showToneMapped && win.layerOutput[0] && !onSourceSide(p.splitMode, x, k, p.splitX, p.splitY)) {
                const uint8_t *base = win.layerOutput[0] + wi * 3;
                uint8_t out[3] = {base[0], base[1], base[2]};
                if (layerCount > 0) {
                    const uint8_t *rgbAt[LAYER_COUNT];
                    double w[LAYER_COUNT];
                    for (int l = 0; l < layerCount; ++l) {
                        rgbAt[l] = layerRgb[l] + wi * 3;
                        w[l] = layerMask[l][wi] * opacity[l];
                    }
                    compositeLayers(base, layerCount, rgbAt, w, out);
                }
                if (curShown && p.overlayMode >= 1 && p.overlayMode <= 3) {
                    const uint8_t m = win.layerMask[cur][wi];
                    for (int c = 0; c < 3; ++c)
                        out[c] = overlayTint(out[c], c, p.overlayMode, m);
                } else if (curShown && p.overlayMode == 4) {
                    out[0] = out[1] = out[2] = win.layerMask[cur][wi];
                }
                r = out[0];
                g = out[1];
                b = out[2];
                if (warnings) {
                    const int warn = clippingWarning(r, g, b, p.shadowWarning, p.highlightWarning);
                    if (warn == 1) {
                        r = 255;
                        g = b = 0;
                    } else if (warn == 2) {
                        r = g = 0;
                        b = 255;
                    }
                }
            } else {
                double v[4];
                if (smooth) {
                    const samplePos_t pos = straight ? combine(columnPos[size_t(x)], rowPos, lw, ch)
                                                     : bilinearPos(sx, sy, lw, lh, ch);
                    const int n = std::min(ch, 3);
                    if (bytes == 1)
                        bilinearChannels(static_cast<const uint8_t *>(lv.data), pos, n, v);
                    else if (bytes == 2)
                        bilinearChannels(static_cast<const uint16_t *>(lv.data), pos, n, v);
                    else
                        bilinearChannels(static_cast<const float *>(lv.data), pos, n, v);
                    for (int c = n; c < 3; ++c)
                        v[c] = v[n - 1];
                } else {
                    const int64_t idx = straight ? (int64_t(rowPos.nearest) * lw + columnPos[size_t(x)].nearest) * ch
                                                 : nearestIndex(sx, sy, lw, lh, ch);
                    for (int c = 0; c < 3; ++c)
                        v[c] = rawSample(lv.data, bytes, idx + std::min(c, ch - 1));
                }
                int out[3];
                for (int c = 0; c < 3; ++c) {
                    if (bytes == 1)
                        out[c] = int(v[c]);
                    else if (bytes == 2)
                        out[c] = int(v[c]) >> 8;
                    else
                        out[c] = int(std::min(255.0, std::max(0.0, v[c] * 255.0)));
                }
                r = out[0];
                g = out[1];
                b = out[2];
            }
            row[x] = packRgb(r, g, b, MARKER);
            if (firstImage < 0)
                firstImage = x;
            lastImage = x;
        }
        if (firstImage >= 0 && proj->transformsAreValid()) {
            // The display transform works on BGRA; the marker bytes are kept.
            const int n = lastImage - firstImage + 1;
            std::vector<uint8_t> markers(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                markers[size_t(i)] = uint8_t(row[firstImage + i] >> 24);
            proj->doTransform(processingProject::TRANSFORM_TO_MONITOR_BGRA, row + firstImage, row + firstImage,
                              uint32_t(n));
            for (int i = 0; i < n; ++i)
                row[firstImage + i] = (row[firstImage + i] & 0x00ffffffu) | uint32_t(markers[size_t(i)]) << 24;
        }
    }
}

void compositeViewRows(const _viewComposite_threadParams_t &p)
{
    const int rowsN = guidelineCount(p.cropBottom - p.cropTop, p.dense);
    const int colsN = guidelineCount(p.cropRight - p.cropLeft, p.dense);
    std::vector<uint8_t> guideColumn(size_t(std::max(0, p.width)), 0);
    if (p.cropMode && p.guidelines) {
        for (int i = 1; i <= colsN; ++i) {
            const int c = guidelinePosition(p.cropLeft, p.cropRight, i, colsN);
            if (c >= 0 && c < p.width)
                guideColumn[size_t(c)] = 1;
        }
    }
    for (int y = p.firstRow; y < p.endRow; ++y) {
        const uint32_t *src = p.source + int64_t(y) * p.width;
        uint32_t *dst = reinterpret_cast<uint32_t *>(p.target + int64_t(y) * p.targetStride);
        if (!p.cropMode) {
            for (int x = 0; x < p.width; ++x)
                dst[x] = src[x] | 0xff000000u;
            continue;
        }
        bool guideRow = false;
        if (p.guidelines && y >= p.cropTop && y < p.cropBottom) {
            for (int i = 1; i <= rowsN && !guideRow; ++i)
                guideRow = y == guidelinePosition(p.cropTop, p.cropBottom, i, rowsN);
        }
        const bool rowInside = y >= p.cropTop && y < p.cropBottom;
        for (int x = 0; x < p.width; ++x) {
            uint32_t v = src[x];
            const uint32_t marker = v >> 24;
            if (marker != 0) {
                const bool inside = rowInside && x >= p.cropLeft && x < p.cropRight;
                if (!inside) {
                    v = (v >> 2) & 0x003f3f3fu;
                } else if (p.guidelines && marker == 1 && (guideRow || guideColumn[size_t(x)])) {
                    v = (v & 0x00fefefeu) ^ 0x00ffffffu;
                }
            }
            dst[x] = (v & 0x00ffffffu) | 0xff000000u;
        }
    }
}

void freeWindowBuffers(previewWindow_t &view)
{
    delete[] view.hdr;
    delete[] view.localFine;
    delete[] view.localMedium;
    delete[] view.localCoarse;
    delete[] view.maskLuminance;
    delete[] view.detail;
    delete[] view.maskBackup;
    view.hdr = nullptr;
    view.localFine = view.localMedium = view.localCoarse = view.maskLuminance = nullptr;
    view.detail = nullptr;
    view.maskBackup = nullptr;
    for (int l = 0; l < LAYER_COUNT; ++l) {
        delete[] view.layerOutput[l];
        delete[] view.layerMask[l];
        view.layerOutput[l] = nullptr;
        view.layerMask[l] = nullptr;
    }
    view.width = view.height = 0;
    view.ready = false;
}

bool allocateWindowBuffers(previewWindow_t &view, int width, int height, const uint8_t *layerEnabled,
                           int64_t byteLimit)
{
    freeWindowBuffers(view);
    if (width <= 0 || height <= 0)
        return true;
    const int64_t n = int64_t(width) * height;
    int64_t total = n * (12 + 2 * 5 + 1);
    for (int l = 0; l < LAYER_COUNT; ++l) {
        if (layerEnabled && layerEnabled[l])
            total += n * (l > 0 ? 4 : 3);
    }
    bool ok = total <= byteLimit;
    auto grab = [&](auto *&ptr, int64_t count) {
        using T = std::remove_reference_t<decltype(*ptr)>;
        if (!ok)
            return;
        ptr = new (std::nothrow) T[size_t(count)]();
        if (!ptr)
            ok = false;
    };
    grab(view.hdr, n * 3);
    grab(view.localFine, n);
    grab(view.localMedium, n);
    grab(view.localCoarse, n);
    grab(view.maskLuminance, n);
    grab(view.detail, n);
    for (int l = 0; l < LAYER_COUNT; ++l) {
        if (!layerEnabled || !layerEnabled[l])
            continue;
        grab(view.layerOutput[l], n * 3);
        if (l > 0)
            grab(view.layerMask[l], n);
    }
    grab(view.maskBackup, n);
    if (!ok) {
        debugLog("%s: Not enough memory for a view of %d x %d\n", "mainImageArea::updatePixmap", width, height);
        freeWindowBuffers(view);
        return false;
    }
    view.width = width;
    view.height = height;
    return true;
}
