#include "app/programOptionsSettings.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/hdrLoadOptions.h"
#include "imageio/rawDecoder.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "testSupport.h"
#include "views/rawLoadWorkspace.h"
#include "widgets/slider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// A settings record for the test, published while it lives.
struct optionsScope {
    programOptionsSettings options;
    programOptionsSettings *saved = optionsInstance;
    optionsScope() { optionsInstance = &options; }
    ~optionsScope() { optionsInstance = saved; }
};

QStringList list(std::initializer_list<const char *> items)
{
    QStringList l;
    for (const char *i : items)
        l << i;
    return l;
}

} // namespace

TEST(rawLoadOptions, switchListTable)
{
    optionsScope scope;
    scope.options.colorManagement.enabled = false;
    rawLoadOptions dlg;
    // Defaults: "As shot", noise filter off, other options off, sRGB, full decode, orientation not kept.
    EXPECT_EQ(dlg.getDcrawArguments(false), list({"-w", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"}));
    EXPECT_EQ(dlg.getDcrawArguments(true), list({"-w", "-h", "-t", "0", "-W", "-c", "-q", "0", "-s", "0"}));
    EXPECT_DOUBLE_EQ(dlg.scaleFactor(), 1.0);

    struct step_t {
        const char *name;
        std::function<void()> change;
        bool preview;
        QStringList expect;
    };
    const step_t steps[] = {
        {"wavelet 3, median 0", [&] { dlg.noiseGroup()->setChecked(true); dlg.waveletSlider()->setValue(3); dlg.medianSlider()->setValue(0); },
         false, list({"-w", "-n", "105", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"})},
        {"median 2", [&] { dlg.medianSlider()->setValue(2); }, false,
         list({"-w", "-n", "105", "-m", "2", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"})},
        {"whole-image automatic", [&] { dlg.noiseGroup()->setChecked(false); dlg.whiteBalanceCombo()->setCurrentIndex(1); },
         false, list({"-a", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"})},
        {"selection without a sample point", [&] { dlg.whiteBalanceCombo()->setCurrentIndex(2); }, false,
         list({"-a", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"})},
        {"manual multipliers", [&] {
             dlg.whiteBalanceCombo()->setCurrentIndex(3);
             dlg.multiplierBox(0)->setValue(2.0); dlg.multiplierBox(1)->setValue(1.0); dlg.multiplierBox(2)->setValue(1.5); },
         false, list({"-r", "2", "1", "1.5", "1", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"})},
        {"other options, brightness 1", [&] { dlg.whiteBalanceCombo()->setCurrentIndex(0); dlg.otherGroup()->setChecked(true); },
         false, list({"-w", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"})},
        {"brightness 1.5, auto brightness, highlights", [&] {
             dlg.brightnessSlider()->setValue(1.5); dlg.autoBrightenBox()->setChecked(true); dlg.recoverHighlightsBox()->setChecked(true); },
         false, list({"-w", "-t", "0", "-H", "2", "-g", "5", "7", "-b", "1.5", "-c", "-q", "2", "-6", "-s", "0"})},
    };
    for (const step_t &s : steps) {
        s.change();
        EXPECT_EQ(dlg.getDcrawArguments(s.preview), s.expect) << s.name << ": " << dlg.getDcrawArguments(s.preview).join(' ').toStdString();
    }
    dlg.contrastSlider()->setValue(1.4);
    EXPECT_DOUBLE_EQ(dlg.scaleFactor(), 1.4);

    // Colour space with colour management on: "-o" index + 1 for a full
    // decode, only "-h" for a preview.
    scope.options.colorManagement.enabled = true;
    dlg.otherGroup()->setChecked(false);
    dlg.colorSpaceCombo()->setCurrentIndex(1); // AdobeRGB
    EXPECT_EQ(dlg.getDcrawArguments(false), list({"-w", "-o", "2", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0"}));
    EXPECT_EQ(dlg.getDcrawArguments(true), list({"-w", "-h", "-t", "0", "-W", "-c", "-q", "0", "-s", "0"}));
    // Keeping the orientation drops "-t 0".
    dlg.setOptions(4, false, false, false, false, 1.0, 1.0, false, 2, 1, true);
    EXPECT_EQ(dlg.getDcrawArguments(false), list({"-w", "-o", "4", "-W", "-c", "-q", "2", "-6", "-s", "0"}));
}

TEST(rawLoadOptions, dcrawVersionText)
{
    const QByteArray usage = "\nRaw photo decoder \"dcraw\" v9.28\r\nby Dave Coffin\n\nUsage: x\n-v\n-c\n";
    EXPECT_EQ(rawLoadOptions::dcrawVersionFromOutput(usage), "9.28");
    EXPECT_EQ(rawLoadOptions::dcrawVersionFromOutput(QByteArray(usage).replace("\r", "")), "9.28");
    EXPECT_EQ(rawLoadOptions::dcrawVersionFromOutput("Raw photo decoder \"dcraw\" v9.28\n"), "?");
    EXPECT_EQ(rawLoadOptions::dcrawVersionFromOutput("a\nb\nc\nd\ne\nRaw photo decoder \"dcraw\" v9.28\ng\n"), "?");
    if (!imageLoader::dcrawProgram().isEmpty()) {
        EXPECT_EQ(rawLoadOptions::getDcrawVersion(), "9.28");
    }
    EXPECT_FALSE(rawLoadOptions::getLibrawVersion().contains("Release"));
    EXPECT_FALSE(rawLoadOptions::getLibrawVersion().isEmpty());
}

TEST(rawLoadOptions, choosingAnotherFileSavesAndEnds)
{
    optionsScope scope;
    rawLoadOptions dlg;
    dlg.prepareImage({"/x/a.nef", "/x/b.nef", "/x/c.nef"}, "/x/a.nef", 100, 80, false, false);
    EXPECT_EQ(dlg.currentFileIndex(), 0);
    EXPECT_EQ(dlg.fileChooser()->count(), 3);
    EXPECT_EQ(dlg.fileChooser()->itemText(2), "c.nef");
    QTimer::singleShot(0, [&] {
        dlg.waveletSlider()->setValue(7);
        dlg.fileChooser()->setCurrentIndex(2);
    });
    EXPECT_EQ(dlg.exec(), 102);
    EXPECT_EQ(scope.options.loadRAW.noiseFilterWavelet, 7);
}

TEST(rawLoadOptions, previewAndEyedropperOnTheDng)
{
    LUMIDRA_REQUIRE_TESTDATA();
    optionsScope scope;
    const QString path = testSupport::testDataFile("raw/colorchart.dng");
    for (bool libraw : {true, false}) {
        SCOPED_TRACE(libraw ? "LibRaw" : "dcraw");
        scope.options.loadRAW.useLibraw = libraw;
        scope.options.loadRAW.autoPreview = true;
        int w = 0, h = 0, hw = 0, hh = 0;
        ASSERT_TRUE(imageLoader::getRAWinfo(path, w, h, &hw, &hh, nullptr, nullptr, nullptr, false, false));
        rawLoadOptions dlg;
        dlg.prepareImage({path}, path, hw, hh, false, false);
        EXPECT_TRUE(dlg.decoderNote()->text().contains(libraw ? "LIBRAW" : "DCRAW"));
        QSignalSpy shown(&dlg, &rawLoadOptions::previewShown);
        dlg.show(); // auto preview starts on show
        ASSERT_TRUE(shown.wait(60000));
        EXPECT_TRUE(dlg.isEnabled());
        EXPECT_TRUE(dlg.workspace()->canvas()->hasImage());
        const uint8_t *px = static_cast<const uint8_t *>(dlg.previewPyramid().levels[0].data);
        double sum = 0;
        for (size_t i = 0; i < size_t(hw) * hh * 3; ++i)
            sum += px[i];
        EXPECT_GT(sum / (double(hw) * hh * 3), 5.0);

        // The eyedropper: choosing "selection" previews again; a click in the
        // image sets the sample point and previews with "-A".
        dlg.whiteBalanceCombo()->setCurrentIndex(rawLoadOptions::AutoSelection);
        ASSERT_TRUE(shown.wait(60000));
        EXPECT_TRUE(dlg.workspace()->canvas()->eyedropperEnabled());
        rawLoadArea *canvas = dlg.workspace()->canvas();
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, canvas->rect().center());
        ASSERT_TRUE(shown.wait(60000));
        const QPoint p = canvas->samplePoint();
        EXPECT_GE(p.x(), 0);
        EXPECT_GE(p.y(), 0);
        const QStringList args = dlg.getDcrawArguments(true);
        ASSERT_EQ(args.first(), "-A");
        EXPECT_EQ(args[1], QString::number(2 * p.x() - 20));
        EXPECT_EQ(args[3], "40");
        dlg.reject();
    }
}

TEST(hdrLoadOptions, colourSpaceAndNoiseFilter)
{
    optionsScope scope;
    scope.options.loadHDR.colorSpace = 3;
    {
        // Colour management off: the group is greyed and shows sRGB; OK
        // leaves the stored colour space alone.
        scope.options.colorManagement.enabled = false;
        hdrLoadOptions dlg;
        QTimer::singleShot(0, [&] {
            EXPECT_FALSE(dlg.colorSpaceGroup()->isEnabled());
            EXPECT_EQ(dlg.colorSpaceCombo()->currentIndex(), 1);
            dlg.setColorSpace(4);
            dlg.okButton()->click();
        });
        EXPECT_EQ(dlg.exec(), QDialog::Accepted);
        EXPECT_EQ(scope.options.loadHDR.colorSpace, 3);
    }
    {
        // On: opens on the stored choice ("As embedded" for 0); OK stores it.
        scope.options.colorManagement.enabled = true;
        scope.options.loadHDR.colorSpace = 0;
        hdrLoadOptions dlg;
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(dlg.colorSpaceGroup()->isEnabled());
            EXPECT_EQ(dlg.colorSpaceCombo()->currentText(), "As embedded");
            dlg.setColorSpace(2);
            dlg.okButton()->click();
        });
        EXPECT_EQ(dlg.exec(), QDialog::Accepted);
        EXPECT_EQ(scope.options.loadHDR.colorSpace, 2);
    }
    {
        // Cancel changes nothing and tells the loader to stop.
        hdrLoadOptions dlg;
        QTimer::singleShot(0, [&] {
            dlg.setColorSpace(4);
            dlg.cancelButton()->click();
        });
        EXPECT_EQ(dlg.exec(), QDialog::Rejected);
        EXPECT_EQ(scope.options.loadHDR.colorSpace, 2);
    }
    // The embedded noise group reads and writes its own kind's settings.
    scope.options.loadHDR.noiseFilter = false;
    scope.options.loadHDR.noiseFilterStrength = 5;
    scope.options.generateHDR.noiseFilterStrength = 2;
    hdrLoadOptions dlg;
    EXPECT_FALSE(dlg.denoise()->isChecked());
    EXPECT_EQ(dlg.denoise()->strengthSlider()->value(), 5);
    dlg.denoise()->strengthSlider()->setValue(7);
    dlg.setPanorama(true);
    const denoiseSettings_t s = dlg.denoise()->getSettings();
    EXPECT_EQ(s.strength, 7);
    EXPECT_EQ(scope.options.loadHDR.noiseFilterStrength, 7);
    EXPECT_EQ(scope.options.generateHDR.noiseFilterStrength, 2);
    EXPECT_TRUE(dlg.panorama());
}
