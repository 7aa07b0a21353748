// The panel base: header variants, open and close with the blur fade, the
// visibility switch and the padlock.

#include "panels/toolBox.h"
#include "panelTestSupport.h"
#include "widgets/myQPushButton.h"

#include <QGraphicsBlurEffect>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSignalSpy>

namespace {

struct variantCase_t {
    bool visibility;
    bool padlock;
    const char *headerProperty;
};

const variantCase_t variants[] = {
    {false, false, "toolHeader"},
    {true, false, "toolHeaderWithVisibility"},
    {false, true, "toolHeaderWithLock"},
    {true, true, "toolHeaderWithVisibilityAndLock"},
};

} // namespace

TEST(toolBox, headerCarriesExactlyOneVariantPropertyAndOnlyTheButtonsAskedFor)
{
    const char *all[] = {"toolHeader", "toolHeaderWithVisibility", "toolHeaderWithLock",
                         "toolHeaderWithVisibilityAndLock"};
    for (const variantCase_t &c : variants) {
        toolBox box("Title", c.visibility, c.padlock);
        for (const char *p : all)
            EXPECT_EQ(box.headerButton()->property(p).toBool(), QString(p) == c.headerProperty)
                << c.headerProperty << " / " << p;
        EXPECT_EQ(box.visibilitySwitch() != nullptr, c.visibility);
        EXPECT_EQ(box.padlock() != nullptr, c.padlock);
        EXPECT_EQ(box.findChildren<myQPushButton *>().size(), int(c.visibility) + int(c.padlock));
        if (c.visibility) {
            EXPECT_TRUE(box.visibilitySwitch()->property("toolHeaderVisibility").toBool());
            EXPECT_TRUE(box.visibilitySwitch()->isChecked());
            EXPECT_TRUE(box.effectEnabled());
        }
        if (c.padlock) {
            EXPECT_TRUE(box.padlock()->property("toolHeaderLock").toBool());
            EXPECT_FALSE(box.isLocked());
        }
        EXPECT_EQ(box.headerButton()->text(), "Title");
        EXPECT_TRUE(box.headerButton()->isChecked());
        EXPECT_TRUE(box.isOpened());
    }
}

TEST(toolBox, headerClickReportsTheStateTheOpenerThenSets)
{
    toolBox box("Panel", false, false);
    box.show();
    QSignalSpy toggled(&box, &toolBox::toggled);
    QTest::mouseClick(box.headerButton(), Qt::LeftButton);
    ASSERT_EQ(toggled.count(), 1);
    EXPECT_EQ(toggled.at(0).at(0).value<toolBox *>(), &box);
    EXPECT_TRUE(toggled.at(0).at(1).toBool()) << "an open panel asks to be closed";
    box.setOpened(!toggled.at(0).at(1).toBool());
    EXPECT_FALSE(box.isOpened());
    EXPECT_TRUE(box.body()->isHidden());
    EXPECT_TRUE(box.spacerStrip()->isHidden());
    EXPECT_FALSE(box.headerButton()->isChecked());

    QTest::mouseClick(box.headerButton(), Qt::LeftButton);
    ASSERT_EQ(toggled.count(), 2);
    EXPECT_FALSE(toggled.at(1).at(1).toBool());
    box.setOpened(true);
    EXPECT_TRUE(box.isOpened());
    EXPECT_FALSE(box.spacerStrip()->isHidden());
    EXPECT_TRUE(box.headerButton()->isChecked());
}

TEST(toolBox, openingFadesInAndAReopenDuringTheFadeContinuesIt)
{
    toolBox box("Panel", false, false);
    QPropertyAnimation *a = box.openAnimation();
    EXPECT_EQ(a->duration(), 250);
    EXPECT_DOUBLE_EQ(box.blurEffect()->blurRadius(), 0.0);
    box.setOpened(false);
    EXPECT_EQ(a->state(), QAbstractAnimation::Stopped) << "closing has no animation";

    box.setOpened(true);
    ASSERT_EQ(a->state(), QAbstractAnimation::Running);
    EXPECT_NEAR(box.blurEffect()->blurRadius(), 50.0, 1.0);
    a->setCurrentTime(125);
    const double halfway = box.blurEffect()->blurRadius();
    EXPECT_GT(halfway, 5.0);
    EXPECT_LT(halfway, 45.0);

    // Opened again while fading: continues from where it was.
    box.setOpened(true);
    EXPECT_EQ(a->state(), QAbstractAnimation::Running);
    EXPECT_EQ(a->currentTime(), 125);
    EXPECT_DOUBLE_EQ(box.blurEffect()->blurRadius(), halfway);

    // After the fade has ended, opening starts again from radius 50.
    a->setCurrentTime(250);
    EXPECT_EQ(a->state(), QAbstractAnimation::Stopped);
    EXPECT_DOUBLE_EQ(box.blurEffect()->blurRadius(), 0.0);
    box.setOpened(true);
    EXPECT_EQ(a->currentTime(), 0);
    EXPECT_NEAR(box.blurEffect()->blurRadius(), 50.0, 1.0);
    a->stop();
}

TEST(toolBox, visibilitySwitchAndPadlockReportTheirClicks)
{
    toolBox box("Panel", true, true);
    box.show();
    QSignalSpy visibility(&box, &toolBox::visibilityToggled);
    QSignalSpy enabled(&box, &toolBox::lockEnabled);
    QSignalSpy disabled(&box, &toolBox::lockDisabled);

    const qint64 visibleKey = box.visibilitySwitch()->icon().cacheKey();
    QTest::mouseClick(box.visibilitySwitch(), Qt::LeftButton);
    ASSERT_EQ(visibility.count(), 1);
    EXPECT_EQ(visibility.at(0).at(0).value<QObject *>(), &box);
    EXPECT_FALSE(box.effectEnabled());
    EXPECT_NE(box.visibilitySwitch()->icon().cacheKey(), visibleKey) << "shows the invisible icon";
    box.setEffectEnabledSilently(true);
    EXPECT_TRUE(box.effectEnabled());
    EXPECT_EQ(visibility.count(), 1) << "silently";

    // An unlocked panel's value changes regenerate nothing.
    box.conditionalLockEnabled();
    EXPECT_EQ(enabled.count(), 0);
    QTest::mouseClick(box.padlock(), Qt::LeftButton);
    EXPECT_TRUE(box.isLocked());
    EXPECT_EQ(enabled.count(), 1);
    box.conditionalLockEnabled();
    EXPECT_EQ(enabled.count(), 2);
    QTest::mouseClick(box.padlock(), Qt::LeftButton);
    EXPECT_FALSE(box.isLocked());
    EXPECT_EQ(disabled.count(), 1);
    EXPECT_EQ(disabled.at(0).at(0).value<QObject *>(), &box);
}
