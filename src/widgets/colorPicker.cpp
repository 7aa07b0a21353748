#include "widgets/colorPicker.h"

#include "widgets/colorSample.h"
#include "widgets/crossCursor.h"
#include "widgets/slider.h"
#include "widgets/widgetSupport.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

const QColor HOVER_COLOR(40, 178, 83);
const double LAST_PIXEL = 255.0; // widget side - 1 of the square and the strip
const int SQUARE_MARKER = 4;     // half side of the square's marker
const int STRIP_MARKER = 6;      // half height of the strip's marker

double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

// --------------------------------------------------------------------------
// svEditor

svEditor::svEditor(QWidget *parent) : QWidget(parent)
{
    setFixedSize(SIDE, SIDE);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    cursor = makeCrossCursor(QStringLiteral("cross_mask2"));
    setCursor(cursor);
}

void svEditor::setHue(double _hue)
{
    h = _hue;
    stale = true;
    update();
}

void svEditor::setSaturationAndValue(double _saturation, double _value)
{
    s = _saturation;
    v = _value;
    stale = true;
    update();
}

QPointF svEditor::markerPosition() const
{
    return QPointF(LAST_PIXEL * s, LAST_PIXEL * (1.0 - v));
}

// The gradient depends on the hue only; the marker is drawn over it.
void svEditor::rebuild()
{
    stale = false;
    if (!picture.isNull() && pictureHue == h)
        return;
    const double dpr = widgetSupport::devicePixelRatio();
    const int w = int(width() * dpr), hgt = int(height() * dpr);
    picture = QImage(w, hgt, QImage::Format_ARGB32);
    picture.setDevicePixelRatio(dpr);
    for (int i = 0; i < hgt; ++i) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(i));
        const double value = double(hgt - 1 - i) / hgt;
        for (int j = 0; j < w; ++j)
            line[j] = QColor::fromHsvF(h < 0.0 ? -1.0 : h, double(j) / w, value).rgba();
    }
    picturePixmap = QPixmap::fromImage(picture);
    pictureHue = h;
}

void svEditor::paintEvent(QPaintEvent *)
{
    if (stale)
        rebuild();
    QPainter p(this);
    p.drawPixmap(0, 0, picturePixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QColor pen;
    if (h < 0.0)
        pen = hover ? HOVER_COLOR.lighter(130) : HOVER_COLOR; // greys have no opposite hue
    else
        pen = QColor::fromHsvF(h < 0.5 ? h + 0.5 : h - 0.5, 1.0, hover ? 1.0 : 0.75);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF c = markerPosition();
    const QPointF corners[4] = {c + QPointF(-SQUARE_MARKER, -SQUARE_MARKER), c + QPointF(SQUARE_MARKER, -SQUARE_MARKER),
                                c + QPointF(SQUARE_MARKER, SQUARE_MARKER), c + QPointF(-SQUARE_MARKER, SQUARE_MARKER)};
    p.drawPolygon(corners, 4);
}

void svEditor::takePosition(const QPoint &pos)
{
    s = clamp01(pos.x() / LAST_PIXEL);
    v = clamp01(1.0 - pos.y() / LAST_PIXEL);
    stale = true;
    update();
    emit changed();
}

void svEditor::mousePressEvent(QMouseEvent *event)
{
    hover = true;
    dragging = true;
    takePosition(event->pos());
}

void svEditor::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF c = markerPosition();
    const QPoint pos = event->pos();
    const bool over = (pos.x() >= c.x() - SQUARE_MARKER && pos.x() <= c.x() + SQUARE_MARKER &&
                       pos.y() >= c.y() - SQUARE_MARKER && pos.y() <= c.y() + SQUARE_MARKER) ||
                      dragging;
    const bool hoverChanged = over != hover;
    hover = over;
    if (dragging) {
        takePosition(pos);
    } else if (hoverChanged) {
        stale = true;
        update();
    }
}

void svEditor::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void svEditor::leaveEvent(QEvent *)
{
    hover = false;
    dragging = false;
    stale = true;
    update();
}

// --------------------------------------------------------------------------
// hEditor

hEditor::hEditor(QWidget *parent) : QWidget(parent)
{
    setFixedSize(STRIP_WIDTH, STRIP_HEIGHT);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    cursor = makeCrossCursor(QStringLiteral("cross_mask2"));
    setCursor(cursor);
}

void hEditor::setHue(double _hue)
{
    h = _hue;
    stale = true;
    update();
}

void hEditor::rebuild()
{
    stale = false;
    if (!picture.isNull())
        return; // the strip itself never changes
    const double dpr = widgetSupport::devicePixelRatio();
    const int w = int(width() * dpr), hgt = int(height() * dpr);
    picture = QImage(w, hgt, QImage::Format_ARGB32);
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    const int firstColumn = int(STRIP_MARKER * dpr + 1) + 1; // room for the marker
    for (int i = 0; i < hgt; ++i) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(i));
        const QRgb c = QColor::fromHsvF(double(i) / hgt, 1.0, 1.0).rgba();
        for (int j = firstColumn; j < w; ++j)
            line[j] = c;
    }
    picturePixmap = QPixmap::fromImage(picture);
}

void hEditor::paintEvent(QPaintEvent *)
{
    if (stale)
        rebuild();
    QPainter p(this);
    p.drawPixmap(0, 0, picturePixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = hover ? HOVER_COLOR : QColor(Qt::black);
    p.setPen(c);
    p.setBrush(c);
    const double y = markerY();
    const QPointF triangle[3] = {QPointF(0, y - STRIP_MARKER), QPointF(0, y + STRIP_MARKER), QPointF(STRIP_MARKER, y)};
    p.drawPolygon(triangle, 3);
}

void hEditor::takePosition(const QPoint &pos)
{
    h = clamp01(pos.y() / LAST_PIXEL);
    stale = true;
    update();
    emit changed();
}

void hEditor::mousePressEvent(QMouseEvent *event)
{
    hover = true;
    dragging = true;
    takePosition(event->pos());
}

void hEditor::mouseMoveEvent(QMouseEvent *event)
{
    const double y = markerY();
    const bool over = (event->pos().y() >= y - STRIP_MARKER && event->pos().y() <= y + STRIP_MARKER) || dragging;
    const bool hoverChanged = over != hover;
    hover = over;
    if (dragging)
        takePosition(event->pos());
    else if (hoverChanged)
        update();
}

void hEditor::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void hEditor::leaveEvent(QEvent *)
{
    hover = false;
    dragging = false;
    stale = true;
    update();
}

// --------------------------------------------------------------------------
// hsvEditor

hsvEditor::hsvEditor(QWidget *parent) : QWidget(parent)
{
    sv = new svEditor(this);
    hueStrip = new hEditor(this);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sv);
    layout->addSpacing(4);
    layout->addWidget(hueStrip);
    connect(hueStrip, &hEditor::changed, this, &hsvEditor::colorChanged);
    connect(sv, &svEditor::changed, this, &hsvEditor::changed);
}

void hsvEditor::setColor(QColor color)
{
    const QColor hsv = color.toHsv();
    sv->setHue(hsv.hueF());
    sv->setSaturationAndValue(hsv.saturationF(), hsv.valueF());
    hueStrip->setHue(hsv.hueF());
}

void hsvEditor::colorChanged()
{
    sv->setHue(hueStrip->hue());
    emit changed();
}

// --------------------------------------------------------------------------
// colorPicker

colorPicker::colorPicker(QWidget *parent, QColor color) : styledDialog(parent), initial(color)
{
    setModal(true);
    const double s = widgetSupport::uiScale();
    const QString title = tr("Select color");
    titleLabel()->setText(title);
    setWindowTitle(title);

    hsv = new hsvEditor;
    hsv->setColor(color);

    auto *grid = new QGridLayout;
    const char *const names[3] = {"R: ", "G: ", "B: "};
    const int start[3] = {color.red(), color.green(), color.blue()};
    for (int i = 0; i < 3; ++i) {
        channels[i] = new slider(QString::fromLatin1(names[i]), slider::DefaultButton | slider::EditMode, 0, 0,
                                 QString(), 0.0, 255.0, start[i], 1.0);
        channels[i]->setValue(start[i]);
        grid->addWidget(channels[i], i, 0);
        grid->addWidget(new QLabel(QStringLiteral("%1").arg(start[i])), i, 1);
    }

    swatch = new colorSample(false, true);
    swatch->setColor(false, color, color);
    swatch->setFixedHeight(int(23 * s));

    auto *column = new QVBoxLayout;
    column->addLayout(grid);
    column->addWidget(swatch);
    column->addStretch();

    auto *top = new QHBoxLayout;
    top->addWidget(hsv);
    top->addSpacing(12);
    top->addLayout(column);

    okBtn = new QPushButton(QStringLiteral("Ok"));
    okBtn->setStyleSheet(QStringLiteral("QWidget { font: bold; }"));
    cancelBtn = new QPushButton(tr("Cancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okBtn);
    buttons->addWidget(cancelBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    okBtn->setFocus();
    okBtn->setDefault(true);

    connect(hsv, &hsvEditor::changed, this, &colorPicker::colorChanged);
    for (slider *c : channels) {
        connect(c, &slider::valueChangedLive, this, &colorPicker::sliderChanged);
        connect(c, &slider::valueChanged, this, &colorPicker::sliderChanged);
    }
    connect(okBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

QColor colorPicker::getColor() const
{
    const svEditor *sv = hsv->square();
    // Handed out as an RGB colour, so that callers comparing it with the
    // colours they hold compare values, not colour models.
    return QColor::fromHsvF(sv->hue() < 0.0 ? -1.0 : sv->hue(), sv->saturation(), sv->value(), 1.0).toRgb();
}

void colorPicker::colorChanged()
{
    const QColor c = getColor();
    const int rgb[3] = {c.red(), c.green(), c.blue()};
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker block(channels[i]);
        channels[i]->setValue(rgb[i]);
    }
    swatch->setColor(false, c, initial);
    emit changed(c);
}

void colorPicker::sliderChanged()
{
    const QColor c(int(channels[0]->value()), int(channels[1]->value()), int(channels[2]->value()));
    hsv->setColor(c);
    swatch->setColor(false, c, initial);
}
