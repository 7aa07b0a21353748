// The layers tool and its mask drawing options, driven offscreen on the
// shared project with a small synthetic picture: adding, removing, clearing,
// inverting and copying layers, selection and switching, opacity, the
// thumbnails, mask export and import through the file-dialog hook, and the
// painting controls reaching the mask painter.

#include "viewTestHost.h"

#include "views/layerItem.h"
#include "views/layersTool.h"
#include "widgets/fileDialogs.h"
#include "widgets/myScrollArea.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <algorithm>
#include <cmath>

namespace {

constexpr int W = 64, H = 48;

class layersToolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host.reset(new viewTestHost(320, 240));
        host->loadPicture(W, H);
        host->project->currentLayer = 0;
        host->options->misc.maskPaintingIntelligent = false;
        host->options->misc.maskPaintingIntelligentThreshold = 4;
        styledMessageBox::setMessageHook([this](int kind, const QString &, const QString &text, int) {
            messages << QStringLiteral("%1:%2").arg(kind).arg(text);
            return answer;
        });
        fileDialogs::setHook([this](const fileDialogs::request_t &request) {
            requests << request;
            return dialogAnswer;
        });
        tool.reset(new layersTool(host->project, host->workspace.get()));
        tool->updateToolIcons();
        tool->paintModeToggle();
        tool->itemChanged(0, true);
        tool->updateThumbnails();
    }
    void TearDown() override
    {
        tool.reset();
        styledMessageBox::setMessageHook(nullptr);
        fileDialogs::setHook(nullptr);
        host.reset();
    }

    int add()
    {
        int id = -2;
        tool->addSlot(&id, true);
        return id;
    }
    uint8_t *mask(int l, int level = 0)
    {
        return static_cast<uint8_t *>(host->project->layerMasks[l].levels[level].data);
    }
    // A recognisable pattern in level 0, lower levels rebuilt.
    void paintPattern(int l)
    {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                mask(l)[y * W + x] = uint8_t(x < W / 2 ? (x * 7 + y * 3) & 0xff : 0);
        host->project->layerMasks[l].buildLevelsFrom(0);
    }
    std::vector<uint8_t> level0(int l) { return std::vector<uint8_t>(mask(l), mask(l) + W * H); }

    std::unique_ptr<viewTestHost> host;
    std::unique_ptr<layersTool> tool;
    QStringList messages;
    int answer = styledMessageBox::Yes;
    QStringList dialogAnswer;
    QList<fileDialogs::request_t> requests;
};

TEST_F(layersToolTest, AddTakesTheLowestFreeIndexAndRemoveSelectsTheBase)
{
    QSignalSpy history(tool.get(), &layersTool::historyStartRequested);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(add(), i);
    EXPECT_EQ(history.count(), 5);
    EXPECT_EQ(host->project->currentLayer, 5);
    EXPECT_TRUE(tool->maskOptionsBox()->isEnabled());

    // No keeps everything.
    answer = styledMessageBox::No;
    tool->removeSlot(3);
    EXPECT_TRUE(host->project->layerExists[3]);
    EXPECT_EQ(host->project->currentLayer, 5);

    QSignalSpy cleared(tool.get(), &layersTool::historyClearRequested);
    answer = styledMessageBox::Yes;
    tool->removeSlot(3);
    EXPECT_FALSE(host->project->layerExists[3]);
    EXPECT_EQ(host->project->layerMasks[3].levels[0].data, nullptr);
    EXPECT_FALSE(tool->rowAction(3)->isVisible());
    EXPECT_EQ(host->project->currentLayer, 0);
    EXPECT_FALSE(tool->maskOptionsBox()->isEnabled());
    ASSERT_EQ(cleared.count(), 1);
    EXPECT_EQ(cleared.at(0).at(0).toInt(), 3);
    EXPECT_TRUE(messages.last().contains(QStringLiteral("remove the selected layer")));

    EXPECT_EQ(add(), 3);
    EXPECT_EQ(tool->row(3)->getLabelText(), QStringLiteral("Layer 3"));
    EXPECT_TRUE(tool->rowAction(3)->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(layersToolTest, NineLayersFillTheToolAndAddOrCopyThenChangeNothing)
{
    for (int i = 1; i <= 9; ++i)
        ASSERT_EQ(add(), i);
    EXPECT_FALSE(tool->addButton()->isEnabled());
    EXPECT_EQ(add(), -1);
    const int current = host->project->currentLayer;
    tool->itemCopy(2);
    EXPECT_EQ(host->project->currentLayer, current);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(layersToolTest, NewLayerTakesTheCurrentSettingsWithItsOwnIndexAndTables)
{
    processingParams_t &base = host->project->layerSettings[0];
    base.gamma = 1.7;
    base.precalculated = true;
    quint16 *ownTable = host->project->layerSettings[1].curveLut[0];
    ASSERT_EQ(add(), 1);
    const processingParams_t &layer = host->project->layerSettings[1];
    EXPECT_DOUBLE_EQ(layer.gamma, 1.7);
    EXPECT_EQ(layer.layerIndex, 1);
    EXPECT_FALSE(layer.precalculated);
    EXPECT_EQ(layer.curveLut[0], ownTable);
    const pyramid &m = host->project->layerMasks[1];
    ASSERT_GE(m.levelCount, 1);
    EXPECT_EQ(m.levels[0].width, W);
    EXPECT_EQ(m.levels[0].height, H);
    EXPECT_EQ(m.levelCount, host->project->hdrImage.levelCount);
    for (int i = 0; i < W * H; ++i)
        ASSERT_EQ(mask(1)[i], 0);
    EXPECT_TRUE(host->project->layerEnabled[1]);
}

TEST_F(layersToolTest, InvertTwiceRestoresClearZeroesAndCopyDuplicates)
{
    ASSERT_EQ(add(), 1);
    paintPattern(1);
    const std::vector<uint8_t> original = level0(1);
    QSignalSpy undo(tool.get(), &layersTool::maskUndoStepRequested);

    tool->itemInvert(1);
    EXPECT_EQ(mask(1)[0], 255 - original[0]);
    EXPECT_EQ(mask(1)[W - 1], 255);
    tool->itemInvert(1);
    EXPECT_EQ(level0(1), original);

    ASSERT_EQ(add(), 2);
    tool->itemCopy(1);
    EXPECT_EQ(host->project->currentLayer, 3);
    EXPECT_EQ(level0(3), original);
    const int last = host->project->layerMasks[3].levelCount - 1;
    EXPECT_EQ(std::memcmp(mask(3, last), mask(1, last), host->project->layerMasks[1].levelBytes(last)), 0);

    tool->itemClear(1);
    for (int l = 0; l < host->project->layerMasks[1].levelCount; ++l)
        for (size_t i = 0; i < host->project->layerMasks[1].levelBytes(l); ++i)
            ASSERT_EQ(mask(1, l)[i], 0) << "level " << l;
    EXPECT_EQ(undo.count(), 3); // two inversions and the clearing
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(layersToolTest, SelectionSwitchingAndAltDigitActions)
{
    for (int i = 1; i <= 4; ++i)
        ASSERT_EQ(add(), i);
    answer = styledMessageBox::Yes;
    tool->removeSlot(2);
    tool->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tool.get()));

    EXPECT_EQ(tool->rowAction(4)->shortcut(), QKeySequence(QStringLiteral("Alt+4")));
    QSignalSpy changed(tool.get(), &layersTool::currentLayerChanged);
    tool->rowAction(3)->trigger();
    EXPECT_EQ(host->project->currentLayer, 3);
    EXPECT_EQ(tool->selectedRow(), 3);
    EXPECT_TRUE(tool->row(3)->property("imageItemSelected").toBool());
    EXPECT_EQ(host->canvas()->viewState().currentLayer, 3);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 0);

    tool->switchUp(); // skips the removed layer 2
    EXPECT_EQ(host->project->currentLayer, 1);
    tool->switchUp();
    EXPECT_EQ(host->project->currentLayer, 0);
    EXPECT_FALSE(tool->maskOptionsBox()->isEnabled());
    tool->switchUp(); // the base is the first row
    EXPECT_EQ(host->project->currentLayer, 0);

    tool->itemChanged(4);
    tool->switchDown(); // the last visible row
    EXPECT_EQ(host->project->currentLayer, 4);

    // Alt with a digit, pressed on the tool's window.
    tool->activateWindow();
    QTest::keyClick(tool.get(), Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(host->project->currentLayer, 1);
    QTest::keyClick(tool.get(), Qt::Key_0, Qt::AltModifier);
    EXPECT_EQ(host->project->currentLayer, 0);
    tool->itemChanged(4);

    // The strip's arrow keys.
    tool->scrollArea()->setFocus();
    QTest::keyClick(tool->scrollArea(), Qt::Key_Left);
    EXPECT_EQ(host->project->currentLayer, 3);
    QTest::keyClick(tool->scrollArea(), Qt::Key_Right);
    EXPECT_EQ(host->project->currentLayer, 4);
}

TEST_F(layersToolTest, EnableBoxAndOpacitySliderReachTheProject)
{
    ASSERT_EQ(add(), 1);
    layerItem *row = tool->row(1);
    QSignalSpy toneMapping(tool.get(), &layersTool::toneMappingRequested);
    row->enableBox()->click();
    EXPECT_FALSE(host->project->layerEnabled[1]);
    EXPECT_FALSE(host->canvas()->viewState().layerVisible[1]);
    row->enableBox()->click();
    EXPECT_TRUE(host->project->layerEnabled[1]);
    EXPECT_EQ(toneMapping.count(), 2);

    QSignalSpy undo(tool.get(), &layersTool::maskUndoStepRequested);
    // A drag of the slider's handle to 0.40, then letting go.
    row->opacitySlider()->sliderWidget()->setValue(40);
    EXPECT_EQ(undo.count(), 0); // nothing while dragging
    emit row->opacitySlider()->sliderWidget()->sliderReleased();
    EXPECT_DOUBLE_EQ(host->project->layerSettings[1].opacity, 0.4);
    EXPECT_EQ(undo.count(), 1);
}

TEST_F(layersToolTest, ThumbnailsFollowTheMasks)
{
    ASSERT_EQ(add(), 1);
    ASSERT_EQ(add(), 2);
    // Layer 1 covers the left half fully, layer 2 the top half at 100.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            mask(1)[y * W + x] = x < W / 2 ? 255 : 0;
            mask(2)[y * W + x] = y < H / 2 ? 100 : 0;
        }
    host->project->layerMasks[1].buildLevelsFrom(0);
    host->project->layerMasks[2].buildLevelsFrom(0);
    tool->updateThumbnails();
    tool->row(0)->grab(); // paints the pending thumbnails

    const pyramid &image = host->project->hdrImage;
    const int tw = image.levels[image.levelCount - 1].width, th = image.levels[image.levelCount - 1].height;
    ASSERT_GE(tw, 4);
    ASSERT_GE(th, 4);
    EXPECT_TRUE(tool->row(0)->hasThumbnail());
    const QImage composite = tool->row(0)->thumbnail()->pixmap(Qt::ReturnByValue).toImage().scaled(tw, th);
    EXPECT_EQ(qRed(composite.pixel(0, th - 1)), 0);          // under layer 1
    EXPECT_NEAR(qRed(composite.pixel(tw - 1, 0)), 155, 2);   // under layer 2 only
    EXPECT_EQ(qRed(composite.pixel(tw - 1, th - 1)), 255);  // under neither
}

TEST_F(layersToolTest, MaskExportedClearedAndImportedIsTheSameMask)
{
    ASSERT_EQ(add(), 1);
    paintPattern(1);
    const std::vector<uint8_t> painted = level0(1);
    const QString dir = testSupport::freshDir();

    dialogAnswer = QStringList{dir + QStringLiteral("/mask one")};
    EXPECT_TRUE(tool->row(1)->thumbnail()->exportMaskSlot());
    ASSERT_TRUE(QFileInfo::exists(dir + QStringLiteral("/mask one.png")));
    EXPECT_EQ(host->options->openSaveDialogs.mask_LastDir, dir);
    EXPECT_TRUE(messages.isEmpty());

    tool->itemClear(1);
    EXPECT_NE(level0(1), painted);

    QSignalSpy undo(tool.get(), &layersTool::maskUndoStepRequested);
    dialogAnswer = QStringList{dir + QStringLiteral("/mask one.png")};
    tool->row(1)->thumbnail()->importAction()->trigger();
    EXPECT_EQ(level0(1), painted);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(undo.count(), 1);
    EXPECT_EQ(requests.last().start, dir);
    EXPECT_EQ(requests.last().filter, QStringLiteral("PNG (*.png)"));
}

TEST_F(layersToolTest, BrushPaintedMaskSurvivesExportClearAndImport)
{
    ASSERT_EQ(add(), 1); // selects layer 1 and switches painting on
    host->fakeToneMapped(100, 100, 100);
    mainImageArea *c = host->canvas();
    tool->toolButton(1)->click(); // Brush
    tool->paintModeToggle(0, 3);  // the hardest, smallest round brush
    const QRect shown = QRect(QPointF(c->originX(), c->originY()).toPoint(),
                              QSize(int(W * c->zoom()), int(H * c->zoom())));
    const QPoint a = shown.center() - QPoint(shown.width() / 4, 0), b = shown.center() + QPoint(shown.width() / 4, 0);
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, a);
    for (int k = 1; k <= 10; ++k) {
        const QPoint p = a + (b - a) * k / 10;
        QMouseEvent e(QEvent::MouseMove, QPointF(p), QPointF(c->mapToGlobal(p)), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
        QApplication::sendEvent(c, &e);
    }
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, b);
    const std::vector<uint8_t> painted = level0(1);
    int covered = 0;
    for (uint8_t v : painted)
        covered += v > 0 ? 1 : 0;
    ASSERT_GT(covered, 20) << "the stroke painted nothing";
    ASSERT_LT(covered, W * H / 2);

    const QString dir = testSupport::freshDir();
    dialogAnswer = QStringList{dir + QStringLiteral("/stroke.png")};
    ASSERT_TRUE(tool->row(1)->thumbnail()->exportMaskSlot());
    tool->row(1)->thumbnail()->clearAction()->trigger();
    EXPECT_EQ(std::count(mask(1), mask(1) + W * H, 0), W * H);
    tool->row(1)->thumbnail()->importMaskSlot();
    EXPECT_EQ(level0(1), painted);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(layersToolTest, ImportRescalesWithAWarningAndReportsFailures)
{
    ASSERT_EQ(add(), 1);
    const QString dir = testSupport::freshDir();
    QImage half(W / 2, H / 2, QImage::Format_RGB32);
    half.fill(qRgb(200, 200, 200));
    ASSERT_TRUE(half.save(dir + QStringLiteral("/small.png")));
    dialogAnswer = QStringList{dir + QStringLiteral("/small.png")};
    tool->row(1)->thumbnail()->importMaskSlot();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("2:The imported layer's size does not match")));
    EXPECT_EQ(mask(1)[W * H / 2 + 5], 200);
    EXPECT_EQ(mask(1, host->project->layerMasks[1].levelCount - 1)[0], 200); // lower levels rebuilt

    messages.clear();
    ASSERT_TRUE(testSupport::writeFile(dir + QStringLiteral("/broken.png"), QByteArray("not a picture")));
    dialogAnswer = QStringList{dir + QStringLiteral("/broken.png")};
    tool->row(1)->thumbnail()->importMaskSlot();
    EXPECT_EQ(messages, QStringList{QStringLiteral("3:Failed to import layer.")});

    // A folder that does not exist: the export says it failed.
    messages.clear();
    dialogAnswer = QStringList{dir + QStringLiteral("/missing/folder/mask.PNG")};
    EXPECT_FALSE(tool->row(1)->thumbnail()->exportMaskSlot());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("3:Failed to export layer.")));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/missing/folder/mask.PNG.png")));

    // Cancelled dialogs change nothing.
    messages.clear();
    dialogAnswer.clear();
    EXPECT_TRUE(tool->row(1)->thumbnail()->exportMaskSlot());
    tool->row(1)->thumbnail()->importMaskSlot();
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(layersToolTest, RenameReachesTheAction)
{
    ASSERT_EQ(add(), 1);
    layerItem *row = tool->row(1);
    row->enterRenameMode();
    row->renameField()->setText(QStringLiteral("Sky"));
    emit row->renameField()->editingFinished();
    EXPECT_EQ(row->getLabelText(), QStringLiteral("Sky"));
    EXPECT_EQ(tool->rowAction(1)->text(), QStringLiteral("Sky"));
}

// ---- mask drawing options

TEST_F(layersToolTest, OpacityAndThresholdFormulas)
{
    ASSERT_EQ(add(), 1); // the options work on a layer above the base
    struct {
        int v;
        double opacity;
    } opacities[] = {{10, 1.0}, {9, 0.5}, {1, 1.0 / (std::pow(9.0, 1.3) + 1.0)}};
    for (const auto &c : opacities) {
        tool->opacitySlider()->setValue(c.v);
        EXPECT_NEAR(host->canvas()->painter().opacity, c.opacity, 1e-12) << c.v;
    }
    EXPECT_NEAR(brushOpacityFromSlider(1), 0.054, 0.001);

    struct {
        int t, threshold;
    } thresholds[] = {{1, 13}, {4, 7}, {9, 1}};
    tool->intelligentBox()->setChecked(true);
    for (const auto &c : thresholds) {
        tool->thresholdSlider()->setValue(c.t);
        EXPECT_EQ(host->canvas()->painter().threshold, c.threshold) << c.t;
    }
    EXPECT_TRUE(host->canvas()->painter().intelligent);
    EXPECT_TRUE(tool->thresholdSlider()->isEnabled());
    tool->intelligentBox()->setChecked(false);
    EXPECT_FALSE(host->canvas()->painter().intelligent);
    EXPECT_FALSE(tool->thresholdSlider()->isEnabled());
}

TEST_F(layersToolTest, ToolButtonsSetThePainterModeAndBrushControls)
{
    ASSERT_EQ(add(), 1); // the options work on a layer above the base
    struct {
        int button, mode;
        bool brushControls;
    } cases[] = {{0, maskPainter::MODE_FILL, false},
                 {1, maskPainter::MODE_BRUSH, true},
                 {2, maskPainter::MODE_ERASER, true},
                 {3, maskPainter::MODE_GRADIENT, false}};
    for (const auto &c : cases) {
        tool->toolButton(c.button)->click();
        EXPECT_EQ(host->canvas()->painter().mode, c.mode) << c.button;
        EXPECT_EQ(tool->brushCombo()->isEnabled(), c.brushControls) << c.button;
        EXPECT_EQ(tool->opacitySlider()->isEnabled(), c.brushControls) << c.button;
    }
}

TEST_F(layersToolTest, BrushGridMovesWithinItsLimits)
{
    ASSERT_EQ(add(), 1); // the options work on a layer above the base
    tool->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tool.get()));
    const std::vector<brushPreset_t> presets = brushPresets();
    // The default cell is row 2, column 0.
    EXPECT_EQ(tool->brushRow(), 2);
    EXPECT_EQ(tool->brushColumn(), 0);
    EXPECT_EQ(host->canvas()->painter().brush().radius, presets[8].radius);

    tool->incBrushSize(); // column 0 is the largest
    EXPECT_EQ(tool->brushColumn(), 0);
    tool->decBrushSize();
    tool->decBrushSize();
    EXPECT_EQ(tool->brushColumn(), 2);
    EXPECT_EQ(host->canvas()->painter().brush().radius, presets[10].radius);
    tool->decBrushSize();
    tool->decBrushSize(); // column 3 is the smallest
    EXPECT_EQ(tool->brushColumn(), 3);

    for (int i = 0; i < 8; ++i)
        tool->decBrushStyle();
    EXPECT_EQ(tool->brushRow(), 7);
    tool->incBrushStyle();
    EXPECT_EQ(tool->brushRow(), 6);
    EXPECT_EQ(host->canvas()->painter().brush().square, presets[27].square);

    // Nothing selected in the grid: row 2, column 0.
    tool->brushView()->selectionModel()->clearSelection();
    tool->paintModeToggle();
    EXPECT_EQ(tool->brushRow(), 2);
    EXPECT_EQ(tool->brushColumn(), 0);

    // Hidden: the keys do nothing.
    tool->hide();
    tool->decBrushSize();
    EXPECT_EQ(tool->brushColumn(), 0);
}

TEST_F(layersToolTest, MaskVisibilityButtonSwitchesTheOverlay)
{
    ASSERT_EQ(add(), 1); // the options work on a layer above the base
    tool->maskColorCombo()->setCurrentIndex(2);
    EXPECT_EQ(host->canvas()->painter().overlayColor, 3);
    tool->maskVisibilityButton()->click(); // off
    EXPECT_EQ(host->canvas()->painter().overlayColor, 0);
    EXPECT_FALSE(tool->maskColorCombo()->isEnabled());
    tool->maskVisibilityButton()->click(); // on again
    EXPECT_EQ(host->canvas()->painter().overlayColor, 3);
    EXPECT_TRUE(tool->maskColorCombo()->isEnabled());
    tool->maskColorCombo()->setCurrentIndex(3);
    EXPECT_EQ(host->canvas()->painter().overlayColor, 4);
}

TEST_F(layersToolTest, ToolShortcutsNeedAnImageAndTheToneMappingTab)
{
    tool->setToneMappingTabCurrent(false);
    tool->setBucket();
    EXPECT_EQ(host->canvas()->painter().mode, maskPainter::MODE_BRUSH);
    tool->setToneMappingTabCurrent(true);
    tool->setBucket();
    EXPECT_EQ(host->canvas()->painter().mode, maskPainter::MODE_FILL);
    EXPECT_TRUE(tool->toolButton(0)->isChecked());
    tool->setGradient();
    EXPECT_EQ(host->canvas()->painter().mode, maskPainter::MODE_GRADIENT);
    tool->setEraser();
    EXPECT_EQ(host->canvas()->painter().mode, maskPainter::MODE_ERASER);
    tool->setBrush();
    EXPECT_EQ(host->canvas()->painter().mode, maskPainter::MODE_BRUSH);

    host->workspace->clearImage();
    tool->setBucket();
    EXPECT_EQ(host->canvas()->painter().mode, maskPainter::MODE_BRUSH);
}

TEST_F(layersToolTest, IntelligentControlsStartFromTheSettings)
{
    host->options->misc.maskPaintingIntelligent = true;
    host->options->misc.maskPaintingIntelligentThreshold = 9;
    layersTool other(host->project, host->workspace.get());
    EXPECT_TRUE(other.intelligentBox()->isChecked());
    EXPECT_EQ(other.thresholdSlider()->value(), 9);
    EXPECT_EQ(other.maskColorCombo()->currentText(), QStringLiteral("Green"));
    EXPECT_TRUE(other.toolButton(1)->isChecked());
    EXPECT_EQ(other.opacitySlider()->value(), 10);
}

} // namespace
