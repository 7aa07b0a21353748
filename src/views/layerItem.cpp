#include "views/layerItem.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "widgets/clickableLabel.h"
#include "widgets/fileDialogs.h"
#include "widgets/slider.h"
#include "widgets/styleSheet.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QValidator>
#include <QVBoxLayout>

namespace {

constexpr int THUMB_FRAME = 110;      // the thumbnail fits this square
constexpr int STRIP_HEIGHT = 3;
constexpr int NAME_MAX_CHARS = 40;
constexpr int FADE_MS = 200;
constexpr double FADE_TO = 0.2;

// Refuses names whose UTF-8 form would not fit the project file's field, so
// a saved and reopened project shows the same name.
class layerNameValidator : public QValidator
{
public:
    explicit layerNameValidator(QObject *parent) : QValidator(parent) {}
    State validate(QString &input, int &) const override
    {
        return input.toUtf8().size() <= layerNameMaxBytes() ? Acceptable : Invalid;
    }
};

// Wait cursor for the span of a scope.
struct waitCursor_t {
    waitCursor_t() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~waitCursor_t() { QApplication::restoreOverrideCursor(); }
};

QString &lastMaskFolder()
{
    static QString fallback;
    return optionsInstance ? optionsInstance->openSaveDialogs.mask_LastDir : fallback;
}

} // namespace

int layerNameMaxBytes()
{
    // A project file stores each layer name in 32 bytes, terminator included.
    return 31;
}

QSize layerThumbnailSize(int w, int h)
{
    if (w <= 0 || h <= 0)
        return QSize(0, 0);
    if (w > h)
        return QSize(THUMB_FRAME, int(h / (double(w) / THUMB_FRAME)));
    return QSize(int(w / (double(h) / THUMB_FRAME)), THUMB_FRAME);
}

int layerOpacityColumns(int width, double opacity)
{
    // Column x is filled when width x opacity > x; the tolerance keeps a
    // product like 110 x 0.1 (11.000000000000002) from filling one more.
    const double filled = width * opacity - 1e-9;
    int n = 0;
    for (int x = 0; x < width; ++x)
        if (filled > x)
            ++n;
    return n;
}

QString layerMaskExportProposal(const QString &folder, const QString &name)
{
    const QString file = QFileInfo(name).fileName();
    if (!folder.isEmpty() && QDir(folder).exists())
        return folder + QStringLiteral("/") + file;
    return file;
}

QString layerMaskExportName(const QString &chosen)
{
    if (QFileInfo(chosen).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0)
        return chosen;
    return chosen + QStringLiteral(".png");
}

// ---------------------------------------------------------------------------
// thumbnail

layerThumbnailItem::layerThumbnailItem(layerItem *ownerRow, int index)
    : QLabel(ownerRow), layerIndex(index), owner(ownerRow)
{
    if (index <= 0)
        return;
    menu = new QMenu(this);
    menu->setProperty("popup", "true");
    actRename = menu->addAction(tr("Rename"));
    menu->addSeparator();
    actInvert = menu->addAction(tr("Invert"));
    actCopy = menu->addAction(tr("Copy"));
    actClear = menu->addAction(tr("Clear"));
    menu->addSeparator();
    actImport = menu->addAction(tr("Import"));
    actExport = menu->addAction(tr("Export"));
    menu->addSeparator();
    actRemove = menu->addAction(tr("Remove"));
    connect(actRename, &QAction::triggered, this, &layerThumbnailItem::requestRename);
    connect(actInvert, &QAction::triggered, this, &layerThumbnailItem::requestInvert);
    connect(actCopy, &QAction::triggered, this, &layerThumbnailItem::requestCopy);
    connect(actClear, &QAction::triggered, this, &layerThumbnailItem::requestClear);
    connect(actRemove, &QAction::triggered, this, &layerThumbnailItem::removeSlot);
    connect(actImport, &QAction::triggered, this, &layerThumbnailItem::importMaskSlot);
    connect(actExport, &QAction::triggered, this, [this] { exportMaskSlot(); });
    setToolTip(owner->getName());
}

void layerThumbnailItem::removeSlot()
{
    emit removeItem(layerIndex);
}

void layerThumbnailItem::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        emit itemSelected(layerIndex);
        return;
    }
    if (menu)
        menu->popup(event->globalPos());
}

void layerThumbnailItem::importMaskSlot()
{
    processingProject *project = owner->project;
    if (!project || layerIndex <= 0 || layerIndex >= LAYER_COUNT)
        return;
    const QString file = fileDialogs::openFileName(this, tr("Import"), lastMaskFolder(), QStringLiteral("PNG (*.png)"));
    if (file.isEmpty())
        return;
    lastMaskFolder() = QFileInfo(file).absolutePath();
    pyramid &mask = project->layerMasks[layerIndex];
    int32_t result = -1;
    {
        waitCursor_t wait;
        result = mask.readFromImage(file);
    }
    if (result < 0) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Failed to import layer."));
        return;
    }
    if (result > 0)
        styledMessageBox::show(this, styledMessageBox::Warning,
                               tr("The imported layer's size does not match current image size. The layer will be "
                                  "rescaled."));
    mask.levels[0].valid = true;
    mask.buildLevelsFrom(0);
    emit itemImported(layerIndex);
}

bool layerThumbnailItem::exportMaskSlot()
{
    processingProject *project = owner->project;
    if (!project || layerIndex <= 0 || layerIndex >= LAYER_COUNT)
        return false;
    const QString proposal = layerMaskExportProposal(lastMaskFolder(), owner->getLabelText());
    QString file = fileDialogs::saveFileName(this, tr("Export"), proposal, QStringLiteral("PNG (*.png)"));
    if (file.isEmpty())
        return true;
    file = layerMaskExportName(file);
    lastMaskFolder() = QFileInfo(file).absolutePath();
    bool ok = false;
    {
        waitCursor_t wait;
        ok = project->layerMasks[layerIndex].saveImage(file);
    }
    if (!ok) {
        // The mask stays in the project; the person learns that the file is not there.
        debugLog("%s: failed to write %s\n", "layerThumbnailItem::exportMaskSlot", qPrintable(file));
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("Failed to export layer.") + QStringLiteral("\n") + QDir::toNativeSeparators(file));
    }
    return ok;
}

// ---------------------------------------------------------------------------
// row

layerItem::layerItem(QWidget *parent, processingProject *proj, int index, const QString &rowName, int bottomBar)
    : QFrame(parent), scale(widgetSupport::uiScale()), name(rowName), layerIndex(index), barAtBottom(bottomBar),
      project(proj)
{
    const bool isLayer = index > 0;
    setProperty("imageItem", true);
    auto *vertical = new QVBoxLayout(this);
    vertical->setContentsMargins(int(6 * scale), int(6 * scale), int(6 * scale), int(6 * scale));
    vertical->setSpacing(1);
    auto *horizontal = new QHBoxLayout;
    horizontal->setContentsMargins(0, 0, 0, 0);
    horizontal->setSpacing(0);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);

    thumb = new layerThumbnailItem(this, index);
    thumb->setCursor(Qt::PointingHandCursor);
    thumb->setStyleSheet(buildStyleSheet(QStringLiteral("QLabel { background-color: #383838; }")));
    strip = new QLabel(this);
    hoverStripLabel = new QLabel(this);
    vertical->addWidget(thumb, 0, Qt::AlignHCenter);
    vertical->addWidget(strip, 0, Qt::AlignHCenter);
    vertical->addWidget(hoverStripLabel, 0, Qt::AlignHCenter);
    if (!isLayer)
        hoverStripLabel->hide();

    nameLabel = new clickableLabel(rowName, isLayer);
    nameLabel->setStyleSheet(buildStyleSheet(isLayer ? QStringLiteral("QLineEdit { color: #888888; font: italic; }")
                                                     : QStringLiteral("QLineEdit { font: bold; }")));
    nameLabel->setAlignment(Qt::AlignHCenter);
    nameLabel->setMaximumWidth(300);
    nameLabel->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Maximum);

    rename = new QLineEdit(rowName);
    rename->setMaxLength(NAME_MAX_CHARS);
    rename->setValidator(new layerNameValidator(rename));
    rename->setToolTip(tr("At most %1 bytes (UTF-8) are kept in a project file.").arg(layerNameMaxBytes()));
    rename->hide();
    rename->setMaximumWidth(300);
    rename->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Maximum);
    nameLabel->setFixedHeight(rename->sizeHint().height());

    if (isLayer) {
        enable = new QCheckBox;
        enable->setChecked(true);
        enable->setToolTip(QStringLiteral("<html>") + tr("Allows disabling the effect temporarily.")
                           + QStringLiteral("</html>"));
    }

    container = new QWidget(this);
    container->setStyleSheet(QStringLiteral("QWidget { background-color: transparent; }"));
    container->setLayout(horizontal);
    vertical->addWidget(container);
    if (enable)
        horizontal->addWidget(enable, 0, Qt::AlignHCenter);
    horizontal->addWidget(nameLabel, 0, Qt::AlignHCenter);
    horizontal->addWidget(rename, 0, Qt::AlignHCenter);

    if (isLayer) {
        connect(nameLabel, &clickableLabel::clicked, this, &layerItem::enterRenameMode);
        nameLabel->setCursor(Qt::IBeamCursor);
    }

    thumb->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    strip->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    hoverStripLabel->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    adjustSize();

    connect(thumb, &layerThumbnailItem::itemSelected, this, &layerItem::itemSelected);
    connect(thumb, &layerThumbnailItem::removeItem, this, &layerItem::removeItem);
    connect(thumb, &layerThumbnailItem::itemImported, this, &layerItem::itemImported);
    connect(thumb, &layerThumbnailItem::requestRename, this, &layerItem::enterRenameMode);
    connect(thumb, &layerThumbnailItem::requestClear, this, qOverload<>(&layerItem::clearItem));
    connect(thumb, &layerThumbnailItem::requestInvert, this, qOverload<>(&layerItem::invertItem));
    connect(thumb, &layerThumbnailItem::requestCopy, this, qOverload<>(&layerItem::copyItem));
    connect(rename, &QLineEdit::editingFinished, this, &layerItem::renameItem);
    if (enable)
        connect(enable, &QCheckBox::clicked, this, qOverload<>(&layerItem::visibleToggle));

    opacity = new slider(QString(), 0, this, 2, QString(), 0.10, 1.00, 1.00, 0.01);
    opacity->hide();
    opacity->sliderWidget()->setToolTip(tr("Opacity"));
    connect(opacity, &slider::valueChanged, this, qOverload<>(&layerItem::opacityChanged));
    connect(opacity, &slider::valueChangedLive, this, [this] { opacityChanged(false); });
    opacityChanged(false);

    fade = new QGraphicsOpacityEffect(this);
    fade->setOpacity(1.0);
    if (isLayer)
        thumb->setGraphicsEffect(fade);
    animation = new QPropertyAnimation(fade, "opacity", this);
    animation->setDirection(QAbstractAnimation::Forward);
    animation->setDuration(FADE_MS);
    animation->setStartValue(1.0);
    animation->setEndValue(FADE_TO);
    connect(animation, &QPropertyAnimation::finished, this, &layerItem::animationFinished);

    updateGeometryOfThumbnail();
    hoverOff();
}

layerItem::~layerItem()
{
    // A fade still running would report its end to a row half destroyed.
    disconnect(animation, nullptr, this, nullptr);
    animation->stop();
}

QString layerItem::getLabelText() const
{
    return nameLabel->text();
}

void layerItem::setLabelText(const QString &text)
{
    nameLabel->setText(text);
    rename->setText(text);
}

void layerItem::updateGeometryOfThumbnail()
{
    const QSize size = layerThumbnailSize(thumbWidth, thumbHeight);
    const int W = size.width(), H = size.height();
    if (W > 0 && H > 0) {
        thumb->setFixedSize(W, H);
        strip->setFixedSize(W, STRIP_HEIGHT);
        hoverStripLabel->setFixedSize(W, STRIP_HEIGHT);
        opacityChanged(false);
        container->setFixedWidth(W > H ? W : 113);
    }
    const int top = int(H - 12 * scale);
    opacity->setGeometry(int(12 * scale), top, -int(6 * scale - 110), int(12 * scale));
}

void layerItem::opacityChanged(bool emitSignal)
{
    if (layerIndex <= 0 || !strip)
        return;
    const int w = std::max(1, strip->width()), h = std::max(1, strip->height());
    QImage picture(w, h, QImage::Format_RGB32);
    const int filled = layerOpacityColumns(w, opacity ? opacity->value() : 1.0);
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = x < filled ? qRgb(128, 128, 128) : qRgb(48, 48, 48);
    }
    strip->setPixmap(QPixmap::fromImage(picture));
    if (emitSignal)
        emit opacityChanged(layerIndex);
}

void layerItem::opacityChanged()
{
    opacityChanged(true);
}

void layerItem::itemStateChangedSlot(int state)
{
    emit itemStateChanged(layerIndex, state);
}

void layerItem::clearItem()
{
    emit clearItem(layerIndex);
}

void layerItem::invertItem()
{
    emit invertItem(layerIndex);
}

void layerItem::copyItem()
{
    emit copyItem(layerIndex);
}

void layerItem::visibleToggle()
{
    emit visibleToggle(layerIndex);
}

void layerItem::animationFinished()
{
    repaintPending = true;
    update();
}

void layerItem::enterRenameMode()
{
    if (layerIndex <= 0)
        return;
    nameLabel->hide();
    rename->show();
    rename->setFocus();
    rename->selectAll();
}

void layerItem::renameItem()
{
    if (rename->isHidden())
        return; // editingFinished also comes when the hidden field loses the focus
    rename->hide();
    nameLabel->show();
    const QString text = rename->text();
    if (!text.isEmpty()) {
        nameLabel->setText(text);
        emit itemRenamed(layerIndex, text);
    } else {
        rename->setText(nameLabel->text());
    }
}

void layerItem::hoverOn()
{
    hovered = true;
    setUpdatesEnabled(false);
    opacity->show();
    opacity->raise();
    strip->hide();
    hoverStripLabel->show();
    setUpdatesEnabled(true);
    if (animation->state() == QAbstractAnimation::Running)
        animation->pause();
    animation->setDirection(QAbstractAnimation::Forward);
    if (animation->state() == QAbstractAnimation::Paused)
        animation->resume();
    else
        animation->start();
}

void layerItem::hoverOff()
{
    hovered = false;
    opacity->hide();
    strip->show();
    hoverStripLabel->hide();
    if (layerIndex <= 0)
        return;
    if (animation->state() == QAbstractAnimation::Running)
        animation->pause();
    animation->setDirection(QAbstractAnimation::Backward);
    if (animation->state() == QAbstractAnimation::Paused)
        animation->resume();
    else if (fade->opacity() < 1.0)
        animation->start();
}

void layerItem::enterEvent(QEvent *event)
{
    QFrame::enterEvent(event);
    if (layerIndex > 0)
        hoverOn();
}

void layerItem::leaveEvent(QEvent *event)
{
    QFrame::leaveEvent(event);
    if (layerIndex > 0)
        hoverOff();
}

void layerItem::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (property("imageItemSelected").toBool()) {
        const int h = std::max(1, height());
        const double p1 = 7.0 / h, p2 = p1 + 0.001;
        const QString direction = barAtBottom ? QStringLiteral("x1: 0, y1: 1, x2: 0, y2: 0")
                                              : QStringLiteral("x1: 0, y1: 0, x2: 0, y2: 1");
        setStyleSheet(buildStyleSheet(
            QStringLiteral("QFrame[imageItemSelected=\"true\"]{background-color: QLinearGradient( %1, stop: 0 "
                           "#28b253, stop: %2 #189243, stop: %3 #505050);border: 1px solid #222222;padding: "
                           "1px;border-radius: 3px;}")
                .arg(direction, QString::number(p1, 'g'), QString::number(p2, 'g'))));
    }
    updateGeometryOfThumbnail();
    repaintPending = true;
}

void layerItem::setThumbnail(const QImage *image, int width, int height)
{
    if (image && !image->isNull()) {
        thumbnailImage = image->copy();
        thumbWidth = thumbnailImage.width();
        thumbHeight = thumbnailImage.height();
        thumbnailGiven = true;
    } else {
        thumbnailImage = QImage();
        thumbWidth = width;
        thumbHeight = height;
        thumbnailGiven = false;
    }
    updateGeometryOfThumbnail();
    repaintPending = true;
    update();
}

void layerItem::paintEvent(QPaintEvent *event)
{
    if (repaintPending) {
        if (!thumbnailImage.isNull()) {
            const double ratio = devicePixelRatioF();
            QPixmap pixmap = QPixmap::fromImage(thumbnailImage)
                                 .scaled(int(thumb->width() * ratio), int(thumb->height() * ratio),
                                         Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            pixmap.setDevicePixelRatio(ratio);
            thumb->setPixmap(pixmap);
        } else {
            thumb->clear();
        }
        repaintPending = false;
    }
    QFrame::paintEvent(event);
}
