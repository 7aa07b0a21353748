#include "panels/selectiveCurveTool.h"

#include "app/utils.h"
#include "widgets/crossCursor.h"
#include "widgets/slider.h"
#include "widgets/widgetSupport.h"

#include <QDoubleSpinBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

const double HEIGHT_FRACTION = 0.25; // canvas height / width
const int HOVER_DISTANCE = 5;        // pixels at UI scale 1.0
const int SIGMA_STEPS = 10;          // slider units per sigma 1.0

bool validKnee(const selKneePoints_t &k)
{
    return std::isfinite(k.x) && std::isfinite(k.y) && std::isfinite(k.sigma) && k.x >= 0.0 && k.x <= 1.0 &&
           k.y >= 0.0 && k.y <= 1.0;
}

bool isArrowKey(int key)
{
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

} // namespace

// --------------------------------------------------------------------------
// selectiveCurveToolArea

selectiveCurveToolArea::selectiveCurveToolArea(int kind, QWidget *parent) : QWidget(parent), curveKind(kind)
{
    setMouseTracking(true);
    crossCursor = makeCrossCursor();
    setCursor(crossCursor);
    setMinimumSize(100, 100);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(int(width() * HEIGHT_FRACTION));
}

selectiveCurveToolArea::~selectiveCurveToolArea() = default;

double selectiveCurveToolArea::hueOf(double r, double g, double b)
{
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});
    if (mx - mn < 1e-5 || mx == 0.0)
        return 0.0;
    double e, d;
    if (r == mn) {
        e = 3.0;
        d = g - b;
    } else if (g == mn) {
        e = 5.0;
        d = b - r;
    } else {
        e = 1.0;
        d = r - g;
    }
    double hue = (e - d / (mx - mn)) * 60.0;
    while (hue >= 360.0)
        hue -= 360.0;
    return hue;
}

bool selectiveCurveToolArea::setKneePoints(const QList<selKneePoints_t> &list)
{
    if (list.size() > CURVE_MAX_KNEES)
        return false;
    for (const selKneePoints_t &k : list) {
        if (!validKnee(k))
            return false;
    }
    knees = list;
    if (selected >= knees.size())
        selected = -1;
    hovered = dragged = -1;
    return true;
}

void selectiveCurveToolArea::setKneeSigma(int i, double s)
{
    if (i >= 0 && i < knees.size() && std::isfinite(s))
        knees[i].sigma = s;
}

void selectiveCurveToolArea::setSelectedIndex(int i)
{
    selected = (i >= 0 && i < knees.size()) ? i : -1;
}

bool selectiveCurveToolArea::selectiveCurveToTable(double *out, int n, bool invert) const
{
    return ::selectiveCurveToTable(out, n, knees, invert, curveKind == 0);
}

void selectiveCurveToolArea::setSampleValue(bool inImg, rgbDouble_t v)
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

void selectiveCurveToolArea::setup()
{
    const double dpr = widgetSupport::devicePixelRatio();
    areaW = std::max(width(), 2);
    areaH = std::max(height(), 2);
    imgW = std::max(int(areaW * dpr), 2);
    imgH = std::max(int(areaH * dpr), 2);
    image = QImage(imgW, imgH, QImage::Format_ARGB32);
    image.setDevicePixelRatio(dpr);
    pixmap = QPixmap();
    rebuildImages(true);
}

void selectiveCurveToolArea::rebuildImages(bool realloc)
{
    if (table.empty() || realloc)
        table.assign(size_t(std::max(areaW, 1)) + 1, 0.0);
    for (int i = 0; i < knees.size(); ++i) {
        for (int j = i + 1; j < knees.size(); ++j) {
            if (knees[j].x < knees[i].x) {
                knees.swapItemsAt(i, j);
                for (int *index : {&hovered, &dragged, &selected}) {
                    if (*index == i)
                        *index = j;
                    else if (*index == j)
                        *index = i;
                }
            }
        }
    }
    selectiveCurveToTable(table.data(), int(table.size()), false);
}

QPoint selectiveCurveToolArea::kneePosition(int i) const
{
    const selKneePoints_t &k = knees.at(i);
    return QPoint(int((areaW - 1) * k.x + 0.5), areaH - 1 - int((areaH - 1) * k.y + 0.5));
}

int selectiveCurveToolArea::kneeAt(const QPoint &pos) const
{
    const double limit = HOVER_DISTANCE * widgetSupport::uiScale();
    for (int i = 0; i < knees.size(); ++i) {
        const QPoint d = kneePosition(i) - pos;
        if (int(std::sqrt(double(d.x()) * d.x() + double(d.y()) * d.y()) + 0.5) < limit)
            return i;
    }
    return -1;
}

void selectiveCurveToolArea::drawBackground()
{
    std::vector<QColor> columns(static_cast<size_t>(imgW));
    for (int c = 0; c < imgW; ++c) {
        if (curveKind == 0) {
            columns[size_t(c)] = QColor::fromHsvF(double(c) / (imgW - 1), 1.0, 1.0);
        } else {
            const int v = int(double(c) / (imgW - 1) * 180.0);
            columns[size_t(c)] = QColor(v, v, v);
        }
    }
    for (int r = 0; r < imgH; ++r) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(r));
        const double g = double(imgH - r - 1) / (imgH - 1);
        for (int c = 0; c < imgW; ++c) {
            const QColor &col = columns[size_t(c)];
            if (curveKind == 0) {
                auto comp = [g](int v) { return int(v * g * 0.8 + (1.0 - g) * 0.5 * 255.0); };
                line[c] = qRgba(comp(col.red()), comp(col.green()), comp(col.blue()), 255);
            } else {
                const double v = double(c) / (imgW - 1) * 180.0;
                line[c] = qRgba(col.red(), int(g * 75.0 + v), col.blue(), 255);
            }
        }
    }
}

void selectiveCurveToolArea::updateImage()
{
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    if (curveKind == 0 || curveKind == 1)
        drawBackground();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = widgetSupport::uiScale();
    for (int j = 0; j < knees.size(); ++j) {
        const bool hot = j == hovered;
        const double r = (hot ? 4.0 : 3.0) * s;
        const QPointF c = kneePosition(j);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, hot ? 255 : 100));
        p.drawEllipse(c, r, r);
        if (j == selected && hasFocus()) {
            p.setPen(QPen(QColor(0, 0, 0, 100), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, 2 * r, 2 * r);
        }
    }
    QPainterPath path;
    for (int k = 0; k <= areaW && k < int(table.size()); ++k) {
        const QPointF q(k, areaH - 1 - (1.0 - table[size_t(k)]) * (areaH / 2));
        if (k == 0)
            path.moveTo(q);
        else
            path.lineTo(q);
    }
    p.setPen(QColor(255, 255, 255, 190));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.end();
    pixmap = QPixmap::fromImage(image);
}

void selectiveCurveToolArea::redraw()
{
    updateImage();
    update();
}

bool selectiveCurveToolArea::sampleMarkerPosition(QPointF *at) const
{
    if (!isEnabled() || table.empty() || sample[3] < 0.0)
        return false;
    double f = 0.0;
    if (curveKind == 0)
        f = (areaW - 1) * hueOf(sample[0], sample[1], sample[2]) / 360.0;
    else if (curveKind == 1)
        f = (areaW - 1) * std::max({sample[0], sample[1], sample[2]});
    const int k = std::clamp(int(f + 0.5), 0, std::min(areaW - 1, int(table.size()) - 1));
    *at = QPointF(f, areaH - 1 - (1.0 - table[size_t(k)]) * (areaH * 0.5));
    return true;
}

void selectiveCurveToolArea::paintEvent(QPaintEvent *)
{
    if (needsSetup) {
        setup();
        updateImage();
        needsSetup = false;
    }
    QPainter p(this);
    if (!isEnabled())
        p.setOpacity(0.3);
    p.drawPixmap(0, 0, pixmap);
    QPointF at;
    if (sampleMarkerPosition(&at)) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 110));
        const double r = 3.0 * widgetSupport::uiScale();
        p.drawEllipse(at, r, r);
    }
}

void selectiveCurveToolArea::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setFixedHeight(int(width() * HEIGHT_FRACTION));
    needsSetup = true;
}

void selectiveCurveToolArea::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->pos();
    if (dragged < 0) {
        const int h = kneeAt(pos);
        if (h != hovered) {
            hovered = h;
            redraw();
        }
        return;
    }
    selKneePoints_t &k = knees[dragged];
    k.x = std::clamp(double(pos.x()) / (areaW - 1), 0.0, 1.0);
    k.y = std::clamp(1.0 - double(pos.y()) / (areaH - 1), 0.0, 1.0);
    rebuildImages(false);
    redraw();
    modified = true;
    emit curveChangedLive();
}

void selectiveCurveToolArea::mousePressEvent(QMouseEvent *event)
{
    changeAtPress = false;
    removedAtPress = false;
    if (hovered < 0 && event->button() == Qt::LeftButton && knees.size() < MAX_KNEES_BY_MOUSE) {
        selKneePoints_t k;
        k.x = std::clamp(double(event->pos().x()) / (areaW - 1), 0.0, 1.0);
        k.y = std::clamp(1.0 - double(event->pos().y()) / (areaH - 1), 0.0, 1.0);
        k.sigma = sigma;
        int at = 0;
        while (at < knees.size() && knees[at].x <= k.x)
            ++at;
        knees.insert(at, k);
        hovered = dragged = selected = at;
        changeAtPress = true;
        emit changed(0);
    } else if (hovered >= 0 && event->button() == Qt::RightButton) {
        knees.removeAt(hovered);
        hovered = dragged = selected = -1;
        changeAtPress = true;
        removedAtPress = true;
        emit changed(1);
    } else {
        dragged = selected = hovered;
        if (selected >= 0)
            emit selectedKneePointChanged(selected, knees[selected]);
    }
    rebuildImages(false);
    redraw();
    if (changeAtPress) {
        modified = true;
        emit curveChangedLive();
    }
}

void selectiveCurveToolArea::mouseReleaseEvent(QMouseEvent *)
{
    if (dragged >= 0) {
        modified = true;
        emit curveChanged();
        if (!changeAtPress)
            emit changed(2);
    } else if (removedAtPress) {
        // A removal is a finished change too: the panel rebuilds its table on
        // curveChanged() (the live signal is connected only with live tone
        // mapping on).
        emit curveChanged();
    }
    dragged = -1;
    changeAtPress = false;
    removedAtPress = false;
}

void selectiveCurveToolArea::keyPressEvent(QKeyEvent *event)
{
    if (selected < 0 || selected >= knees.size()) {
        QWidget::keyPressEvent(event);
        return;
    }
    selKneePoints_t &k = knees[selected];
    switch (event->key()) {
    case Qt::Key_Plus: selected = std::min(selected + 1, int(knees.size()) - 1); break;
    case Qt::Key_Minus: selected = std::max(selected - 1, 0); break;
    case Qt::Key_Left: k.x -= 1.0 / width(); break;
    case Qt::Key_Right: k.x += 1.0 / width(); break;
    case Qt::Key_Up: k.y += 1.0 / height(); break;
    case Qt::Key_Down: k.y -= 1.0 / height(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    selKneePoints_t &moved = knees[selected];
    moved.x = std::clamp(moved.x, 0.0, 1.0);
    moved.y = std::clamp(moved.y, 0.0, 1.0);
    rebuildImages(false);
    redraw();
    if (isArrowKey(event->key())) {
        modified = true;
        emit curveChanged();
    }
}

void selectiveCurveToolArea::keyReleaseEvent(QKeyEvent *event)
{
    if (isArrowKey(event->key()) && !event->isAutoRepeat() && selected >= 0) {
        emit changed(2);
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void selectiveCurveToolArea::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    redraw();
}

void selectiveCurveToolArea::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    redraw();
}

void selectiveCurveToolArea::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    setFocus(Qt::MouseFocusReason);
}

// --------------------------------------------------------------------------
// selectiveCurveTool

selectiveCurveTool::selectiveCurveTool(int kind, QWidget *parent) : QWidget(parent), curveKind(kind)
{
    initWidgetResources();
    const double s = widgetSupport::uiScale();
    hueCaption = tr("Hue selective saturation");
    brightnessCaption = tr("Brightness selective saturation");

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(int(3 * s));

    auto *frame = new QFrame(this);
    frame->setProperty("myFrame", true);
    frame->setFrameStyle(QFrame::StyledPanel);
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    area = new selectiveCurveToolArea(kind, frame);
    frameLayout->addWidget(area);
    layout->addWidget(frame);

    caption = new QLabel(kind == 0 ? hueCaption : kind == 1 ? brightnessCaption : QString(), this);
    caption->setEnabled(false);
    caption->setWordWrap(true);
    const QFontMetrics fm(caption->font());
    const int captionWidth = std::max(fm.horizontalAdvance(hueCaption), fm.horizontalAdvance(brightnessCaption));
    caption->setFixedWidth(std::min(captionWidth, int(160 * s)));

    slider = new myQSlider;
    slider->setOrientation(Qt::Horizontal);
    slider->setRange(1, 20);
    slider->setValue(SIGMA_STEPS);

    resetBtn = new QPushButton(this);
    resetBtn->setIcon(makeColoredIcon(":/resources/default_m.png"));
    resetBtn->setFocusPolicy(Qt::NoFocus);
    resetBtn->setFixedSize(int(17 * s + 0.5), QDoubleSpinBox().sizeHint().height());

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(caption);
    row->addStretch();
    row->addWidget(slider);
    row->addWidget(resetBtn);
    layout->addLayout(row);

    connect(area, &selectiveCurveToolArea::curveChanged, this, &selectiveCurveTool::curveChangedSlot);
    connect(area, &selectiveCurveToolArea::curveChangedLive, this, &selectiveCurveTool::curveChangedLiveSlot);
    connect(area, &selectiveCurveToolArea::selectedKneePointChanged, this,
            &selectiveCurveTool::changeCurrentSigmaOnSlider);
    connect(area, &selectiveCurveToolArea::changed, this, &selectiveCurveTool::changed);
    // A step of the wheel or the keyboard on the slider is a finished change
    // (a drag is finished by sliderReleased()). While the action is reported
    // the position has moved but the value not yet.
    connect(slider, &QAbstractSlider::actionTriggered, this, [this](int action) {
        stepPending = action != QAbstractSlider::SliderNoAction && !slider->isSliderDown() &&
                      slider->sliderPosition() != slider->value();
    });
    connect(slider, &QSlider::valueChanged, this, &selectiveCurveTool::changeCurrentSigma);
    connect(slider, &QSlider::sliderReleased, this, &selectiveCurveTool::sigmaSliderReleased);
    connect(resetBtn, &QPushButton::clicked, this, qOverload<>(&selectiveCurveTool::resetCurve));
}

bool selectiveCurveTool::setKneePoints(const QList<selKneePoints_t> &list)
{
    const bool accepted = area->setKneePoints(list);
    if (accepted) {
        area->rebuildImages(true);
        area->updateImage();
        area->update();
    }
    area->clearPointer();
    if (area->kneePoints().isEmpty()) {
        area->setSelectedIndex(-1);
        area->setCurrentSigma(1.0);
    } else {
        area->setSelectedIndex(0);
        area->setCurrentSigma(area->kneePoints().first().sigma);
    }
    return accepted;
}

void selectiveCurveTool::setSampleValue(bool inImg, rgbDouble_t v)
{
    area->setSampleValue(inImg, v);
}

void selectiveCurveTool::resetCurve(bool silent)
{
    area->setKneePoints({});
    area->setSelectedIndex(-1);
    area->setModified(false);
    {
        // The slider only shows the default width here; moving it must not
        // report a change of its own.
        const QSignalBlocker block(slider);
        slider->setValue(SIGMA_STEPS);
    }
    area->setCurrentSigma(1.0);
    area->rebuildImages(false);
    area->updateImage();
    area->update();
    if (!silent) {
        emit curveChanged();
        emit changed(4);
    }
}

void selectiveCurveTool::changeCurrentSigma(int v)
{
    const double sigma = double(v) / SIGMA_STEPS;
    area->setCurrentSigma(sigma);
    area->setKneeSigma(area->selectedIndex(), sigma);
    area->rebuildImages(false);
    area->updateImage();
    area->update();
    emit curveChangedLive();
    if (stepPending && !slider->isSliderDown()) {
        stepPending = false;
        emit curveChanged();
        emit changed(3);
    }
}

void selectiveCurveTool::changeCurrentSigmaOnSlider(int, selKneePoints_t k)
{
    // Only the slider follows: the knee keeps its exact width (a width that
    // is not a multiple of 0.1 would otherwise be cut to the slider's step
    // merely by selecting the knee).
    const QSignalBlocker block(slider);
    slider->setValue(int(k.sigma * SIGMA_STEPS));
    area->setCurrentSigma(k.sigma);
}

void selectiveCurveTool::sigmaSliderReleased()
{
    emit curveChanged();
    emit changed(3);
}

void selectiveCurveTool::curveChangedSlot()
{
    emit curveChanged();
}

void selectiveCurveTool::curveChangedLiveSlot()
{
    emit curveChangedLive();
}
