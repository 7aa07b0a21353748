#include "editorTestSupport.h"
#include "testSupport.h"

#include "panels/selectiveCurveTool.h"
#include "project/tableSizes.h"
#include "widgets/slider.h"

#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using strings = std::vector<std::string>;

// A lone canvas 400 x 100 with its signals logged in order.
struct canvasFixture {
    selectiveCurveToolArea area;
    std::vector<std::string> log;

    explicit canvasFixture(int kind = 0) : area(kind)
    {
        area.resize(400, 100);
        area.grab();
        QObject::connect(&area, &selectiveCurveToolArea::curveChanged, [this]() { log.push_back("final"); });
        QObject::connect(&area, &selectiveCurveToolArea::curveChangedLive, [this]() { log.push_back("live"); });
        QObject::connect(&area, &selectiveCurveToolArea::changed,
                         [this](int r) { log.push_back("changed" + std::to_string(r)); });
        QObject::connect(&area, &selectiveCurveToolArea::selectedKneePointChanged,
                         [this](int i, selKneePoints_t) { log.push_back("selected" + std::to_string(i)); });
    }
    QPoint at(double x, double y) const
    {
        return QPoint(int(std::lround(x * 399)), int(std::lround((1.0 - y) * 99)));
    }
};

struct toolFixture {
    selectiveCurveTool tool;
    std::vector<std::string> log;

    explicit toolFixture(int kind = 0) : tool(kind)
    {
        tool.resize(400, 160);
        tool.show();
        QApplication::processEvents();
        QObject::connect(&tool, &selectiveCurveTool::curveChanged, [this]() { log.push_back("final"); });
        QObject::connect(&tool, &selectiveCurveTool::curveChangedLive, [this]() { log.push_back("live"); });
        QObject::connect(&tool, &selectiveCurveTool::changed,
                         [this](int r) { log.push_back("changed" + std::to_string(r)); });
    }
};

selKneePoints_t knee(double x, double y, double sigma = 1.0)
{
    selKneePoints_t k;
    k.x = x;
    k.y = y;
    k.sigma = sigma;
    return k;
}

} // namespace

TEST(selectiveCurveToolArea, clicksAddDragAndRemoveKnees)
{
    canvasFixture f;
    f.area.setCurrentSigma(1.5);
    clickAt(&f.area, f.at(0.5, 0.8));
    ASSERT_EQ(f.area.kneePoints().size(), 1);
    EXPECT_NEAR(f.area.kneePoints()[0].x, 0.5, 0.002);
    EXPECT_NEAR(f.area.kneePoints()[0].y, 0.8, 0.01);
    EXPECT_DOUBLE_EQ(f.area.kneePoints()[0].sigma, 1.5);
    EXPECT_EQ(f.area.selectedIndex(), 0);
    EXPECT_TRUE(f.area.isModified());
    EXPECT_EQ(f.log, (strings{"changed0", "live", "final"}));

    // A second knee to the left is sorted in front.
    clickAt(&f.area, f.at(0.2, 0.3));
    ASSERT_EQ(f.area.kneePoints().size(), 2);
    EXPECT_NEAR(f.area.kneePoints()[0].x, 0.2, 0.002);

    f.log.clear();
    dragFromTo(&f.area, f.area.kneePosition(0), f.at(0.9, 0.3), 2);
    EXPECT_NEAR(f.area.kneePoints()[1].x, 0.9, 0.002); // passed its neighbour
    EXPECT_EQ(f.area.selectedIndex(), 1);
    EXPECT_EQ(f.log, (strings{"selected0", "live", "live", "final", "changed2"}));

    // Removing reports at the press and finishes at the release.
    f.log.clear();
    clickAt(&f.area, f.area.kneePosition(1), Qt::RightButton);
    EXPECT_EQ(f.area.kneePoints().size(), 1);
    EXPECT_EQ(f.area.selectedIndex(), -1);
    EXPECT_EQ(f.log, (strings{"changed1", "live", "final"}));

    // The last knee can go too: an empty list and a neutral table.
    clickAt(&f.area, f.area.kneePosition(0), Qt::RightButton);
    EXPECT_TRUE(f.area.kneePoints().isEmpty());
    for (double v : f.area.curveTable())
        ASSERT_EQ(v, 0.0);
}

TEST(selectiveCurveToolArea, mouseAddsAtMostThirtyOneKnees)
{
    canvasFixture f;
    QList<selKneePoints_t> list;
    for (int i = 0; i < 31; ++i)
        list << knee(i / 80.0, 0.5);
    ASSERT_TRUE(f.area.setKneePoints(list));
    f.area.rebuildImages(false);
    clickAt(&f.area, f.at(0.8, 0.8));
    EXPECT_EQ(f.area.kneePoints().size(), 31);
    EXPECT_TRUE(f.log.empty());
}

TEST(selectiveCurveToolArea, setKneePointsRefusesWhatTheMathsRefuses)
{
    canvasFixture f;
    ASSERT_TRUE(f.area.setKneePoints({knee(0.3, 0.7)}));
    QList<selKneePoints_t> tooMany;
    for (int i = 0; i < 33; ++i)
        tooMany << knee(i / 40.0, 0.5);
    const QList<selKneePoints_t> refused[] = {
        tooMany,
        {knee(1.2, 0.5)},
        {knee(0.5, -0.1)},
        {knee(std::nan(""), 0.5)},
        {knee(0.5, 0.5, std::nan(""))},
    };
    for (const auto &l : refused) {
        EXPECT_FALSE(f.area.setKneePoints(l));
        ASSERT_EQ(f.area.kneePoints().size(), 1);
        EXPECT_DOUBLE_EQ(f.area.kneePoints()[0].x, 0.3);
    }
    tooMany.removeLast();
    EXPECT_TRUE(f.area.setKneePoints(tooMany));
    EXPECT_FALSE(f.area.isModified()); // the flag belongs to mouse edits
}

TEST(selectiveCurveToolArea, hueAxisWrapsAndBrightnessAxisDoesNot)
{
    for (int kind : {0, 1}) {
        canvasFixture f(kind);
        ASSERT_TRUE(f.area.setKneePoints({knee(0.99, 1.0, 2.0)}));
        f.area.rebuildImages(false);
        const std::vector<double> &t = f.area.curveTable();
        if (kind == 0) {
            EXPECT_LT(t.front(), -0.1) << "hue: the bell reaches across the end";
        } else {
            EXPECT_EQ(t.front(), 0.0) << "brightness: open ends";
        }
        EXPECT_LT(t[size_t(0.99 * 400)], -0.9); // the knee itself: full strength (drawn upwards)

        // The panel's processing table is the inverted one.
        std::vector<double> processing(SAMPLE_TABLE_SIZE);
        ASSERT_TRUE(f.area.selectiveCurveToTable(processing.data(), SAMPLE_TABLE_SIZE, true));
        EXPECT_GT(processing[size_t(0.99 * 65535)], 0.9);
    }
}

TEST(selectiveCurveToolArea, keysSelectAndNudgeTheSelectedKnee)
{
    canvasFixture f;
    ASSERT_TRUE(f.area.setKneePoints({knee(0.2, 0.5), knee(0.6, 0.5)}));
    f.area.rebuildImages(false);
    tapKey(&f.area, Qt::Key_Right);
    EXPECT_TRUE(f.log.empty()); // nothing selected: keys do nothing
    f.area.setSelectedIndex(0);
    tapKey(&f.area, Qt::Key_Minus, "-");
    EXPECT_EQ(f.area.selectedIndex(), 0);
    tapKey(&f.area, Qt::Key_Plus, "+");
    tapKey(&f.area, Qt::Key_Plus, "+");
    EXPECT_EQ(f.area.selectedIndex(), 1);
    EXPECT_TRUE(f.log.empty());
    tapKey(&f.area, Qt::Key_Left);
    tapKey(&f.area, Qt::Key_Down);
    EXPECT_NEAR(f.area.kneePoints()[1].x, 0.6 - 1.0 / 400, 1e-12);
    EXPECT_NEAR(f.area.kneePoints()[1].y, 0.5 - 1.0 / 100, 1e-12);
    EXPECT_EQ(f.log, (strings{"final", "changed2", "final", "changed2"}));
}

TEST(selectiveCurveToolArea, sampleMarkerFollowsHueOrBrightness)
{
    struct hueCase_t {
        double r, g, b, hue;
    };
    const hueCase_t hues[] = {{1, 0, 0, 0},   {1, 1, 0, 60},    {0, 1, 0, 120}, {0, 1, 1, 180},
                              {0, 0, 1, 240}, {1, 0, 1, 300},   {0.5, 0.5, 0.5, 0}, {0, 0, 0, 0},
                              {1, 0.5, 0, 30}};
    for (const hueCase_t &c : hues)
        EXPECT_NEAR(selectiveCurveToolArea::hueOf(c.r, c.g, c.b), c.hue, 1e-9) << c.r << c.g << c.b;

    canvasFixture hue(0), brightness(1);
    QPointF at;
    EXPECT_FALSE(hue.area.sampleMarkerPosition(&at));
    const QImage plain = hue.area.grab().toImage();
    hue.area.setSampleValue(true, rgbDouble_t{0.4, 0.4, 0.4}); // grey: left edge
    ASSERT_TRUE(hue.area.sampleMarkerPosition(&at));
    EXPECT_DOUBLE_EQ(at.x(), 0.0);
    EXPECT_NE(hue.area.grab().toImage(), plain);
    hue.area.setSampleValue(true, rgbDouble_t{0.0, 0.0, 1.0});
    ASSERT_TRUE(hue.area.sampleMarkerPosition(&at));
    EXPECT_NEAR(at.x(), 399 * 240.0 / 360.0, 1e-9);
    brightness.area.setSampleValue(true, rgbDouble_t{0.1, 0.5, 0.2});
    ASSERT_TRUE(brightness.area.sampleMarkerPosition(&at));
    EXPECT_NEAR(at.x(), 399 * 0.5, 1e-9);
    EXPECT_NEAR(at.y(), 99 - 50.0, 1e-9); // neutral curve: the middle line
    hue.area.setSampleValue(false, rgbDouble_t{});
    EXPECT_FALSE(hue.area.sampleMarkerPosition(&at));
}

TEST(selectiveCurveToolArea, backgroundShowsTheAxis)
{
    canvasFixture hue(0), brightness(1);
    const QImage h = hue.area.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(QColor(h.pixel(0, 0)), QColor(204, 0, 0));      // red at full weight
    EXPECT_EQ(QColor(h.pixel(0, 99)), QColor(127, 127, 127)); // grey at the bottom
    const QImage b = brightness.area.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(QColor(b.pixel(399, 0)), QColor(180, 255, 180));
    EXPECT_EQ(QColor(b.pixel(0, 99)), QColor(0, 0, 0));
}

TEST(selectiveCurveTool, sigmaSliderSetsTheSelectedKneeAndReportsOnRelease)
{
    toolFixture f;
    EXPECT_EQ(f.tool.captionLabel()->text(), "Hue selective saturation");
    ASSERT_TRUE(f.tool.setKneePoints({knee(0.3, 0.8, 0.35), knee(0.7, 0.2, 1.0)}));
    EXPECT_EQ(f.tool.canvas()->selectedIndex(), 0);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->currentSigma(), 0.35);
    EXPECT_EQ(f.tool.sigmaSlider()->value(), 10); // not moved by setKneePoints
    f.tool.sigmaSlider()->setValue(15);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->kneePoints()[0].sigma, 1.5);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->kneePoints()[1].sigma, 1.0);
    EXPECT_EQ(f.log, (strings{"live"}));
    f.log.clear();
    emit f.tool.sigmaSlider()->sliderReleased();
    EXPECT_EQ(f.log, (strings{"final", "changed3"}));
}

TEST(selectiveCurveTool, aWheelOrKeyStepOnTheSliderIsAFinishedChange)
{
    toolFixture f;
    ASSERT_TRUE(f.tool.setKneePoints({knee(0.3, 0.8, 1.0)}));
    myQSlider *s = f.tool.sigmaSlider();
    QApplication::setActiveWindow(&f.tool);
    s->setFocus();
    ASSERT_TRUE(s->hasFocus());
    tapKey(s, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->kneePoints()[0].sigma, 1.1);
    EXPECT_EQ(f.log, (strings{"live", "final", "changed3"}));
    f.log.clear();
    const QPoint centre(s->width() / 2, s->height() / 2);
    QWheelEvent wheel(centre, s->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(s, &wheel);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->kneePoints()[0].sigma, 1.0);
    EXPECT_EQ(f.log, (strings{"live", "final", "changed3"}));
    // At the end of the range a step changes nothing and reports nothing.
    s->setValue(20);
    f.log.clear();
    tapKey(s, Qt::Key_Right);
    EXPECT_TRUE(f.log.empty());
    // Moving the slider from code reports only a live change.
    s->setValue(12);
    EXPECT_EQ(f.log, (strings{"live"}));
    // A drag of the handle is finished once, by the release.
    f.log.clear();
    const int l = s->handleLength();
    const QPoint handle(int((12.0 - 1) / 19 * (s->width() - l) + l * 0.5 + 0.5), s->height() / 2);
    sendMouse(s, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, handle);
    sendMouse(s, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, handle + QPoint(s->width() / 4, 0));
    sendMouse(s, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, handle + QPoint(s->width() / 4, 0));
    EXPECT_GT(s->value(), 12);
    ASSERT_GE(f.log.size(), 3u);
    EXPECT_EQ(f.log.front(), "live");
    EXPECT_EQ(strings(f.log.end() - 2, f.log.end()), (strings{"final", "changed3"}));
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "final"), 1);
}

TEST(selectiveCurveTool, selectingAKneeMovesOnlyTheSlider)
{
    toolFixture f;
    ASSERT_TRUE(f.tool.setKneePoints({knee(0.3, 0.8, 0.35), knee(0.7, 0.2, 1.29)}));
    selectiveCurveToolArea *a = f.tool.canvas();
    a->grab();
    f.log.clear();
    clickAt(a, a->kneePosition(1));
    EXPECT_EQ(a->selectedIndex(), 1);
    EXPECT_EQ(f.tool.sigmaSlider()->value(), 12); // truncated
    EXPECT_DOUBLE_EQ(a->kneePoints()[1].sigma, 1.29); // kept exactly
    EXPECT_DOUBLE_EQ(a->currentSigma(), 1.29);
    EXPECT_EQ(f.log, (strings{"final", "changed2"}));
}

TEST(selectiveCurveTool, resetEmptiesTheCurve)
{
    toolFixture f(1);
    EXPECT_EQ(f.tool.captionLabel()->text(), "Brightness selective saturation");
    ASSERT_TRUE(f.tool.setKneePoints({knee(0.5, 0.9, 0.5)}));
    f.tool.sigmaSlider()->setValue(5);
    f.log.clear();
    f.tool.resetCurve(true);
    EXPECT_TRUE(f.log.empty());
    EXPECT_TRUE(f.tool.canvas()->kneePoints().isEmpty());
    EXPECT_EQ(f.tool.sigmaSlider()->value(), 10);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->currentSigma(), 1.0);
    for (double v : f.tool.canvas()->curveTable())
        ASSERT_EQ(v, 0.0);
    f.tool.resetButton()->click();
    EXPECT_EQ(f.log, (strings{"final", "changed4"}));
    EXPECT_FALSE(f.tool.canvas()->isModified());
    // A refused list still ends hover and drag and selects the first knee.
    ASSERT_TRUE(f.tool.setKneePoints({knee(0.2, 0.6, 0.8)}));
    EXPECT_FALSE(f.tool.setKneePoints({knee(2.0, 0.6)}));
    EXPECT_EQ(f.tool.canvas()->selectedIndex(), 0);
    EXPECT_DOUBLE_EQ(f.tool.canvas()->currentSigma(), 0.8);
}
