#include "app/programOptionsSettings.h"
#include "testSupport.h"
#include "widgets/splash.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

TEST(splash, fadesOutAndReportsItself)
{
    splash s(-1, true);
    s.start();
    EXPECT_TRUE(s.isVisible());
    EXPECT_DOUBLE_EQ(s.windowOpacity(), 1.0);
    QSignalSpy finished(&s, &splash::finished);
    s.startHiding();
    ASSERT_TRUE(finished.wait(3000));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).value<QWidget *>(), &s);
    EXPECT_EQ(s.stepCount(), 100);
    EXPECT_LT(s.windowOpacity(), 0.01);
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 1);
}

TEST(splash, clickSkipsTheVisiblePhaseAndALaterStartHidingChangesNothing)
{
    splash s(0, true);
    s.start();
    QSignalSpy finished(&s, &splash::finished);
    QTest::mouseClick(&s, Qt::LeftButton);
    EXPECT_TRUE(s.isHiding());
    EXPECT_EQ(s.stepCount(), 60);
    s.startHiding();  // start-up calls it after showing the main window
    ASSERT_TRUE(finished.wait(3000));
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(s.stepCount(), 100);
}

TEST(splash, sizeFollowsThePicture)
{
    splash s(5, false);  // an unknown screen number falls back to the primary screen
    EXPECT_EQ(s.size(), QSize(500, 300));
    s.start();
    EXPECT_TRUE(s.isVisible());
    s.hide();
}

TEST(splash, highResolutionPictureKeepsTheLogicalSize)
{
    programOptionsSettings options;
    options.devicePixelRatio = 2.0;
    optionsInstance = &options;
    splash s(-1, true);
    optionsInstance = nullptr;
    EXPECT_EQ(s.size(), QSize(500, 300));
    EXPECT_EQ(s.pixmap(Qt::ReturnByValue).width(), 1000);
}

TEST(splash, receiverMayDeleteItOnFinished)
{
    QPointer<splash> s = new splash(-1, true);
    bool reported = false;
    QObject::connect(s.data(), &splash::finished, [&](QWidget *w) {
        reported = true;
        delete w;  // what the main window does
    });
    s->start();
    s->startHiding();
    EXPECT_TRUE(QTest::qWaitFor([&]() { return reported; }, 3000));
    QTest::qWait(30);
    EXPECT_TRUE(s.isNull());
}
