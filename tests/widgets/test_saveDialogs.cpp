#include "app/programOptionsSettings.h"
#include "testSupport.h"
#include "widgets/saveDialogs.h"
#include "widgets/slider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>

namespace {

// A settings record published for the dialogs while the test runs.
struct optionsScope {
    programOptionsSettings options;
    optionsScope() { optionsInstance = &options; }
    ~optionsScope() { optionsInstance = nullptr; }
};

} // namespace

TEST(saveDialogs, formatFollowsTheNameAndPngHasNoPanel)
{
    optionsScope scope;
    const struct { const char *name; int format; bool jpeg; bool tiff; const char *title; } cases[] = {
        {"/x/a.JPG", 0, true, false, "Save as JPEG"},
        {"/x/a.tiff", 1, false, true, "Save as TIFF"},
        {"/x/a.png", 2, false, false, "Save as PNG"},
        {"/x/a", 2, false, false, "Save as PNG"},
    };
    for (const auto &c : cases) {
        saveResult dialog(nullptr, c.name);
        EXPECT_EQ(dialog.format, c.format) << c.name;
        EXPECT_EQ(dialog.jpegPanel != nullptr, c.jpeg) << c.name;
        EXPECT_EQ(dialog.tiffPanel != nullptr, c.tiff) << c.name;
        EXPECT_EQ(dialog.windowTitle(), QString(c.title));
    }
}

TEST(saveDialogs, panelsStartFromTheSettingsAndWriteThemBack)
{
    optionsScope scope;
    auto &s = scope.options.savingResult;
    s.jpegQuality = 85;
    s.tiffBitDepth = 2;
    s.tiffCompression = 1;
    s.transferExif = true;
    s.transferExifGPS = true;
    s.convertToSrgb = true;
    s.dpi = 240;
    scope.options.colorManagement.enabled = false;

    {
        saveResult dialog(nullptr, "a.jpg");
        saveOptsJpeg *p = dialog.jpegPanel;
        EXPECT_EQ(int(p->quality->value()), 85);
        EXPECT_EQ(p->dpi->value(), 240);
        EXPECT_TRUE(p->transferExif->isChecked());
        EXPECT_TRUE(p->gps->isEnabled());
        // Without colour management the sRGB box is disabled but keeps its state.
        EXPECT_FALSE(p->srgb->isEnabled());
        EXPECT_TRUE(p->srgb->isChecked());
        // Unchecking transfer EXIF disables GPS, which keeps its check state.
        p->transferExif->setChecked(false);
        EXPECT_FALSE(p->gps->isEnabled());
        EXPECT_TRUE(p->gps->isChecked());
        p->quality->setValue(92);
        p->dpi->setValue(72);
        dialog.saveSlot();
        EXPECT_EQ(dialog.result(), 1);
    }
    EXPECT_EQ(s.jpegQuality, 92);
    EXPECT_EQ(s.dpi, 72);
    EXPECT_FALSE(s.transferExif);
    EXPECT_TRUE(s.transferExifGPS);
    EXPECT_TRUE(s.convertToSrgb);

    {
        saveResult dialog(nullptr, "a.tif");
        saveOptsTiff *p = dialog.tiffPanel;
        EXPECT_EQ(p->bitDepth->currentIndex(), 1);
        EXPECT_EQ(p->compression->currentIndex(), 1);
        EXPECT_FALSE(p->gps->isEnabled());
        p->bitDepth->setCurrentIndex(0);
        p->compression->setCurrentIndex(2);
        dialog.extEditorSlot();
        EXPECT_EQ(dialog.result(), 2);
    }
    EXPECT_EQ(s.tiffBitDepth, 1);
    EXPECT_EQ(s.tiffCompression, 2);

    // PNG stores nothing.
    {
        saveResult dialog(nullptr, "a.png");
        s.dpi = 111;
        dialog.saveSlot();
    }
    EXPECT_EQ(s.dpi, 111);
}

TEST(saveDialogs, resizeKeepsTheAspectRatioAndNeverEnlarges)
{
    optionsScope scope;
    resizeResult group;
    EXPECT_FALSE(group.isChecked());
    group.setResultSize(4000, 3000);
    EXPECT_EQ(group.widthBox->value(), 4000);
    EXPECT_EQ(group.heightBox->value(), 3000);
    group.widthBox->setValue(1000);
    EXPECT_EQ(group.heightBox->value(), 750);
    group.heightBox->setValue(600);
    EXPECT_EQ(group.widthBox->value(), 800);
    group.widthBox->setValue(5000);   // beyond the result's width
    EXPECT_EQ(group.widthBox->value(), 4000);
    EXPECT_EQ(group.heightBox->value(), 3000);
}

TEST(saveDialogs, externalEditorButtonFollowsTheSetting)
{
    optionsScope scope;
    for (bool enabled : {false, true}) {
        scope.options.externalEditor.enabled = enabled;
        saveResult dialog(nullptr, "a.jpg");
        dialog.show();
        EXPECT_EQ(dialog.extEditorButton->isVisible(), enabled);
        dialog.done(0);
    }
}
