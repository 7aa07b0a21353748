#include "widgets/presetItem.h"

#include "app/utils.h"
#include "widgets/clickableLabel.h"
#include "widgets/styleSheet.h"
#include "widgets/widgetSupport.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

// ---------------------------------------------------------------------------
// userIcon

userIcon::userIcon(int size, QWidget *parent) : QLabel(parent)
{
    const QIcon icon = makeColoredIcon(QStringLiteral(":/resources/user.png"));
    normal = icon.pixmap(size, size, QIcon::Normal);
    disabled = icon.pixmap(size, size, QIcon::Disabled);
    setFixedSize(size, size);
}

void userIcon::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, isEnabled() ? normal : disabled);
}

// ---------------------------------------------------------------------------
// presetThumbnailItem

presetThumbnailItem::presetThumbnailItem(presetItem *row, QComboBox *groups, int id, bool builtIn)
    : QLabel(row), row(row), groups(groups), id(id), builtIn(builtIn)
{
    menu = new QMenu(this);
    if (id == PRESET_ID_DEFAULT) {
        connect(menu->addAction(tr("Reset default")), &QAction::triggered, this, &presetThumbnailItem::resetDefaultSlot);
        setToolTip(row->getFilePath());
    } else if (builtIn) {
        QAction *setDefault = menu->addAction(tr("Set as default"));
        setDefault->setEnabled(id != PRESET_ID_LAST_USED);
        connect(setDefault, &QAction::triggered, this, &presetThumbnailItem::setDefaultSlot);
    } else {
        connect(menu->addAction(tr("Rename")), &QAction::triggered, this, &presetThumbnailItem::requestRename);
        connect(menu->addAction(tr("Replace")), &QAction::triggered, this, &presetThumbnailItem::requestReplace);
        menu->addSeparator();
        connect(menu->addAction(tr("Remove")), &QAction::triggered, this, &presetThumbnailItem::removeSlot);
        menu->addSeparator();
        groupsSubmenu = new QMenu(tr("Move to group") + "...", menu);
        groupsSubmenu->setProperty("popup", "true");
        menu->addMenu(groupsSubmenu);
        connect(groupsSubmenu, &QMenu::aboutToShow, this, &presetThumbnailItem::showPresetGroups);
        menu->addSeparator();
        connect(menu->addAction(tr("Set as default")), &QAction::triggered, this, &presetThumbnailItem::setDefaultSlot);
        setToolTip(row->getGroupName());
    }
}

void presetThumbnailItem::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit itemSelected(id);
    else
        menu->popup(event->globalPos());
}

void presetThumbnailItem::removeSlot()
{
    emit removeItem(id);
}

void presetThumbnailItem::showPresetGroups()
{
    groupsSubmenu->clear();
    if (!groups)
        return;
    for (int i = 0; i < groups->count(); ++i) {
        const QString group = i == 0 ? QString() : groups->itemText(i);
        QAction *action = groupsSubmenu->addAction(groups->itemText(i));
        action->setEnabled(group != row->getGroupName());
        const QString request = QString::number(id) + QChar(PRESET_MOVE_SEPARATOR) + group;
        connect(action, &QAction::triggered, this, [this, request]() { emit moveToUserGroup(request); });
        if (i == 0)
            groupsSubmenu->addSeparator();
    }
}

void presetThumbnailItem::resetDefaultSlot()
{
    emit defaultRegenerateNeeded(-1);
}

void presetThumbnailItem::setDefaultSlot()
{
    emit defaultRegenerateNeeded(id);
}

// ---------------------------------------------------------------------------
// presetItem

presetItem::presetItem(QWidget *parent, int id, bool builtIn, const QString &filePath, const QString &name,
                       QComboBox *groups)
    : QFrame(parent), id(id), builtIn(builtIn), defaultEntry(id == PRESET_ID_DEFAULT), filePath(filePath)
{
    setProperty("imageItem", true);
    scale = widgetSupport::uiScale();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(int(6 * scale), int(6 * scale), int(6 * scale), int(6 * scale));
    layout->setSpacing(1);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Maximum);

    thumbTile = new presetThumbnailItem(this, groups, id, builtIn);
    thumbTile->setCursor(Qt::PointingHandCursor);
    thumbTile->setStyleSheet(buildStyleSheet(QStringLiteral("QLabel { background-color: #383838; }")));
    thumbTile->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    layout->addWidget(thumbTile, 0, Qt::AlignHCenter);

    label = new clickableLabel(name, !builtIn);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(148);
    label->setMaximumWidth(300);
    editor = new QLineEdit(name);
    editor->setMaxLength(PRESET_NAME_MAX_LENGTH);
    editor->hide();
    editor->setMinimumWidth(148);
    editor->setMaximumWidth(300);
    label->setFixedHeight(editor->sizeHint().height());

    const QString baseName = QFileInfo(filePath).completeBaseName().toLower();
    if (builtIn) {
        if (id == PRESET_ID_DEFAULT || id == PRESET_ID_LAST_USED || baseName == QLatin1String("none"))
            label->setStyleSheet(buildStyleSheet(
                QStringLiteral("QLineEdit { font-weight: bold; font-size: %1px; }").arg(14 * scale, 0, 'g')));
    } else {
        label->setStyleSheet(buildStyleSheet(QStringLiteral("QLineEdit { font: italic; }")));
        const int size = QFontMetrics(label->font()).height();
        auto *icon = new userIcon(size, label);
        icon->move(0, (label->height() - size + 1) / 2);
        connect(label, &clickableLabel::clicked, this, &presetItem::enterRenameMode);
        label->setCursor(Qt::IBeamCursor);
    }
    layout->addWidget(label, 0, Qt::AlignHCenter);
    layout->addWidget(editor, 0, Qt::AlignHCenter);
    adjustSize();
    hide();

    connect(thumbTile, &presetThumbnailItem::defaultRegenerateNeeded, this, &presetItem::defaultRegenerateNeeded);
    connect(thumbTile, &presetThumbnailItem::itemSelected, this, &presetItem::itemSelected);
    connect(thumbTile, &presetThumbnailItem::removeItem, this, &presetItem::removeItem);
    connect(thumbTile, &presetThumbnailItem::requestRename, this, &presetItem::enterRenameMode);
    connect(thumbTile, &presetThumbnailItem::requestReplace, this, &presetItem::replaceItem);
    connect(thumbTile, &presetThumbnailItem::moveToUserGroup, this, &presetItem::moveToUserGroup);
    connect(editor, &QLineEdit::editingFinished, this, &presetItem::renameItem);
}

presetItem::~presetItem()
{
    delete shown;
}

void presetItem::setFilePath(const QString &path)
{
    filePath = path;
    if (defaultEntry)
        thumbTile->setToolTip(path);
}

void presetItem::setGroupName(const QString &group)
{
    groupName = group;
    if (!builtIn)
        thumbTile->setToolTip(group);
}

QString presetItem::getEditedName() const
{
    return editor->text();
}

QString presetItem::displayedName() const
{
    return label->text();
}

void presetItem::enterRenameMode()
{
    label->hide();
    editor->show();
    editor->setFocus();
    editor->selectAll();
}

void presetItem::itemStateChangedSlot(int state)
{
    emit itemStateChanged(id, state);
}

void presetItem::renameItem()
{
    if (editor->isHidden())
        return; // editingFinished also comes when the editor loses focus after hiding
    editor->hide();
    label->show();
    if (!editor->text().isEmpty())
        emit itemRenamed(id, editor->text());
    else
        editor->setText(label->text());
}

void presetItem::replaceItem()
{
    emit itemReplaced(id);
}

void presetItem::applyRename(const QString &name)
{
    filePath = QFileInfo(filePath).path() + "/" + name + ".lmsx";
    label->setText(name);
    editor->setText(name);
}

void presetItem::setThumbnail(const QImage *image, int width, int height)
{
    delete shown;
    shown = nullptr;
    if (image) {
        shown = new QImage(*image);
        thumbWidth = image->width();
        thumbHeight = image->height();
    } else {
        thumbWidth = width;
        thumbHeight = height;
    }
    thumbnailSet = image != nullptr;
    updateThumbnailSize();
    pixmapOutdated = true;
    refreshPixmap();
    update();
}

void presetItem::updateThumbnailSize()
{
    const int d = std::max(0, (width() - 20) / 10 * 10);
    if (thumbWidth > 0 && thumbHeight > 0 && d > 0) {
        if (thumbHeight < thumbWidth)
            thumbTile->setFixedSize(d, int(std::lround(double(thumbHeight) * d / thumbWidth)));
        else
            thumbTile->setFixedSize(int(std::lround(double(thumbWidth) * d / thumbHeight)), d);
    }
    const int captionWidth = thumbTile->width() > thumbTile->height() ? thumbTile->width() : width() - 20;
    if (captionWidth > 0) {
        label->setFixedWidth(captionWidth);
        editor->setFixedWidth(captionWidth);
    }
}

void presetItem::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (property("imageItemSelected").toBool()) {
        const double a = 7.0 / std::max(1, width());
        const double b = a + 0.001;
        setStyleSheet(buildStyleSheet(
            QStringLiteral("QFrame[imageItemSelected=\"true\"]{background-color: QLinearGradient( x1: 1, y1: 0, "
                           "x2: 0, y2: 0, stop: 0 #28b253, stop: %1 #189243, stop: %2 #505050);border: 1px solid "
                           "#222222;padding: 1px;border-radius: 3px;}")
                .arg(a, 0, 'g')
                .arg(b, 0, 'g')));
    }
    updateThumbnailSize();
    pixmapOutdated = true;
    refreshPixmap();
}

void presetItem::paintEvent(QPaintEvent *event)
{
    refreshPixmap();
    QFrame::paintEvent(event);
}

void presetItem::refreshPixmap()
{
    if (!pixmapOutdated)
        return;
    pixmapOutdated = false;
    if (shown && thumbTile->width() > 0 && thumbTile->height() > 0) {
        const double ratio = widgetSupport::devicePixelRatio();
        QPixmap pixmap = QPixmap::fromImage(*shown).scaled(thumbTile->size() * ratio, Qt::KeepAspectRatio,
                                                           Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(ratio);
        thumbTile->setPixmap(pixmap);
    } else {
        thumbTile->setPixmap(QPixmap());
    }
}
