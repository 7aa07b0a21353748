// The EV source selection: the manual steps and the rule that exactly one
// source stays selected.

#include "hdrdialogs/EVselection.h"
#include "testSupport.h"
#include "widgets/myQComboBox.h"

#include <QPushButton>
#include <QSignalSpy>

TEST(EVselectionSteps, twentySixEntries)
{
    const QStringList e = EVselection::manualEntries();
    ASSERT_EQ(e.size(), 26);
    EXPECT_EQ(e.mid(0, 8), (QStringList{"-", "0.00", "0.33", "0.5", "0.67", "1", "1.33", "1.5"}));
    EXPECT_EQ(e.last(), "6");
    EXPECT_EQ(e[e.size() - 2], "5.67");
    EXPECT_DOUBLE_EQ(EVselection::manualStep(0), 0.0);
    EXPECT_DOUBLE_EQ(EVselection::manualStep(1), 0.0);
    EXPECT_DOUBLE_EQ(EVselection::manualStep(9), 2.0);
    EXPECT_DOUBLE_EQ(EVselection::manualStep(25), 6.0);
    EXPECT_DOUBLE_EQ(EVselection::manualStep(26), 0.0);
}

TEST(EVselectionChoice, exactlyOneSourceStaysSelected)
{
    EVselection s;
    QSignalSpy exif(&s, &EVselection::EVsetFromExif), aeb(&s, &EVselection::EVsetFromExifAEB),
        automatic(&s, &EVselection::EVauto), manual(&s, &EVselection::EVmanualSelect);
    EXPECT_EQ(s.manualCombo->count(), 26);

    s.exifButton->click();
    EXPECT_EQ(exif.count(), 1);
    EXPECT_TRUE(s.exifButton->isChecked());
    // Clicking the selected source again leaves it selected and says nothing.
    s.exifButton->click();
    EXPECT_TRUE(s.exifButton->isChecked());
    EXPECT_EQ(exif.count(), 1);

    s.autoButton->click();
    EXPECT_EQ(automatic.count(), 1);
    EXPECT_FALSE(s.exifButton->isChecked());
    EXPECT_TRUE(s.autoButton->isChecked());

    s.manualCombo->setCurrentIndex(9);
    ASSERT_EQ(manual.count(), 1);
    EXPECT_EQ(manual[0][0].toInt(), 9);
    for (QPushButton *b : {s.exifButton, s.exifAEBbutton, s.autoButton})
        EXPECT_FALSE(b->isChecked());
    EXPECT_TRUE(s.manualCombo->property("checked").toBool());

    s.exifAEBbutton->click();
    EXPECT_EQ(aeb.count(), 1);
    EXPECT_EQ(s.manualCombo->currentIndex(), 0);
    EXPECT_FALSE(s.manualCombo->property("checked").toBool());
    EXPECT_EQ(manual.count(), 1) << "resetting the list emits nothing";
}

TEST(EVselectionChoice, dashSelectsTheFirstEnabledSource)
{
    struct row_t {
        bool exif, aeb, autoOn;
        int expected; // 0 EXIF, 1 AEB, 2 auto, -1 none
    } rows[] = {{true, true, true, 0}, {false, true, true, 1}, {false, false, true, 2}, {false, false, false, -1}};
    for (const row_t &r : rows) {
        EVselection s;
        s.manualCombo->setCurrentIndex(5);
        s.exifButton->setEnabled(r.exif);
        s.exifAEBbutton->setEnabled(r.aeb);
        s.autoButton->setEnabled(r.autoOn);
        QSignalSpy exif(&s, &EVselection::EVsetFromExif), aeb(&s, &EVselection::EVsetFromExifAEB),
            automatic(&s, &EVselection::EVauto);
        s.manualCombo->setCurrentIndex(0);
        const int got = s.exifButton->isChecked() ? 0 : s.exifAEBbutton->isChecked() ? 1 : s.autoButton->isChecked() ? 2 : -1;
        EXPECT_EQ(got, r.expected);
        EXPECT_EQ(exif.count() + aeb.count() + automatic.count(), r.expected < 0 ? 0 : 1);
    }
}
