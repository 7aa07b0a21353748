#include "project/processingParamsTable.h"

#include <QSet>
#include <gtest/gtest.h>

// A few fields written out by hand, so that a slip in the table shows.
TEST(processingParamsTable, knownFieldsHaveTheirKeysLabelsRangesAndDefaults)
{
    struct expected_t
    {
        const char *key;
        const char *label;
        double minimum, maximum, defaultValue;
        int decimals;
        processingPanel_e panel;
    };
    const expected_t cases[] = {
        {"GlobalOp/Compression", "Compression", 0.1, 4.0, 1.4, 2, processingPanel_e::toneMapping},
        {"GlobalOp/Gamma", "Gamma", 0.1, 4.0, 0.9, 2, processingPanel_e::toneMapping},
        {"LocalContrastOp/Range", "Range", 0.0, 1.0, 0.5, 2, processingPanel_e::toneMapping},
        {"MaskOp/Enabled", "Mask", 0.0, 1.0, 0.0, 0, processingPanel_e::toneMapping},
        {"HistogramClip/WhitePoint", "", 0.0, 99.9999, 0.0, 4, processingPanel_e::levels},
        {"HistogramClip/WhitePointValue", "", 0.0, 1.0, 1.0, 4, processingPanel_e::levels},
        {"ColorAdjust/Tint", "Tint", 0.0, 2.0, 1.0, 2, processingPanel_e::colorAdjustment},
        {"Vignette/Amount", "Amount", -1.0, 1.0, 0.0, 2, processingPanel_e::vignette},
        {"Vignette/Smoothness", "Smoothness", 0.0, 2.0, 1.0, 2, processingPanel_e::vignette},
        {"Vignette/CenterY", "", 0.0, 1.0, 0.5, 6, processingPanel_e::vignette},
        {"Saturation/Saturation", "Saturation", 0.0, 2.0, 1.0, 2, processingPanel_e::colorSaturation},
    };
    for (const expected_t &e : cases) {
        SCOPED_TRACE(e.key);
        const processingParamField_t *f = processingParamField(e.key);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->key(), QString(e.key));
        EXPECT_STREQ(f->label, e.label);
        EXPECT_DOUBLE_EQ(f->minimum, e.minimum);
        EXPECT_DOUBLE_EQ(f->maximum, e.maximum);
        EXPECT_DOUBLE_EQ(f->defaultValue, e.defaultValue);
        EXPECT_EQ(f->decimals, e.decimals);
        EXPECT_EQ(f->panel, e.panel);
    }
    EXPECT_EQ(processingParamField("GlobalOp/compression"), nullptr); // keys are case-sensitive
    EXPECT_EQ(processingParamField("Curve/Type"), nullptr);           // curves are not scalar fields
    EXPECT_EQ(processingParamField(""), nullptr);
}

TEST(processingParamsTable, keysAndMembersAreUniqueAndRangesHoldTheirDefaults)
{
    QSet<QString> keys;
    QSet<const void *> members;
    processingParams_t probe;
    for (const processingParamField_t &f : processingParamFields()) {
        SCOPED_TRACE(f.key().toStdString());
        EXPECT_FALSE(keys.contains(f.key()));
        keys.insert(f.key());
        ASSERT_TRUE((f.doubleMember == nullptr) != (f.flagMember == nullptr));
        const void *address = f.isFlag() ? static_cast<const void *>(&(probe.*f.flagMember))
                                         : static_cast<const void *>(&(probe.*f.doubleMember));
        EXPECT_FALSE(members.contains(address));
        members.insert(address);
        EXPECT_LT(f.minimum, f.maximum);
        EXPECT_TRUE(f.inRange(f.defaultValue));
        if (f.isFlag()) {
            EXPECT_EQ(f.decimals, 0);
        }
    }
    EXPECT_EQ(keys.size(), 28);
}

// The record starts neutral; the panels' default buttons set a pleasant look.
// Where both mean "no change" they must agree.
TEST(processingParamsTable, defaultsMatchANeutralRecordWhereTheyShould)
{
    const QSet<QString> panelDefaultDiffers{
        "GlobalOp/Compression",      "GlobalOp/Gamma",         "LocalContrastOp/Strength",
        "LocalContrastOp/Highlights", "LocalContrastOp/Shadows", "LocalContrastOp/Blackness",
        "LocalContrastOp/Micro",     "MaskOp/Highlights",      "MaskOp/Shadows",
        "Other/Sharpness",           "Vignette/Smoothness",    "Vignette/Size"};
    const processingParams_t neutral;
    for (const processingParamField_t &f : processingParamFields()) {
        SCOPED_TRACE(f.key().toStdString());
        if (panelDefaultDiffers.contains(f.key())) {
            EXPECT_NE(f.get(neutral), f.defaultValue);
        } else {
            EXPECT_DOUBLE_EQ(f.get(neutral), f.defaultValue);
        }
    }
}

TEST(processingParamsTable, getAndSetReachTheRecordsFields)
{
    processingParams_t p;
    processingParamField("ColorAdjust/Hue")->set(p, 1.25);
    EXPECT_DOUBLE_EQ(p.hue, 1.25);
    processingParamField("Vignette/CenterX")->set(p, 0.125);
    EXPECT_DOUBLE_EQ(p.vignetteCenterX, 0.125);
    EXPECT_DOUBLE_EQ(processingParamField("Vignette/CenterX")->get(p), 0.125);

    const processingParamField_t *lc = processingParamField("LocalContrastOp/Enabled");
    lc->set(p, 2.0); // any non-zero value is on
    EXPECT_TRUE(p.lcEnabled);
    EXPECT_DOUBLE_EQ(lc->get(p), 1.0);
    lc->set(p, 0.0);
    EXPECT_FALSE(p.lcEnabled);

    processingParamField("HistogramClip/BlackPoint")->set(p, 0.1234);
    EXPECT_DOUBLE_EQ(p.blackPoint, 0.1234);
    EXPECT_DOUBLE_EQ(p.clippedBelow, 0.0); // the loaded clip is a separate field
}
