#include "views/layersTool.h"

#include "app/debugLog.h"
#include "project/processingProject.h"
#include "views/layerItem.h"
#include "views/mainImageArea.h"
#include "views/mainWorkspace.h"
#include "widgets/myScrollArea.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSignalMapper>
#include <QVBoxLayout>
#include <cstring>

namespace {

constexpr int THUMB_PLACEHOLDER_W = 148;
constexpr int THUMB_PLACEHOLDER_H = 111;

// Busy cursor and suspended updates for the span of a scope, restored on
// every way out.
class busyScope_t
{
public:
    busyScope_t(QWidget *w, bool suspend) : widget(suspend ? w : nullptr)
    {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        if (widget)
            widget->setUpdatesEnabled(false);
    }
    ~busyScope_t()
    {
        if (widget)
            widget->setUpdatesEnabled(true);
        QApplication::restoreOverrideCursor();
    }
    void resumeUpdates()
    {
        if (widget)
            widget->setUpdatesEnabled(true);
        widget = nullptr;
    }

private:
    QWidget *widget;
};

// The new layer takes the settings of the source but keeps its own derived
// tables and its own index; its tables must be rebuilt.
void copyLayerSettings(processingParams_t &destination, const processingParams_t &source, int index)
{
    copyProcessingSettings(&destination, &source);
    destination.layerIndex = index;
}

} // namespace

layersTool::layersTool(processingProject *proj, mainWorkspace *ws, QWidget *actionParent)
    : QWidget(nullptr), scale(widgetSupport::uiScale()), project(proj), workspace(ws)
{
    auto *top = new QHBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);

    groupBox = new QGroupBox(tr("Mask drawing options"));
    groupBox->setEnabled(false);
    top->addWidget(groupBox);
    buildMaskOptions();

    scroll = new myScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setWidgetResizable(true);
    auto *strip = new QWidget;
    grid = new QGridLayout(strip);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(3);
    scroll->setWidget(strip);
    top->addWidget(scroll, 1);

    actionGroup = new QActionGroup(actionParent ? static_cast<QObject *>(actionParent) : this);
    actionGroup->setExclusive(true);
    auto *mapper = new QSignalMapper(this);
    for (int i = 0; i < LAYER_ROW_COUNT; ++i) {
        const QString name = i == 0 ? tr("Base image") : tr("Layer") + QStringLiteral(" %1").arg(i);
        layerItem *item = new layerItem(strip, project, i, name, 0);
        rows[i] = item;
        item->setToolTip(name);
        grid->addWidget(item, 0, i);
        item->setVisible(project && project->layerExists[i]);

        QAction *action = new QAction(name, actionParent ? static_cast<QObject *>(actionParent) : this);
        action->setCheckable(true);
        action->setShortcut(QKeySequence(QStringLiteral("Alt+%1").arg(i)));
        action->setShortcutContext(Qt::ApplicationShortcut);
        action->setVisible(i == 0 || (project && project->layerExists[i]));
        actionGroup->addAction(action);
        if (actionParent)
            actionParent->addAction(action);
        else
            addAction(action);
        actions[i] = action;
        mapper->setMapping(action, i);
        connect(action, &QAction::triggered, mapper, qOverload<>(&QSignalMapper::map));

        if (i > 0)
            connect(item, &layerItem::removeItem, this, &layersTool::removeSlot);
        connect(item, &layerItem::itemSelected, this, [this](int id) { itemChanged(id); });
        connect(item, qOverload<int>(&layerItem::clearItem), this, &layersTool::itemClear);
        connect(item, qOverload<int>(&layerItem::invertItem), this, &layersTool::itemInvert);
        connect(item, qOverload<int>(&layerItem::copyItem), this, &layersTool::itemCopy);
        connect(item, &layerItem::itemImported, this, &layersTool::itemImported);
        connect(item, &layerItem::itemRenamed, this, &layersTool::itemRename);
        connect(item, qOverload<int>(&layerItem::visibleToggle), this, &layersTool::itemEnable);
        connect(item, qOverload<int>(&layerItem::opacityChanged), this, &layersTool::itemOpacity);
    }
    connect(mapper, &QSignalMapper::mappedInt, this, [this](int id) { itemChanged(id); });
    connect(scroll, &myScrollArea::keyUp, this, &layersTool::switchUp);
    connect(scroll, &myScrollArea::keyLeft, this, &layersTool::switchUp);
    connect(scroll, &myScrollArea::keyDown, this, &layersTool::switchDown);
    connect(scroll, &myScrollArea::keyRight, this, &layersTool::switchDown);

    addBtn = new QPushButton(QStringLiteral(" ") + tr("Add") + QStringLiteral(" "));
    grid->addWidget(addBtn, 0, LAYER_ROW_COUNT);
    connect(addBtn, &QPushButton::clicked, this, [this] { addSlot(); });
    grid->setColumnStretch(LAYER_ROW_COUNT + 1, 1);
    updateAddButton();
}

mainImageArea *layersTool::canvas() const
{
    return workspace ? workspace->canvas() : nullptr;
}

bool layersTool::hasImage() const
{
    return canvas() && canvas()->hasImage() && project && project->width > 0 && project->height > 0;
}

int layersTool::selectedRow() const
{
    for (int i = 0; i < LAYER_ROW_COUNT; ++i)
        if (rows[i]->property("imageItemSelected").toBool())
            return i;
    return -1;
}

int layersTool::existingLayerCount() const
{
    if (!hasImage())
        return 1;
    int n = 1;
    for (int i = 1; i < LAYER_ROW_COUNT; ++i)
        n += project->layerExists[i] ? 1 : 0;
    return n;
}

void layersTool::updateAddButton()
{
    addBtn->setEnabled(existingLayerCount() < LAYER_ROW_COUNT);
}

void layersTool::showExistingLayers()
{
    for (int i = 1; i < LAYER_ROW_COUNT; ++i) {
        const bool exists = project && i < LAYER_COUNT && project->layerExists[i];
        rows[i]->setVisible(exists);
        actions[i]->setVisible(exists);
    }
    updateAddButton();
}

void layersTool::redrawImageArea()
{
    mainImageArea *area = canvas();
    if (!area)
        return;
    area->updatePixmap();
    area->renderView(false, false, true);
    area->update();
}

void layersTool::itemChanged(int id, bool init, bool toggleUpdates)
{
    if (!project || id < 0 || id >= LAYER_ROW_COUNT)
        return;
    const int previous = project->currentLayer;
    if (toggleUpdates)
        setUpdatesEnabled(false);
    if (canvas())
        canvas()->finishGradient(false, previous);
    for (int i = 0; i < LAYER_ROW_COUNT; ++i) {
        layerItem *item = rows[i];
        item->setProperty("imageItemSelected", i == id);
        QResizeEvent resize(item->size(), item->size());
        QApplication::sendEvent(item, &resize);
        widgetSupport::repolish(item);
        if (i == id) {
            project->currentLayer = id;
            if (canvas())
                canvas()->viewState().currentLayer = id;
            actions[i]->setChecked(true);
        }
    }
    groupBox->setEnabled(project->currentLayer != 0);
    if (toggleUpdates)
        setUpdatesEnabled(true);
    if (!init) {
        emit layerSettingsToShow(id);
        emit toneMappingRequested();
        emit presetToSelect(project->layerSettings[id].layerTag);
    }
    if (workspace)
        workspace->setPaintMode(hasImage(), project->currentLayer > 0);
    emit controlsRefreshRequested();
    emit currentLayerChanged(previous);
}

void layersTool::addSlot(int *idAdded, bool addToHistory)
{
    if (idAdded)
        *idAdded = -1;
    if (!project || !hasImage())
        return;
    int id = -1;
    for (int i = 1; i < LAYER_ROW_COUNT; ++i)
        if (!project->layerExists[i]) {
            id = i;
            break;
        }
    if (id < 0)
        return;

    busyScope_t busy(this, true);
    pyramid &mask = project->layerMasks[id];
    mask.freeAll();
    const int levels = std::max(1, project->hdrImage.levelCount);
    if (!mask.makePyramid(project->width, project->height, levels, 1, 1, true)) {
        mask.freeAll();
        busy.resumeUpdates();
        styledMessageBox::show(this, styledMessageBox::Error, tr("Not enough memory!"));
        return;
    }
    mask.setLevelSizes(project->width, project->height);
    for (int l = 0; l < mask.levelCount; ++l)
        mask.levels[l].valid = true;

    copyLayerSettings(project->layerSettings[id], project->layerSettings[project->currentLayer], id);

    project->layerExists[id] = 1;
    project->layerEnabled[id] = 1;
    if (canvas())
        canvas()->viewState().layerVisible[id] = 1;
    redrawImageArea();
    updateThumbnails(false);

    layerItem *item = rows[id];
    const QString name = tr("Layer") + QStringLiteral(" %1").arg(id);
    item->setLabelText(name);
    {
        const QSignalBlocker blocker(item->opacitySlider());
        item->opacitySlider()->setValue(1.0);
    }
    item->opacityChanged(false);
    item->setFixedHeight(rows[0]->height());
    item->show();
    item->adjustSize();
    item->setMinimumHeight(50);
    item->setMaximumHeight(500);
    if (item->enableBox())
        item->enableBox()->setChecked(true);
    actions[id]->setText(name);
    actions[id]->setVisible(true);

    updateAddButton();
    itemChanged(id, false, false);
    maskVisible->setChecked(true);
    maskColorToggle(true);
    if (addToHistory)
        emit historyStartRequested();

    busy.resumeUpdates();
    QApplication::processEvents();
    scroll->ensureWidgetVisible(addBtn, 50, 50);
    if (idAdded)
        *idAdded = id;
}

void layersTool::removeSlot(int id)
{
    if (!project || id < 1 || id >= LAYER_ROW_COUNT)
        return;
    const int answer = styledMessageBox::show(this, styledMessageBox::Confirmation,
                                              tr("Do you really want to remove the selected layer?"),
                                              styledMessageBox::Yes | styledMessageBox::No);
    if (answer != styledMessageBox::Yes)
        return;
    busyScope_t busy(this, true);
    rows[id]->hide();
    actions[id]->setVisible(false);
    project->layerExists[id] = 0;
    project->layerMasks[id].freeAll();
    previewWindow_t &view = project->view;
    delete[] view.layerOutput[id];
    delete[] view.layerMask[id];
    view.layerOutput[id] = nullptr;
    view.layerMask[id] = nullptr;
    busy.resumeUpdates();
    QApplication::processEvents();
    updateAddButton();
    emit historyClearRequested(id);
    updateThumbnails(true);
    itemChanged(0, false, true);
}

void layersTool::itemClear(int id)
{
    if (!project || id < 1 || id >= LAYER_ROW_COUNT)
        return;
    {
        busyScope_t busy(this, false);
        pyramid &mask = project->layerMasks[id];
        for (int l = 0; l < mask.levelCount; ++l)
            if (mask.levels[l].data)
                std::memset(mask.levels[l].data, 0, mask.levelBytes(l));
        redrawImageArea();
        updateThumbnails(true);
        itemChanged(id, false, true);
    }
    emit maskUndoStepRequested();
}

void layersTool::itemInvert(int id)
{
    if (!project || id < 1 || id >= LAYER_ROW_COUNT)
        return;
    {
        busyScope_t busy(this, false);
        pyramid &mask = project->layerMasks[id];
        if (mask.levelCount > 0 && mask.levels[0].data) {
            uint8_t *m = static_cast<uint8_t *>(mask.levels[0].data);
            const size_t n = mask.levelBytes(0);
            for (size_t i = 0; i < n; ++i)
                m[i] = uint8_t(255 - m[i]);
            mask.buildLevelsFrom(0);
        }
        redrawImageArea();
        updateThumbnails(true);
        itemChanged(id, false, true);
    }
    emit maskUndoStepRequested();
}

void layersTool::itemCopy(int id)
{
    if (!project || id < 1 || id >= LAYER_ROW_COUNT)
        return;
    busyScope_t busy(this, false);
    int added = -1;
    addSlot(&added, true);
    if (added < 0)
        return;
    QApplication::processEvents();
    const pyramid &source = project->layerMasks[id];
    pyramid &target = project->layerMasks[added];
    if (source.levelCount > 0 && target.levelCount > 0 && source.levels[0].data && target.levels[0].data) {
        const size_t n = std::min(source.levelBytes(0), target.levelBytes(0));
        std::memcpy(target.levels[0].data, source.levels[0].data, n);
        target.buildLevelsFrom(0);
    }
    redrawImageArea();
    updateThumbnails(true);
    itemChanged(added, false, true);
}

void layersTool::itemImported(int id)
{
    itemChanged(id, false, true);
    redrawImageArea();
    updateThumbnails(true);
    emit maskUndoStepRequested();
}

void layersTool::itemRename(int id, const QString &name)
{
    if (id >= 0 && id < LAYER_ROW_COUNT)
        actions[id]->setText(name);
}

void layersTool::itemEnable(int id)
{
    if (!project || id < 1 || id >= LAYER_ROW_COUNT || !rows[id]->enableBox())
        return;
    const bool on = rows[id]->enableBox()->isChecked();
    project->layerEnabled[id] = on ? 1 : 0;
    if (canvas())
        canvas()->viewState().layerVisible[id] = on ? 1 : 0;
    emit toneMappingRequested();
}

void layersTool::itemOpacity(int id)
{
    if (!project || id < 1 || id >= LAYER_ROW_COUNT)
        return;
    project->layerSettings[id].opacity = rows[id]->opacitySlider()->value();
    emit toneMappingRequested();
    emit maskUndoStepRequested();
}

void layersTool::switchBy(int direction)
{
    const int current = selectedRow();
    if (current < 0 || !isVisible())
        return;
    for (int i = current + direction; i >= 0 && i < LAYER_ROW_COUNT; i += direction) {
        if (rows[i]->isVisible()) {
            scroll->ensureWidgetVisible(rows[i]);
            itemChanged(i, false, true);
            return;
        }
    }
}

void layersTool::switchUp()
{
    switchBy(-1);
}

void layersTool::switchDown()
{
    switchBy(1);
}

void layersTool::updateThumbnails(bool toggleUpdates)
{
    if (!project)
        return;
    if (toggleUpdates)
        setUpdatesEnabled(false);
    int w = THUMB_PLACEHOLDER_W, h = THUMB_PLACEHOLDER_H;
    const pyramid &image = project->hdrImage;
    const bool present = hasImage() && image.levelCount > 0;
    if (present) {
        w = image.levels[image.levelCount - 1].width;
        h = image.levels[image.levelCount - 1].height;
    }
    QImage composite(std::max(1, w), std::max(1, h), QImage::Format_RGB32);
    composite.fill(Qt::white);
    QImage pictures[LAYER_ROW_COUNT];
    for (int l = 1; l < LAYER_ROW_COUNT; ++l) {
        if (!project->layerExists[l] || !present)
            continue;
        const pyramid &mask = project->layerMasks[l];
        if (mask.levelCount < 1)
            continue;
        const pyramidLevel_t &level = mask.levels[mask.levelCount - 1];
        if (!level.data)
            continue;
        QImage picture(w, h, QImage::Format_RGB32);
        const uint8_t *m = static_cast<const uint8_t *>(level.data);
        for (int y = 0; y < h; ++y) {
            QRgb *out = reinterpret_cast<QRgb *>(picture.scanLine(y));
            QRgb *comp = reinterpret_cast<QRgb *>(composite.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const int v = (y < level.height && x < level.width) ? m[size_t(y) * level.width + x] : 0;
                out[x] = qRgb(v, v, v);
                const int c = std::max(0, qRed(comp[x]) - v);
                comp[x] = qRgb(c, c, c);
            }
        }
        pictures[l] = picture;
    }
    for (int l = 1; l < LAYER_ROW_COUNT; ++l)
        if (project->layerExists[l])
            rows[l]->setThumbnail(pictures[l].isNull() ? nullptr : &pictures[l], w, h);
    rows[0]->setThumbnail(present ? &composite : nullptr, w, h);
    scroll->setFixedHeight(scroll->horizontalScrollBar()->sizeHint().height() + rows[0]->sizeHint().height()
                           + int(10 * scale));
    if (toggleUpdates)
        setUpdatesEnabled(true);
}
