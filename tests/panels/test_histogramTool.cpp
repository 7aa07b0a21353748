#include "editorTestSupport.h"
#include "testSupport.h"

#include "panels/histogramTool.h"

#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSignalSpy>
#include <cmath>
#include <string>
#include <vector>

namespace {

using strings = std::vector<std::string>;

// A lone canvas 250 wide (100 high): histogram 79, bar 10, marker strip 10.
struct areaFixture {
    histogramToolArea area;
    std::vector<std::string> log;

    areaFixture()
    {
        area.resize(250, 100);
        area.grab();
        QObject::connect(&area, &histogramToolArea::pointsMoved, [this]() { log.push_back("moved"); });
        QObject::connect(&area, &histogramToolArea::pointsMovedLive, [this]() { log.push_back("live"); });
    }
    QPoint marker(double v) const { return QPoint(int(250 * v), area.markerStripTop() + 4); }
};

// The tool with its signals logged in order.
struct toolFixture {
    histogramTool tool;
    std::vector<std::string> log;

    toolFixture()
    {
        tool.resize(300, 180);
        tool.show();
        QApplication::processEvents();
        QObject::connect(&tool, &histogramTool::sampleModeChanged,
                         [this](int m) { log.push_back("mode" + std::to_string(m)); });
        QObject::connect(&tool, &histogramTool::pointsChanged, [this]() { log.push_back("points"); });
        QObject::connect(&tool, &histogramTool::lockChanged,
                         [this](bool s) { log.push_back(s ? "lock(on)" : "lock(off)"); });
        QObject::connect(&tool, &histogramTool::lockChangedHistory,
                         [this](bool s) { log.push_back(s ? "history(on)" : "history(off)"); });
        QObject::connect(&tool, &histogramTool::clipPercentageChanged, [this](double b, double w) {
            log.push_back("clip(" + QString::number(b).toStdString() + "," + QString::number(w).toStdString() + ")");
        });
    }
};

} // namespace

TEST(histogramTool, setClipPointsKeepsTheInvariant)
{
    struct clipCase_t {
        const char *name;
        double b, w;
        double expectB, expectW;
    };
    const double nan = std::nan("");
    const clipCase_t cases[] = {
        {"both at 1", 1.0, 1.0, 0.99999, 1.0},
        {"white 0", 0.0, 0.0, 0.0, 1e-5},
        {"ordinary", 0.1, 0.8, 0.1, 0.8},
        {"crossed", 0.6, 0.3, 0.3 - 1e-5, 0.3},
        {"equal", 0.4, 0.4, 0.4 - 1e-5, 0.4},
        {"out of range", -3.0, 7.0, 0.0, 1.0},
        {"not finite", nan, nan, 0.0, 1.0},
    };
    for (const clipCase_t &c : cases) {
        histogramTool tool;
        QSignalSpy spy(&tool, &histogramTool::pointsChanged);
        tool.setClipPoints(false, c.b, c.w);
        EXPECT_NEAR(tool.blackPoint(), c.expectB, 1e-12) << c.name;
        EXPECT_NEAR(tool.whitePoint(), c.expectW, 1e-12) << c.name;
        EXPECT_GE(tool.whitePoint() - tool.blackPoint(), 1e-5 - 1e-15) << c.name;
        EXPECT_EQ(spy.count(), 0);
        tool.setClipPoints(true, c.b, c.w);
        EXPECT_EQ(spy.count(), 1);
    }
}

TEST(histogramToolArea, draggingTheBlackMarkerPastTheWhiteOnePushesItAlong)
{
    areaFixture f;
    f.area.setWhitePoint(0.6);
    f.area.updateImage();
    moveTo(&f.area, f.marker(0.0));
    EXPECT_EQ(f.area.hoveredMarker(), 0);
    dragFromTo(&f.area, f.marker(0.0), f.marker(0.8), 2);
    EXPECT_NEAR(f.area.whitePoint(), 0.8, 1e-12);
    EXPECT_NEAR(f.area.blackPoint(), 0.8 - 1e-5, 1e-12);
    EXPECT_EQ(f.log, (strings{"live", "live", "moved"}));
}

TEST(histogramToolArea, draggingTheWhiteMarkerBelowTheBlackOnePullsItDown)
{
    areaFixture f;
    f.area.setBlackPoint(0.4);
    f.area.updateImage();
    dragFromTo(&f.area, f.marker(1.0) - QPoint(1, 0), f.marker(0.2), 3);
    EXPECT_NEAR(f.area.whitePoint(), 0.2, 1e-12);
    EXPECT_NEAR(f.area.blackPoint(), 0.2 - 1e-5, 1e-12);
    EXPECT_EQ(f.log, (strings{"live", "live", "live", "moved"}));
    // Dragging off the left edge stops at the smallest white point.
    f.area.setBlackPoint(0.0);
    dragFromTo(&f.area, f.marker(0.2), QPoint(-40, f.area.markerStripTop() + 4), 1);
    EXPECT_NEAR(f.area.whitePoint(), 1e-5, 1e-15);
    EXPECT_EQ(f.area.blackPoint(), 0.0);
}

TEST(histogramToolArea, aDragLeavingTheCanvasStillEndsAsAMove)
{
    areaFixture f;
    moveTo(&f.area, f.marker(0.0));
    sendMouse(&f.area, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, f.marker(0.0));
    moveTo(&f.area, f.marker(0.3), Qt::LeftButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&f.area, &leave);
    EXPECT_EQ(f.log, (strings{"live", "moved"}));
    EXPECT_EQ(f.area.draggedMarker(), -1);
    sendMouse(&f.area, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, f.marker(0.3));
    EXPECT_EQ(f.log.size(), 2u);
}

TEST(histogramToolArea, clicksToggleTheScaleAndTheColourDisplay)
{
    areaFixture f;
    std::vector<quint32> h[4];
    const quint32 *ptrs[4];
    for (int c = 0; c < 4; ++c) {
        h[c].assign(4096, 0);
        for (int i = 0; i < 4096; ++i)
            h[c][size_t(i)] = quint32((i * (c + 1)) % 97);
        ptrs[c] = h[c].data();
    }
    f.area.setHistograms(ptrs, 4096);
    f.area.computeDisplayArrays();
    f.area.updateImage();
    const QImage logColour = f.area.grab().toImage();
    EXPECT_TRUE(f.area.logScale());
    clickAt(&f.area, QPoint(100, 20));
    EXPECT_FALSE(f.area.logScale());
    const QImage linear = f.area.grab().toImage();
    EXPECT_NE(linear, logColour);
    clickAt(&f.area, QPoint(100, 20), Qt::RightButton);
    EXPECT_FALSE(f.area.colorMode());
    EXPECT_NE(f.area.grab().toImage(), linear);
    // A right click in the marker strip toggles too; a left click there does not.
    clickAt(&f.area, f.marker(0.5), Qt::RightButton);
    EXPECT_TRUE(f.area.colorMode());
    clickAt(&f.area, f.marker(0.5));
    EXPECT_FALSE(f.area.logScale());
    EXPECT_TRUE(f.log.empty());
}

TEST(histogramToolArea, displayArraysAreNormalisedTogether)
{
    areaFixture f;
    std::vector<quint32> h[4];
    const quint32 *ptrs[4];
    for (int c = 0; c < 4; ++c) {
        h[c].assign(4096, quint32(10 * (c + 1))); // blue is the tallest channel
        ptrs[c] = h[c].data();
    }
    f.area.setHistograms(ptrs, 4096);
    f.area.computeDisplayArrays();
    double top[4] = {};
    for (int c = 0; c < 4; ++c) {
        for (double v : f.area.displayArray(c))
            top[c] = std::max(top[c], v);
    }
    EXPECT_DOUBLE_EQ(top[3], 1.0);
    EXPECT_NEAR(top[0], 0.25, 0.02);
    EXPECT_NEAR(f.area.cumulative().back(), 1.0, 1e-12);
    for (size_t i = 1; i < f.area.cumulative().size(); ++i)
        ASSERT_GE(f.area.cumulative()[i], f.area.cumulative()[i - 1]);

    // An all-zero histogram leaves everything at 0.
    for (auto &v : h)
        std::fill(v.begin(), v.end(), 0u);
    f.area.computeDisplayArrays();
    EXPECT_EQ(f.area.cumulative().back(), 0.0);
    EXPECT_EQ(f.area.displayArray(2)[10], 0.0);
}

TEST(histogramToolArea, sampleLineOnlyForASampleInsideTheImage)
{
    areaFixture f;
    const QImage plain = f.area.grab().toImage();
    f.area.setSampleValue(false, rgbDouble_t{0.5, 0.5, 0.5});
    EXPECT_EQ(f.area.grab().toImage(), plain);
    f.area.setSampleValue(true, rgbDouble_t{0.5, 0.5, 0.5});
    const QImage marked = f.area.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_NE(marked, plain.convertToFormat(QImage::Format_ARGB32));
}

TEST(histogramTool, noClipWhileLockedOpensThePadlockWithoutHistory)
{
    toolFixture f;
    f.tool.blackClipSpinBox()->setValue(0.5); // reported as a typed percentage
    EXPECT_EQ(f.log, (strings{"clip(0.5,0)"}));
    f.log.clear();
    f.tool.noClipButton()->click();
    EXPECT_FALSE(f.tool.isLocked());
    EXPECT_EQ(f.tool.blackClipSpinBox()->value(), 0.0);
    EXPECT_EQ(f.tool.whiteClipSpinBox()->value(), 0.0);
    EXPECT_EQ(f.log, (strings{"lock(off)", "clip(0,0)"}));

    f.log.clear();
    f.tool.defaultButton()->click();
    EXPECT_TRUE(f.tool.isLocked());
    EXPECT_DOUBLE_EQ(f.tool.blackClipSpinBox()->value(), 0.1);
    EXPECT_DOUBLE_EQ(f.tool.whiteClipSpinBox()->value(), 0.2);
    EXPECT_EQ(f.log, (strings{"lock(on)", "clip(0.1,0.2)"}));

    // The default button while locked only sets the percentages.
    f.log.clear();
    f.tool.defaultButton()->click();
    EXPECT_EQ(f.log, (strings{"clip(0.1,0.2)"}));
}

TEST(histogramTool, padlockTogglesAndReportsBothWays)
{
    toolFixture f;
    EXPECT_TRUE(f.tool.isLocked());
    EXPECT_TRUE(f.tool.canvas()->isLocked());
    f.tool.padlockButton()->click();
    EXPECT_FALSE(f.tool.isLocked());
    EXPECT_FALSE(f.tool.canvas()->isLocked());
    EXPECT_EQ(f.log, (strings{"lock(off)", "history(off)"}));
    f.log.clear();
    f.tool.lockClicked(true); // refresh only: no toggle, no lockChanged
    EXPECT_FALSE(f.tool.isLocked());
    EXPECT_EQ(f.log, (strings{"history(off)"}));
}

TEST(histogramTool, eyedroppersAreExclusiveAndReportTheSampleMode)
{
    toolFixture f;
    f.tool.blackEyedropper()->click();
    f.tool.blackEyedropper()->click();
    EXPECT_EQ(f.log, (strings{"mode1", "mode0"}));
    f.log.clear();
    f.tool.blackEyedropper()->click();
    f.tool.whiteEyedropper()->click();
    EXPECT_FALSE(f.tool.blackEyedropper()->isChecked());
    EXPECT_TRUE(f.tool.whiteEyedropper()->isChecked());
    EXPECT_EQ(f.log, (strings{"mode1", "mode2"}));
    f.log.clear();
    f.tool.uncheckSampleButtons();
    EXPECT_FALSE(f.tool.whiteEyedropper()->isChecked());
    EXPECT_TRUE(f.log.empty());
}

TEST(histogramTool, clipTooltipNamesTheTargets)
{
    histogramTool tool;
    tool.clipTooltip(0.1, 2.5);
    EXPECT_EQ(tool.blackClipSpinBox()->toolTip(),
              "<html>The specified percentage of the darkest pixels to be clipped to black.<br><br>Target: 0.1000 %</html>");
    EXPECT_EQ(tool.whiteClipSpinBox()->toolTip(),
              "<html>The specified percentage of the brightest pixels to be clipped to white.<br><br>Target: 2.5000 %</html>");
    EXPECT_EQ(tool.blackClipSpinBox()->decimals(), 4);
    EXPECT_EQ(tool.blackClipSpinBox()->suffix(), " %");
    EXPECT_DOUBLE_EQ(tool.whiteClipSpinBox()->maximum(), 99.9999);
}

TEST(histogramTool, markerDragsRelayToTheTool)
{
    toolFixture f;
    QSignalSpy moved(&f.tool, &histogramTool::pointsMoved);
    QSignalSpy live(&f.tool, &histogramTool::pointsMovedLive);
    histogramToolArea *a = f.tool.canvas();
    a->grab();
    const int y = a->markerStripTop() + 3;
    dragFromTo(a, QPoint(0, y), QPoint(a->width() / 4, y), 2);
    EXPECT_EQ(live.count(), 2);
    EXPECT_EQ(moved.count(), 1);
    EXPECT_NEAR(f.tool.blackPoint(), double(a->width() / 4) / a->width(), 1e-12);
}
