// The "Select color" dialog: the square, the strip and the sliders stay in
// step both ways; Ok returns the chosen colour, Cancel nothing.

#include "widgets/colorPicker.h"
#include "widgets/colorSample.h"
#include "widgets/slider.h"

#include "widgetTestSupport.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

namespace {

void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPoint pos)
{
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

int channelValue(colorPicker &p, int i)
{
    return int(p.channelSlider(i)->value());
}

int distance(const QColor &a, const QColor &b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

} // namespace

TEST(colorPicker, rgbToHsvAndBackStaysWithinOneUnit)
{
    const QColor colours[] = {QColor(0, 0, 0),     QColor(255, 255, 255), QColor(128, 128, 128), QColor(255, 0, 0),
                              QColor(0, 255, 0),   QColor(0, 0, 255),     QColor(200, 100, 50),  QColor(1, 2, 3),
                              QColor(254, 1, 128), QColor(17, 240, 130),  QColor(90, 91, 90)};
    for (const QColor &c : colours) {
        colorPicker picker(nullptr, c);
        EXPECT_LE(distance(picker.getColor(), c), 1) << c.name().toStdString();
        EXPECT_EQ(picker.getColor().spec(), QColor::Rgb);
        EXPECT_EQ(channelValue(picker, 0), c.red());
        EXPECT_EQ(channelValue(picker, 1), c.green());
        EXPECT_EQ(channelValue(picker, 2), c.blue());
    }
}

TEST(colorPicker, startsWithTheGivenColour)
{
    colorPicker picker(nullptr, QColor(200, 100, 50));
    EXPECT_EQ(picker.windowTitle(), "Select color");
    EXPECT_EQ(picker.preview()->primaryColor(), QColor(200, 100, 50));
    EXPECT_EQ(picker.preview()->secondaryColor(), QColor(200, 100, 50));
    EXPECT_TRUE(picker.preview()->isDual());
    QStringList labels;
    for (QLabel *l : picker.findChildren<QLabel *>())
        labels << l->text();
    EXPECT_TRUE(labels.contains("200") && labels.contains("100") && labels.contains("50"));
    EXPECT_TRUE(labels.contains("Select color"));
    // A grey has no hue: the strip's marker sits at the top.
    colorPicker grey(nullptr, QColor(90, 90, 90));
    EXPECT_EQ(grey.editor()->strip()->hue(), -1.0);
    EXPECT_EQ(grey.editor()->strip()->markerY(), 0.0);
}

TEST(colorPicker, draggingInTheSquareMovesTheSlidersAndReportsTheColour)
{
    colorPicker picker(nullptr, QColor(255, 0, 0));
    QSignalSpy spy(&picker, &colorPicker::changed);
    svEditor *sv = picker.editor()->square();
    sendMouse(sv, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, QPoint(255, 0));
    sendMouse(sv, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, QPoint(128, 64));
    EXPECT_NEAR(sv->saturation(), 128 / 255.0, 1e-12);
    EXPECT_NEAR(sv->value(), 1.0 - 64 / 255.0, 1e-12);
    const QColor c = picker.getColor();
    EXPECT_EQ(channelValue(picker, 0), c.red());
    EXPECT_EQ(channelValue(picker, 1), c.green());
    EXPECT_EQ(channelValue(picker, 2), c.blue());
    EXPECT_EQ(picker.preview()->primaryColor(), c);
    EXPECT_EQ(picker.preview()->secondaryColor(), QColor(255, 0, 0)); // the start colour stays beside it
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.last().at(0).value<QColor>(), c);

    // Beyond the edge: clamped, and still following while the button is held.
    sendMouse(sv, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, QPoint(400, -50));
    EXPECT_EQ(sv->saturation(), 1.0);
    EXPECT_EQ(sv->value(), 1.0);
    sendMouse(sv, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, QPoint(400, -50));
    sendMouse(sv, QEvent::MouseMove, Qt::NoButton, Qt::NoButton, QPoint(10, 10));
    EXPECT_EQ(spy.count(), 3);
    EXPECT_FALSE(sv->isHovered());
}

TEST(colorPicker, choosingAHueKeepsSaturationAndValue)
{
    colorPicker picker(nullptr, QColor(90, 90, 90)); // grey: no hue yet
    hEditor *strip = picker.editor()->strip();
    const double s = picker.editor()->square()->saturation(), v = picker.editor()->square()->value();
    sendMouse(strip, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, QPoint(12, 85));
    sendMouse(strip, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, QPoint(12, 85));
    EXPECT_NEAR(strip->hue(), 85 / 255.0, 1e-12);
    EXPECT_NEAR(picker.editor()->square()->hue(), 85 / 255.0, 1e-12);
    EXPECT_EQ(picker.editor()->square()->saturation(), s);
    EXPECT_EQ(picker.editor()->square()->value(), v);
    EXPECT_EQ(channelValue(picker, 0), picker.getColor().red());
    // Off the bottom of the strip: hue 1 (red again).
    sendMouse(strip, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, QPoint(12, 300));
    EXPECT_EQ(strip->hue(), 1.0);
}

TEST(colorPicker, movingASliderMovesTheMarkersWithoutReporting)
{
    colorPicker picker(nullptr, QColor(200, 100, 50));
    QSignalSpy spy(&picker, &colorPicker::changed);
    picker.channelSlider(2)->sliderWidget()->setValue(250); // the user drags blue
    EXPECT_EQ(spy.count(), 0);
    const QColor expected(200, 100, 250);
    EXPECT_NEAR(picker.editor()->square()->hue(), expected.hueF(), 1e-4);
    EXPECT_NEAR(picker.editor()->strip()->hue(), expected.hueF(), 1e-4);
    EXPECT_NEAR(picker.editor()->square()->value(), expected.valueF(), 1e-4);
    EXPECT_LE(distance(picker.getColor(), expected), 1);
    EXPECT_EQ(picker.preview()->primaryColor(), expected);
    // The default button side: a typed value takes the same path.
    picker.channelSlider(0)->setValue(10);
    EXPECT_EQ(channelValue(picker, 0), 10);
}

TEST(colorPicker, okReturnsTheColourAndCancelNothing)
{
    {
        colorPicker picker(nullptr, QColor(10, 20, 30));
        onModal([](QWidget *w) {
            auto *p = qobject_cast<colorPicker *>(w);
            ASSERT_NE(p, nullptr);
            p->channelSlider(0)->sliderWidget()->setValue(100);
            p->okButton()->click();
        });
        ASSERT_EQ(picker.exec(), QDialog::Accepted);
        EXPECT_LE(distance(picker.getColor(), QColor(100, 20, 30)), 1);
    }
    {
        colorPicker picker(nullptr, QColor(10, 20, 30));
        onModal([](QWidget *w) {
            auto *p = qobject_cast<colorPicker *>(w);
            p->channelSlider(0)->sliderWidget()->setValue(100);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        EXPECT_EQ(picker.exec(), QDialog::Rejected);
    }
    {
        colorPicker picker(nullptr, QColor(10, 20, 30));
        onModal([](QWidget *w) { qobject_cast<colorPicker *>(w)->cancelButton()->click(); });
        EXPECT_EQ(picker.exec(), QDialog::Rejected);
    }
}
