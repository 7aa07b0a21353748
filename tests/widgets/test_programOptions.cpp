// The program options dialog: every control shows its setting, OK writes
// every one back into the record and the store, the path checks stop OK, the
// free-space text, and the live tone-mapping rule.

#include "app/programOptionsSettings.h"
#include "platform/platformSettings.h"
#include "widgetTestSupport.h"
#include "widgets/pathEdit.h"
#include "widgets/programOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

class programOptionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platformSettings()->clear();
        options = std::make_unique<programOptionsSettings>();
        optionsInstance = options.get();
    }
    void TearDown() override
    {
        optionsInstance = nullptr;
        platformSettings()->clear();
    }
    std::unique_ptr<programOptionsSettings> options;
};

} // namespace

TEST_F(programOptionsTest, everySettingRoundTrips)
{
    programOptionsSettings *o = options.get();
    const QString scratch = testSupport::freshDir("scratch");
    o->scratchpad.standard = false;
    o->scratchpad.path = QDir::toNativeSeparators(scratch);
    o->performance.coreCount = 1;
    o->performance.coreCountBatch = 1;
    o->performance.liveAntiAliasing = true;
    o->performance.liveToneMapping = true;
    o->performance.liveToneMappingWhileZoomingAndPanning = true;
    o->performance.resample = 4;
    o->externalEditor.enabled = true;
    o->externalEditor.path = "/bin/sh";
    o->externalEditor.args = "\"%R\" -x";
    o->externalEditor.compression = 2;
    o->externalEditor.bitDepth = 2;
    o->externalEditor.transferExif = true;
    o->externalEditor.transferExifGPS = false;
    o->externalEditor.convertToSrgb = true;
    o->externalEditor.dpi = 600;
    o->savingResult.defaultOutputFileName = "%F_test";
    o->savingResult.hdrFormat = 2;
    o->savingResult.hdrNormalize = true;
    o->savingResult.hdrFormatTiffCompression = true;
    o->savingResult.saveToSourceDirByDefault = true;
    o->savingResult.hdrRemoveExpTime = false;
    o->loadRAW.useLibraw = true;
    o->newProject.resetColorAdjustment = true;
    o->newProject.showFileOpen = true;
    o->newProject.autoLDR = true;
    o->misc.zoomWithCtrl = true;
    o->openSaveDialogs.native = true;
    programOptionsSettings::writeSettings();

    messageRecorder boxes;
    programOptions d(nullptr, nullptr);
    d.show();
    EXPECT_TRUE(d.userDir->isChecked());
    EXPECT_EQ(QDir::cleanPath(QDir::fromNativeSeparators(d.scratchPath->path())), QDir::cleanPath(scratch));
    EXPECT_EQ(d.coreCount->currentIndex(), 0);
    EXPECT_TRUE(d.liveAntiAliasing->isChecked());
    EXPECT_TRUE(d.liveWhileZooming->isChecked());
    EXPECT_EQ(d.resample->currentText(), "1/4");
    EXPECT_TRUE(d.editorEnabled->isChecked());
    EXPECT_EQ(d.editorArgs->text(), "\"%R\" -x");
    EXPECT_EQ(d.editorCompression->currentIndex(), 2);
    EXPECT_EQ(d.editorBitDepth->currentIndex(), 1);
    EXPECT_FALSE(d.editorGps->isChecked());
    EXPECT_EQ(d.editorDpi->value(), 600);
    EXPECT_EQ(d.outputName->text(), "%F_test");
    EXPECT_EQ(d.hdrFormat->currentIndex(), 2);
    EXPECT_FALSE(d.hdrDeflate->isHidden());
    EXPECT_TRUE(d.saveToSourceDir->isChecked());
    EXPECT_FALSE(d.removeExpTime->isChecked());
    EXPECT_EQ(d.rawDecoder->currentIndex(), 1);
    for (QCheckBox *c : {d.resetColorAdjustment, d.showFileOpen, d.autoLdr, d.zoomWithCtrl, d.nativeDialogs})
        EXPECT_TRUE(c->isChecked()) << c->text().toStdString();

    // Every control changed, then OK.
    d.systemTemp->setChecked(true);
    d.liveAntiAliasing->setChecked(false);
    d.resample->setCurrentIndex(1);
    d.editorArgs->setText("%R");
    d.editorCompression->setCurrentIndex(1);
    d.editorBitDepth->setCurrentIndex(0);
    d.editorGps->setChecked(true);
    d.editorSrgb->setChecked(false);
    d.editorDpi->setValue(72);
    d.outputName->setText("%C%L_x%P");
    d.hdrFormat->setCurrentIndex(0);
    EXPECT_TRUE(d.hdrDeflate->isHidden());
    d.hdrNormalize->setChecked(false);
    d.saveToSourceDir->setChecked(false);
    d.removeExpTime->setChecked(true);
    d.rawDecoder->setCurrentIndex(0);
    for (QCheckBox *c : {d.resetColorAdjustment, d.showFileOpen, d.autoLdr, d.zoomWithCtrl, d.nativeDialogs})
        c->setChecked(false);
    d.writeSettingsAndClose();
    EXPECT_EQ(d.result(), int(QDialog::Accepted));
    EXPECT_TRUE(boxes.texts().join("|").contains("temporary directory change")) << boxes.texts().join("|").toStdString();

    EXPECT_TRUE(o->scratchpad.standard);
    EXPECT_FALSE(o->performance.liveAntiAliasing);
    EXPECT_EQ(o->performance.resample, 2);
    EXPECT_EQ(o->externalEditor.args, "%R");
    EXPECT_EQ(o->externalEditor.compression, 1);
    EXPECT_EQ(o->externalEditor.bitDepth, 1);
    EXPECT_TRUE(o->externalEditor.transferExifGPS);
    EXPECT_FALSE(o->externalEditor.convertToSrgb);
    EXPECT_EQ(o->externalEditor.dpi, 72);
    EXPECT_EQ(o->savingResult.defaultOutputFileName, "%C%L_x%P");
    EXPECT_EQ(o->savingResult.hdrFormat, 0);
    EXPECT_FALSE(o->savingResult.hdrNormalize);
    EXPECT_FALSE(o->savingResult.saveToSourceDirByDefault);
    EXPECT_TRUE(o->savingResult.hdrRemoveExpTime);
    EXPECT_FALSE(o->loadRAW.useLibraw);
    EXPECT_FALSE(o->newProject.resetColorAdjustment || o->newProject.showFileOpen || o->newProject.autoLDR
                 || o->misc.zoomWithCtrl || o->openSaveDialogs.native);
    // ... and they reached the store.
    auto store = platformSettings();
    EXPECT_EQ(store->value("ExternalEditor/Dpi").toInt(), 72);
    EXPECT_EQ(store->value("SavingResult/DefaultOutputFileName").toString(), "%C%L_x%P");
    EXPECT_EQ(store->value("Performance/Resample").toInt(), 2);
    EXPECT_FALSE(store->value("OpenSaveDialogs/Native").toBool());

    // Cancel after a new show leaves the record as OK left it.
    programOptions again(nullptr, nullptr);
    again.show();
    EXPECT_EQ(again.editorDpi->value(), 72);
    again.editorDpi->setValue(300);
    again.close();
    EXPECT_EQ(o->externalEditor.dpi, 72);
}

TEST_F(programOptionsTest, missingPathsStopOk)
{
    messageRecorder boxes;
    options->externalEditor.enabled = false;
    programOptionsSettings::writeSettings();
    programOptions d(nullptr, nullptr);
    d.show();
    // A user folder that has gone: error, back to the system folder, first tab.
    const QString gone = testSupport::freshDir("gone");
    d.userDir->setChecked(true);
    d.scratchPath->lineEdit()->setText(gone);
    QDir(gone).removeRecursively();
    d.tabs->setCurrentIndex(2);
    d.writeSettingsAndClose();
    ASSERT_FALSE(boxes.texts().isEmpty());
    EXPECT_EQ(boxes.texts().last(), "Directory does not exist. Switched to standard temp directory.");
    EXPECT_TRUE(d.systemTemp->isChecked());
    EXPECT_EQ(d.tabs->currentIndex(), 0);
    EXPECT_NE(d.result(), int(QDialog::Accepted));
    EXPECT_TRUE(options->scratchpad.standard);

    // An editor that does not exist: error, editor disabled, tab 3.
    d.editorEnabled->setChecked(true);
    d.editorPath->lineEdit()->setText(testSupport::scratchDir() + "/no-such-editor");
    d.writeSettingsAndClose();
    EXPECT_EQ(boxes.texts().last(), "File does not exist. External editor is disabled.");
    EXPECT_FALSE(d.editorEnabled->isChecked());
    EXPECT_EQ(d.tabs->currentIndex(), 3);
    EXPECT_FALSE(options->externalEditor.enabled);
}

TEST_F(programOptionsTest, freeSpaceTextAndLiveToneMappingRule)
{
    const struct {
        double mb;
        const char *text;
    } cases[] = {{1536, "Free space: 1.5 GB"}, {1023.9, "Free space: 1023 MB"}, {-1, "Free space: ?"},
                 {1024, "Free space: 1.0 GB"}};
    for (const auto &c : cases)
        EXPECT_EQ(programOptions::freeSpaceText(c.mb), c.text);

    options->performance.liveToneMapping = true;
    options->performance.resample = 3; // matches no item
    programOptionsSettings::writeSettings();
    messageRecorder boxes;
    programOptions d(nullptr, nullptr);
    d.show();
    EXPECT_TRUE(d.freeSpaceLabel->text().startsWith("Free space: "));
    d.resample->setCurrentIndex(2);
    d.liveWhileZooming->setChecked(true);
    d.liveToneMapping->setChecked(false);
    EXPECT_EQ(d.resample->currentIndex(), 0);
    EXPECT_FALSE(d.liveWhileZooming->isChecked());
    EXPECT_FALSE(d.resample->isEnabled());
}
