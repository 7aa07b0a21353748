#include "panels/toneCurveTool.h"

#include "app/utils.h"
#include "widgets/crossCursor.h"
#include "widgets/widgetSupport.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// Curve colours of the four channels (master, red, green, blue).
const QColor CURVE_COLORS[4] = {QColor(0, 0, 0), QColor(80, 0, 0), QColor(0, 40, 0), QColor(0, 0, 100)};
const int OWN_CURVE_ALPHA = 190;
const int OTHER_CURVE_ALPHA = 60;
const double CURVE_PEN_WIDTH = 1.3;
const int HISTOGRAM_ALPHA = 80;
const int HOVER_DISTANCE = 5; // pixels at UI scale 1.0

// A point of the curve is valid when both coordinates are finite and in 0..1.
bool validPoint(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y()) && p.x() >= 0.0 && p.x() <= 1.0 && p.y() >= 0.0 &&
           p.y() <= 1.0;
}

int clamp255(double v)
{
    return std::clamp(int(v), 0, 255);
}

bool isArrowKey(int key)
{
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

} // namespace

// --------------------------------------------------------------------------
// toneCurveToolArea

toneCurveToolArea::toneCurveToolArea(int channel, QWidget *parent)
    : QWidget(parent), chan(std::clamp(channel, 0, 3))
{
    siblings[chan] = this;
    points << QPointF(0.0, 0.0) << QPointF(1.0, 1.0);
    gridPen = QPen(QColor(255, 255, 255, 70));
    gridPen.setWidthF(0.6);
    gridPen.setDashPattern({4.0, 4.0});

    setMouseTracking(true);
    crossCursor = makeCrossCursor();
    setMinimumSize(100, 100);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    resize(100, 100);
    setFixedHeight(width());
    setFocusPolicy(Qt::StrongFocus);
    setup();
    needsSetup = false;
}

toneCurveToolArea::~toneCurveToolArea() = default;

int toneCurveToolArea::marginFor(int w)
{
    return 2 * (w / 40) + (w % 2 == 0 ? 1 : 0);
}

void toneCurveToolArea::setSiblings(toneCurveToolArea *const canvases[4])
{
    for (int i = 0; i < 4; ++i)
        siblings[i] = canvases[i];
    siblings[chan] = this;
}

bool toneCurveToolArea::setCurvePoints(const QList<QPointF> &list)
{
    if (list.size() > CURVE_MAX_POINTS)
        return false;
    for (const QPointF &p : list) {
        if (!validPoint(p))
            return false;
    }
    points = list;
    hovered = -1;
    dragged = -1;
    if (keyboardPoint >= points.size())
        keyboardPoint = 0;
    modified = true;
    return true;
}

void toneCurveToolArea::setHistogram(const quint32 *counts, int count)
{
    sourceHistogram = count > 0 ? counts : nullptr;
    sourceCount = sourceHistogram ? count : 0;
}

void toneCurveToolArea::computeHistogram()
{
    bins.assign(size_t(std::max(binCount, 0)) + 1, 0);
    if (sourceHistogram && sourceCount > 0 && binCount > 0)
        resampleHistogram(sourceHistogram, sourceCount, bins.data(), binCount, histHeight);
}

void toneCurveToolArea::setWBpoints(double b, double w)
{
    blackPt = b;
    whitePt = w;
}

void toneCurveToolArea::setSampleValue(bool inImg, rgbDouble_t v)
{
    if (inImg) {
        sample[0] = v.r;
        sample[1] = v.g;
        sample[2] = v.b;
        sample[3] = 0.3086 * v.r + 0.6094 * v.g + 0.082 * v.b;
    } else {
        std::fill(sample, sample + 4, -1.0);
    }
    update();
}

// Sizes the picture, the margins and the tables for the current widget size.
void toneCurveToolArea::setup()
{
    const double dpr = widgetSupport::devicePixelRatio();
    logW = std::max(width(), 2);
    logH = std::max(height(), 2);
    imgW = std::max(int(logW * dpr), 2);
    imgH = std::max(int(logH * dpr), 2);
    image = QImage(imgW, imgH, QImage::Format_ARGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    pixmap = QPixmap();
    devMargin = marginFor(imgW);
    logMargin = marginFor(logW);
    binCount = std::max(imgW - devMargin, 1);
    histHeight = std::max(imgH - devMargin, 1);
    areaW = std::max(logW - logMargin, 2);
    areaH = std::max(logH - logMargin, 2);
    computeHistogram();
    rebuildImages(true);
}

void toneCurveToolArea::sortPoints()
{
    // Exchange sort; equal x keep their order, indices follow their points.
    for (int i = 0; i < points.size(); ++i) {
        for (int j = i + 1; j < points.size(); ++j) {
            if (points[j].x() < points[i].x()) {
                points.swapItemsAt(i, j);
                for (int *index : {&hovered, &dragged, &keyboardPoint}) {
                    if (*index == i)
                        *index = j;
                    else if (*index == j)
                        *index = i;
                }
            }
        }
    }
}

void toneCurveToolArea::rebuildImages(bool realloc)
{
    if (table.empty() || realloc)
        table.assign(size_t(areaW) + 1, 0.0);
    sortPoints();
    curveToTable(table.data(), int(table.size()), points, curveMode);
}

QPoint toneCurveToolArea::pointPosition(int i) const
{
    const QPointF &p = points.at(i);
    return QPoint(int((areaW - 1) * p.x() + 0.5) + logMargin, areaH - 1 - int((areaH - 1) * p.y() + 0.5));
}

int toneCurveToolArea::pointAt(const QPoint &pos) const
{
    const double limit = HOVER_DISTANCE * widgetSupport::uiScale();
    for (int i = 0; i < points.size(); ++i) {
        const QPoint d = pointPosition(i) - pos;
        if (int(std::sqrt(double(d.x()) * d.x() + double(d.y()) * d.y()) + 0.5) < limit)
            return i;
    }
    return -1;
}

QPointF toneCurveToolArea::curvePositionAt(const QPoint &pos) const
{
    const double x = double(pos.x() - logMargin) / (areaW - 1);
    const double y = 1.0 - double(pos.y()) / (areaH - 1);
    return QPointF(std::clamp(x, 0.0, 1.0), std::clamp(y, 0.0, 1.0));
}

QColor toneCurveToolArea::channelColor(int value) const
{
    switch (chan) {
    case 1: return QColor(value, 0, 0);
    case 2: return QColor(0, value, 0);
    case 3: return QColor(0, 0, value);
    default: return QColor(value, value, value);
    }
}

void toneCurveToolArea::drawHistogram()
{
    static const int tint[4][3] = {{0, 0, 0}, {16, 0, 0}, {0, 10, 0}, {0, 0, 18}};
    for (int row = 0; row < histHeight && row < imgH; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int c = 0; c < binCount && devMargin + c < imgW; ++c) {
            int level = bins[size_t(c)] < histHeight - row - 1 ? 128 : 93;
            const double position = double(c) / binCount;
            if (position < blackPt || position > whitePt)
                level = int(level * 0.7);
            line[devMargin + c] = qRgba(level + tint[chan][0], level + tint[chan][1], level + tint[chan][2],
                                        HISTOGRAM_ALPHA);
        }
    }
}

void toneCurveToolArea::drawGrid(QPainter &p) const
{
    p.setPen(gridPen);
    p.setBrush(Qt::NoBrush);
    for (int k = 1; k <= 4; ++k) {
        const int y = int(areaH / 5.0 * k);
        p.drawLine(QPointF(logMargin, y), QPointF(logW, y));
        const int x = logMargin + int(areaW / 5.0 * k);
        p.drawLine(QPointF(x, 0), QPointF(x, areaH));
    }
    p.drawLine(QPointF(logMargin, areaH - 1), QPointF(logW, 0));
}

void toneCurveToolArea::drawPoints(QPainter &p) const
{
    const double s = widgetSupport::uiScale();
    for (int j = 0; j < points.size(); ++j) {
        const bool hot = j == hovered;
        const double r = (hot ? 4.0 : 3.0) * s;
        const QColor colour(0, 0, 0, hot ? 255 : 100);
        const QPointF c = pointPosition(j);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(c, r, r);
        if (j == keyboardPoint && hasFocus()) {
            p.setPen(QPen(QColor(0, 0, 0, 100), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, 2 * r, 2 * r);
        }
    }
}

void toneCurveToolArea::drawCurves(QPainter &p) const
{
    p.setBrush(Qt::NoBrush);
    for (int ch = 3; ch >= 0; --ch) {
        const toneCurveToolArea *owner = siblings[ch];
        if (!owner)
            continue;
        if (ch != chan && !(chan == 0 && owner->modified))
            continue;
        const std::vector<double> &t = owner->table;
        if (t.empty())
            continue;
        QColor colour = CURVE_COLORS[ch];
        colour.setAlpha(ch == chan ? OWN_CURVE_ALPHA : OTHER_CURVE_ALPHA);
        QPen pen(colour);
        pen.setWidthF(CURVE_PEN_WIDTH);
        p.setPen(pen);
        QPainterPath path;
        const int n = std::min(int(t.size()) - 1, areaW);
        for (int k = 0; k <= n; ++k) {
            const QPointF q(k + logMargin, (areaH - 1) - t[size_t(k)] * (areaH - 1));
            if (k == 0)
                path.moveTo(q);
            else
                path.lineTo(q);
        }
        p.drawPath(path);
    }
}

void toneCurveToolArea::drawGradientBars()
{
    // Left bar: full intensity at the top, none at the bottom; its last
    // column stays transparent as a gap to the histogram.
    for (int row = 0; row < histHeight && row < imgH; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        const QColor c = channelColor(clamp255((1.0 - double(row) / histHeight) * 255.0));
        for (int x = 0; x < devMargin - 1; ++x)
            line[x] = c.rgba();
    }
    // Bottom bar: black at the black point, full at the white point; its
    // first row stays transparent.
    const double span = whitePt - blackPt;
    for (int row = histHeight + 1; row < imgH; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int x = devMargin; x < imgW; ++x) {
            const double position = double(x - devMargin) / binCount;
            double v;
            if (span > 0.0)
                v = (position - blackPt) / span * 255.0;
            else
                v = position < blackPt ? 0.0 : 255.0;
            line[x] = channelColor(clamp255(v)).rgba();
        }
    }
}

void toneCurveToolArea::updateImage()
{
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    drawHistogram();
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        drawGrid(p);
        drawPoints(p);
        drawCurves(p);
    }
    drawGradientBars();
    pixmap = QPixmap::fromImage(image);
}

void toneCurveToolArea::paintEvent(QPaintEvent *)
{
    if (needsSetup) {
        setup();
        if (chan == 0) {
            for (int i = 1; i < 4; ++i) {
                toneCurveToolArea *s = siblings[i];
                if (s && s->needsSetup) {
                    s->setup();
                    s->updateImage();
                    s->needsSetup = false;
                }
            }
        }
        updateImage();
        needsSetup = false;
    }
    QPainter p(this);
    if (!isEnabled()) {
        p.setOpacity(0.3);
    } else if (sample[3] >= 0.0 && !table.empty()) {
        const double v = chan == 0 ? sample[3] : sample[chan - 1];
        const int b = int(areaW * v);
        if (b >= 0 && b <= areaW && b < int(table.size())) {
            p.setRenderHint(QPainter::Antialiasing);
            QColor colour = chan == 0 ? QColor(0, 0, 0, 170) : CURVE_COLORS[chan];
            if (chan != 0)
                colour.setAlpha(190);
            p.setPen(colour);
            p.setBrush(Qt::NoBrush);
            const double r = 3.0 * widgetSupport::uiScale();
            p.drawEllipse(QPointF(b + logMargin, (areaH - 1) - table[size_t(b)] * (areaH - 1)), r, r);
        }
    }
    p.drawPixmap(0, 0, pixmap);
}

void toneCurveToolArea::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setFixedHeight(width());
    needsSetup = true;
}

void toneCurveToolArea::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->pos();
    if (pos.x() > logMargin && pos.y() < areaH)
        setCursor(crossCursor);
    else
        setCursor(Qt::ArrowCursor);
    if (dragged < 0) {
        const int h = pointAt(pos);
        if (h != hovered) {
            hovered = h;
            updateImage();
            update();
        }
        return;
    }
    points[dragged] = curvePositionAt(pos);
    rebuildImages(false);
    updateImage();
    update();
    modified = true;
    emit curveChangedLive();
}

void toneCurveToolArea::mousePressEvent(QMouseEvent *event)
{
    pointAdded = false;
    pointRemoved = false;
    if (hovered < 0 && event->button() == Qt::LeftButton) {
        if (points.size() < MAX_POINTS_BY_MOUSE) {
            const QPointF p = curvePositionAt(event->pos());
            int at = 0;
            while (at < points.size() && points[at].x() <= p.x())
                ++at;
            points.insert(at, p);
            hovered = dragged = keyboardPoint = at;
            pointAdded = true;
        } else {
            dragged = keyboardPoint = -1;
        }
    } else if (hovered >= 0 && event->button() == Qt::RightButton) {
        if (points.size() > 2) {
            points.removeAt(hovered);
            hovered = dragged = -1;
            if (keyboardPoint > 0)
                --keyboardPoint;
            pointRemoved = true;
        }
    } else {
        dragged = keyboardPoint = hovered;
    }
    rebuildImages(false);
    updateImage();
    update();
    if (pointAdded || pointRemoved) {
        modified = true;
        emit curveChangedLive();
    }
}

void toneCurveToolArea::mouseReleaseEvent(QMouseEvent *)
{
    // A removed point is a finished change as well: without this the panel,
    // which listens to the live signal only with live tone mapping on, would
    // never rebuild its tables after a removal.
    if (dragged >= 0 || pointRemoved) {
        modified = true;
        emit curveChanged();
    }
    emit changed(pointAdded ? 0 : pointRemoved ? 1 : 2);
    dragged = -1;
    pointAdded = false;
    pointRemoved = false;
}

void toneCurveToolArea::keyPressEvent(QKeyEvent *event)
{
    if (points.isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (keyboardPoint < 0 || keyboardPoint >= points.size())
        keyboardPoint = 0;
    QPointF &p = points[keyboardPoint];
    switch (event->key()) {
    case Qt::Key_Plus: keyboardPoint = std::min(keyboardPoint + 1, int(points.size()) - 1); break;
    case Qt::Key_Minus: keyboardPoint = std::max(keyboardPoint - 1, 0); break;
    case Qt::Key_Left: p.rx() -= 1.0 / width(); break;
    case Qt::Key_Right: p.rx() += 1.0 / width(); break;
    case Qt::Key_Up: p.ry() += 1.0 / height(); break;
    case Qt::Key_Down: p.ry() -= 1.0 / height(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    QPointF &k = points[keyboardPoint];
    k = QPointF(std::clamp(k.x(), 0.0, 1.0), std::clamp(k.y(), 0.0, 1.0));
    rebuildImages(false);
    updateImage();
    update();
    if (isArrowKey(event->key())) {
        modified = true;
        emit curveChanged();
    }
}

void toneCurveToolArea::keyReleaseEvent(QKeyEvent *event)
{
    if (isArrowKey(event->key()) && !event->isAutoRepeat()) {
        emit changed(2);
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void toneCurveToolArea::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    updateImage();
    update();
}

void toneCurveToolArea::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    updateImage();
    update();
}

void toneCurveToolArea::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    setFocus(Qt::MouseFocusReason);
}

// --------------------------------------------------------------------------
// toneCurveTool

toneCurveTool::toneCurveTool(QWidget *parent) : QWidget(parent)
{
    initWidgetResources();
    const double s = widgetSupport::uiScale();

    tabs = new QTabWidget(this);
    tabs->setTabPosition(QTabWidget::East);
    const char *const labels[4] = {"L", "R", "G", "B"};
    for (int i = 0; i < 4; ++i) {
        canvases[i] = new toneCurveToolArea(i);
        tabs->addTab(canvases[i], QString::fromLatin1(labels[i]));
    }
    for (toneCurveToolArea *c : canvases)
        c->setSiblings(canvases);

    auto makeButton = [this, s](const char *icon, const QString &tip) {
        auto *b = new QPushButton(this);
        b->setIcon(makeColoredIcon(QString::fromLatin1(icon)));
        b->setToolTip(tip);
        b->setFixedWidth(int(24 * s));
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    presetBtn = makeButton(":/resources/list.png", tr("Preset"));
    splineBtn = makeButton(":/resources/curve_smooth.png", tr("Cubic spline interpolation"));
    linearBtn = makeButton(":/resources/curve_linear.png", tr("Linear"));
    for (QPushButton *b : {splineBtn, linearBtn}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
    }
    splineBtn->setChecked(true);
    resetBtn = makeButton(":/resources/curve_reset1.png", tr("Reset"));
    resetAllBtn = makeButton(":/resources/curve_reset4.png", tr("Reset all"));

    menu = new QMenu(this);
    menu->setProperty("popup", "true");
    const QString groups[3] = {tr("Whole range"), tr("Shadows"), tr("Highlights")};
    const char *const variants[4] = {"++", "+", "-", "--"};
    for (int g = 0; g < 3; ++g) {
        if (g == 1)
            menu->addSeparator();
        QMenu *sub = menu->addMenu(groups[g]);
        sub->setProperty("popup", "true");
        for (int v = 0; v < 4; ++v) {
            QAction *a = sub->addAction(tr("Contrast") + " " + QString::fromLatin1(variants[v]));
            const int index = g * 4 + v;
            connect(a, &QAction::triggered, this, [this, index]() { presetActTriggered(index); });
        }
    }

    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(presetBtn);
    column->addSpacing(int(19 * s));
    column->addWidget(linearBtn);
    column->addWidget(splineBtn);
    column->addStretch();
    column->addWidget(resetBtn);
    column->addWidget(resetAllBtn);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs);
    layout->addLayout(column);

    for (toneCurveToolArea *c : canvases) {
        connect(c, &toneCurveToolArea::curveChanged, this, &toneCurveTool::curveChangedSlot);
        connect(c, &toneCurveToolArea::curveChangedLive, this, &toneCurveTool::curveChangedLiveSlot);
        connect(c, &toneCurveToolArea::changed, this, &toneCurveTool::changedSlot);
    }
    connect(tabs, &QTabWidget::currentChanged, this, &toneCurveTool::tabSwitched);
    connect(splineBtn, &QPushButton::clicked, this, &toneCurveTool::modeToggle);
    connect(linearBtn, &QPushButton::clicked, this, &toneCurveTool::modeToggle);
    connect(resetBtn, &QPushButton::clicked, this, &toneCurveTool::resetCurrentCurve);
    connect(resetAllBtn, &QPushButton::clicked, this, qOverload<>(&toneCurveTool::resetAllCurves));
    connect(presetBtn, &QPushButton::clicked, this, &toneCurveTool::showPresetMenu);
}

int toneCurveTool::currentChannel() const
{
    return std::max(tabs->currentIndex(), 0);
}

QList<QPointF> toneCurveTool::presetPoints(int i)
{
    static const QList<QPointF> presets[PRESET_COUNT] = {
        {{0, 0}, {0.201, 0.103}, {0.853, 0.946}, {1, 1}},
        {{0, 0}, {0.152, 0.109}, {0.886, 0.929}, {1, 1}},
        {{0, 0}, {0.098, 0.158}, {0.94, 0.902}, {1, 1}},
        {{0, 0}, {0.098, 0.125}, {0.929, 0.908}, {1, 1}},
        {{0, 0}, {0.141, 0.043}, {0.293, 0.174}, {0.505, 0.457}, {1, 1}},
        {{0, 0}, {0.141, 0.082}, {0.288, 0.228}, {0.511, 0.495}, {1, 1}},
        {{0, 0}, {0.071, 0.125}, {0.239, 0.31}, {0.478, 0.505}, {1, 1}},
        {{0, 0}, {0.071, 0.141}, {0.25, 0.348}, {0.505, 0.543}, {1, 1}},
        {{0, 0}, {0.505, 0.56}, {0.679, 0.81}, {0.815, 0.94}, {1, 1}},
        {{0, 0}, {0.467, 0.484}, {0.755, 0.821}, {0.88, 0.935}, {1, 1}},
        {{0, 0}, {0.478, 0.446}, {0.783, 0.707}, {0.94, 0.902}, {1, 1}},
        {{0, 0}, {0.538, 0.495}, {0.848, 0.728}, {0.951, 0.88}, {1, 1}},
    };
    if (i < 0 || i >= PRESET_COUNT)
        return {};
    return presets[i];
}

bool toneCurveTool::setCurve(int i, const QList<QPointF> &list)
{
    toneCurveToolArea *c = canvas(i);
    if (!c || !c->setCurvePoints(list))
        return false;
    c->rebuildImages(true);
    c->updateImage();
    c->update();
    return true;
}

void toneCurveTool::setHistograms(const quint32 *const counts[4], int count)
{
    for (toneCurveToolArea *c : canvases) {
        c->setHistogram(counts ? counts[c->channel()] : nullptr, count);
        if (c->hasImage())
            c->computeHistogram();
    }
    toneCurveToolArea *c = canvases[currentChannel()];
    c->updateImage();
    c->update();
}

void toneCurveTool::showMode(int mode)
{
    (mode == CURVE_LINEAR ? linearBtn : splineBtn)->setChecked(true);
}

void toneCurveTool::setSampleValue(bool inImg, rgbDouble_t v)
{
    for (toneCurveToolArea *c : canvases)
        c->setSampleValue(inImg, v);
}

void toneCurveTool::resetCanvas(int i, bool redraw)
{
    toneCurveToolArea *c = canvases[i];
    c->setCurvePoints({QPointF(0.0, 0.0), QPointF(1.0, 1.0)});
    c->setMode(CURVE_SPLINE);
    c->setModified(false);
    c->rebuildImages(false);
    if (redraw) {
        c->updateImage();
        c->update();
    }
}

void toneCurveTool::resetCurve(int i, bool silent)
{
    if (i < 0 || i >= 4)
        return;
    resetCanvas(i, true);
    // The buttons show the mode of the curve on display (which is the reset
    // one when the current curve was reset).
    showMode(canvases[currentChannel()]->mode());
    if (!silent) {
        emit curvesChanged(i);
        emit changed(i, 4);
    }
}

void toneCurveTool::resetAllCurves(bool silent)
{
    for (int i = 3; i >= 0; --i)
        resetCanvas(i, !silent);
    showMode(CURVE_SPLINE);
    if (!silent) {
        emit curvesChanged(-1);
        emit changed(-1, 5);
    }
}

void toneCurveTool::setWBpoints(double b, double w)
{
    for (toneCurveToolArea *c : canvases)
        c->setWBpoints(b, w);
    toneCurveToolArea *c = canvases[currentChannel()];
    c->updateImage();
    c->update();
}

void toneCurveTool::tabSwitched(int i)
{
    toneCurveToolArea *c = canvas(i);
    if (!c)
        return;
    showMode(c->mode());
    c->rebuildImages(false);
    c->updateImage();
    c->update();
}

void toneCurveTool::modeToggle()
{
    const int ch = currentChannel();
    toneCurveToolArea *c = canvases[ch];
    const int mode = linearBtn->isChecked() ? CURVE_LINEAR : CURVE_SPLINE;
    if (mode != c->mode()) {
        c->setMode(mode);
        c->setModified(true);
    }
    c->rebuildImages(false);
    c->updateImage();
    c->update();
    emit curvesChanged(ch);
    emit changed(ch, 3);
}

void toneCurveTool::showPresetMenu()
{
    menu->popup(tabs->mapToGlobal(QPoint(20, 10)));
}

void toneCurveTool::presetActTriggered(int i)
{
    const QList<QPointF> list = presetPoints(i);
    if (list.isEmpty())
        return;
    const int ch = currentChannel();
    toneCurveToolArea *c = canvases[ch];
    if (c->mode() == CURVE_LINEAR) {
        c->setMode(CURVE_SPLINE);
        c->setModified(true);
        showMode(CURVE_SPLINE);
    }
    c->setCurvePoints(list);
    c->rebuildImages(false);
    c->updateImage();
    c->update();
    emit curvesChanged(ch);
    emit changed(ch, 6);
}

// The relays name the channel of the canvas that sent the signal (which is
// the one on display, since only it receives mouse and keys).
void toneCurveTool::curveChangedSlot()
{
    auto *c = qobject_cast<toneCurveToolArea *>(sender());
    emit curvesChanged(c ? c->channel() : currentChannel());
}

void toneCurveTool::curveChangedLiveSlot()
{
    auto *c = qobject_cast<toneCurveToolArea *>(sender());
    emit curvesChangedLive(c ? c->channel() : currentChannel());
}

void toneCurveTool::changedSlot(int reason)
{
    auto *c = qobject_cast<toneCurveToolArea *>(sender());
    emit changed(c ? c->channel() : currentChannel(), reason);
}
