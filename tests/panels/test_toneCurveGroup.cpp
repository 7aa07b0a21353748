// The tone-curve panel: an edit of one curve converts that curve and rebuilds
// the lookup tables it feeds, and names the curve in the history.

#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panelTestSupport.h"
#include "project/curveMaths.h"
#include "project/tableSizes.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>

namespace {

using K = panelTables::tableKind_t;

class toneCurveGroupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = panelProject::get();
        optionsInstance->performance.liveToneMapping = false;
        project->currentLayer = 3;
        panel.reset(new toneCurveGroup(project, "Tone curve"));
        panel->resize(300, 320);
        panel->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        panel.reset();
        project->currentLayer = 0;
        toneMappingRunning = false;
    }
    // Shows curve i's tab and clicks into the middle of its canvas.
    void addPointOn(int i)
    {
        panel->editor()->tabWidget()->setCurrentIndex(i);
        QApplication::processEvents();
        toneCurveToolArea *c = panel->editor()->canvas(i);
        c->grab();
        clickAt(c, QPoint(c->logicalMargin() + c->curveAreaWidth() / 3, c->curveAreaHeight() / 4));
    }
    processingParams_t &record() { return project->layerSettings[3]; }

    processingProject *project = nullptr;
    std::unique_ptr<toneCurveGroup> panel;
};

} // namespace

TEST_F(toneCurveGroupTest, anEditConvertsItsCurveAndRebuildsTheLookupTablesItFeeds)
{
    struct editCase_t {
        int curve;
        std::set<tableSpy::build_t> tables;
        const char *history;
    } cases[] = {
        {1, {{K::CURVE_LUT, 1, 3}, {K::LOOKUP, 0, 3}}, "<font size='2'>Tone curve (R),</font> added"},
        {2, {{K::CURVE_LUT, 2, 3}, {K::LOOKUP, 1, 3}}, "<font size='2'>Tone curve (G),</font> added"},
        {3, {{K::CURVE_LUT, 3, 3}, {K::LOOKUP, 2, 3}}, "<font size='2'>Tone curve (B),</font> added"},
        {0,
         {{K::CURVE_LUT, 0, 3}, {K::LOOKUP, 0, 3}, {K::LOOKUP, 1, 3}, {K::LOOKUP, 2, 3}},
         "<font size='2'>Tone curve (L),</font> added"},
    };
    for (const editCase_t &c : cases) {
        SCOPED_TRACE(c.curve);
        tableSpy spy;
        historyRecorder history(panel.get());
        QSignalSpy modified(panel.get(), &toneCurveGroup::curvesModified);
        addPointOn(c.curve);
        EXPECT_EQ(spy.set(), c.tables);
        EXPECT_EQ(spy.builds.size(), c.tables.size());
        ASSERT_EQ(modified.count(), 1);
        EXPECT_EQ(modified.at(0).at(0).value<QObject *>(), panel->editor());
        EXPECT_EQ(history.entries, QStringList{c.history});
        // The record's table is the editor's curve.
        std::vector<quint16> expected(SAMPLE_TABLE_SIZE);
        const toneCurveToolArea *canvas = panel->editor()->canvas(c.curve);
        ASSERT_EQ(canvas->curvePoints().size(), 3);
        ASSERT_TRUE(curveToLut16(expected.data(), canvas->curvePoints(), canvas->mode()));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), record().curveLut[c.curve]));
    }
}

TEST_F(toneCurveGroupTest, allCurvesAtOnceAndTheHistoryTextsOfEveryReason)
{
    tableSpy spy;
    QSignalSpy modified(panel.get(), &toneCurveGroup::curvesModified);
    panel->getCurveData(-1, false);
    std::set<tableSpy::build_t> all;
    for (int j = 0; j < 4; ++j)
        all.insert({K::CURVE_LUT, j, 3});
    for (int k = 0; k < 3; ++k)
        all.insert({K::LOOKUP, k, 3});
    EXPECT_EQ(spy.set(), all);
    EXPECT_EQ(modified.count(), 1);

    spy.clear();
    panel->getCurveData(2, true);
    EXPECT_EQ(spy.set(), all) << "init converts everything";
    EXPECT_EQ(modified.count(), 1) << "and announces nothing";

    historyRecorder history(panel.get());
    QTest::mouseClick(panel->editor()->resetAllButton(), Qt::LeftButton);
    EXPECT_EQ(history.entries, QStringList{"<font size='2'>Tone curve (LRGB),</font> reset"});

    // Each reason from the editor; an unknown curve and reason add nothing;
    // no text from any other sender.
    history.entries.clear();
    for (int reason = 0; reason <= 6; ++reason)
        emit panel->editor()->changed(1, reason);
    emit panel->editor()->changed(7, 9);
    panel->storeHistory(0, 0);
    const QString r = "<font size='2'>Tone curve (R)";
    const QStringList expected = {r + ",</font> added",          r + ",</font> deleted", r + ",</font> moved",
                                  r + ",</font> mode",           r + ",</font> reset",
                                  r + " (LRGB),</font> reset",   r + ",</font> preset",
                                  "<font size='2'>Tone curve",   ""};
    EXPECT_EQ(history.entries, expected);
}

TEST_F(toneCurveGroupTest, anEditDuringAPassIsConvertedAfterIt)
{
    tableSpy spy;
    QSignalSpy modified(panel.get(), &toneCurveGroup::curvesModified);
    {
        toneMappingPass pass;
        addPointOn(3);
        EXPECT_TRUE(spy.builds.empty());
        EXPECT_EQ(modified.count(), 0);
    }
    toolBox::toneMappingPassEnded();
    EXPECT_EQ(spy.set(), (std::set<tableSpy::build_t>{{K::CURVE_LUT, 3, 3}, {K::LOOKUP, 2, 3}}));
    EXPECT_EQ(modified.count(), 1);
}

TEST_F(toneCurveGroupTest, disconnectedTheEditorReachesNothingNotEvenLive)
{
    optionsInstance->performance.liveToneMapping = true;
    panel->connectSignals(false);
    panel->connectSignals(true);
    QSignalSpy modified(panel.get(), &toneCurveGroup::curvesModified);
    emit panel->editor()->curvesChangedLive(1);
    EXPECT_EQ(modified.count(), 1) << "live edits re-render";
    panel->connectSignals(false);
    emit panel->editor()->curvesChangedLive(1);
    addPointOn(1);
    EXPECT_EQ(modified.count(), 1);
}
