// The levels panel: the clip search through the cumulative histogram, typed
// clip percentages, marker drags, the automatic-clipping padlock and the
// floating exposure marks.

#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panelTestSupport.h"
#include "widgets/widgetSupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>

#include <cmath>
#include <vector>

namespace {

// cum[i] = 100 * (i / 4095)^power: a smooth histogram.
std::vector<double> cumulativeRamp(double power = 1.0)
{
    std::vector<double> c(PP_HISTOGRAM_SIZE);
    for (int i = 0; i < PP_HISTOGRAM_SIZE; ++i)
        c[i] = 100.0 * std::pow(i / 4095.0, power);
    return c;
}

class histogramGroupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = panelProject::get();
        optionsInstance->performance.liveToneMapping = false;
        project->currentLayer = 4;
        processingParams_t &r = record();
        const std::vector<double> ramp = cumulativeRamp();
        std::copy(ramp.begin(), ramp.end(), r.cumulative[0]);
        r.autoClipping = false;
        r.blackPoint = r.whitePoint = r.clippedBelow = r.clippedAbove = 0.0;
        r.blackPointValue = 0.0;
        r.whitePointValue = 1.0;
        panel.reset(new histogramGroup(project, "Histogram, black && white point"));
        panel->resize(300, 260);
        panel->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        panel.reset();
        project->currentLayer = 0;
        toneMappingRunning = false;
    }
    processingParams_t &record() { return project->layerSettings[4]; }
    // Types both clip percentages into the editor's boxes.
    void typeClips(double b, double w)
    {
        for (auto [spin, v] : {std::pair{panel->editor()->blackClipSpinBox(), b},
                               std::pair{panel->editor()->whiteClipSpinBox(), w}}) {
            spin->setFocus();
            spin->selectAll();
            QTest::keyClicks(spin, QString::number(v, 'f', 4));
            QTest::keyClick(spin, Qt::Key_Return);
        }
    }

    processingProject *project = nullptr;
    std::unique_ptr<histogramGroup> panel;
};

} // namespace

TEST(levelsClipSearch, findsTheClipIndicesAndKeepsBlackBelowWhite)
{
    struct searchCase_t {
        const char *name;
        std::vector<double> cum;
        double b, w;
        int black, white;
    };
    std::vector<double> narrow(PP_HISTOGRAM_SIZE, 100.0); // every pixel at level 0
    std::vector<double> step(PP_HISTOGRAM_SIZE, 0.0);    // every pixel at level 2000
    std::fill(step.begin() + 2000, step.end(), 100.0);
    const std::vector<searchCase_t> cases = {
        {"ramp", cumulativeRamp(), 10.0, 10.0, 410, 3685},
        {"ramp no clip", cumulativeRamp(), 0.0, 0.0, 0, 4095},
        {"all at level 0", narrow, 0.5, 0.5, 0, 1},
        {"empty histogram", std::vector<double>(PP_HISTOGRAM_SIZE, 0.0), 0.5, 0.5, 0, 4095},
        {"one level", step, 1.0, 1.0, 1998, 1999},
    };
    for (const searchCase_t &c : cases) {
        const levelsClipIndices_t r = levelsClipSearch(c.cum.data(), PP_HISTOGRAM_SIZE, c.b, c.w);
        EXPECT_EQ(r.black, c.black) << c.name;
        EXPECT_EQ(r.white, c.white) << c.name;
        EXPECT_LT(r.black, r.white) << c.name;
    }
}

TEST_F(histogramGroupTest, zeroClipsWithoutAutoClippingGiveTheFullRange)
{
    QSignalSpy disable(project, &processingProject::disableAutoClipping);
    record().blackPointValue = 0.3;
    typeClips(0.0, 0.0);
    // The boxes start at 0: set one and back to reach the 0/0 case.
    typeClips(0.5, 0.0);
    disable.clear();
    QSignalSpy moved(panel.get(), &histogramGroup::histogramPointsMoved);
    typeClips(0.0, 0.0);
    EXPECT_DOUBLE_EQ(record().blackPointValue, 0.0);
    EXPECT_DOUBLE_EQ(record().whitePointValue, 1.0);
    EXPECT_EQ(disable.count(), 0);
    EXPECT_GE(moved.count(), 1);
    EXPECT_DOUBLE_EQ(panel->editor()->blackPoint(), 0.0);
    EXPECT_DOUBLE_EQ(panel->editor()->whitePoint(), 1.0);
}

TEST_F(histogramGroupTest, aBlackClipAloneMovesOnlyTheBlackPointAndSwitchesAutoClippingOff)
{
    QSignalSpy disable(project, &processingProject::disableAutoClipping);
    QSignalSpy withData(panel.get(), &histogramGroup::histogramPointsMovedWithData);
    historyRecorder history(panel.get());
    record().whitePointValue = 0.9;
    panel->update(true); // show the record
    typeClips(10.0, 0.0);
    EXPECT_NEAR(record().blackPointValue, 410 / 4095.0, 1e-12);
    EXPECT_DOUBLE_EQ(record().whitePointValue, 0.9) << "left unchanged";
    EXPECT_GE(disable.count(), 1);
    EXPECT_DOUBLE_EQ(record().blackPoint, 10.0);
    EXPECT_NEAR(record().clippedBelow, 100.0 * 410 / 4095.0, 1e-9);
    EXPECT_NEAR(record().clippedAbove, 100.0 - 100.0 * int(0.9 * 4095) / 4095.0, 1e-9);
    ASSERT_GE(withData.count(), 1);
    EXPECT_NEAR(withData.last().at(0).toDouble(), 410 / 4095.0, 1e-12);
    EXPECT_NEAR(withData.last().at(1).toDouble(), 0.9, 1e-12);
    ASSERT_FALSE(history.entries.isEmpty());
    EXPECT_EQ(history.entries.last(), "Histogram, black & white point");
}

TEST_F(histogramGroupTest, draggingAMarkerStoresThePointAndShowsTheClippedShare)
{
    histogramToolArea *a = panel->editor()->canvas();
    a->grab();
    QSignalSpy moved(panel.get(), &histogramGroup::histogramPointsMoved);
    historyRecorder history(panel.get());
    const int y = a->markerStripTop() + 3;
    dragFromTo(a, QPoint(0, y), QPoint(a->width() / 4, y), 2);
    const double b = panel->editor()->blackPoint();
    EXPECT_GT(b, 0.2);
    EXPECT_DOUBLE_EQ(record().blackPointValue, b);
    const double clipped = 100.0 * int(b * 4095) / 4095.0;
    EXPECT_NEAR(record().clippedBelow, clipped, 1e-9);
    EXPECT_NEAR(record().blackPoint, clipped, 1e-9) << "the actual share becomes the requested one";
    EXPECT_NEAR(panel->editor()->blackClipSpinBox()->value(), clipped, 1e-4);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).value<QObject *>(), panel->editor());
    EXPECT_EQ(history.entries, QStringList{"Histogram, black & white point"});
}

TEST_F(histogramGroupTest, switchingAutoClippingOnTurnsZeroRequestsIntoTheActualShares)
{
    // The editor starts locked; the first click opens the padlock, the second closes it.
    QTest::mouseClick(panel->editor()->padlockButton(), Qt::LeftButton);
    EXPECT_FALSE(record().autoClipping);
    record().blackPoint = record().whitePoint = 0.0;
    record().clippedBelow = record().clippedAbove = 0.0;
    QTest::mouseClick(panel->editor()->padlockButton(), Qt::LeftButton);
    EXPECT_TRUE(record().autoClipping);
    EXPECT_DOUBLE_EQ(record().clippedBelow, 0.0001);
    EXPECT_DOUBLE_EQ(record().clippedAbove, 0.0001);
    EXPECT_DOUBLE_EQ(record().blackPoint, 0.0001);
    EXPECT_DOUBLE_EQ(record().whitePoint, 0.0001);
}

TEST_F(histogramGroupTest, initShowsTheRecordsPointsWithoutSignals)
{
    record().blackPointValue = 0.7;
    record().whitePointValue = 0.2; // black above white: the invariant pulls black down
    QSignalSpy moved(panel.get(), &histogramGroup::histogramPointsMoved);
    panel->update(true);
    EXPECT_NEAR(panel->editor()->whitePoint(), 0.2, 1e-12);
    EXPECT_NEAR(panel->editor()->blackPoint(), 0.2 - 1e-5, 1e-12);
    EXPECT_DOUBLE_EQ(record().blackPointValue, panel->editor()->blackPoint());
    EXPECT_EQ(moved.count(), 0);
}

TEST_F(histogramGroupTest, aDragDuringAPassIsStoredAfterIt)
{
    histogramToolArea *a = panel->editor()->canvas();
    a->grab();
    QSignalSpy moved(panel.get(), &histogramGroup::histogramPointsMoved);
    const int y = a->markerStripTop() + 3;
    {
        toneMappingPass pass;
        typeClips(5.0, 0.0); // typed first, then superseded by the drag
        dragFromTo(a, QPoint(a->width() - 1, y), QPoint(a->width() * 3 / 4, y), 2);
        EXPECT_DOUBLE_EQ(record().whitePointValue, 1.0);
        EXPECT_EQ(moved.count(), 0);
    }
    toolBox::toneMappingPassEnded();
    EXPECT_DOUBLE_EQ(record().whitePointValue, panel->editor()->whitePoint());
    EXPECT_LT(record().whitePointValue, 0.8);
    EXPECT_EQ(moved.count(), 1);
}

TEST_F(histogramGroupTest, exposureMarksFloatOverTheEditor)
{
    QCheckBox *under = panel->underexposureMark();
    QCheckBox *over = panel->overexposureMark();
    EXPECT_TRUE(under->isHidden());
    EXPECT_EQ(under->parentWidget(), panel.get());
    EXPECT_EQ(under->toolTip(), "Mark underexposed areas");
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    QApplication::sendEvent(panel.get(), &enter);
    EXPECT_TRUE(under->isVisible());
    EXPECT_TRUE(over->isVisible());
    const double sc = widgetSupport::uiScale();
    EXPECT_EQ(over->pos(), QPoint(int(panel->width() - 23 * sc), int(25 * sc)));
    EXPECT_EQ(under->pos(), QPoint(int(8 * sc), int(25 * sc)));
    QSignalSpy marks(panel.get(), &histogramGroup::toggleMarkOverUnder);
    clickCheckBox(over);
    ASSERT_EQ(marks.count(), 1);
    EXPECT_FALSE(marks.at(0).at(0).toBool());
    EXPECT_TRUE(marks.at(0).at(1).toBool());
    QApplication::sendEvent(panel.get(), &leave);
    EXPECT_TRUE(under->isVisible()) << "one mark checked keeps both";
    clickCheckBox(over);
    QApplication::sendEvent(panel.get(), &leave);
    EXPECT_TRUE(under->isHidden());
    EXPECT_TRUE(over->isHidden());
}
