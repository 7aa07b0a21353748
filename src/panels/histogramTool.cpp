#include "panels/histogramTool.h"

#include "app/utils.h"
#include "project/curveMaths.h"
#include "widgets/widgetSupport.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

const QColor HOVER_COLOR(40, 178, 83);
const double BAR_FRACTION = 0.4; // canvas height / width

QString html(const QString &text)
{
    return QStringLiteral("<html>") + text + QStringLiteral("</html>");
}

} // namespace

// --------------------------------------------------------------------------
// histogramToolArea

histogramToolArea::histogramToolArea(QWidget *parent) : QWidget(parent)
{
    scale = widgetSupport::uiScale();
    setMouseTracking(true);
    setToolTip(html(tr("Click to toggle between linear and logarithmic vertical scale.")));
    setMinimumSize(100, 100);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setFixedHeight(int(width() * BAR_FRACTION));
}

histogramToolArea::~histogramToolArea() = default;

void histogramToolArea::setHistograms(const quint32 *const counts[4], int length)
{
    for (int c = 0; c < 4; ++c)
        sources[c] = (counts && length > 0) ? counts[c] : nullptr;
    sourceLength = length > 0 ? length : 0;
}

void histogramToolArea::computeDisplayArrays()
{
    const int n = std::max(binCount, 0);
    double maximum = 0.0;
    for (int c = 0; c < 4; ++c) {
        display[c].assign(size_t(n), 0.0);
        if (sources[c] && sourceLength > 0 && n > 0)
            resampleHistogramCounts(sources[c], sourceLength, display[c].data(), n);
        for (double v : display[c])
            maximum = std::max(maximum, v);
    }
    if (maximum > 0.0) {
        for (auto &d : display) {
            for (double &v : d)
                v /= maximum;
        }
    }
    cumulativeArray.assign(size_t(n), 0.0);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += (display[1][size_t(i)] + display[2][size_t(i)] + display[3][size_t(i)]) / 3.0;
        cumulativeArray[size_t(i)] = sum;
    }
    if (n > 0 && cumulativeArray.back() > 0.0) {
        const double last = cumulativeArray.back();
        for (double &v : cumulativeArray)
            v /= last;
    }
}

void histogramToolArea::setSampleValue(bool inImg, rgbDouble_t v)
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

void histogramToolArea::enforceInvariant()
{
    whitePt = std::clamp(whitePt, MIN_GAP, 1.0);
    blackPt = std::clamp(blackPt, 0.0, 1.0 - MIN_GAP);
    if (blackPt > whitePt)
        blackPt = whitePt;
    if (whitePt - blackPt < MIN_GAP)
        blackPt = std::max(0.0, whitePt - MIN_GAP);
}

void histogramToolArea::setBlackPoint(double b)
{
    if (!std::isfinite(b))
        return;
    blackPt = std::clamp(b, 0.0, 1.0 - MIN_GAP);
    if (whitePt < blackPt)
        whitePt = blackPt;
    enforceInvariant();
}

void histogramToolArea::setWhitePoint(double w)
{
    if (!std::isfinite(w))
        return;
    whitePt = std::clamp(w, MIN_GAP, 1.0);
    if (blackPt > whitePt)
        blackPt = whitePt;
    enforceInvariant();
}

void histogramToolArea::setup()
{
    const double dpr = widgetSupport::devicePixelRatio();
    logW = std::max(width(), 1);
    logH = std::max(height(), 1);
    binCount = std::max(int(logW * dpr), 2);
    imgH = std::max(int(logH * dpr), 1);
    image = QImage(binCount, imgH, QImage::Format_ARGB32);
    image.setDevicePixelRatio(dpr);
    pixmap = QPixmap();
    markerDev = int(dpr * (scale * 10));
    barDev = imgH / 10;
    histDev = std::max(imgH - markerDev - barDev - 1, 1);
    bL = logH / 10;
    mL = int(scale * 10);
    hL = std::max(logH - bL - mL - 1, 1);
    computeDisplayArrays();
    updateImage();
}

void histogramToolArea::drawBar()
{
    const double span = whitePt - blackPt;
    for (int row = histDev + 1; row < histDev + barDev && row < imgH; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int c = 0; c < binCount; ++c) {
            const double position = double(c) / (binCount - 1);
            const int v = std::clamp(int((position - blackPt) / span * 255.0), 0, 255);
            line[c] = qRgba(v, v, v, 255);
        }
    }
}

void histogramToolArea::drawHistogram()
{
    const int height = histDev;
    auto top = [this, height](double v) {
        if (logarithmic == 1)
            return int(height - std::log10(19.0 * v + 1.0) / std::log10(20.0) * height);
        return int((1.0 - v) * height);
    };
    for (int c = 0; c < binCount; ++c) {
        int tops[3];
        for (int k = 0; k < 3; ++k) {
            const std::vector<double> &d = display[colorDisplay == 1 ? k + 1 : 0];
            tops[k] = c < int(d.size()) ? top(d[size_t(c)]) : height;
        }
        const bool inside = blackPt * binCount <= c && c <= whitePt * binCount;
        const int high = inside ? 255 : 200;
        const int low = inside ? 60 : 30;
        const int background = inside ? 140 : 120;
        for (int row = 0; row < height && row < imgH; ++row) {
            const double f = double(row + 2 * height) / (3.0 * height);
            QRgb pixel;
            if (row < tops[0] && row < tops[1] && row < tops[2]) {
                const int g = int(background * f);
                pixel = qRgba(g, g, g, 255);
            } else {
                int comp[3];
                for (int k = 0; k < 3; ++k)
                    comp[k] = int((row >= tops[k] ? high : low) * f);
                pixel = qRgba(comp[0], comp[1], comp[2], 255);
            }
            reinterpret_cast<QRgb *>(image.scanLine(row))[c] = pixel;
        }
    }
}

void histogramToolArea::drawMarkers(QPainter &p) const
{
    const double apexY = hL + bL + 1;
    const int half = mL / 2;
    const double positions[2] = {logW * blackPt, logW * whitePt};
    for (int m = 0; m < 2; ++m) {
        const QColor colour = m == hovered ? HOVER_COLOR : QColor(Qt::black);
        p.setPen(colour);
        p.setBrush(colour);
        const double x = positions[m];
        const QPointF triangle[3] = {QPointF(x, apexY), QPointF(x - half, logH - 1), QPointF(x + half, logH - 1)};
        p.drawPolygon(triangle, 3);
    }
}

void histogramToolArea::drawCumulative(QPainter &p) const
{
    if (cumulativeArray.empty())
        return;
    const double dpr = image.devicePixelRatio();
    QPainterPath path;
    for (int x = 0; x < logW; ++x) {
        const int k = std::min(int(dpr * x), int(cumulativeArray.size()) - 1);
        const QPointF q(x, hL - 1 - cumulativeArray[size_t(k)] * (hL - 1));
        if (x == 0)
            path.moveTo(q);
        else
            path.lineTo(q);
    }
    p.setPen(QColor(0, 0, 0, 120));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void histogramToolArea::updateImage()
{
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    drawBar();
    drawHistogram();
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        drawMarkers(p);
        drawCumulative(p);
    }
    pixmap = QPixmap::fromImage(image);
}

void histogramToolArea::paintEvent(QPaintEvent *)
{
    if (needsSetup) {
        setup();
        needsSetup = false;
    }
    QPainter p(this);
    if (!isEnabled()) {
        p.setOpacity(0.3);
    } else {
        const double v = sample[3];
        const int x = int(logW * v);
        if (v >= 0.0 && x >= 0 && x <= logW) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QColor(0, 0, 0, 110));
            p.drawLine(QPointF(x, logH - mL + 1), QPointF(x, logH - 1));
        }
    }
    p.drawPixmap(0, 0, pixmap);
}

void histogramToolArea::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setFixedHeight(int(width() * BAR_FRACTION));
    needsSetup = true;
}

void histogramToolArea::mouseMoveEvent(QMouseEvent *event)
{
    const int before = hovered;
    const QPoint pos = event->pos();
    hovered = dragged;
    if (dragged < 0) {
        if (pos.y() >= markerStripTop()) {
            const int half = mL / 2;
            if (std::abs(pos.x() - logW * blackPt) <= half)
                hovered = 0;
            else if (std::abs(pos.x() - int(logW * whitePt)) <= half)
                hovered = 1;
        }
    } else {
        const double v = double(pos.x()) / logW;
        if (dragged == 0)
            setBlackPoint(v);
        else
            setWhitePoint(v);
        emit pointsMovedLive();
    }
    setCursor(hovered >= 0 || pos.y() < hL ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (hovered != before || dragged >= 0) {
        updateImage();
        update();
    }
}

void histogramToolArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (event->pos().y() >= markerStripTop()) {
            dragged = hovered;
            return;
        }
        logarithmic = logarithmic == 1 ? 0 : 1;
    } else if (event->button() == Qt::RightButton) {
        colorDisplay = colorDisplay == 1 ? 0 : 1;
    } else {
        return;
    }
    updateImage();
    update();
}

void histogramToolArea::mouseReleaseEvent(QMouseEvent *)
{
    if (dragged >= 0)
        emit pointsMoved();
    dragged = -1;
}

void histogramToolArea::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    // A drag that ends outside the canvas is still a finished move.
    if (dragged >= 0)
        emit pointsMoved();
    hovered = -1;
    dragged = -1;
    updateImage();
    update();
}

// --------------------------------------------------------------------------
// histogramTool

histogramTool::histogramTool(QWidget *parent) : QWidget(parent)
{
    initWidgetResources();
    const double s = widgetSupport::uiScale();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(int(3 * s));

    auto *frame = new QFrame(this);
    frame->setProperty("myFrame", true);
    frame->setFrameStyle(QFrame::StyledPanel);
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    area = new histogramToolArea(frame);
    frameLayout->addWidget(area);
    layout->addWidget(frame);

    padlock = new QPushButton(this);
    padlock->setIcon(makeColoredIcon(":/resources/padlock_locked.png"));
    padlock->setToolTip(html(tr("Automatic histogram clipping on/off.")));

    auto makeSpin = [this](const QString &tip) {
        auto *spin = new QDoubleSpinBox(this);
        spin->setDecimals(4);
        spin->setRange(0.0, 99.9999);
        spin->setValue(0.0);
        spin->setSingleStep(0.0001);
        spin->setSuffix(QStringLiteral(" %"));
        QFont f = spin->font();
        f.setPointSizeF(f.pointSizeF() * 0.9);
        spin->setFont(f);
        spin->setToolTip(html(tip));
        return spin;
    };
    blackSpin = makeSpin(tr("The specified percentage of the darkest pixels to be clipped to black."));
    whiteSpin = makeSpin(tr("The specified percentage of the brightest pixels to be clipped to white."));

    const bool darkSkin = widgetSupport::activeSkin() == 0;
    blackPicker = new QPushButton(this);
    blackPicker->setIcon(makeColoredIcon(darkSkin ? ":/resources/eyedropper_bl.png" : ":/resources/eyedropper_wh.png"));
    blackPicker->setToolTip(html(tr("Select the black point. Left-click on image to sample current result, or "
                                    "right-click to get a sample from input, not tonemapped HDR image.")));
    whitePicker = new QPushButton(this);
    whitePicker->setIcon(makeColoredIcon(darkSkin ? ":/resources/eyedropper_wh.png" : ":/resources/eyedropper_bl.png"));
    whitePicker->setToolTip(html(tr("Select the white point. Left-click on image to sample current result, or "
                                    "right-click to get a sample from input, not tonemapped HDR image.")));
    for (QPushButton *b : {blackPicker, whitePicker})
        b->setCheckable(true);

    noClipBtn = new QPushButton(this);
    noClipBtn->setIcon(makeColoredIcon(":/resources/hist100.png"));
    defaultBtn = new QPushButton(this);
    defaultBtn->setIcon(makeColoredIcon(":/resources/default_m.png"));

    const int h = blackSpin->sizeHint().height();
    for (QPushButton *b : {padlock, blackPicker, whitePicker})
        b->setFixedSize(int(20 * s + 0.5), h);
    for (QPushButton *b : {noClipBtn, defaultBtn})
        b->setFixedSize(int(17 * s + 0.5), h);
    for (QPushButton *b : {padlock, blackPicker, whitePicker, noClipBtn, defaultBtn})
        b->setFocusPolicy(Qt::NoFocus);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(int(3 * s));
    row->addWidget(padlock);
    row->addWidget(blackSpin);
    row->addWidget(whiteSpin);
    row->addWidget(blackPicker);
    row->addWidget(whitePicker);
    row->addStretch();
    row->addWidget(noClipBtn);
    row->addWidget(defaultBtn);
    layout->addLayout(row);

    connect(padlock, &QPushButton::clicked, this, qOverload<>(&histogramTool::lockClicked));
    connect(blackSpin, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &histogramTool::clipPercentageChangeSlot);
    connect(whiteSpin, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &histogramTool::clipPercentageChangeSlot);
    connect(noClipBtn, &QPushButton::clicked, this, &histogramTool::setNoClipSlot);
    connect(defaultBtn, &QPushButton::clicked, this, &histogramTool::setDefautSlot);
    connect(blackPicker, &QPushButton::clicked, this, &histogramTool::sampleModeChangedSlot);
    connect(whitePicker, &QPushButton::clicked, this, &histogramTool::sampleModeChangedSlot);
    connect(area, &histogramToolArea::pointsMoved, this, &histogramTool::pointsMoved);
    connect(area, &histogramToolArea::pointsMovedLive, this, &histogramTool::pointsMovedLive);
}

void histogramTool::setSampleValue(bool inImg, rgbDouble_t v)
{
    area->setSampleValue(inImg, v);
}

void histogramTool::lockClicked(bool dontToggle, bool silent)
{
    if (!dontToggle)
        locked = !locked;
    padlock->setIcon(makeColoredIcon(locked ? ":/resources/padlock_locked.png" : ":/resources/padlock_unlocked.png"));
    area->setLocked(locked);
    if (area->hasImage()) {
        area->updateImage();
        area->update();
    }
    if (!dontToggle)
        emit lockChanged(locked);
    if (!silent)
        emit lockChangedHistory(locked);
}

void histogramTool::clipPercentageChangeSlot()
{
    emit clipPercentageChanged(blackSpin->value(), whiteSpin->value());
}

void histogramTool::setNoClipSlot()
{
    if (locked)
        lockClicked(false, true);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    {
        const QSignalBlocker blockBlack(blackSpin);
        const QSignalBlocker blockWhite(whiteSpin);
        blackSpin->setValue(0.0);
        whiteSpin->setValue(0.0);
    }
    emit clipPercentageChanged(0.0, 0.0);
}

void histogramTool::setDefautSlot()
{
    if (!locked)
        lockClicked(false, true);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    {
        const QSignalBlocker blockBlack(blackSpin);
        const QSignalBlocker blockWhite(whiteSpin);
        blackSpin->setValue(0.1);
        whiteSpin->setValue(0.2);
    }
    emit clipPercentageChanged(0.1, 0.2);
}

void histogramTool::sampleModeChangedSlot()
{
    if (sender() == blackPicker && blackPicker->isChecked())
        whitePicker->setChecked(false);
    else if (sender() == whitePicker && whitePicker->isChecked())
        blackPicker->setChecked(false);
    const int mode = blackPicker->isChecked() ? 1 : whitePicker->isChecked() ? 2 : 0;
    emit sampleModeChanged(mode);
}

void histogramTool::uncheckSampleButtons()
{
    blackPicker->setChecked(false);
    whitePicker->setChecked(false);
}

void histogramTool::setClipPoints(bool emitFlag, double b, double w)
{
    area->setBlackPoint(b);
    area->setWhitePoint(w);
    // Redrawn at once so that the markers never show stale positions.
    if (area->hasImage()) {
        area->updateImage();
        area->update();
    }
    if (emitFlag)
        emit pointsChanged();
}

void histogramTool::clipTooltip(double b, double w)
{
    const QString target = QStringLiteral("<br><br>") + tr("Target") + QStringLiteral(": %1") + QStringLiteral(" %</html>");
    blackSpin->setToolTip(QStringLiteral("<html>") +
                          tr("The specified percentage of the darkest pixels to be clipped to black.") +
                          target.arg(b, 0, 'f', 4));
    whiteSpin->setToolTip(QStringLiteral("<html>") +
                          tr("The specified percentage of the brightest pixels to be clipped to white.") +
                          target.arg(w, 0, 'f', 4));
}
