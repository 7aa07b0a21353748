// The sample/target balance panel: eyedroppers (modes 4-6), samples, copying
// the sample to the target, the picker, the row reset and the record it hands
// to the worker.

#include "panels/sampleTargetBalanceGroup.h"
#include "panelTestSupport.h"
#include "widgets/colorPicker.h"
#include "widgets/colorSample.h"

#include <QPushButton>
#include <QSignalSpy>

namespace {

class sampleTargetBalanceGroupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        panelProject::get();
        panel.reset(new sampleTargetBalanceGroup("Sample/target balance"));
        panel->resize(360, 260);
        panel->show();
        panel->setOpened(true);
        QApplication::processEvents();
    }
    std::unique_ptr<sampleTargetBalanceGroup> panel;
};

rgbDouble_t rgb(double r, double g, double b)
{
    rgbDouble_t v;
    v.r = r;
    v.g = g;
    v.b = b;
    return v;
}

} // namespace

TEST_F(sampleTargetBalanceGroupTest, startsClosedBlackAndNeutral)
{
    sampleTargetBalanceGroup fresh("Sample/target balance");
    EXPECT_FALSE(fresh.isOpened());
    EXPECT_FALSE(fresh.undoButton->isEnabled());
    EXPECT_DOUBLE_EQ(fresh.opacity->value(), 1.0);
    EXPECT_DOUBLE_EQ(fresh.opacity->spinBox()->minimum(), 0.01);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(fresh.sample[r]->primaryColor(), QColor(Qt::black));
        EXPECT_EQ(fresh.target[r]->primaryColor(), QColor(Qt::black));
        EXPECT_TRUE(fresh.sample[r]->isClickable());
        EXPECT_FALSE(fresh.sample[r]->isDual());
        EXPECT_TRUE(fresh.target[r]->property("myFrameHover").toBool());
        EXPECT_FALSE(fresh.eyedropper[r]->isChecked());
    }
    const postProcessParams_t p = fresh.parameters();
    EXPECT_EQ(p.filter, POSTPROCESS_SAMPLE_TARGET);
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(p.sample[c][r], 0.0);
            EXPECT_EQ(p.target[c][r], 0.0);
        }
}

TEST_F(sampleTargetBalanceGroupTest, eyedroppersSelectModesFourToSixInRowOrder)
{
    QSignalSpy mode(panel.get(), &sampleTargetBalanceGroup::sampleModeChanged);
    QTest::mouseClick(panel->eyedropper[1], Qt::LeftButton);
    QTest::mouseClick(panel->eyedropper[1], Qt::LeftButton);
    QTest::mouseClick(panel->eyedropper[2], Qt::LeftButton);
    // Two checked at once (the window has not unchecked the other yet): the
    // order Shadows, Midtones, Highlights decides.
    QTest::mouseClick(panel->eyedropper[0], Qt::LeftButton);
    QList<int> modes;
    for (const auto &args : mode)
        modes << args.at(0).toInt();
    EXPECT_EQ(modes, (QList<int>{5, 0, 6, 4}));
    panel->uncheckEyedroppers();
    EXPECT_EQ(mode.count(), 4) << "unchecking from outside is silent";
    for (QPushButton *b : panel->eyedropper)
        EXPECT_FALSE(b->isChecked());
}

TEST_F(sampleTargetBalanceGroupTest, aSampleStartsNeutralAndTheRecordCarriesBothColours)
{
    panel->takeSample(5, rgb(0.2, 0.4, 0.6));
    panel->takeSample(3, rgb(1, 1, 1)); // not this panel's mode
    panel->takeSample(7, rgb(1, 1, 1));
    EXPECT_EQ(panel->sample[1]->primaryColor(), QColor::fromRgbF(0.2, 0.4, 0.6));
    EXPECT_EQ(panel->target[1]->primaryColor(), panel->sample[1]->primaryColor());
    EXPECT_EQ(panel->sample[0]->primaryColor(), QColor(Qt::black));
    typeValue(panel->opacity, 0.35);
    const postProcessParams_t p = panel->parameters();
    EXPECT_DOUBLE_EQ(p.opacity, 0.35);
    const QColor c = panel->sample[1]->primaryColor();
    EXPECT_DOUBLE_EQ(p.sample[0][1], c.redF());
    EXPECT_DOUBLE_EQ(p.sample[1][1], c.greenF());
    EXPECT_DOUBLE_EQ(p.sample[2][1], c.blueF());
    EXPECT_DOUBLE_EQ(p.target[2][1], c.blueF());
    EXPECT_EQ(p.sample[0][0], 0.0);
}

TEST_F(sampleTargetBalanceGroupTest, pickerSetsTheTargetAndASampleClickCopiesTheSampleBack)
{
    panel->takeSample(6, rgb(0.9, 0.8, 0.7));
    const QColor picked = QColor::fromHsvF(0.55, 0.5, 0.75);
    onModal([picked](QWidget *w) {
        auto *picker = qobject_cast<colorPicker *>(w);
        ASSERT_NE(picker, nullptr);
        picker->editor()->setColor(picked);
        picker->okButton()->click();
    });
    QTest::mouseClick(panel->target[2], Qt::LeftButton);
    // Without colour management the picked colour is stored as it is.
    EXPECT_EQ(panel->target[2]->primaryColor().rgb(), picked.rgb());
    EXPECT_DOUBLE_EQ(panel->parameters().target[1][2], panel->target[2]->primaryColor().greenF());

    // A cancelled picker leaves the target alone.
    onModal([](QWidget *w) { qobject_cast<colorPicker *>(w)->cancelButton()->click(); });
    QTest::mouseClick(panel->target[2], Qt::LeftButton);
    EXPECT_EQ(panel->target[2]->primaryColor().rgb(), picked.rgb());

    // Clicking the sample copies its working colour to the target.
    QTest::mouseClick(panel->sample[2], Qt::LeftButton);
    EXPECT_EQ(panel->target[2]->primaryColor(), panel->sample[2]->primaryColor());

    // The row reset makes both black; other rows stay.
    panel->takeSample(4, rgb(0.1, 0.1, 0.2));
    QTest::mouseClick(panel->resetButton[2], Qt::LeftButton);
    EXPECT_EQ(panel->sample[2]->primaryColor(), QColor(Qt::black));
    EXPECT_EQ(panel->target[2]->primaryColor(), QColor(Qt::black));
    EXPECT_NE(panel->sample[0]->primaryColor(), QColor(Qt::black));
}

TEST_F(sampleTargetBalanceGroupTest, blackSwatchesLeaveTheImageAsItWas)
{
    std::vector<quint16> img(32 * 16 * 3);
    for (size_t i = 0; i < img.size(); ++i)
        img[i] = quint16((i * 2654435761u) >> 16);
    const std::vector<quint16> before = img;
    ASSERT_TRUE(applyPostProcessFilter(img.data(), 32, 16, panel->parameters(), 2));
    for (size_t i = 0; i < img.size(); ++i)
        ASSERT_LE(std::abs(int(img[i]) - int(before[i])), 1) << i;
}
