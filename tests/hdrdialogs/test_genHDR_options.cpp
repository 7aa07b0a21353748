// The HDR option panels: which controls each method shows, the ghost-removal
// rule on the selectivity, the stored last settings, and the noise-filter
// groups of the three kinds keeping their own settings.

#include "app/programOptionsSettings.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/genHDR_options.h"
#include "testSupport.h"
#include "widgets/pathEdit.h"
#include "widgets/slider.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <memory>

namespace {

class hdrOptionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        options = std::make_unique<programOptionsSettings>();
        optionsInstance = options.get();
    }
    void TearDown() override { optionsInstance = nullptr; }
    std::unique_ptr<programOptionsSettings> options;
};

} // namespace

TEST(hdrOptionsRules, visibilityPerMethodAndMoreOptions)
{
    struct row_t {
        int method;
        bool more;
        bool moreEnabled, selectivity, smartMerge, ghostAndSave;
    } rows[] = {
        {hdrMethodTrueHdr, false, true, false, false, true},
        {hdrMethodTrueHdr, true, true, true, false, true},
        {hdrMethodSmartMerge, false, true, false, false, false},
        {hdrMethodSmartMerge, true, true, false, true, false},
        {hdrMethodStack, false, false, false, false, false},
        {hdrMethodStack, true, false, false, false, false},
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(testing::Message() << "method " << r.method << " more " << r.more);
        const hdrOptionsVisibility_t v = hdrOptionsVisibility(r.method, r.more);
        EXPECT_EQ(v.moreOptionsEnabled, r.moreEnabled);
        EXPECT_EQ(v.selectivity, r.selectivity);
        EXPECT_EQ(v.smartMerge, r.smartMerge);
        EXPECT_EQ(v.ghostAndSave, r.ghostAndSave);
    }
    for (int stored : {-1, 0, 3, 4, 1000})
        EXPECT_EQ(validSelectivity(stored), stored >= 0 && stored <= 3 ? stored : SELECTIVITY_BALANCED) << stored;
}

TEST_F(hdrOptionsTest, dialogPanelFollowsTheMethod)
{
    genHDR_options panel(genHDR_options::DialogVariant);
    QSignalSpy changed(&panel, &genHDR_options::changed);
    ASSERT_TRUE(panel.deghost && panel.hdrPath && panel.description);
    EXPECT_EQ(panel.methodCombo->count(), 3);
    EXPECT_EQ(panel.methodCombo->property("strong").toString().toStdString(), "true");

    panel.moreOptionsButton->setChecked(true);
    panel.moreOptionsButton->click(); // unchecks
    panel.moreOptionsButton->click(); // checks again
    EXPECT_FALSE(panel.selectivity->isHidden());
    EXPECT_TRUE(panel.smartMerge->isHidden());
    EXPECT_FALSE(panel.deghost->isHidden());

    panel.methodCombo->setCurrentIndex(hdrMethodSmartMerge);
    EXPECT_TRUE(panel.selectivity->isHidden());
    EXPECT_FALSE(panel.smartMerge->isHidden());
    EXPECT_TRUE(panel.deghost->isHidden());
    EXPECT_TRUE(panel.saveHdrCheck->isHidden());
    EXPECT_EQ(panel.description->text(), genHDR_options::methodDescription(hdrMethodSmartMerge));

    panel.methodCombo->setCurrentIndex(hdrMethodStack);
    EXPECT_FALSE(panel.moreOptionsButton->isEnabled());
    EXPECT_TRUE(panel.selectivity->isHidden());
    EXPECT_TRUE(panel.smartMerge->isHidden());
    EXPECT_TRUE(panel.hdrPath->isHidden());
    EXPECT_FALSE(panel.denoise->isHidden()) << "the noise filter stays for every method";
    EXPECT_GE(changed.count(), 2);

    // The path editor works only while saving is asked for.
    panel.methodCombo->setCurrentIndex(hdrMethodTrueHdr);
    panel.saveHdrCheck->setChecked(true);
    EXPECT_TRUE(panel.hdrPath->isEnabled());
    panel.saveHdrCheck->setChecked(false);
    EXPECT_FALSE(panel.hdrPath->isEnabled());
}

TEST_F(hdrOptionsTest, ghostRemovalTakesSelectivityNoneAway)
{
    for (int variant : {int(genHDR_options::DialogVariant), int(genHDR_options::BatchVariant)}) {
        SCOPED_TRACE(variant);
        genHDR_options panel(variant);
        QRadioButton *none = panel.selectivity->buttons[0];
        none->setChecked(true);
        EXPECT_EQ(panel.selectivity->getSelectivity(), 0);
        if (panel.deghost)
            panel.deghost->click();
        else
            panel.ghostGroup->setChecked(true);
        EXPECT_EQ(panel.selectivity->getSelectivity(), SELECTIVITY_BALANCED);
        EXPECT_FALSE(none->isEnabled());
        panel.selectivity->buttons[3]->setChecked(true);
        if (panel.deghost)
            panel.deghost->click();
        else
            panel.ghostGroup->setChecked(false);
        EXPECT_TRUE(none->isEnabled());
        EXPECT_EQ(panel.selectivity->getSelectivity(), 3) << "turning it off changes no selection";
    }
}

TEST_F(hdrOptionsTest, lastSettingsAreLoaded)
{
    struct row_t {
        int method, selectivity;
        bool moreStored;
        int expectedMethod, expectedSelectivity;
        bool expectedMore;
    } rows[] = {
        {0, 2, false, 0, 2, false}, // Balanced without "More options": both sub-panels hidden
        {0, 0, false, 0, 0, true},  // another selectivity opens "More options"
        {1, 2, true, 1, 2, true},
        {7, 9, false, 0, 2, false}, // out of range: True HDR, Balanced
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(testing::Message() << r.method << "/" << r.selectivity);
        options->generateHDR.method = r.method;
        options->generateHDR.trueHDR_selectivity = r.selectivity;
        options->generateHDR.moreOptions = r.moreStored;
        options->generateHDR.smartMerge_strength = 4;
        genHDR_options panel(genHDR_options::DialogVariant);
        EXPECT_EQ(panel.method(), r.expectedMethod);
        EXPECT_EQ(panel.selectivity->getSelectivity(), r.expectedSelectivity);
        EXPECT_EQ(panel.moreOptionsButton->isChecked(), r.expectedMore);
        EXPECT_EQ(int(panel.smartMerge->strength->value()), 4);
        if (!r.expectedMore) {
            EXPECT_TRUE(panel.selectivity->isHidden());
            EXPECT_TRUE(panel.smartMerge->isHidden());
        }
    }
}

TEST_F(hdrOptionsTest, batchVariantReportsEveryChange)
{
    genHDR_options panel(genHDR_options::BatchVariant);
    ASSERT_TRUE(panel.ghostGroup && panel.panoramaCheck && panel.evSelection);
    EXPECT_EQ(panel.deghost, nullptr);
    EXPECT_EQ(panel.ghostBaseCombo->currentIndex(), 0);
    EXPECT_EQ(panel.ghostStrength->value(), 4);
    EXPECT_EQ(panel.ghostSmoothness->value(), 5);
    QSignalSpy changed(&panel, &genHDR_options::changed);
    panel.ghostGroup->setChecked(true);
    panel.ghostStrength->setValue(7);
    panel.ghostRepair->click();
    panel.ghostBaseCombo->setCurrentIndex(1);
    panel.panoramaCheck->click();
    panel.saveHdrCheck->click();
    panel.denoise->strengthSlider()->setValue(5);
    EXPECT_EQ(changed.count(), 7);
}

TEST_F(hdrOptionsTest, noiseFilterKindsKeepTheirOwnSettings)
{
    options->generateHDR.noiseFilter = true;
    options->generateHDR.noiseFilterStrength = 3;
    options->generateHDR.noiseFilterSoftness = 4;
    options->enhanceLDR.noiseFilter = false;
    options->enhanceLDR.noiseFilterStrength = 6;
    options->enhanceLDR.noiseFilterSoftness = 7;
    options->loadHDR.noiseFilter = true;
    options->loadHDR.noiseFilterStrength = 9;
    options->loadHDR.noiseFilterSoftness = 1;
    genHDR_denoise hdr(0), load(1), ldr(2);
    EXPECT_EQ(hdr.title().toStdString(), "Noise filtering");
    EXPECT_TRUE(hdr.isCheckable());
    EXPECT_TRUE(hdr.isChecked());
    EXPECT_EQ(int(hdr.strengthSlider()->value()), 3);
    EXPECT_FALSE(ldr.isChecked());
    EXPECT_EQ(int(ldr.softnessSlider()->value()), 7);
    EXPECT_EQ(int(load.strengthSlider()->value()), 9);

    QSignalSpy changed(&ldr, &genHDR_denoise::changed);
    ldr.setChecked(true);
    ldr.strengthSlider()->setValue(10);
    ldr.getSettings();
    EXPECT_TRUE(options->enhanceLDR.noiseFilter);
    EXPECT_EQ(options->enhanceLDR.noiseFilterStrength, 10);
    // The other kinds' stored values are untouched.
    EXPECT_EQ(options->generateHDR.noiseFilterStrength, 3);
    EXPECT_EQ(options->loadHDR.noiseFilterStrength, 9);
    EXPECT_GE(changed.count(), 1);

    // The sliders hold 1..10, default 2.
    EXPECT_EQ(hdr.strengthSlider()->defaultValue(), 2);
    hdr.strengthSlider()->setValue(50);
    EXPECT_LE(hdr.strengthSlider()->value(), 10);
}
