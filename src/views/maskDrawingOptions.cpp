// The "Mask drawing options" group box of the layers tool: paint tool,
// intelligent painting and its threshold, brush grid and opacity, mask
// overlay colour, and the tool shortcuts. The controls keep no painting
// state of their own; everything is written into the image area's
// maskPainter.

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "views/layersTool.h"
#include "views/mainImageArea.h"
#include "views/mainWorkspace.h"
#include "views/maskPainter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int BRUSH_COLUMNS = 4;
constexpr int BRUSH_ROWS = 8;
constexpr int DEFAULT_BRUSH_ROW = 2;

} // namespace

double brushOpacityFromSlider(int v)
{
    return 1.0 / (std::pow(double(10 - v), 1.3) + 1.0);
}

int intelligentThresholdFromSlider(int t)
{
    return int(19.0 - 6.0 * std::sqrt(double(t)));
}

void layersTool::buildMaskOptions()
{
    auto *box = new QVBoxLayout(groupBox);
    auto *toolsRow = new QHBoxLayout;
    toolsRow->setSpacing(2);
    static const char *icons[4] = {":/resources/bucket.png", ":/resources/brush.png", ":/resources/eraser.png",
                                   ":/resources/gradient.png"};
    const QString hold = tr("hold %1 to erase").arg(tr("Ctrl"));
    const QString tips[4] = {tr("Fill") + QStringLiteral(" [H]  (") + hold + QStringLiteral(")"),
                             tr("Brush") + QStringLiteral(" [B]  (") + hold + QStringLiteral(")"),
                             tr("Eraser") + QStringLiteral(" [E]"),
                             tr("Gradient") + QStringLiteral(" [G] (")
                                 + tr("Enter to accept, Esc to cancel, Space to invert") + QStringLiteral(")")};
    toolGroup = new QButtonGroup(this);
    toolGroup->setExclusive(true);
    for (int i = 0; i < 4; ++i) {
        auto *button = new QPushButton(QIcon(QString::fromLatin1(icons[i])), QString());
        button->setCheckable(true);
        button->setMaximumWidth(int(24 * scale));
        button->setToolTip(tips[i]);
        toolGroup->addButton(button, i);
        toolsRow->addWidget(button);
        toolButtons[i] = button;
    }
    toolsRow->addStretch();
    toolButtons[maskPainter::MODE_BRUSH]->setChecked(true);

    intelligentCheck = new QCheckBox(tr("Intelligent"));
    intelligentCheck->setToolTip(tr("Hold Alt key to temporarily disable while painting."));
    threshold = new QSlider(Qt::Horizontal);
    threshold->setRange(1, 9);
    threshold->setFixedWidth(int(55 * scale));
    threshold->setToolTip(tr("Threshold"));
    const bool intelligentStart = optionsInstance ? optionsInstance->misc.maskPaintingIntelligent : true;
    const int thresholdStart = optionsInstance ? optionsInstance->misc.maskPaintingIntelligentThreshold : 4;
    intelligentCheck->setChecked(intelligentStart);
    threshold->setValue(thresholdStart);
    toolsRow->addSpacing(int(10 * scale));
    toolsRow->addWidget(intelligentCheck);
    toolsRow->addSpacing(int(10 * scale));
    toolsRow->addWidget(threshold);
    box->addLayout(toolsRow);

    brushes = new QComboBox;
    brushes->setIconSize(QSize(32, 32));
    brushes->setToolTip(tr("Increase and decrease brush size: ] and [. Change brush style: Shift+] and Shift+[."));
    brushModel = new QStandardItemModel(4, 4, this);
    brushTable = new QTableView;
    brushTable->setShowGrid(false);
    brushTable->horizontalHeader()->hide();
    brushTable->verticalHeader()->hide();
    brushTable->setIconSize(QSize(32, 32));
    brushTable->setSelectionMode(QAbstractItemView::SingleSelection);
    brushTable->setSelectionBehavior(QAbstractItemView::SelectItems);
    brushes->setModel(brushModel);
    brushes->setView(brushTable);
    for (int r = 0; r < 4; ++r)
        brushTable->setRowHeight(r, 34);

    brushOpacity = new QSlider(Qt::Horizontal);
    brushOpacity->setRange(1, 10);
    brushOpacity->setValue(10);
    brushOpacity->setFixedWidth(int(55 * scale));
    brushOpacity->setToolTip(tr("Opacity"));

    maskColors = new QComboBox;
    maskColors->addItems({tr("Red"), tr("Green"), tr("Blue"), tr("Only mask")});
    maskColors->setCurrentIndex(1);
    visibleIcon = QIcon(QStringLiteral(":/resources/visible.png"));
    invisibleIcon = QIcon(QStringLiteral(":/resources/invisible2.png"));
    maskVisible = new QPushButton(visibleIcon, QString());
    maskVisible->setFocusPolicy(Qt::NoFocus);
    maskVisible->setCheckable(true);
    maskVisible->setChecked(true);
    maskVisible->setFixedWidth(int(24 * scale));
    maskVisible->setFixedHeight(maskColors->sizeHint().height());

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Brush style") + QStringLiteral(":")), 0, 0);
    auto *brushRow = new QHBoxLayout;
    brushRow->addSpacing(int(3 * scale));
    brushRow->addWidget(brushes);
    brushRow->addSpacing(int(3 * scale));
    brushRow->addWidget(brushOpacity);
    grid->addLayout(brushRow, 0, 1);
    grid->addWidget(new QLabel(tr("Mask visibility") + QStringLiteral(":")), 1, 0);
    auto *colorRow = new QHBoxLayout;
    colorRow->addSpacing(int(3 * scale));
    colorRow->addWidget(maskColors);
    colorRow->addWidget(maskVisible);
    grid->addLayout(colorRow, 1, 1);
    box->addLayout(grid);
    box->addStretch();

    connect(brushTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            qOverload<>(&layersTool::paintModeToggle));
    connect(brushOpacity, &QSlider::valueChanged, this, qOverload<>(&layersTool::paintModeToggle));
    connect(maskColors, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { maskColorToggle(); });
    connect(maskVisible, &QPushButton::clicked, this, [this] { maskColorToggle(); });
    connect(intelligentCheck, &QCheckBox::stateChanged, this, qOverload<>(&layersTool::paintModeToggle));
    connect(threshold, &QSlider::valueChanged, this, qOverload<>(&layersTool::paintModeToggle));
    for (QPushButton *button : toolButtons)
        connect(button, &QPushButton::clicked, this, qOverload<>(&layersTool::paintModeToggle));
}

int layersTool::brushRow() const
{
    return brushes->currentIndex();
}

void layersTool::updateToolIcons()
{
    if (!canvas())
        return;
    const QSignalBlocker blocker(brushTable->selectionModel());
    brushModel->clear();
    brushModel->setRowCount(BRUSH_ROWS);
    brushModel->setColumnCount(BRUSH_COLUMNS);
    const maskPainter &painter = canvas()->painter();
    const int count = int(painter.presets().size());
    for (int k = 0; k < count && k < BRUSH_ROWS * BRUSH_COLUMNS; ++k)
        brushModel->setItem(k / BRUSH_COLUMNS, k % BRUSH_COLUMNS, new QStandardItem(painter.brushIcon(k), QString()));
    brushTable->resizeColumnsToContents();
    brushTable->resizeRowsToContents();
    brushTable->setFixedWidth(BRUSH_COLUMNS * brushTable->columnWidth(0) + 6);
}

void layersTool::paintModeToggle(int r, int c, bool intelligentParamsChanged)
{
    mainImageArea *area = canvas();
    if (!area)
        return;
    maskPainter &painter = area->painter();
    const double brushAlpha = brushOpacityFromSlider(brushOpacity->value());
    int tool = maskPainter::MODE_FILL;
    if (toolButtons[maskPainter::MODE_ERASER]->isChecked())
        tool = maskPainter::MODE_ERASER;
    else if (toolButtons[maskPainter::MODE_BRUSH]->isChecked())
        tool = maskPainter::MODE_BRUSH;
    else if (toolButtons[maskPainter::MODE_GRADIENT]->isChecked())
        tool = maskPainter::MODE_GRADIENT;
    painter.intelligent = intelligentCheck->isChecked();
    painter.threshold = intelligentThresholdFromSlider(threshold->value());
    painter.mode = tool;
    area->updateOverlayVisibility();
    const bool brushTool = tool == maskPainter::MODE_BRUSH || tool == maskPainter::MODE_ERASER;
    brushes->setEnabled(brushTool);
    brushOpacity->setEnabled(brushTool);
    const int preset = r * BRUSH_COLUMNS + c;
    if (preset >= 0 && preset < int(painter.presets().size()))
        painter.selectBrush(preset, brushAlpha);
    if (sender() == brushOpacity)
        updateToolIcons();
    {
        const QSignalBlocker blocker(brushes);
        const QSignalBlocker selection(brushTable->selectionModel());
        column = c;
        brushes->setModelColumn(c);
        brushes->setCurrentIndex(r);
        brushTable->selectionModel()->select(brushModel->index(r, c), QItemSelectionModel::ClearAndSelect);
    }
    threshold->setEnabled(intelligentCheck->isChecked());
    area->refreshMasks(!intelligentParamsChanged);
}

void layersTool::paintModeToggle()
{
    int r = DEFAULT_BRUSH_ROW, c = 0;
    const QModelIndexList selected = brushTable->selectionModel()->selectedIndexes();
    if (!selected.isEmpty()) {
        r = selected.first().row();
        c = selected.first().column();
    }
    const QObject *from = sender();
    paintModeToggle(r, c, from == intelligentCheck || from == threshold);
}

void layersTool::moveBrushCell(int r, int c)
{
    paintModeToggle(r, c, false);
    emit brushes->currentIndexChanged(r);
}

void layersTool::incBrushSize()
{
    if (isVisible() && column - 1 >= 0)
        moveBrushCell(brushRow(), column - 1);
}

void layersTool::decBrushSize()
{
    if (isVisible() && column + 1 <= BRUSH_COLUMNS - 1)
        moveBrushCell(brushRow(), column + 1);
}

void layersTool::incBrushStyle()
{
    if (isVisible() && brushRow() - 1 >= 0)
        moveBrushCell(brushRow() - 1, column);
}

void layersTool::decBrushStyle()
{
    if (isVisible() && brushRow() + 1 <= BRUSH_ROWS - 1)
        moveBrushCell(brushRow() + 1, column);
}

void layersTool::setToolFromShortcut(int tool)
{
    mainImageArea *area = canvas();
    if (!area || !area->hasImage() || !toneMappingTab)
        return;
    {
        const QSignalBlocker blocker(toolButtons[tool]);
        toolButtons[tool]->setChecked(true);
    }
    paintModeToggle();
    const maskPainter &painter = area->painter();
    switch (tool) {
    case maskPainter::MODE_FILL: area->setCursor(painter.fillCursor); break;
    case maskPainter::MODE_BRUSH: area->setCursor(painter.brushCursor); break;
    case maskPainter::MODE_ERASER: area->setCursor(painter.eraserCursor); break;
    default: area->setCursor(painter.gradientCursor); break;
    }
}

void layersTool::setBrush()
{
    setToolFromShortcut(maskPainter::MODE_BRUSH);
}

void layersTool::setBucket()
{
    setToolFromShortcut(maskPainter::MODE_FILL);
}

void layersTool::setEraser()
{
    setToolFromShortcut(maskPainter::MODE_ERASER);
}

void layersTool::setGradient()
{
    setToolFromShortcut(maskPainter::MODE_GRADIENT);
}

void layersTool::maskColorToggle(bool redraw)
{
    mainImageArea *area = canvas();
    int color = maskColors->currentIndex() + 1;
    if (sender() == maskVisible || redraw) {
        maskVisible->setIcon(maskVisible->isChecked() ? visibleIcon : invisibleIcon);
        maskColors->setEnabled(maskVisible->isChecked());
        if (!maskVisible->isChecked())
            color = 0;
    }
    if (!area)
        return;
    area->painter().overlayColor = color;
    if (redraw) {
        area->renderView(false, false, true);
        area->update();
    }
}
