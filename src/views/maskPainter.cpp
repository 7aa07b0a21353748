#include "views/maskPainter.h"

#include "app/programOptionsSettings.h"
#include "project/parallelRanges.h"
#include "project/pyramid.h"
#include "widgets/widgetSupport.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>

std::vector<brushPreset_t> brushPresets()
{
    static const int sizes[4] = {56, 40, 22, 8};
    std::vector<brushPreset_t> list;
    list.reserve(BRUSH_PRESET_COUNT);
    for (int k = 0; k < 8; ++k) {
        const int b = k % 4;
        for (int s = 0; s < 4; ++s) {
            brushPreset_t p;
            p.radius = sizes[s];
            p.hardness = 0.8 - b * 0.8 * 0.25;
            p.softness = (b + 1) * 0.3 * 0.2;
            p.square = k >= 4;
            list.push_back(p);
        }
    }
    return list;
}

namespace {

// Distance of stamp offset (i, j) from the centre for a stamp of radius R.
double stampDistance(int i, int j, int R, bool square)
{
    if (!square)
        return std::sqrt(double(i) * i + double(j) * j);
    if (R <= 0)
        return 0.0;
    const double a = double(i) / R, b = double(j) / R;
    return std::pow(std::sqrt(std::pow(a, 10.0) + std::pow(b, 10.0)), 0.3) * R;
}

void fillStamp(brushStamp_t &stamp, int R, bool square, double scale, const std::vector<double> &T, int count)
{
    stamp.radius = R;
    stamp.stride = 2 * R + 1;
    stamp.data.assign(size_t(stamp.stride) * stamp.stride, 0);
    for (int j = -R; j <= R; ++j) {
        for (int i = -R; i <= R; ++i) {
            const double d = stampDistance(i, j, R, square) * scale;
            const int o = int(d * 8.0 + 0.5);
            const int v = int(T[size_t(std::min(o, count))] * 255.0);
            stamp.data[size_t(j + R) * stamp.stride + size_t(i + R)] = uint8_t(std::min(v, 255));
        }
    }
}

inline double clampColour(double v)
{
    return v > 0.0 ? v : 0.0;
}

} // namespace

void buildStamps(const brushPreset_t &brush, double zoom, brushStamp_t &view, brushStamp_t &full)
{
    if (!(zoom > 0.0))
        zoom = 1.0;
    const int viewR = std::max(0, brush.radius);
    const int fullR = std::max(0, int(brush.radius / zoom + 0.5));
    const int M = std::max(viewR, fullR);
    const int count = 8 * M;
    std::vector<double> T(size_t(count) + 1, 0.0);
    const int g = int(M * brush.hardness * 8.0);
    const double sd = M * brush.softness * 8.0;
    for (int i = 0; i < count; ++i) {
        if (i <= g)
            T[size_t(i)] = 1.0;
        else
            T[size_t(i)] = sd > 0.0 ? std::exp(-double(i - g) * (i - g) / (2.0 * sd * sd)) : 0.0;
    }
    T[size_t(count)] = 0.0;
    // Both stamps measure distance in the larger stamp's pixels.
    const double fullScale = viewR >= fullR ? zoom : 1.0;
    const double viewScale = fullR >= viewR ? 1.0 / zoom : 1.0;
    fillStamp(view, viewR, brush.square, viewScale, T, count);
    fillStamp(full, fullR, brush.square, fullScale, T, count);
}

double intelligentWeight(double r, double g, double b, double refR, double refG, double refB, int threshold)
{
    r = clampColour(r);
    g = clampColour(g);
    b = clampColour(b);
    refR = clampColour(refR);
    refG = clampColour(refG);
    refB = clampColour(refB);
    const double sR = 1.0 - std::fabs(std::sqrt(refR) - std::sqrt(r));
    const double sG = 1.0 - std::fabs(std::sqrt(refG) - std::sqrt(g));
    const double sB = 1.0 - std::fabs(std::sqrt(refB) - std::sqrt(b));
    const double sL = 1.0 - std::fabs(std::sqrt((refR + refG + refB) / 3.0) - std::sqrt((r + g + b) / 3.0));
    const double S = std::min(std::min(sR, sG), std::min(sB, sL));
    // Below 30 % similarity the base turns negative; an even power would then
    // give very different colours a large weight, so it is held at 0.
    const double base = std::max(0.0, (S - 0.3) / 0.7);
    const double w = powInt(base, threshold);
    if (!(w > 0.0))
        return 0.0;
    return std::min(1.0, w);
}

void maskResponseTable(double table[256])
{
    for (int v = 0; v < 256; ++v)
        table[v] = 1.0 - v / 255.0;
}

void drawFilledSmoothCircle(const _drawFilledSmoothCircle_threadParams_t &p)
{
    // Every mask pixel is touched once per stamp, so the order does not
    // change the result; rows outside, columns inside keep to the cache.
    const int firstX = std::max(p.firstColumn, p.radius - p.centreX);
    const int endX = std::min(p.endColumn, p.maskWidth - p.centreX + p.radius);
    for (int j = p.stride - 1; j >= 0; --j) {
        const int y = p.centreY + j - p.radius;
        if (y < 0 || y >= p.maskHeight)
            continue;
        uint8_t *row = p.mask + int64_t(y) * p.maskWidth;
        const uint8_t *stampRow = p.stamp + size_t(j) * p.stride;
        for (int i = firstX; i < endX; ++i) {
            const int x = p.centreX + i - p.radius;
            uint8_t &m = row[x];
            const int old = m;
            if (!p.erase && old == 255)
                continue;
            const int s = stampRow[i];
            if (s == 0)
                continue;
            double a = 1.0;
            if (p.image) {
                const float *c = p.image + (int64_t(y) * p.maskWidth + x) * 3;
                a = intelligentWeight(c[0], c[1], c[2], p.refR, p.refG, p.refB, p.threshold);
            }
            const int g = int(s * a * p.opacity);
            if (g <= 0)
                continue;
            if (!p.erase)
                m = uint8_t(std::min(255, int(g * p.response[old] + old)));
            else
                m = uint8_t(std::max(0, int(old - (1.0 - p.response[old]) * g)));
        }
    }
}

std::vector<QPoint> segmentStampPositions(QPoint a, QPoint b, int spacing)
{
    std::vector<QPoint> out;
    if (spacing < 1)
        spacing = 1;
    const int dx = b.x() - a.x(), dy = b.y() - a.y();
    if (dx == 0 && dy == 0) {
        // The press point itself: one stamp (the slope would be 0 / 0).
        out.push_back(a);
        return out;
    }
    const bool alongX = std::abs(dx) >= std::abs(dy);
    QPoint from = a, to = b;
    if ((alongX && b.x() < a.x()) || (!alongX && b.y() < a.y()))
        std::swap(from, to);
    if (alongX) {
        const double slope = double(to.y() - from.y()) / (to.x() - from.x());
        for (int step = 0; from.x() + step <= to.x(); step += spacing)
            out.push_back(QPoint(from.x() + step, from.y() + int(step * slope)));
    } else {
        const double slope = double(to.x() - from.x()) / (to.y() - from.y());
        for (int step = 0; from.y() + step <= to.y(); step += spacing)
            out.push_back(QPoint(from.x() + int(step * slope), from.y() + step));
    }
    return out;
}

void paintSegment(const maskTarget_t &target, const brushStamp_t &stamp, QPoint a, QPoint b, bool erase,
                  double opacity, const double ref[3], int threshold, int taskCount)
{
    if (!target.mask || target.width <= 0 || target.height <= 0 || stamp.data.empty())
        return;
    double response[256];
    maskResponseTable(response);
    _drawFilledSmoothCircle_threadParams_t common;
    common.mask = target.mask;
    common.image = target.image;
    common.maskWidth = target.width;
    common.maskHeight = target.height;
    common.stamp = stamp.data.data();
    common.radius = stamp.radius;
    common.stride = stamp.stride;
    common.response = response;
    common.refR = ref[0];
    common.refG = ref[1];
    common.refB = ref[2];
    common.refLum = std::sqrt(clampColour((ref[0] + ref[1] + ref[2]) / 3.0));
    common.erase = erase ? 1 : 0;
    common.opacity = opacity;
    common.threshold = threshold;
    const int spacing = std::max(1, stamp.radius / 6);
    // The stamps that touch the mask, in painting order, and the columns they cover.
    std::vector<QPoint> centres;
    int64_t left = target.width, right = 0;
    for (const QPoint &c : segmentStampPositions(a, b, spacing)) {
        if (c.x() + stamp.radius < 0 || c.y() + stamp.radius < 0 || c.x() - stamp.radius >= target.width
            || c.y() - stamp.radius >= target.height)
            continue;
        centres.push_back(c);
        left = std::min<int64_t>(left, std::max(0, c.x() - stamp.radius));
        right = std::max<int64_t>(right, std::min(target.width, c.x() + stamp.radius + 1));
    }
    if (centres.empty() || right <= left)
        return;
    // Each task owns a band of mask columns and lays every stamp, in order,
    // into its band: a pixel sees the stamps in the same order as when the
    // stamps are laid one after the other, and the tasks are started once
    // per segment instead of once per stamp. Bands narrower than 32 columns
    // cost more to start than they save.
    const int tasks = int(std::max<int64_t>(1, std::min<int64_t>(taskCount, (right - left) / 32)));
    const std::vector<range_t> bands = splitRanges(right - left, tasks);
    runTasks(int(bands.size()), [&](int k) {
        const int64_t first = left + bands[size_t(k)].first, end = left + bands[size_t(k)].end;
        for (const QPoint &c : centres) {
            const int64_t origin = int64_t(c.x()) - stamp.radius; // mask column of stamp column 0
            _drawFilledSmoothCircle_threadParams_t p = common;
            p.firstColumn = int32_t(std::max<int64_t>(0, first - origin));
            p.endColumn = int32_t(std::min<int64_t>(stamp.stride, end - origin));
            if (p.endColumn <= p.firstColumn)
                continue;
            p.centreX = c.x();
            p.centreY = c.y();
            drawFilledSmoothCircle(p);
        }
    });
}

void fillMaskValues(const maskTarget_t &target, bool erase, const double ref[3], int threshold)
{
    if (!target.mask || target.width <= 0 || target.height <= 0)
        return;
    const int64_t n = int64_t(target.width) * target.height;
    if (!target.image) {
        std::fill(target.mask, target.mask + n, uint8_t(erase ? 0 : 255));
        return;
    }
    for (int64_t k = 0; k < n; ++k) {
        const float *c = target.image + k * 3;
        const int L = int(intelligentWeight(c[0], c[1], c[2], ref[0], ref[1], ref[2], threshold) * 255.0);
        uint8_t &m = target.mask[k];
        m = erase ? uint8_t(std::max(0, int(m) - L)) : uint8_t(std::max(int(m), L));
    }
}

double gradientValue(double x, double y, QPointF p1, QPointF p2, double m)
{
    m = std::min(0.99, std::max(0.01, m));
    const double ex = p2.x() - p1.x(), ey = p2.y() - p1.y();
    const double E2 = ex * ex + ey * ey;
    if (E2 <= 0.0)
        return 0.0;
    // Foot of the perpendicular as a fraction u of the way from p1 to p2.
    const double u = ((x - p1.x()) * ex + (y - p1.y()) * ey) / E2;
    if (u > 1.0)
        return 0.0; // beyond point 2
    if (u < 0.0)
        return 1.0; // beyond point 1
    const double t = 1.0 - u; // distance from point 2 over the length
    if (t < m)
        return 0.5 * t / m;
    return 1.0 - 0.5 * (1.0 - t) / (1.0 - m);
}

double gradientMiddle(QPoint p1, QPoint p2, QPoint p3)
{
    const double L = std::hypot(double(p2.x() - p1.x()), double(p2.y() - p1.y()));
    const double u = std::hypot(double(p1.x() - p3.x()), double(p1.y() - p3.y()));
    const double v = std::hypot(double(p2.x() - p3.x()), double(p2.y() - p3.y()));
    if (!(L > 0.0))
        return 0.5; // both ends on one point: no direction to measure along
    if (L < v && u < v)
        return 1.0;
    if (L < u && u > v)
        return 0.0;
    return u >= v ? 1.0 - u / L : v / L;
}

QPoint gradientHandlePoint(QPoint p1, QPoint p2, double m)
{
    return QPoint(int(p2.x() - m * (p2.x() - p1.x())), int(p2.y() - m * (p2.y() - p1.y())));
}

void gradientIntoMask(uint8_t *dst, const uint8_t *src, int32_t width, int32_t height, QPointF p1, QPointF p2,
                      double m, const float *image, const double ref[3], int threshold, int taskCount)
{
    if (!dst || !src || width <= 0 || height <= 0)
        return;
    parallelRanges(
        height, taskCount, [](range_t r) { return r; },
        [&](const range_t &r) {
            for (int64_t y = r.first; y < r.end; ++y) {
                for (int x = 0; x < width; ++x) {
                    const int64_t k = y * width + x;
                    double I = gradientValue(x, double(y), p1, p2, m);
                    if (image && I > 0.0) {
                        const float *c = image + k * 3;
                        I *= intelligentWeight(c[0], c[1], c[2], ref[0], ref[1], ref[2], threshold);
                    }
                    dst[k] = uint8_t(std::min(255, int(src[k] + I * 255.0)));
                }
            }
        });
}

// ---------------------------------------------------------------- maskPainter

namespace {

QCursor resourceCursor(const char *name, Qt::CursorShape fallback)
{
    const bool hi = widgetSupport::devicePixelRatio() != 1.0;
    const QString base = QStringLiteral(":/resources/cursors/") + QLatin1String(name);
    const QBitmap bitmap(base + (hi ? "@2x.bmp" : ".bmp"));
    const QBitmap mask(base + (hi ? "_mask@2x.bmp" : "_mask.bmp"));
    if (bitmap.isNull() || mask.isNull())
        return QCursor(fallback);
    return QCursor(bitmap, mask, hi ? 35 : 17, hi ? 30 : 14);
}

} // namespace

maskPainter::maskPainter() : presetList(brushPresets())
{
    initWidgetResources();
    fillCursor = resourceCursor("bucket", Qt::PointingHandCursor);
    gradientCursor = resourceCursor("cross", Qt::CrossCursor);
    selectBrush(BRUSH_DEFAULT_PRESET, 1.0);
}

void maskPainter::selectBrush(int preset, double newOpacity)
{
    if (preset < 0 || preset >= int(presetList.size()))
        return;
    current = presetList[size_t(preset)];
    rebuildStamps(zoom);
    opacity = newOpacity;
    brushCursor = outlineCursor();
    eraserCursor = brushCursor;
}

void maskPainter::rebuildStamps(double newZoom)
{
    if (!(newZoom > 0.0))
        newZoom = 1.0;
    buildStamps(current, newZoom, viewStampData, fullStampData);
    zoom = newZoom;
}

QCursor maskPainter::outlineCursor() const
{
    const double dpr = widgetSupport::devicePixelRatio();
    const int d = 2 * current.radius;
    const int size = d <= 30 ? 32 : d <= 62 ? 64 : d <= 126 ? 128 : 256;
    const double diameter = current.radius == 0 ? 2.0 : 0.9 * (2 * current.radius + 1);
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    {
        QPainter p(&pix);
        p.setRenderHint(QPainter::Antialiasing, false);
        const QRectF box((size - diameter) / 2.0, (size - diameter) / 2.0, diameter, diameter);
        const double corner = current.radius / 8.0;
        auto ring = [&](const QColor &c, double w) {
            p.setPen(QPen(c, w));
            p.setBrush(Qt::NoBrush);
            if (current.square)
                p.drawRoundedRect(box, corner, corner);
            else
                p.drawEllipse(box);
        };
        ring(Qt::white, 3.0);
        ring(Qt::black, 1.0);
        const int c = size / 2;
        p.setPen(QPen(Qt::white, 3.0));
        p.drawLine(c - 2, c, c + 2, c);
        p.drawLine(c, c - 2, c, c + 2);
        p.setPen(QPen(Qt::black, 1.0));
        p.drawLine(c - 2, c, c + 2, c);
        p.drawLine(c, c - 2, c, c + 2);
    }
    pix.setDevicePixelRatio(dpr);
    return QCursor(pix, int(size / 2 / dpr), int(size / 2 / dpr));
}

QIcon maskPainter::brushIcon(int preset) const
{
    if (preset < 0 || preset >= int(presetList.size()))
        return QIcon();
    const brushPreset_t &p = presetList[size_t(preset)];
    const int b = int(p.radius / 60.0 * 15.0);
    if (2 * b > 30)
        return QIcon(QStringLiteral(":/resources/plus.png"));
    brushPreset_t small = p;
    small.radius = b;
    brushStamp_t view, full;
    buildStamps(small, 1.0, view, full);
    QIcon icon;
    const QColor colours[3] = {QColor(220, 220, 220), QColor(110, 110, 110), QColor(255, 255, 255)};
    const QIcon::Mode modes[3] = {QIcon::Normal, QIcon::Disabled, QIcon::Active};
    for (int k = 0; k < 3; ++k) {
        QImage img(32, 32, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        for (int j = 0; j < view.stride; ++j)
            for (int i = 0; i < view.stride; ++i) {
                const int a = int(view.data[size_t(j) * view.stride + size_t(i)] * std::sqrt(opacity));
                const int x = 16 + i - b, y = 16 + j - b;
                if (x >= 0 && x < 32 && y >= 0 && y < 32)
                    img.setPixelColor(x, y, QColor(colours[k].red(), colours[k].green(), colours[k].blue(), a));
            }
        icon.addPixmap(QPixmap::fromImage(img), modes[k]);
    }
    return icon;
}
