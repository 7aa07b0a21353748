#include "testSupport.h"
#include "widgets/clickableLabel.h"
#include "widgets/myQComboBox.h"
#include "widgets/myQPushButton.h"
#include "widgets/myScrollArea.h"
#include "widgets/spinner.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

TEST(clickableLabel, reportsLeftClicksOnlyAndKeepsNoSelection)
{
    clickableLabel clickable("name", true), plain("name", false);
    EXPECT_TRUE(clickable.property("editableLabelClickable").toBool());
    EXPECT_TRUE(plain.property("editableLabel").toBool());
    EXPECT_TRUE(clickable.isReadOnly());
    EXPECT_EQ(clickable.focusPolicy(), Qt::NoFocus);

    QSignalSpy clicked(&clickable, &clickableLabel::clicked);
    QTest::mouseClick(&clickable, Qt::RightButton);
    QTest::mouseClick(&clickable, Qt::MiddleButton);
    EXPECT_EQ(clicked.count(), 0);
    QTest::mouseClick(&clickable, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);

    clickable.selectAll();
    EXPECT_FALSE(clickable.hasSelectedText());
    clickable.setSelection(0, 3);
    EXPECT_FALSE(clickable.hasSelectedText());

    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(2, 2));
    QApplication::sendEvent(&clickable, &menu);
    EXPECT_FALSE(menu.isAccepted());
    EXPECT_EQ(clicked.count(), 1);
}

TEST(spinner, ignoresTheMouseAndAdvancesOnlyWhileVisible)
{
    QWidget view;
    view.resize(200, 200);
    auto *s = new spinner(&view);
    EXPECT_TRUE(s->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(s->size(), QSize(80, 80));
    // Timer ticks while hidden leave the ring where it is.
    s->hide();
    view.show();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(QMetaObject::invokeMethod(s, "timerSlot"));
    EXPECT_EQ(s->currentSegment(), 0);
    s->show();
    ASSERT_TRUE(QMetaObject::invokeMethod(s, "timerSlot"));
    EXPECT_EQ(s->currentSegment(), 1);
    // And the real timer drives it once shown.
    EXPECT_TRUE(QTest::qWaitFor([s]() { return s->currentSegment() >= 3; }, 2000));
    // The view below receives clicks on the spinner's area.
    EXPECT_EQ(view.childAt(s->geometry().center()), nullptr);

    // Twelve dots on a ring, nothing in the middle; the highlight moves
    // with the segment, so two frames differ on the ring only.
    auto ringAlpha = [](const QImage &img) {
        int painted = 0;
        for (int i = 0; i < 12; ++i) {
            const double a = i * 2.0 * M_PI / 12.0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    // Dots sit 28 px from the centre (radius 40 less two dot radii);
                    // the ring turns slowly, so look for any painted pixel nearby.
                    const int x = 40 + int(std::lround(std::cos(a) * 28)) + dx;
                    const int y = 40 + int(std::lround(std::sin(a) * 28)) + dy;
                    if (qAlpha(img.pixel(x, y)) > 0) {
                        ++painted;
                        dx = dy = 3;
                    }
                }
        }
        return painted;
    };
    const QImage first = s->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(ringAlpha(first), 12);
    EXPECT_EQ(qAlpha(first.pixel(40, 40)), 0) << "the ring's middle stays clear";
    EXPECT_EQ(qAlpha(first.pixel(1, 1)), 0);
    ASSERT_TRUE(QMetaObject::invokeMethod(s, "timerSlot"));
    const QImage second = s->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_NE(first, second);
}

TEST(myScrollArea, arrowsAndLettersBecomeSignals)
{
    myScrollArea area;
    QSignalSpy up(&area, &myScrollArea::keyUp), down(&area, &myScrollArea::keyDown);
    QSignalSpy left(&area, &myScrollArea::keyLeft), right(&area, &myScrollArea::keyRight);
    QSignalSpy letter(&area, &myScrollArea::letter);
    const struct {
        Qt::Key key;
        QSignalSpy *spy;
    } arrows[] = {{Qt::Key_Up, &up}, {Qt::Key_Down, &down}, {Qt::Key_Left, &left}, {Qt::Key_Right, &right}};
    for (const auto &a : arrows) {
        QKeyEvent e(QEvent::KeyPress, a.key, Qt::NoModifier);
        QApplication::sendEvent(&area, &e);
        EXPECT_TRUE(e.isAccepted());
        EXPECT_EQ(a.spy->count(), 1);
    }
    QKeyEvent capitalQ(QEvent::KeyPress, Qt::Key_Q, Qt::ShiftModifier, "Q");
    QApplication::sendEvent(&area, &capitalQ);
    ASSERT_EQ(letter.count(), 1);
    EXPECT_EQ(letter.at(0).at(0).value<QChar>(), QChar('q'));
    QKeyEvent digit(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, "5");
    QApplication::sendEvent(&area, &digit);
    EXPECT_FALSE(digit.isAccepted());
    EXPECT_EQ(letter.count(), 1);
}

TEST(myQComboBox, marksAChoiceOtherThanTheFirst)
{
    myQComboBox box;
    box.addItems({"none", "one", "two"});
    EXPECT_FALSE(box.property("checked").toBool());
    box.setCurrentIndex(2);
    EXPECT_TRUE(box.property("checked").toBool());
    box.setCurrentIndex(0);
    EXPECT_FALSE(box.property("checked").toBool());
    box.setCheckedProperty(1);
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_TRUE(box.property("checked").toBool());

    box.setMarkChoice(false);
    box.setCurrentIndex(0);
    EXPECT_TRUE(box.property("checked").toBool());  // left as it was

    QSignalSpy ret(&box, &myQComboBox::returnKeyPressed);
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_EQ(ret.count(), 2);

    QWidget other;
    setCheckedProperty(&other, true);
    EXPECT_TRUE(other.property("checked").toBool());
}

TEST(myQPushButton, seamFollowsTheState)
{
    myQPushButton left(true), right(false);
    for (myQPushButton *b : {&left, &right}) {
        b->setCheckable(true);
        b->resize(24, 22);
    }
    const int n = 20;
    // Checked: a ramp starting at grey 96 on the seam side.
    left.setChecked(true);
    QImage img = left.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(0, 1)), QColor(96, 96, 96));
    EXPECT_EQ(QColor(img.pixel(0, n)), QColor(int(18.0 / n * (n - 1) + 96), int(18.0 / n * (n - 1) + 96),
                                             int(18.0 / n * (n - 1) + 96)));
    // Unchecked and disabled on the right edge.
    img = right.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(23, 5)), QColor(0x4e, 0x4e, 0x4e));
    right.setEnabled(false);
    img = right.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(23, 5)), QColor(0x40, 0x40, 0x40));
    // A button too low for a seam draws exactly what a plain button draws.
    for (int h : {1, 2}) {
        myQPushButton tiny(true);
        QPushButton plain;
        for (QPushButton *b : {static_cast<QPushButton *>(&tiny), &plain}) {
            b->setCheckable(true);
            b->setChecked(true);
            b->resize(4, h);
        }
        EXPECT_EQ(tiny.grab().toImage(), plain.grab().toImage()) << "height " << h;
    }
}
