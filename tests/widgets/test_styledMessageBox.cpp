#include "widgetTestSupport.h"
#include "widgets/styledMessageBox.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QPushButton *buttonWithText(QWidget *box, const QString &text)
{
    for (QPushButton *b : box->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QStringList buttonTexts(QWidget *box)
{
    QStringList t;
    for (QPushButton *b : box->findChildren<QPushButton *>())
        if (!b->text().isEmpty())
            t << b->text();
    return t;
}

struct clickCase_t {
    int buttons;
    const char *click;  // button text, or "close" / "escape"
    int expected;
};

} // namespace

TEST(styledMessageBox, execReturnsTheFlagOfThePressedButton)
{
    const clickCase_t cases[] = {
        {1, "Ok", 1},     {14, "Yes", 4},       {14, "No", 8},       {14, "Cancel", 2},
        {12, "Yes", 4},   {12, "No", 8},        {3, "Cancel", 2},    {1, "close", 0},
        {12, "escape", 0}, {0, "close", 0},
    };
    for (const clickCase_t &c : cases) {
        styledMessageBox box(nullptr, styledMessageBox::Confirmation, "Replace the file?", c.buttons);
        const QString click = c.click;
        QStringList shown;
        onModal([&](QWidget *w) {
            shown = buttonTexts(w);
            if (click == "close") {
                // The title bar's close button: the only button without text.
                for (QPushButton *b : w->findChildren<QPushButton *>())
                    if (b->property("windowTitleButtonX").toBool())
                        b->click();
            } else if (click == "escape") {
                QTest::keyClick(w, Qt::Key_Escape);
            } else {
                QPushButton *b = buttonWithText(w, click);
                ASSERT_NE(b, nullptr) << c.click;
                b->click();
            }
        });
        EXPECT_EQ(box.exec(), c.expected) << "buttons " << c.buttons << " click " << c.click;
        // Buttons appear in the order Yes, No, Ok, Cancel, each only when asked for.
        QStringList expectedOrder;
        if (c.buttons & 4) expectedOrder << "Yes";
        if (c.buttons & 8) expectedOrder << "No";
        if (c.buttons & 1) expectedOrder << "Ok";
        if (c.buttons & 2) expectedOrder << "Cancel";
        EXPECT_EQ(shown, expectedOrder) << "buttons " << c.buttons;
    }
}

TEST(styledMessageBox, hookAnswersWithoutShowing)
{
    messageRecorder recorder({8, 4});
    styledMessageBox box(nullptr, styledMessageBox::Warning, "Careful", 12);
    EXPECT_EQ(box.exec(), 8);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(styledMessageBox::show(nullptr, styledMessageBox::Error, "Broken", 12, "Error!"), 4);
    // Queue empty: the recorder answers Ok for boxes that have one.
    EXPECT_EQ(styledMessageBox::show(nullptr, styledMessageBox::Information, "Done"), 1);

    ASSERT_EQ(recorder.boxes.size(), 3u);
    EXPECT_EQ(recorder.boxes[0].kind, 2);
    EXPECT_EQ(recorder.boxes[0].title, QString("Warning"));
    EXPECT_EQ(recorder.boxes[0].text, QString("Careful"));
    EXPECT_EQ(recorder.boxes[0].buttons, 12);
    EXPECT_EQ(recorder.boxes[1].title, QString("Error!"));
    EXPECT_EQ(recorder.boxes[2].title, QString("Information"));
    EXPECT_EQ(recorder.boxes[2].buttons, 1);
}

TEST(styledMessageBox, hookCanBeRemoved)
{
    {
        messageRecorder recorder;
        EXPECT_TRUE(bool(styledMessageBox::messageHook()));
    }
    EXPECT_FALSE(bool(styledMessageBox::messageHook()));
}

TEST(styledMessageBox, kindsGiveTitlesAndUnknownKindKeepsTheBaseTitle)
{
    const char *titles[] = {"Information", "Warning", "Error", "Confirmation"};
    for (int kind = 1; kind <= 4; ++kind) {
        styledMessageBox box(nullptr, kind, "x", 1);
        EXPECT_EQ(box.title(), QString(titles[kind - 1]));
        EXPECT_EQ(box.windowTitle(), QString(titles[kind - 1]));
    }
    styledMessageBox other(nullptr, 7, "x", 1);
    EXPECT_EQ(other.title(), QString("Lumidra " LUMIDRA_VERSION));
    other.setTitle("Own title");
    EXPECT_EQ(other.windowTitle(), QString("Own title"));
}

TEST(styledMessageBox, messageWidthDependsOnLengthAndCompactFlag)
{
    const QString text63(63, 'a'), text64(64, 'a');
    auto minWidth = [](const styledMessageBox &box, const QString &text) {
        for (QLabel *l : box.findChildren<QLabel *>())
            if (l->text() == text)
                return l->minimumWidth();
        return -1;
    };
    styledMessageBox shortBox(nullptr, 1, text63, 1);
    styledMessageBox longBox(nullptr, 1, text64, 1);
    styledMessageBox compactBox(nullptr, 1, text64, 1, 0, 0, 0, true);
    EXPECT_EQ(minWidth(shortBox, text63), 300);
    EXPECT_EQ(minWidth(longBox, text64), 450);
    EXPECT_EQ(minWidth(compactBox, text64), 300);
}

TEST(styledMessageBox, okDelayDisablesOnlyOk)
{
    styledMessageBox box(nullptr, 4, "Sure?", 1 | 4 | 8, 200);
    box.show();
    QPushButton *ok = buttonWithText(&box, "Ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_TRUE(buttonWithText(&box, "Yes")->isEnabled());
    EXPECT_TRUE(buttonWithText(&box, "No")->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([ok]() { return ok->isEnabled(); }, 2000));
    box.hide();
}

TEST(styledMessageBox, offsetsMoveTheCentredBox)
{
    styledMessageBox centred(nullptr, 1, "Where?", 1);
    centred.show();
    const QPoint base = centred.pos();
    centred.hide();
    styledMessageBox moved(nullptr, 1, "Where?", 1, 0, 30, -20);
    moved.show();
    EXPECT_EQ(moved.pos(), base + QPoint(30, -20));
    moved.hide();
}
