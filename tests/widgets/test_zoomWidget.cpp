#include "app/programOptionsSettings.h"
#include "testSupport.h"
#include "widgets/slider.h"
#include "widgets/zoomWidget.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

TEST(zoomWidget, offersOneHundredTwentyFiveSteps)
{
    const QVector<int> &steps = zoomWidget::zoomSteps();
    ASSERT_EQ(steps.size(), 125);
    const struct {
        int index, percent;
    } samples[] = {{0, 1}, {49, 50}, {50, 52}, {74, 100}, {75, 104}, {99, 200}, {100, 208}, {124, 400}};
    for (const auto &s : samples)
        EXPECT_EQ(steps[s.index], s.percent) << s.index;
    for (int i = 1; i < steps.size(); ++i)
        EXPECT_LT(steps[i - 1], steps[i]);

    zoomWidget z("Zoom:", false);
    EXPECT_EQ(z.index100(), 74);
    EXPECT_EQ(z.zoomSlider()->minimum(), 4);  // 5 % is the lowest offered
    EXPECT_EQ(z.zoomSlider()->maximum(), 124);
    EXPECT_EQ(z.zoomSlider()->value(), 74);
}

TEST(zoomWidget, fitIndexFromTheFitScale)
{
    zoomWidget z(QString(), false);
    const struct {
        double scale;
        int index;
    } cases[] = {{3.5, 2}, {100.0, 74}, {101.0, 74}, {103.9, 74}, {104.0, 75}, {50.5, 49},
                 {51.9, 49}, {400.0, 124}, {1.5, 0}, {0.2, 0}};
    // The largest step not above the fit: the fitted image never overflows.
    for (const auto &c : cases) {
        z.setScaleValue(c.scale);
        EXPECT_EQ(z.fitIndex(), c.index) << c.scale;
        EXPECT_DOUBLE_EQ(z.scaleValue(), c.scale);
    }
    z.setScaleValue(50.5);
    z.setScaleValue(0.0);    // no fit scale: unchanged
    EXPECT_EQ(z.fitIndex(), 49);
    z.setScaleValue(400.5);  // above 400 %: every step fits, unchanged
    EXPECT_EQ(z.fitIndex(), 49);
}

TEST(zoomWidget, hundredPercentAndFit)
{
    zoomWidget z(QString(), false);
    QSignalSpy zoom(&z, &zoomWidget::zoomChanged);
    z.setScaleValue(3.5);
    z.setFit();  // index 2 (3 %) is below the slider's range: 5 %
    ASSERT_EQ(zoom.count(), 1);
    EXPECT_DOUBLE_EQ(zoom.at(0).at(0).toDouble(), 0.05);
    EXPECT_FALSE(z.isFit());
    EXPECT_EQ(z.valueLabel()->text(), QString("5%"));
    z.set100();
    ASSERT_EQ(zoom.count(), 2);
    EXPECT_DOUBLE_EQ(zoom.at(1).at(0).toDouble(), 1.0);
    EXPECT_EQ(z.valueLabel()->text(), QString("100%"));
    z.setScaleValue(100.0);
    EXPECT_TRUE(z.isFit());
    z.set100();  // already there: nothing to report
    EXPECT_EQ(zoom.count(), 2);
    z.incZoom();
    EXPECT_DOUBLE_EQ(zoom.last().at(0).toDouble(), 1.04);
    z.decZoom();
    z.decZoom();
    EXPECT_DOUBLE_EQ(zoom.last().at(0).toDouble(), 0.98);
}

TEST(zoomWidget, wheelStepsAndTheCtrlSetting)
{
    zoomWidget z(QString(), false);
    z.show();
    QSignalSpy zoom(&z, &zoomWidget::zoomChanged);
    z.incDecZoom(1, QPoint(), Qt::Vertical);
    EXPECT_EQ(z.zoomSlider()->value(), 75);
    z.incDecZoom(-3, QPoint(), Qt::Vertical);
    EXPECT_EQ(z.zoomSlider()->value(), 72);
    z.incDecZoom(1, QPoint(), Qt::Horizontal);
    EXPECT_EQ(z.zoomSlider()->value(), 72);
    z.incDecZoom(1000, QPoint(), Qt::Vertical);  // clamped to 400 %
    EXPECT_DOUBLE_EQ(zoom.last().at(0).toDouble(), 4.0);
    z.incDecZoom(-2000000000, QPoint(), Qt::Vertical);
    EXPECT_EQ(z.zoomSlider()->value(), 4);

    programOptionsSettings options;
    options.misc.zoomWithCtrl = true;
    optionsInstance = &options;
    QTest::keyPress(z.windowHandle(), Qt::Key_Shift, Qt::ShiftModifier);
    z.incDecZoom(1, QPoint(), Qt::Vertical);
    EXPECT_EQ(z.zoomSlider()->value(), 4);
    QTest::keyRelease(z.windowHandle(), Qt::Key_Shift, Qt::NoModifier);
    QTest::keyPress(z.windowHandle(), Qt::Key_Control, Qt::ControlModifier);
    QApplication::processEvents();
    z.incDecZoom(1, QPoint(), Qt::Vertical);
    EXPECT_EQ(z.zoomSlider()->value(), 5);
    QTest::keyRelease(z.windowHandle(), Qt::Key_Control, Qt::NoModifier);
    QApplication::processEvents();
    optionsInstance = nullptr;
}

TEST(zoomWidget, delayedLabelFollowsTheLastStep)
{
    zoomWidget z(QString(), true);
    QSignalSpy zoom(&z, &zoomWidget::zoomChanged);
    for (int i = 0; i < 5; ++i)
        z.incZoom();
    EXPECT_EQ(zoom.count(), 5);
    EXPECT_EQ(z.valueLabel()->text(), QString("100%"));
    EXPECT_TRUE(QTest::qWaitFor([&]() { return z.valueLabel()->text() == "120%"; }, 2000));
}

TEST(zoomWidget, rightClickOnTheHandleReturnsToHundred)
{
    zoomWidget z(QString(), false);
    z.resize(400, 30);
    z.show();
    z.incDecZoom(20, QPoint(), Qt::Vertical);
    myQSlider *s = z.zoomSlider();
    const int w = s->width(), l = s->handleLength();
    const int x = int(double(s->value() - s->minimum()) / (s->maximum() - s->minimum()) * (w - l) + l * 0.5 + 0.5);
    QMouseEvent press(QEvent::MouseButtonPress, QPoint(x, s->height() / 2), s->mapToGlobal(QPoint(x, 5)),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(s, &press);
    EXPECT_EQ(s->value(), 74);
}

TEST(zoomWidget, minimumStepCanBeSet)
{
    zoomWidget z(QString(), false);
    z.setMinimumStep(0);
    z.setScaleValue(3.5);
    z.setFit();
    EXPECT_TRUE(z.isFit());
    EXPECT_EQ(z.valueLabel()->text(), QString("3%"));
}
