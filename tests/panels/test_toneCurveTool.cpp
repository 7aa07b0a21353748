#include "editorTestSupport.h"
#include "testSupport.h"

#include "panels/toneCurveTool.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

namespace {

// A lone canvas at a known size (150 x 150: margin 7, curve area 143) with
// every signal written into one log, in order.
struct canvasFixture {
    toneCurveToolArea area{0};
    std::vector<std::string> log;

    explicit canvasFixture(int size = 150)
    {
        area.resize(size, size);
        area.grab(); // the first paint sets the canvas up for its size
        QObject::connect(&area, &toneCurveToolArea::curveChanged, [this]() { log.push_back("final"); });
        QObject::connect(&area, &toneCurveToolArea::curveChangedLive, [this]() { log.push_back("live"); });
        QObject::connect(&area, &toneCurveToolArea::changed,
                         [this](int r) { log.push_back("changed" + std::to_string(r)); });
    }
    // Widget position of curve coordinates (x, y), inverse of the click rule.
    QPoint at(double x, double y) const
    {
        const int m = area.logicalMargin(), w = area.curveAreaWidth(), h = area.curveAreaHeight();
        return QPoint(int(std::lround(x * (w - 1))) + m, int(std::lround((1.0 - y) * (h - 1))));
    }
    QPoint pointOnScreen(int i) const { return area.pointPosition(i); }
};

QList<QPointF> evenCurve(int n)
{
    QList<QPointF> l;
    for (int i = 0; i < n; ++i)
        l << QPointF(double(i) / (n - 1), double(i) / (n - 1));
    return l;
}

// The tool shown at a fixed size, its signals logged as "signal(channel,reason)".
struct toolFixture {
    toneCurveTool tool;
    std::vector<std::string> log;

    toolFixture()
    {
        tool.resize(260, 230);
        tool.show();
        QApplication::processEvents();
        QObject::connect(&tool, &toneCurveTool::curvesChanged,
                         [this](int c) { log.push_back("curves(" + std::to_string(c) + ")"); });
        QObject::connect(&tool, &toneCurveTool::curvesChangedLive,
                         [this](int c) { log.push_back("live(" + std::to_string(c) + ")"); });
        QObject::connect(&tool, &toneCurveTool::changed, [this](int c, int r) {
            log.push_back("changed(" + std::to_string(c) + "," + std::to_string(r) + ")");
        });
    }
};

using strings = std::vector<std::string>;

} // namespace

TEST(toneCurveToolArea, marginKeepsTheCurveAreaOdd)
{
    struct marginCase_t {
        int width, margin, area;
    };
    const marginCase_t cases[] = {{150, 7, 143}, {151, 6, 145}, {100, 5, 95}, {101, 4, 97}, {40, 3, 37}};
    for (const marginCase_t &c : cases) {
        EXPECT_EQ(toneCurveToolArea::marginFor(c.width), c.margin) << c.width;
        EXPECT_EQ(c.width - toneCurveToolArea::marginFor(c.width), c.area) << c.width;
    }
    canvasFixture f150(150), f151(151);
    EXPECT_EQ(f150.area.curveAreaWidth(), 143);
    EXPECT_EQ(f150.area.curveTable().size(), 144u);
    EXPECT_EQ(f151.area.curveAreaWidth(), 145);
    EXPECT_EQ(f151.area.curveTable().size(), 146u);
    // The identity curve gives the identity table.
    for (size_t i = 0; i < f150.area.curveTable().size(); ++i)
        ASSERT_NEAR(f150.area.curveTable()[i], double(i) / 143.0, 1e-9);
}

TEST(toneCurveToolArea, leftClickOnEmptySpaceAddsASortedPoint)
{
    canvasFixture f;
    const QPoint p(7 + 71, 100);
    clickAt(&f.area, p);
    ASSERT_EQ(f.area.curvePoints().size(), 3);
    const QPointF added = f.area.curvePoints().at(1);
    EXPECT_NEAR(added.x(), 71.0 / 142.0, 1e-12);
    EXPECT_NEAR(added.y(), 1.0 - 100.0 / 142.0, 1e-12);
    EXPECT_TRUE(f.area.isModified());
    EXPECT_EQ(f.log, (strings{"live", "final", "changed0"}));
    EXPECT_EQ(f.area.keyboardIndex(), 1);
    EXPECT_EQ(f.area.draggedIndex(), -1);
    // The table passes through the new point (entry 71 lies half a step left of it).
    EXPECT_NEAR(f.area.curveTable()[71], added.y(), 0.005);

    // A click at the very left edge (inside the gradient bar) adds x = 0.
    clickAt(&f.area, QPoint(0, 40));
    EXPECT_EQ(f.area.curvePoints().size(), 4);
    EXPECT_DOUBLE_EQ(f.area.curvePoints().at(1).x(), 0.0);
}

TEST(toneCurveToolArea, draggingPastANeighbourKeepsThePointUnderTheMouse)
{
    canvasFixture f;
    ASSERT_TRUE(f.area.setCurvePoints({{0, 0}, {0.25, 0.3}, {0.75, 0.6}, {1, 1}}));
    f.area.rebuildImages(false);
    f.log.clear();
    const QPoint from = f.pointOnScreen(1);
    const QPoint to = f.at(0.9, 0.5);
    dragFromTo(&f.area, from, to, 4);
    const QList<QPointF> &pts = f.area.curvePoints();
    ASSERT_EQ(pts.size(), 4);
    EXPECT_NEAR(pts[2].x(), 0.9, 0.01); // re-sorted: the dragged point is third now
    EXPECT_NEAR(pts[2].y(), 0.5, 0.01);
    EXPECT_NEAR(pts[1].x(), 0.75, 1e-12);
    for (int i = 1; i < pts.size(); ++i)
        EXPECT_LE(pts[i - 1].x(), pts[i].x());
    EXPECT_EQ(f.log, (strings{"live", "live", "live", "live", "final", "changed2"}));
    EXPECT_EQ(f.area.keyboardIndex(), 2); // the keyboard point followed the dragged one
}

TEST(toneCurveToolArea, rightClickRemovesAPointButNeverBelowTwo)
{
    canvasFixture f;
    ASSERT_TRUE(f.area.setCurvePoints({{0, 0}, {0.5, 0.7}, {1, 1}}));
    f.area.setModified(false);
    f.area.rebuildImages(false);
    f.log.clear();
    clickAt(&f.area, f.pointOnScreen(1), Qt::RightButton);
    EXPECT_EQ(f.area.curvePoints(), (QList<QPointF>{{0, 0}, {1, 1}}));
    EXPECT_TRUE(f.area.isModified());
    // The removal is reported as a finished change too, so the panel rebuilds
    // its tables also without live tone mapping.
    EXPECT_EQ(f.log, (strings{"live", "final", "changed1"}));
    EXPECT_NEAR(f.area.curveTable()[71], 71.0 / 143.0, 1e-9);

    f.log.clear();
    clickAt(&f.area, f.pointOnScreen(1), Qt::RightButton);
    EXPECT_EQ(f.area.curvePoints().size(), 2);
    EXPECT_EQ(f.log, (strings{"changed2"}));
}

TEST(toneCurveToolArea, mouseAddsAtMostThirtyOnePoints)
{
    canvasFixture f;
    // 30 points packed into x 0..0.5 leave the right half free.
    QList<QPointF> pts;
    for (int i = 0; i < 30; ++i)
        pts << QPointF(i / 58.0, 0.0);
    ASSERT_TRUE(f.area.setCurvePoints(pts));
    f.area.rebuildImages(false);
    f.log.clear();
    clickAt(&f.area, f.at(0.8, 0.8));
    EXPECT_EQ(f.area.curvePoints().size(), 31);
    EXPECT_EQ(f.log, (strings{"live", "final", "changed0"}));
    f.log.clear();
    clickAt(&f.area, f.at(0.9, 0.9));
    EXPECT_EQ(f.area.curvePoints().size(), 31);
    EXPECT_EQ(f.log, (strings{"changed2"}));
}

TEST(toneCurveToolArea, setCurvePointsRefusesWhatTheMathsRefuses)
{
    canvasFixture f;
    const QList<QPointF> before = f.area.curvePoints();
    const double nan = std::nan("");
    const QList<QPointF> refused[] = {
        evenCurve(33),
        {{0, 0}, {0.5, 1.2}, {1, 1}},
        {{-0.01, 0}, {1, 1}},
        {{0, 0}, {nan, 0.5}, {1, 1}},
    };
    for (const QList<QPointF> &l : refused) {
        EXPECT_FALSE(f.area.setCurvePoints(l)) << l.size();
        EXPECT_EQ(f.area.curvePoints(), before);
        EXPECT_FALSE(f.area.isModified());
    }
    EXPECT_TRUE(f.area.setCurvePoints(evenCurve(32)));
    EXPECT_TRUE(f.area.isModified());

    toneCurveTool tool;
    EXPECT_FALSE(tool.setCurve(2, evenCurve(33)));
    EXPECT_FALSE(tool.setCurve(4, evenCurve(3)));
    EXPECT_EQ(tool.canvas(2)->curvePoints().size(), 2);
    EXPECT_TRUE(tool.setCurve(2, {{0, 0.2}, {1, 0.8}}));
    EXPECT_NEAR(tool.canvas(2)->curveTable().front(), 0.2, 1e-12);
}

TEST(toneCurveToolArea, keysSelectAndNudgeTheKeyboardPoint)
{
    canvasFixture f;
    ASSERT_TRUE(f.area.setCurvePoints({{0, 0}, {0.5, 0.5}, {1, 1}}));
    f.area.rebuildImages(false);
    f.log.clear();
    tapKey(&f.area, Qt::Key_Minus, "-");
    EXPECT_EQ(f.area.keyboardIndex(), 0); // stays on the first
    tapKey(&f.area, Qt::Key_Plus, "+");
    EXPECT_EQ(f.area.keyboardIndex(), 1);
    EXPECT_TRUE(f.log.empty());

    tapKey(&f.area, Qt::Key_Right);
    tapKey(&f.area, Qt::Key_Up);
    EXPECT_NEAR(f.area.curvePoints()[1].x(), 0.5 + 1.0 / 150, 1e-12);
    EXPECT_NEAR(f.area.curvePoints()[1].y(), 0.5 + 1.0 / 150, 1e-12);
    EXPECT_EQ(f.log, (strings{"final", "changed2", "final", "changed2"}));

    // Auto-repeat moves and reports each step, the history entry comes once.
    f.log.clear();
    sendKey(&f.area, QEvent::KeyPress, Qt::Key_Down, false);
    sendKey(&f.area, QEvent::KeyRelease, Qt::Key_Down, true);
    sendKey(&f.area, QEvent::KeyPress, Qt::Key_Down, true);
    sendKey(&f.area, QEvent::KeyRelease, Qt::Key_Down, false);
    EXPECT_EQ(f.log, (strings{"final", "final", "changed2"}));

    // Clamped at the edges; other keys are ignored.
    tapKey(&f.area, Qt::Key_Plus, "+");
    tapKey(&f.area, Qt::Key_Plus, "+");
    EXPECT_EQ(f.area.keyboardIndex(), 2);
    tapKey(&f.area, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(f.area.curvePoints()[2].x(), 1.0);
    f.log.clear();
    tapKey(&f.area, Qt::Key_A, "a");
    EXPECT_TRUE(f.log.empty());
}

TEST(toneCurveToolArea, hoverAndFocusShowOnTheCanvas)
{
    canvasFixture f;
    const QImage plain = f.area.grab().toImage();
    moveTo(&f.area, f.pointOnScreen(0) + QPoint(1, 0));
    EXPECT_EQ(f.area.hoveredIndex(), 0);
    const QImage hovered = f.area.grab().toImage();
    EXPECT_NE(plain, hovered);
    moveTo(&f.area, f.at(0.5, 0.9));
    EXPECT_EQ(f.area.hoveredIndex(), -1);
    EXPECT_EQ(f.area.grab().toImage(), plain);
}

TEST(toneCurveToolArea, sampleMarkerOnlyForASampleInsideTheImage)
{
    canvasFixture f;
    const QImage plain = f.area.grab().toImage();
    f.area.setSampleValue(false, rgbDouble_t{0.5, 0.5, 0.5});
    EXPECT_EQ(f.area.sampleValue()[3], -1.0);
    EXPECT_EQ(f.area.grab().toImage(), plain);
    f.area.setSampleValue(true, rgbDouble_t{0.5, 0.5, 0.5});
    EXPECT_NEAR(f.area.sampleValue()[3], 0.5, 1e-12);
    EXPECT_NE(f.area.grab().toImage(), plain);
}

TEST(toneCurveToolArea, gradientBarsAndHistogramFollowTheBlackAndWhitePoints)
{
    toneCurveToolArea red(1);
    red.resize(150, 150);
    red.grab();
    // Histogram: everything in the upper half of the levels.
    std::vector<quint32> counts(4096, 0);
    for (int i = 2048; i < 4096; ++i)
        counts[size_t(i)] = 100;
    red.setHistogram(counts.data(), 4096);
    red.computeHistogram();
    red.setWBpoints(0.5, 1.0);
    red.updateImage();
    const QImage img = red.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    // Left bar: pure red, bright at the top.
    EXPECT_EQ(QColor(img.pixel(0, 0)).red(), 255);
    EXPECT_EQ(QColor(img.pixel(0, 0)).green(), 0);
    // Bottom bar: black up to the black point, then rising to full red.
    EXPECT_EQ(QColor(img.pixel(7 + 20, 148)).red(), 0);
    EXPECT_GT(QColor(img.pixel(7 + 140, 148)).red(), 240);
}

TEST(toneCurveTool, presetsReplaceTheCurrentCurveInSplineMode)
{
    toolFixture f;
    f.tool.tabWidget()->setCurrentIndex(2);
    f.tool.linearButton()->click();
    ASSERT_EQ(f.tool.canvas(2)->mode(), CURVE_LINEAR);
    f.log.clear();

    QList<QAction *> actions;
    for (QAction *a : f.tool.presetMenu()->actions()) {
        if (a->menu()) {
            EXPECT_EQ(a->menu()->property("popup").toString(), "true");
            actions << a->menu()->actions();
        }
    }
    ASSERT_EQ(actions.size(), 12);
    EXPECT_EQ(actions[0]->text(), "Contrast ++");
    EXPECT_EQ(actions[11]->text(), "Contrast --");

    actions[5]->trigger(); // Shadows, Contrast +
    EXPECT_EQ(f.tool.canvas(2)->curvePoints(), toneCurveTool::presetPoints(5));
    EXPECT_EQ(f.tool.canvas(2)->mode(), CURVE_SPLINE);
    EXPECT_TRUE(f.tool.splineButton()->isChecked());
    EXPECT_EQ(f.log, (strings{"curves(2)", "changed(2,6)"}));
    // Every preset is a curve the maths accepts.
    for (int i = 0; i < toneCurveTool::PRESET_COUNT; ++i)
        EXPECT_TRUE(f.tool.canvas(0)->setCurvePoints(toneCurveTool::presetPoints(i))) << i;
    EXPECT_TRUE(toneCurveTool::presetPoints(12).isEmpty());
}

TEST(toneCurveTool, modeButtonsReportEveryClick)
{
    toolFixture f;
    f.tool.splineButton()->click(); // already checked: still reported
    EXPECT_EQ(f.log, (strings{"curves(0)", "changed(0,3)"}));
    EXPECT_FALSE(f.tool.canvas(0)->isModified());
    f.tool.linearButton()->click();
    EXPECT_EQ(f.tool.canvas(0)->mode(), CURVE_LINEAR);
    EXPECT_TRUE(f.tool.canvas(0)->isModified());

    // The buttons follow the tab's curve.
    f.tool.tabWidget()->setCurrentIndex(1);
    EXPECT_TRUE(f.tool.splineButton()->isChecked());
    f.tool.tabWidget()->setCurrentIndex(0);
    EXPECT_TRUE(f.tool.linearButton()->isChecked());
}

TEST(toneCurveTool, resetsRestoreTheIdentity)
{
    toolFixture f;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(f.tool.setCurve(i, toneCurveTool::presetPoints(i)));
    f.tool.canvas(3)->setMode(CURVE_LINEAR);
    f.log.clear();

    f.tool.resetCurve(3);
    EXPECT_EQ(f.tool.canvas(3)->curvePoints(), (QList<QPointF>{{0, 0}, {1, 1}}));
    EXPECT_EQ(f.tool.canvas(3)->mode(), CURVE_SPLINE);
    EXPECT_FALSE(f.tool.canvas(3)->isModified());
    EXPECT_EQ(f.log, (strings{"curves(3)", "changed(3,4)"}));

    f.log.clear();
    f.tool.resetAllCurves(true);
    EXPECT_TRUE(f.log.empty());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.tool.canvas(i)->curvePoints().size(), 2) << i;
        EXPECT_FALSE(f.tool.canvas(i)->isModified()) << i;
    }
    f.tool.resetAllButton()->click();
    EXPECT_EQ(f.log, (strings{"curves(-1)", "changed(-1,5)"}));
    f.log.clear();
    f.tool.resetButton()->click();
    EXPECT_EQ(f.log, (strings{"curves(0)", "changed(0,4)"}));
}

TEST(toneCurveTool, canvasSignalsArriveWithTheirChannel)
{
    toolFixture f;
    f.tool.tabWidget()->setCurrentIndex(1);
    QApplication::processEvents();
    toneCurveToolArea *red = f.tool.canvas(1);
    red->grab();
    const int m = red->logicalMargin();
    clickAt(red, QPoint(m + red->curveAreaWidth() / 2, red->curveAreaHeight() / 4));
    EXPECT_EQ(f.log, (strings{"live(1)", "curves(1)", "changed(1,0)"}));
    EXPECT_TRUE(red->isModified());

    // The master canvas draws a modified colour curve; a reset hides it again.
    toneCurveToolArea *master = f.tool.canvas(0);
    f.tool.tabWidget()->setCurrentIndex(0);
    const QImage withRed = master->grab().toImage();
    f.tool.resetCurve(1, true);
    master->updateImage();
    EXPECT_NE(master->grab().toImage(), withRed);
}

TEST(toneCurveTool, wbPointsAndHistogramsReachEveryCanvas)
{
    toolFixture f;
    f.tool.setWBpoints(0.1, 0.9);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(f.tool.canvas(i)->blackPoint(), 0.1);
        EXPECT_DOUBLE_EQ(f.tool.canvas(i)->whitePoint(), 0.9);
    }
    std::vector<quint32> h[4];
    const quint32 *ptrs[4];
    for (int i = 0; i < 4; ++i) {
        h[i].assign(4096, quint32(i + 1));
        ptrs[i] = h[i].data();
    }
    const QImage before = f.tool.canvas(0)->grab().toImage();
    f.tool.setHistograms(ptrs, 4096);
    EXPECT_NE(f.tool.canvas(0)->grab().toImage(), before);
    f.tool.setHistograms(nullptr, 0); // no histogram: nothing read
    f.tool.canvas(0)->grab();
}
