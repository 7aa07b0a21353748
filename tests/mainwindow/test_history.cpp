// The History tab: rows per layer with their text, undo and redo restoring
// every layer from its nearest row, the redo tail cut by a new change (but not
// its starting points), layer mode hiding the rows of layers 1..9, and the
// mask undo files, including one that can no longer be read.

#include "mainwindow/historyItem.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "widgets/styledMessageBox.h"
#include "windowFixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <cstring>
#include <vector>

namespace {

// A project with the base layer and layer 1, layer mode on, and a small
// mask for layer 1.
void twoLayers(mainWindow &w, int maskWidth = 40, int maskHeight = 30)
{
    processingProject *p = w.project;
    p->layerExists[1] = p->layerEnabled[1] = 1;
    p->layersOn = true;
    p->layerSettings[1].layerIndex = 1;
    ASSERT_TRUE(p->layerMasks[1].makePyramid(maskWidth, maskHeight, 2, 1, 1, true));
    w.clearHistory();
}

uint8_t *maskData(mainWindow &w, int layer)
{
    return static_cast<uint8_t *>(w.project->layerMasks[layer].levels[0].data);
}

size_t maskBytes(mainWindow &w, int layer)
{
    return w.project->layerMasks[layer].levelBytes(0);
}

QString undoFile(mainWindow &w, int layer, int counter)
{
    return QDir(w.project->sessionPath).filePath(QString("layerUndo_%1_%2").arg(layer).arg(counter));
}

// Paints the layer's whole mask with one value and records the change.
void paint(mainWindow &w, int layer, uint8_t value)
{
    w.project->currentLayer = layer;
    std::memset(maskData(w, layer), value, maskBytes(w, layer));
    w.addMaskUndoStep();
}

bool maskIs(mainWindow &w, int layer, uint8_t value)
{
    const uint8_t *m = maskData(w, layer);
    for (size_t i = 0; i < maskBytes(w, layer); ++i)
        if (m[i] != value)
            return false;
    return true;
}

} // namespace

TEST(historyItem, rowTextCarriesTheLayerPrefixFromLayerOneOn)
{
    const struct {
        int layer;
        const char *expected;
    } cases[] = {
        {0, "<html>&nbsp;Gamma changed&nbsp;</html>"},
        {1, "<html>&nbsp;L1:&nbsp;Gamma changed&nbsp;</html>"},
        {4, "<html>&nbsp;L4:&nbsp;Gamma changed&nbsp;</html>"},
        {9, "<html>&nbsp;L9:&nbsp;Gamma changed&nbsp;</html>"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(historyItem::rowText("Gamma changed", c.layer), QString(c.expected)) << c.layer;
}

TEST_F(mainWindowTest, undoAndRedoThroughTenStepsOnTwoLayers)
{
    mainWindow w;
    twoLayers(w);
    processingProject *p = w.project;
    ASSERT_EQ(w.historyList->count(), 2) << "one START row per layer";
    const double startGamma[2] = {p->layerSettings[0].gamma, p->layerSettings[1].gamma};

    // Row i (after the two START rows) sets gamma 1 + i / 10 on layer i % 2
    // (0, 1, 0, 1, ...; the last four all on layer 1).
    struct row_t {
        int layer;
        double gamma;
    };
    std::vector<row_t> rows = {{0, startGamma[0]}, {1, startGamma[1]}};
    for (int i = 1; i <= 10; ++i) {
        const int layer = i <= 6 ? i % 2 : 1;
        const double gamma = 1.0 + i / 10.0;
        p->currentLayer = layer;
        p->layerSettings[layer].gamma = gamma;
        w.doAddToHistory(QString("Gamma %1").arg(i));
        rows.push_back({layer, gamma});
    }
    ASSERT_EQ(w.historyList->count(), 12);
    EXPECT_EQ(w.historyList->currentRow(), 11);
    EXPECT_EQ(w.historyRow(2)->text(), "<html>&nbsp;L1:&nbsp;Gamma 1&nbsp;</html>");
    EXPECT_EQ(w.historyRow(3)->text(), "<html>&nbsp;Gamma 2&nbsp;</html>");

    // What each layer must hold with row `current` applied: its nearest row
    // at or above, else the nearest below.
    auto expected = [&](int current, int layer) {
        for (int i = current; i >= 0; --i)
            if (rows[size_t(i)].layer == layer)
                return rows[size_t(i)].gamma;
        for (size_t i = size_t(current) + 1; i < rows.size(); ++i)
            if (rows[i].layer == layer)
                return rows[i].gamma;
        return -1.0;
    };
    auto check = [&](int current, const char *when) {
        ASSERT_EQ(w.historyList->currentRow(), current) << when;
        for (int layer = 0; layer < 2; ++layer)
            EXPECT_DOUBLE_EQ(p->layerSettings[layer].gamma, expected(current, layer))
                << when << " at row " << current << ", layer " << layer;
        EXPECT_EQ(p->currentLayer, rows[size_t(current)].layer) << when;
        for (int i = 0; i < w.historyList->count(); ++i)
            EXPECT_EQ(w.historyRow(i)->state(), i == current ? 0 : i > current ? 1 : -1) << when << " row " << i;
    };
    for (int current = 10; current >= 0; --current) {
        w.undo();
        check(current, "undo");
    }
    w.undo();
    check(0, "undo at the first row");
    for (int current = 1; current <= 11; ++current) {
        w.redo();
        check(current, "redo");
    }
    w.redo();
    check(11, "redo at the last row");

    // A click on a row applies it as well.
    w.historyList->setCurrentRow(5);
    check(5, "row chosen");
}

TEST_F(mainWindowTest, newChangeAfterUndoCutsTheRedoTailButKeepsStartingPoints)
{
    mainWindow w;
    processingProject *p = w.project;
    w.clearHistory();
    for (int i = 1; i <= 3; ++i) {
        p->layerSettings[0].gamma = 1.0 + i;
        w.doAddToHistory(QString("Gamma %1").arg(i));
    }
    // A START row of a layer added later sits after the changes.
    p->layerExists[1] = p->layerEnabled[1] = 1;
    p->layersOn = true;
    w.doAddToHistory("START", 1, true, false);
    ASSERT_EQ(w.historyList->count(), 5);
    w.undo();
    w.undo();
    w.undo();
    ASSERT_EQ(w.historyList->currentRow(), 1);
    EXPECT_DOUBLE_EQ(p->layerSettings[0].gamma, 2.0);

    p->currentLayer = 0;
    p->layerSettings[0].gamma = 7.0;
    w.doAddToHistory("Gamma 7");
    QStringList texts;
    for (int i = 0; i < w.historyList->count(); ++i)
        texts << w.historyRow(i)->description();
    EXPECT_EQ(texts, QStringList({"START", "Gamma 1", "START", "Gamma 7"}));
    EXPECT_EQ(w.historyList->currentRow(), 3);

    // A placeholder row goes with the next addition.
    w.removeLastFromHistory();
    EXPECT_TRUE(w.historyRow(3)->isPlaceholder());
    w.doAddToHistory("Gamma 8");
    texts.clear();
    for (int i = 0; i < w.historyList->count(); ++i)
        texts << w.historyRow(i)->description();
    EXPECT_EQ(texts, QStringList({"START", "Gamma 1", "START", "Gamma 8"}));

    // Reset: one START row per layer, counters untouched; clearing one layer
    // resets its counter.
    p->layerUndoCount[1] = 3;
    // The Reset button (its tab is disabled without an image, so its signal).
    emit w.findChild<QPushButton *>("historyReset")->clicked(false);
    ASSERT_EQ(w.historyList->count(), 2);
    EXPECT_EQ(w.historyRow(0)->layer(), 0);
    EXPECT_EQ(w.historyRow(1)->layer(), 1);
    EXPECT_TRUE(w.historyRow(1)->isStartingPoint());
    EXPECT_EQ(p->layerUndoCount[1], 3);
    w.clearHistory(1);
    EXPECT_EQ(w.historyList->count(), 1);
    EXPECT_EQ(p->layerUndoCount[1], 0);
}

TEST_F(mainWindowTest, restoringKeepsEachLayersTablesAndResetsAutomaticLevels)
{
    mainWindow w;
    twoLayers(w);
    processingProject *p = w.project;
    // The row is made while the layer points at one table; the layer then
    // gets another (as a rebuilt layer would) and must keep it.
    // Full-size tables: the panels show the restored step and rebuild the
    // layer's tables from it.
    static quint16 tableAtRow[SAMPLE_TABLE_SIZE], tableNow[SAMPLE_TABLE_SIZE];
    quint16 *const original = p->layerSettings[1].curveLut[0];
    p->layerSettings[1].curveLut[0] = tableAtRow;
    p->currentLayer = 1;
    p->layerSettings[1].autoClipping = true;
    p->layerSettings[1].saturation = 1.5;
    w.doAddToHistory("Saturation");
    p->layerSettings[1].saturation = 0.5;
    p->layerSettings[1].blackPointValue = 0.2;
    p->layerSettings[1].whitePointValue = 0.8;
    w.doAddToHistory("Levels");
    p->layerSettings[1].curveLut[0] = tableNow;
    QSignalSpy restored(&w, &mainWindow::layerSettingsRestored);
    QSignalSpy rerender(&w, &mainWindow::rerenderRequested);
    w.undo();
    const processingParams_t &s = p->layerSettings[1];
    EXPECT_DOUBLE_EQ(s.saturation, 1.5);
    EXPECT_EQ(s.layerIndex, 1);
    EXPECT_EQ(s.curveLut[0], tableNow) << "the layer keeps its own tables";
    EXPECT_FALSE(s.precalculated);
    // Automatic clipping governs the levels: they start again from 0 and 1.
    EXPECT_DOUBLE_EQ(s.blackPointValue, 0.0);
    EXPECT_DOUBLE_EQ(s.whitePointValue, 1.0);
    ASSERT_GE(restored.count(), 1);
    EXPECT_EQ(restored.last().at(0).toInt(), 1) << "the panels end on the row's own layer";
    EXPECT_EQ(rerender.count(), 1);
    p->layerSettings[1].curveLut[0] = original;
}

TEST_F(mainWindowTest, layerModeOffDisablesTheRowsOfUpperLayers)
{
    mainWindow w;
    twoLayers(w);
    processingProject *p = w.project;
    p->currentLayer = 0;
    p->layerSettings[0].gamma = 2.0;
    w.doAddToHistory("Gamma");
    p->currentLayer = 1;
    p->layerSettings[1].gamma = 3.0;
    w.doAddToHistory("Gamma");
    p->currentLayer = 0;
    p->layerSettings[0].gamma = 4.0;
    w.doAddToHistory("Gamma");
    // Rows: START 0, START 1, L0 2.0, L1 3.0, L0 4.0. Current: the L1 row.
    w.historyList->setCurrentRow(3);
    ASSERT_EQ(w.historyList->currentRow(), 3);
    EXPECT_DOUBLE_EQ(p->layerSettings[0].gamma, 2.0);

    w.toggleLayersMode();
    ASSERT_FALSE(p->layersOn);
    for (int i = 0; i < w.historyList->count(); ++i)
        EXPECT_EQ(w.historyRow(i)->rowEnabled(), w.historyRow(i)->layer() == 0) << i;
    EXPECT_EQ(w.historyList->currentRow(), 4) << "moved off the disabled row";
    EXPECT_DOUBLE_EQ(p->layerSettings[0].gamma, 4.0) << "and the row it moved to is applied";

    // Undo skips the rows of the hidden layer.
    w.undo();
    EXPECT_EQ(w.historyList->currentRow(), 2);
    EXPECT_DOUBLE_EQ(p->layerSettings[0].gamma, 2.0);

    w.toggleLayersMode();
    EXPECT_TRUE(p->layersOn);
    for (int i = 0; i < w.historyList->count(); ++i)
        EXPECT_TRUE(w.historyRow(i)->rowEnabled()) << i;
}

TEST_F(mainWindowTest, maskUndoFilesFollowEachMaskChange)
{
    options->misc.layerMaskUndo = true;
    mainWindow w;
    twoLayers(w);
    processingProject *p = w.project;
    paint(w, 1, 100);
    paint(w, 1, 200);
    EXPECT_EQ(p->layerUndoCount[1], 2);
    EXPECT_TRUE(QFile::exists(undoFile(w, 1, 1)));
    EXPECT_TRUE(QFile::exists(undoFile(w, 1, 2)));
    EXPECT_EQ(w.historyRow(w.historyList->count() - 1)->description(), "Layer #1 mask modified");
    EXPECT_EQ(w.historyRow(w.historyList->count() - 1)->maskUndoIndex, 2);

    w.undo();
    EXPECT_TRUE(maskIs(w, 1, 100)) << "the file of step 1 is read back";
    EXPECT_EQ(p->layerUndoCount[1], 1);
    // The smaller levels are rebuilt from the restored mask.
    EXPECT_EQ(static_cast<uint8_t *>(p->layerMasks[1].levels[1].data)[0], 100);
    w.undo();
    EXPECT_TRUE(maskIs(w, 1, 0)) << "before any mask change the mask is clear";
    EXPECT_EQ(p->layerUndoCount[1], 0);
    w.redo();
    w.redo();
    EXPECT_TRUE(maskIs(w, 1, 200));
    EXPECT_TRUE(messages.empty());

    // Without mask undo no file is written and masks are left alone.
    options->misc.layerMaskUndo = false;
    paint(w, 1, 50);
    EXPECT_FALSE(QFile::exists(undoFile(w, 1, 3)));
    w.undo();
    EXPECT_TRUE(maskIs(w, 1, 50));
}

TEST_F(mainWindowTest, unreadableMaskUndoFileIsReportedAndTheMaskKept)
{
    options->misc.layerMaskUndo = true;
    mainWindow w;
    twoLayers(w);
    processingProject *p = w.project;
    paint(w, 1, 100);
    paint(w, 1, 200);

    const struct {
        const char *name;
        QByteArray content; // null: the file is removed
    } damages[] = {
        {"missing", QByteArray()},
        {"truncated", QByteArray("\x10\x00", 2)},
        {"garbage", QByteArray("\x08\x00\x00\x00garbage!", 12)},
    };
    for (const auto &d : damages) {
        messages.clear();
        QFile::remove(undoFile(w, 1, 1));
        if (!d.content.isNull())
            testSupport::writeFile(undoFile(w, 1, 1), d.content);
        w.undo();
        ASSERT_EQ(messages.size(), 1u) << d.name;
        EXPECT_EQ(messages[0].kind, styledMessageBox::Warning) << d.name;
        EXPECT_TRUE(messages[0].text.contains("#1")) << d.name;
        EXPECT_TRUE(maskIs(w, 1, 200)) << d.name << ": the painted mask is not lost";
        EXPECT_EQ(p->layerUndoCount[1], 2) << d.name << ": the counter still names the mask held";
        w.redo();
        EXPECT_TRUE(maskIs(w, 1, 200)) << d.name;
    }
}
