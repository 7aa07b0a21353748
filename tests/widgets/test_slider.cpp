#include "testSupport.h"
#include "widgets/clickableLabel.h"
#include "widgets/slider.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

namespace {

struct mappingCase_t {
    int decimals;
    double step;
    int position;
    double value;
};

// Position -> value and value -> position, both rounding to the nearest step.
const mappingCase_t mappingCases[] = {
    {2, 0.01, -200, -2.00},  // the -2.00 EV case (truncation gave -1.99)
    {2, 0.01, -100, -1.00},  {2, 0.01, -1, -0.01},  {2, 0.01, -35, -0.35}, {2, 0.01, 0, 0.0},
    {2, 0.01, 29, 0.29},     // truncation put 0.29 at position 28
    {2, 0.01, 1234, 12.34},  {1, 0.1, -5, -0.5},    {0, 1.0, -3, -3.0},    {2, 0.05, -10, -0.10},
    {2, 0.05, 15, 0.15},     {3, 0.001, -1999, -1.999},
};

QPoint handleCentre(myQSlider *s)
{
    const int w = s->width(), l = s->handleLength();
    const double f = double(s->value() - s->minimum()) / (s->maximum() - s->minimum());
    return QPoint(int(f * (w - l) + l * 0.5 + 0.5), s->height() / 2);
}

void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPoint pos)
{
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A slider shown at a known width so that pixel positions are predictable.
struct shownSlider {
    slider s;
    shownSlider(int flags, int decimals, double minimum, double maximum, double def, double step)
        : s("Value", flags, 60, decimals, QString(), minimum, maximum, def, step)
    {
        s.resize(400, s.height());
        s.show();
        QApplication::processEvents();
    }
    myQSlider *q() { return s.sliderWidget(); }
};

} // namespace

TEST(sliderMapping, positionAndValueRoundToTheNearestStep)
{
    for (const mappingCase_t &c : mappingCases) {
        const int m = sliderMapping::multiplierFor(c.decimals);
        EXPECT_NEAR(sliderMapping::valueOf(c.position, m, c.step), c.value, 1e-9) << c.position;
        EXPECT_EQ(sliderMapping::positionOf(c.value, m), c.position) << c.value;
    }
    // Positions between steps go to the nearest step on both sides of zero.
    EXPECT_NEAR(sliderMapping::valueOf(-8, 100, 0.05), -0.10, 1e-9);
    EXPECT_NEAR(sliderMapping::valueOf(-7, 100, 0.05), -0.05, 1e-9);
    EXPECT_NEAR(sliderMapping::valueOf(8, 100, 0.05), 0.10, 1e-9);
    // A step of zero does not divide by zero.
    EXPECT_NEAR(sliderMapping::valueOf(-8, 100, 0.0), -0.08, 1e-12);
}

TEST(slider, draggingToMinusTwoShowsMinusTwo)
{
    slider ev("EV", slider::EditMode, 0, 2, QString(), -3.0, 3.0, 0.0, 0.01);
    ev.sliderWidget()->setValue(-200);
    EXPECT_DOUBLE_EQ(ev.value(), -2.0);
    ev.sliderWidget()->setValue(-100);
    EXPECT_DOUBLE_EQ(ev.value(), -1.0);
    ev.sliderWidget()->setValue(1234 / 10);
    EXPECT_DOUBLE_EQ(ev.value(), 1.23);
}

TEST(slider, programmaticSetValueEmitsSettledButNotLive)
{
    slider s("Gamma", 0, 0, 2, QString(), 0.2, 4.0, 1.0, 0.01);
    QSignalSpy settled(&s, &slider::valueChanged);
    QSignalSpy live(&s, &slider::valueChangedLive);
    s.setValue(-1.0);  // below the range: clamped
    EXPECT_DOUBLE_EQ(s.value(), 0.2);
    s.setValue(0.29);
    EXPECT_DOUBLE_EQ(s.value(), 0.29);
    EXPECT_EQ(s.sliderWidget()->value(), 29);
    ASSERT_EQ(settled.count(), 2);
    EXPECT_FALSE(settled.at(1).at(0).toBool());
    EXPECT_EQ(live.count(), 0);
    const QLabel *label = nullptr;
    for (QLabel *l : s.findChildren<QLabel *>())
        if (l->text() == s.valueText(0.29))
            label = l;
    EXPECT_NE(label, nullptr);
    s.setValue(std::nan(""));
    EXPECT_DOUBLE_EQ(s.value(), 1.0);
    EXPECT_EQ(s.sliderWidget()->value(), 100);
}

TEST(slider, rightClickOnHandleRestoresTheDefault)
{
    shownSlider w(0, 2, -1.0, 1.0, 0.25, 0.01);
    w.s.setValue(-0.5);
    QSignalSpy settled(&w.s, &slider::valueChanged);
    // Away from the handle: nothing.
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, QPoint(w.q()->width() - 3, 5));
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, QPoint(w.q()->width() - 3, 5));
    EXPECT_EQ(settled.count(), 0);
    EXPECT_DOUBLE_EQ(w.s.value(), -0.5);
    // On the handle: the default, reported as a settled change.
    const QPoint c = handleCentre(w.q());
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, c);
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, c);
    ASSERT_EQ(settled.count(), 1);
    EXPECT_FALSE(settled.at(0).at(0).toBool());
    EXPECT_DOUBLE_EQ(w.s.value(), 0.25);
    EXPECT_EQ(w.q()->value(), 25);
}

TEST(slider, doubleClickRestoresTheDefaultAndAsksToReplaceTheLastEntry)
{
    shownSlider w(0, 1, 0.0, 10.0, 5.0, 0.1);
    w.s.setValue(2.0);
    QSignalSpy settled(&w.s, &slider::valueChanged);
    QTest::mouseDClick(w.q(), Qt::LeftButton, Qt::NoModifier, handleCentre(w.q()));
    ASSERT_GE(settled.count(), 1);
    EXPECT_TRUE(settled.last().at(0).toBool());
    EXPECT_DOUBLE_EQ(w.s.value(), 5.0);
}

TEST(slider, dragReportsLiveChangesAndSettlesOnRelease)
{
    shownSlider w(0, 2, 0.0, 4.0, 1.0, 0.01);
    QSignalSpy settled(&w.s, &slider::valueChanged);
    QSignalSpy live(&w.s, &slider::valueChangedLive);
    QPoint p = handleCentre(w.q());
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, p);
    for (int i = 0; i < 5; ++i) {
        p += QPoint(10, 0);
        sendMouse(w.q(), QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, p);
    }
    EXPECT_GE(live.count(), 5);
    EXPECT_EQ(settled.count(), 0);
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, p);
    EXPECT_EQ(settled.count(), 1);
    EXPECT_GT(w.s.value(), 1.0);
    // The move timer repeats the settled position once, 250 ms after the last move.
    const int before = live.count();
    EXPECT_TRUE(QTest::qWaitFor([&]() { return live.count() > before; }, 1000));
    EXPECT_EQ(settled.count(), 1);
}

TEST(slider, coarseSliderReportsAClickJumpAndTheRelease)
{
    shownSlider coarse(0, 0, 0.0, 10.0, 0.0, 1.0);  // 10 integer steps
    QSignalSpy settled(&coarse.s, &slider::valueChanged);
    const QPoint far(coarse.q()->width() - 5, coarse.q()->height() / 2);
    sendMouse(coarse.q(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, far);
    EXPECT_EQ(settled.count(), 1);
    sendMouse(coarse.q(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, far);
    EXPECT_EQ(settled.count(), 2);
    EXPECT_DOUBLE_EQ(coarse.s.value(), 10.0);

    shownSlider fine(0, 2, 0.0, 10.0, 0.0, 0.01);  // 1000 integer steps
    QSignalSpy fineSettled(&fine.s, &slider::valueChanged);
    const QPoint farFine(fine.q()->width() - 5, fine.q()->height() / 2);
    sendMouse(fine.q(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, farFine);
    EXPECT_EQ(fineSettled.count(), 0);
    sendMouse(fine.q(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, farFine);
    EXPECT_EQ(fineSettled.count(), 1);
}

TEST(slider, clickNextToTheHandleDoesNotJump)
{
    shownSlider w(0, 0, 0.0, 100.0, 50.0, 1.0);  // several pixels per unit
    QSignalSpy live(&w.s, &slider::valueChangedLive);
    const QPoint c = handleCentre(w.q());
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, c + QPoint(3, 0));
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, c + QPoint(3, 0));
    EXPECT_EQ(w.q()->value(), 50);
    EXPECT_EQ(live.count(), 0);
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, c + QPoint(40, 0));
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, c + QPoint(40, 0));
    EXPECT_GT(w.q()->value(), 55);
}

TEST(slider, wheelOnlyWithFocus)
{
    shownSlider w(0, 0, 0.0, 100.0, 50.0, 1.0);
    QWheelEvent wheel(QPointF(10, 5), w.q()->mapToGlobal(QPoint(10, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    ASSERT_FALSE(w.q()->hasFocus());
    QApplication::sendEvent(w.q(), &wheel);
    EXPECT_FALSE(wheel.isAccepted());
    EXPECT_EQ(w.q()->value(), 50);
}

TEST(slider, collapsedRangeNeitherDividesByZeroNorMoves)
{
    shownSlider w(slider::EditMode | slider::DefaultButton, 0, 50.0, 50.0, 50.0, 1.0);
    w.q()->setProperty("Temperature", true);
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, QPoint(30, 5));
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, QPoint(30, 5));
    sendMouse(w.q(), QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, QPoint(5, 5));
    sendMouse(w.q(), QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, QPoint(5, 5));
    const QImage img = w.s.grab().toImage();
    EXPECT_FALSE(img.isNull());
    EXPECT_DOUBLE_EQ(w.s.value(), 50.0);
}

TEST(slider, rampSlidersPaintTheirColourRamp)
{
    // Colour near the left and the right end of the groove (the handle sits
    // in the middle at 1.0 of 0..2), on the groove's middle row.
    struct ends_t {
        QColor left, right;
    };
    auto ends = [](const char *property) {
        slider s("Ramp", 0, 0, 2, property, 0.0, 2.0, 1.0, 0.01);
        s.resize(300, s.height());
        myQSlider *q = s.findChild<myQSlider *>();
        EXPECT_TRUE(q);
        if (!q)
            return ends_t{};
        s.grab(); // lays the slider out
        const QImage img = q->grab().toImage();
        const int y = img.height() / 2;
        return ends_t{QColor(img.pixel(img.width() / 12, y)), QColor(img.pixel(img.width() * 11 / 12, y))};
    };
    // Hue: 30 degrees (orange) on the left, 330 degrees (pink) on the right.
    ends_t e = ends("Hue");
    EXPECT_TRUE(e.left.red() > e.left.green() && e.left.green() > e.left.blue()) << e.left.name().toStdString();
    EXPECT_TRUE(e.right.red() > e.right.blue() && e.right.blue() > e.right.green()) << e.right.name().toStdString();
    // Temperature: what neutralises warm light (blue) on the left, cold light (red) on the right.
    e = ends("Temperature");
    EXPECT_GT(e.left.blue(), e.left.red());
    EXPECT_GT(e.right.red(), e.right.blue());
    // Tint: green on the left, magenta on the right.
    e = ends("Tint");
    EXPECT_GT(e.left.green(), e.left.red());
    EXPECT_GT(e.left.green(), e.left.blue());
    EXPECT_LT(e.right.green(), e.right.red());
    EXPECT_LT(e.right.green(), e.right.blue());
    // A plain slider: the part left of the handle filled green, no ramp.
    e = ends("");
    EXPECT_TRUE(e.left == QColor(90, 110, 90) || e.left == QColor(100, 160, 100)) << e.left.name().toStdString();
    EXPECT_NE(e.right, e.left);
}

TEST(slider, editModeReportsATypedValueOnce)
{
    shownSlider w(slider::EditMode | slider::DefaultButton, 2, -5.0, 5.0, 0.0, 0.01);
    clickableLabel *label = w.s.findChild<clickableLabel *>();
    ASSERT_NE(label, nullptr);
    QSignalSpy settled(&w.s, &slider::valueChanged);
    QSignalSpy live(&w.s, &slider::valueChangedLive);
    QTest::mouseClick(label, Qt::LeftButton);
    ASSERT_TRUE(w.s.spinBox()->isVisible());
    EXPECT_FALSE(label->isVisible());
    w.s.spinBox()->setValue(-2.5);  // as typed: moves the slider live
    EXPECT_EQ(w.q()->value(), -250);
    EXPECT_GE(live.count(), 1);
    emit w.s.spinBox()->editingFinished();
    emit w.s.spinBox()->editingFinished();  // the focus loss that follows
    EXPECT_EQ(settled.count(), 1);
    EXPECT_FALSE(w.s.spinBox()->isVisible());
    EXPECT_TRUE(label->isVisible());
    EXPECT_DOUBLE_EQ(w.s.value(), -2.5);
}

TEST(slider, defaultCanBeReplaced)
{
    slider s("Opacity", 0, 0, 2, QString(), 0.0, 1.0, 1.0, 0.01);
    s.setDefaultValue(0.4);
    s.setValue(0.9);
    QSignalSpy settled(&s, &slider::valueChanged);
    s.setDefault(false);
    EXPECT_DOUBLE_EQ(s.value(), 0.4);
    EXPECT_EQ(settled.count(), 1);
}

TEST(slider, parentConstructorAdoptsTheSlider)
{
    QWidget parent;
    auto *s = new slider("Zoom", 0, &parent, 2, QString(), 0.2, 4.0, 1.0, 0.01);
    EXPECT_EQ(s->parentWidget(), &parent);
    EXPECT_DOUBLE_EQ(s->value(), 1.0);
}
