#include "widgets/imageItem.h"

#include "app/programOptionsSettings.h"
#include "widgets/colorSample.h"
#include "widgets/slider.h"
#include "widgets/styleSheet.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

namespace {

double pixelRatio()
{
    return optionsInstance && optionsInstance->devicePixelRatio > 0 ? optionsInstance->devicePixelRatio : 1.0;
}

double uiScale()
{
    return optionsInstance ? optionsInstance->uiScale() : 1.0;
}

// The shown file name: a photo taken from a project file carries "-lmpx"
// after its own suffix, which is not part of its name.
QString displayPathOf(const QString &filePath)
{
    QString path = filePath;
    if (QFileInfo(path).suffix().contains("-lmpx"))
        path.chop(5);
    return path;
}

QPixmap scaledThumbnail(const QImage &image)
{
    const double r = pixelRatio();
    if (image.isNull())
        return QPixmap();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaledToWidth(std::max(1, int(std::lround(80.0 * r))), Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(r);
    return pixmap;
}

} // namespace

QString formatExposureTime(double t, int n, int d)
{
    if (d > 0 && n > 0 && n < d) {
        const int k = d / n;
        const double v = 1.0 / k;
        if (v >= t * 0.95 && v <= t * 1.05)
            return QString("%1/%2 s").arg(1).arg(k);
    }
    int decimals = 1;
    if (t < 0.001)
        decimals = 5;
    else if (t < 0.01)
        decimals = 4;
    else if (t < 0.1)
        decimals = 3;
    else if (t < 1.0)
        decimals = 2;
    return QString("%1 s").arg(t, 0, 'f', decimals);
}

QString exifTooltipText(const photoInfo_t &p, const QString &name)
{
    const exifInfo_t &e = p.exif;
    auto item = [](const QString &caption, const QString &value) {
        return "<b>" + caption + ": </b>" + value;
    };
    QStringList lines;
    lines << item(QObject::tr("Camera"), QString::fromLatin1(e.make, int(qstrnlen(e.make, sizeof e.make))) + " " +
                                              QString::fromLatin1(e.model, int(qstrnlen(e.model, sizeof e.model))));
    lines << item(QObject::tr("Exposure time"),
                  formatExposureTime(e.exposureTime, e.exposureNumerator, e.exposureDenominator));
    lines << item("ISO", QString::number(e.iso));
    lines << item(QObject::tr("F-number"), QString::number(double(e.fNumber), 'f', 1));
    lines << item("AEB EV", QString::number(double(e.exposureBias), 'f', 2));
    lines << item(QObject::tr("Timestamp"), QString::fromLatin1(e.dateTime, int(qstrnlen(e.dateTime, sizeof e.dateTime))));
    lines << item(QObject::tr("Focal length"), QObject::tr("%1 mm (35mm equivalent: %2 mm)")
                                                   .arg(double(e.focalLength), 0, 'f', 0)
                                                   .arg(double(e.focalLength35), 0, 'f', 0));
    lines << item(QObject::tr("White balance"), e.whiteBalance ? QObject::tr("Manual") : QObject::tr("Auto"));
    lines << item(QObject::tr("Light source"), QString::fromLatin1(exifLightSourceName(e.lightSource)));
    return "<b><font size='4'><i>" + name + "</i></font></b><br>" + lines.join("<br>");
}

void thumbnailItem::mouseReleaseEvent(QMouseEvent *event)
{
    emit itemSelected(photoId);
    QLabel::mouseReleaseEvent(event);
}

void clickableLabel2::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    emit clicked();
    QLabel::mouseReleaseEvent(event);
}

imageItem::imageItem(int mode, const photoInfo_t *source, QWidget *, const imageItemMarks_t &marks)
    : QFrame(nullptr), rowMode(mode)
{
    setProperty("imageItem", true);
    auto *layout = new QHBoxLayout(this);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Maximum);
    if (source)
        keepRecord(*source);
    photoId = photo.id;

    thumbnail = new thumbnailItem(photoId);
    thumbnail->setCursor(Qt::PointingHandCursor);
    thumbnail->setFixedSize(32, 32);
    const QPixmap pixmap = scaledThumbnail(thumbImage);
    if (!pixmap.isNull()) {
        thumbnail->setPixmap(pixmap);
        thumbnail->setFixedSize(pixmap.size() / pixmap.devicePixelRatio());
    }
    connect(thumbnail, &thumbnailItem::itemSelected, this, &imageItem::itemSelected);
    layout->addWidget(thumbnail);

    const QString path = displayPathOf(photo.filePath);
    shownName = QFileInfo(path).fileName();

    auto *column = new QVBoxLayout();
    layout->addLayout(column);
    const bool iconMarker = marks.eraserMarker || marks.fantasyMarker;
    if (mode == 1) {
        if (marks.eraserMarker) {
            thumbnail->setPixmap(QPixmap(":/resources/eraser.png"));
        } else if (marks.fantasyMarker) {
            thumbnail->setPixmap(QPixmap(":/resources/fantasy.png"));
        } else {
            colorMark = new colorSample(false, false);
            colorMark->setProperty("myFrame", true);
            layout->insertWidget(1, colorMark);
        }
        nameLabel = new clickableLabel2(shownName);
        nameLabel->setToolTip(path);
        column->addWidget(nameLabel);
        setCursor(Qt::PointingHandCursor);
    } else if (marks.hdrEntry) {
        if (!marks.hdrUpToDate) {
            nameLabel = new clickableLabel2(tr("Parameters were changed, HDR image is not up-to-date"));
            nameLabel->setWordWrap(true);
            nameLabel->setFixedWidth(int(135 * uiScale()));
            nameLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Maximum);
            nameLabel->setAlignment(Qt::AlignHCenter);
            nameLabel->setCursor(Qt::PointingHandCursor);
            nameLabel->hide();
            connect(nameLabel, &clickableLabel2::clicked, this, &imageItem::hdrParamsChangedClicked);
            column->addWidget(nameLabel);
            layout->addStretch();
            auto *icon = new QLabel();
            icon->setPixmap(QPixmap(":/resources/generateHDR.png"));
            layout->addWidget(icon);
        } else {
            nameLabel = new clickableLabel2(shownName);
            column->addWidget(nameLabel);
        }
        thumbnail->setToolTip("HDR");
    } else {
        includeBox = new QCheckBox(shownName);
        includeBox->setToolTip(path);
        includeBox->setChecked(true);
        includeBox->setFocusPolicy(Qt::NoFocus);
        connect(includeBox, &QCheckBox::stateChanged, this, &imageItem::itemStateChangedSlot);
        column->addWidget(includeBox);
    }

    const bool tiffHdr = QFileInfo(photo.filePath).suffix().toLower() == "tif";
    if (!(marks.hdrEntry && !tiffHdr) && !(marks.hdrEntry && !marks.hdrUpToDate) && !iconMarker)
        thumbnail->setToolTip(exifTooltipText(photo, QFileInfo(photo.filePath).fileName()));

    auto *facts = new QHBoxLayout();
    column->addLayout(facts);
    auto addFact = [&](const QString &text) {
        auto *label = new QLabel(text);
        label->setProperty("exifLabel", true);
        facts->addWidget(label);
        exifLabels.append(label);
        return label;
    };
    if (mode == 1) {
        addFact(QString("EV %1").arg(photo.ev, 0, 'f', 2));
        facts->addStretch();
    } else {
        facts->setSpacing(3);
        addFact(exposureText());
        addFact(QString("ISO %1").arg(photo.exif.iso));
        addFact(QString("F %1").arg(double(photo.exif.fNumber), 0, 'f', 1));
        addFact(QString("%1").arg(double(photo.exif.exposureBias), 0, 'f', 2))->setToolTip("AEB EV");
        facts->addStretch();
        if (!marks.hdrEntry) {
            evSlider = new slider("EV:", slider::EditMode, 0, 2, QString(), -99, 99, 0, 0.01);
            evSlider->setFocusPolicy(Qt::NoFocus);
            if (evSlider->sliderWidget())
                evSlider->sliderWidget()->setRange(-600, 600);
            column->addWidget(evSlider);
        }
    }

    beforeAction = new QAction(this);
    beforeAction->setCheckable(true);
    beforeAction->setProperty("id", photoId);
    connect(beforeAction, &QAction::triggered, this, &imageItem::beforeTriggered);
}

imageItem::~imageItem() = default;

void imageItem::keepRecord(const photoInfo_t &source)
{
    photo = source;
    thumbImage = source.thumbnail ? source.thumbnail->copy() : QImage();
    // The copy shares the project's buffers; the row uses none of them, so
    // it forgets them and cannot reach freed memory later.
    photo.thumbnail = nullptr;
    photo.preview = nullptr;
    photo.mask = nullptr;
    photo.mergeBuffer = nullptr;
    for (double *&t : photo.workTables)
        t = nullptr;
    for (QTemporaryFile *&f : photo.tempFiles)
        f = nullptr;
    photo.exif.stripOffsets = nullptr;
    photo.exif.stripByteCounts = nullptr;
    photo.exif.stripCount = 0;
    photo.exif.stripByteCountCount = 0;
}

QString imageItem::exposureText() const
{
    return formatExposureTime(photo.exif.exposureTime, photo.exif.exposureNumerator, photo.exif.exposureDenominator);
}

QPixmap imageItem::shownThumbnail() const
{
    return thumbnail->pixmap(Qt::ReturnByValue);
}

void imageItem::setInfo(const photoInfo_t &source)
{
    keepRecord(source);
    drawThumbnail();
}

void imageItem::drawThumbnail()
{
    const bool isIncluded = included();
    QPixmap pixmap = scaledThumbnail(thumbImage);
    if (pixmap.isNull())
        return;
    const double r = pixmap.devicePixelRatio();
    const int w = int(pixmap.width() / r), h = int(pixmap.height() / r);
    if (!isIncluded) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(0.6);
        QPen pen(Qt::red, 3);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawLine(3, 3, w - 3, h - 3);
        painter.drawLine(w - 3, 3, 3, h - 3);
    }
    thumbnail->setFixedSize(w, h);
    thumbnail->setPixmap(pixmap);
}

void imageItem::itemStateChangedSlot(int state)
{
    drawThumbnail();
    emit itemStateChanged(photoId, state);
}

void imageItem::beforeTriggered()
{
    emit itemSelected(photoId);
}

void imageItem::mouseReleaseEvent(QMouseEvent *event)
{
    if (rowMode == 1)
        emit itemSelected(photoId);
    QFrame::mouseReleaseEvent(event);
}

void imageItem::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (!property("imageItemSelected").toBool())
        return;
    const double w = std::max(1, width());
    const double p1 = 7.0 / w;
    const double p2 = p1 + 0.001;
    const QString direction = mirrored ? "x1: 1, y1: 0, x2: 0, y2: 0" : "x1: 0, y1: 0, x2: 1, y2: 0";
    setStyleSheet(buildStyleSheet(
        QString("QFrame[imageItemSelected=\"true\"]{background-color: QLinearGradient( %1, stop: 0 #28b253, "
                "stop: %2 #189243, stop: %3 #505050);border: 1px solid #222222;padding: 1px;border-radius: 3px;}")
            .arg(direction)
            .arg(p1)
            .arg(p2)));
}
