// The Generate HDR dialog: the stage order, progress arithmetic, what the
// dialog offers for one or several photos, a run to its end, a run broken
// off with Break (the project is left as before), and a failed merge that
// is reported and never handed on.

#include "windowFixture.h"

#include "app/sharedFlags.h"
#include "documents/presetThumbWorker.h"
#include "documents/settingsFile.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/genHDR_options.h"
#include "hdrdialogs/generateHDR.h"
#include "hdr/generateHDRworker.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "project/processingProject.h"
#include "views/mainImageArea.h"
#include "views/mainWorkspace.h"
#include "views/navigator.h"
#include "widgets/myQTabWidget.h"
#include "widgets/slider.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

bool waitForLoading(mainWindow &w)
{
    QElapsedTimer timer;
    timer.start();
    while ((w.loadingInProgress || w.anyLoadRunning()) && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();
    return !w.loadingInProgress && !w.anyLoadRunning();
}

// Mean of the 8-bit samples of an RGB buffer.
double meanLevel(const uint8_t *rgb, size_t samples)
{
    double sum = 0;
    for (size_t i = 0; i < samples; ++i)
        sum += rgb[i];
    return samples ? sum / double(samples) : 0.0;
}

double meanLevel(const QImage &image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            sum += qRed(c) + qGreen(c) + qBlue(c);
        }
    return image.isNull() ? 0.0 : sum / (3.0 * image.width() * image.height());
}

bool waitForRun(generateHDR &d)
{
    QElapsedTimer timer;
    timer.start();
    while (d.running() && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return !d.running();
}

// A small synthetic bracket: one scene (a gradient with a dark and a bright
// patch) taken at three exposures, without EXIF.
QStringList syntheticBracket(int count = 3, int width = 192, int height = 128)
{
    const QString dir = testSupport::freshDir("bracket");
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const double gain = std::pow(4.0, i - (count - 1) / 2.0);
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double v = 0.02 + 0.5 * x / width;
                if (x > width / 2 && y < height / 3)
                    v = 2.0; // a lamp
                const int c = int(std::clamp(std::pow(std::min(1.0, v * gain), 1 / 2.2) * 255, 0.0, 255.0));
                image.setPixel(x, y, qRgb(c, c, std::max(0, c - 10)));
            }
        const QString path = dir + QString("/b_%1.png").arg(i);
        image.save(path);
        files << path;
    }
    return files;
}

class generateHdrTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        hdrBreakFlag = false;
    }
    void TearDown() override
    {
        hdrBreakFlag = false;
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        mainWindowTest::TearDown();
    }
    // A window holding the photos; the dialog that opened after loading was
    // cancelled by the fixture's hook.
    void loadInto(mainWindow &w, const QStringList &files)
    {
        w.show();
        ASSERT_TRUE(w.addImages(files));
        ASSERT_TRUE(waitForLoading(w));
        ASSERT_EQ(w.project->photos.size(), files.size());
    }
};

} // namespace

TEST(generateHdrRules, stageOrder)
{
    struct row_t {
        int from;
        hdrStageConditions_t c;
        int expected;
    } rows[] = {
        {0, {true, true, false, false, false}, hdrStageLens},
        {0, {false, true, false, false, false}, hdrStageAlign},
        {0, {false, false, false, false, false}, hdrStagePrepare},
        {0, {true, true, true, false, false}, hdrStageAlign},   // already lens-corrected
        {0, {true, true, false, true, false}, hdrStagePrepare}, // aligned: neither lens nor alignment
        {1, {true, true, false, false, false}, hdrStageAlign},
        {2, {true, true, false, false, false}, hdrStagePrepare},
        {3, {true, true, false, false, false}, hdrStageMerge},
        {0, {false, true, false, false, true}, hdrStageMerge},  // LDR: no alignment, no preparation
        {0, {true, true, false, false, true}, hdrStageLens},    // LDR with lens correction
        {1, {true, true, false, false, true}, hdrStageMerge},
    };
    for (const row_t &r : rows)
        EXPECT_EQ(nextHdrStage(r.from, r.c), r.expected) << "from " << r.from;
}

TEST(generateHdrRules, progressArithmetic)
{
    // (n - 1) * (H + H/4) + n * H + 2H, with H/4 truncated.
    EXPECT_EQ(hdrRunProgressMax(3, 600, 401, false), 2u * (401 + 100) + 3u * 401 + 2 * 401);
    EXPECT_EQ(hdrRunProgressMax(3, 600, 401, true), hdrRunProgressMax(3, 600, 401, false) + 3u * 401);
    EXPECT_EQ(ldrRunProgressMax(600, 400, false), 400u);
    EXPECT_EQ(ldrRunProgressMax(600, 400, true), 400u + 30 * 400 + 15 * 600);
    EXPECT_EQ(mergeProgressMax(3, 600, 400, false, false, false, false), 4000u);
    EXPECT_EQ(mergeProgressMax(3, 600, 400, true, true, true, true),
              4000u + 3 * 1000 + 3 * 3 * 400 + (30 * 400 + 15 * 600) + 400);
    // 64-bit: a 400-megapixel panorama of 9 photos does not wrap.
    EXPECT_GT(hdrRunProgressMax(9, 40000, 10000, true), 100000u);
    struct row_t {
        uint64_t counter, max;
        int percent;
    } rows[] = {{0, 0, 0}, {5, 0, 100}, {1, 1, 100}, {50, 200, 25}, {500, 200, 100},
                {uint64_t(1) << 40, uint64_t(1) << 41, 50}};
    for (const row_t &r : rows)
        EXPECT_EQ(hdrProgressPercent(r.counter, r.max), r.percent) << r.counter << "/" << r.max;
}

TEST_F(generateHdrTest, offersWhatThePhotoCountAllows)
{
    mainWindow w;
    loadInto(w, syntheticBracket(3));
    generateHDR *d = w.generateHdrDialog();
    d->initFromProject();
    EXPECT_FALSE(d->alignGroup->isHidden());
    EXPECT_FALSE(d->options->isHidden());
    EXPECT_FALSE(d->generateButton->isHidden());
    EXPECT_TRUE(d->ldrButton->isHidden());
    EXPECT_TRUE(d->ldrDenoise->isHidden());
    EXPECT_TRUE(d->progressBar->isHidden());

    // One photo left in: only the LDR enhancement.
    for (int i = 1; i < w.project->photos.size(); ++i)
        w.project->photos[i].included = 0;
    d->initFromProject();
    EXPECT_TRUE(d->alignGroup->isHidden());
    EXPECT_TRUE(d->generateButton->isHidden());
    EXPECT_FALSE(d->ldrButton->isHidden());
    EXPECT_FALSE(d->ldrDenoise->isHidden());
}

TEST_F(generateHdrTest, workerOptionsFollowTheControls)
{
    mainWindow w;
    loadInto(w, syntheticBracket(3));
    generateHDR *d = w.generateHdrDialog();
    d->initFromProject();
    d->options->setMethod(hdrMethodSmartMerge);
    d->options->smartMerge->strength->setValue(3);
    denoiseSettings_t n;
    n.enabled = true;
    n.strength = 6;
    n.softness = 8;
    d->options->denoise->setSettings(n);
    const generateHDRoptions_t o = d->workerOptions();
    EXPECT_EQ(o.project, w.project);
    EXPECT_EQ(o.method, hdrMethodSmartMerge);
    EXPECT_EQ(o.smartMergeStrength, 3);
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseFilterStrength, 6);
    EXPECT_EQ(o.noiseFilterSoftness, 8);
    EXPECT_FALSE(o.saveHDR);
    EXPECT_TRUE(o.notBatch);
}

TEST_F(generateHdrTest, aRunEndsAcceptedWithTheMergedImage)
{
    mainWindow w;
    loadInto(w, syntheticBracket(3));
    generateHDR *d = w.generateHdrDialog();
    d->initFromProject();
    d->alignAutoCheck->setChecked(false);
    const QString hdrFile = testSupport::freshDir("hdrOut") + "/merged.hdr";
    d->options->setMethod(hdrMethodTrueHdr);
    d->options->saveHdrCheck->setChecked(true);
    d->proposeHdrPath(hdrFile);
    d->generateHDRslot();
    EXPECT_TRUE(d->running());
    EXPECT_FALSE(d->generateButton->isEnabled()) << "controls are off while a stage runs";
    EXPECT_FALSE(d->progressBar->isHidden());
    ASSERT_TRUE(waitForRun(*d));
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_TRUE(d->failureText().isEmpty());
    EXPECT_TRUE(w.project->hdrState.hdrPresent);
    EXPECT_TRUE(w.project->hdrState.resultValid);
    EXPECT_TRUE(d->progressBar->isHidden());
    EXPECT_TRUE(QFileInfo(hdrFile).size() > 0) << "the HDR file is written when asked";
    EXPECT_EQ(d->savedHdrPath(), QDir::toNativeSeparators(hdrFile));
    // The choices are remembered for the next time.
    EXPECT_TRUE(options->generateHDR.saveHDRtoFile);
    EXPECT_FALSE(options->generateHDR.autoAlign);
}

TEST_F(generateHdrTest, breakLeavesTheProjectAsBefore)
{
    mainWindow w;
    loadInto(w, syntheticBracket(3));
    const int width = w.project->width, height = w.project->height;
    generateHDR *d = w.generateHdrDialog();
    d->initFromProject();
    d->alignAutoCheck->setChecked(true);
    d->generateHDRslot();
    ASSERT_TRUE(d->running());
    EXPECT_FALSE(d->breakButton->isHidden()) << "a person can break the run";
    d->breakButton->click();
    EXPECT_FALSE(d->breakButton->isEnabled());
    ASSERT_TRUE(waitForRun(*d));
    EXPECT_NE(d->result(), QDialog::Accepted);
    EXPECT_FALSE(hdrBreakFlag.load()) << "the flag is cleared once the stage has ended";
    EXPECT_TRUE(d->breakButton->isEnabled());
    EXPECT_TRUE(d->generateButton->isEnabled()) << "back to idle, the dialog stays open";
    EXPECT_FALSE(w.project->hdrState.hdrPresent);
    EXPECT_FALSE(w.project->hdrState.resultValid);
    EXPECT_FALSE(w.project->hdrState.aligned);
    EXPECT_EQ(w.project->width, width);
    EXPECT_EQ(w.project->height, height);
    EXPECT_TRUE(d->failureText().isEmpty()) << "a break is no failure";
    EXPECT_FALSE(QApplication::overrideCursor()) << "the busy cursor is gone";

    // A new run after the break comes to its end.
    d->generateHDRslot();
    ASSERT_TRUE(waitForRun(*d));
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_TRUE(w.project->hdrState.hdrPresent);
}

TEST_F(generateHdrTest, aFailedMergeIsReportedAndNeverHandedOn)
{
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic);
        mainWindow w;
        loadInto(w, syntheticBracket(3));
        generateHDR *d = w.generateHdrDialog();
        d->initFromProject();
        d->alignAutoCheck->setChecked(false);
        startParams.autoProcess = automatic;
        // No photo is left in the merge: the merge stage fails.
        for (photoInfo_t &p : w.project->photos)
            p.included = 0;
        messages.clear();
        d->setResult(0);
        d->generateHDRslot();
        ASSERT_TRUE(waitForRun(*d));
        EXPECT_NE(d->result(), QDialog::Accepted);
        EXPECT_FALSE(d->failureText().isEmpty());
        EXPECT_FALSE(w.project->hdrState.hdrPresent);
        EXPECT_FALSE(w.project->hdrState.resultValid);
        EXPECT_TRUE(d->generateButton->isEnabled());
        if (automatic) {
            EXPECT_TRUE(messages.empty()) << "no box in the automatic run";
        } else {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].kind, int(styledMessageBox::Error));
        }
        startParams.autoProcess = false;
    }
}

TEST_F(generateHdrTest, closingIsRefusedWhileAStageRuns)
{
    mainWindow w;
    loadInto(w, syntheticBracket(3));
    generateHDR *d = w.generateHdrDialog();
    d->show();
    QCoreApplication::processEvents();
    d->generateHDRslot();
    ASSERT_TRUE(d->running());
    d->reject();
    EXPECT_FALSE(d->close());
    EXPECT_TRUE(d->isVisible());
    ASSERT_TRUE(waitForRun(*d));
    EXPECT_FALSE(d->isVisible()) << "accepted at the end";
}

TEST_F(generateHdrTest, theWindowOpensTheDialogAfterLoadingAndTakesTheImageOver)
{
    int shown = 0;
    generateHDR::setExecHook([&shown](generateHDR *d) {
        ++shown;
        d->show();
        d->generateButton->click();
        waitForRun(*d);
        return d->result();
    });
    mainWindow w;
    loadInto(w, syntheticBracket(3));
    EXPECT_EQ(shown, 1) << "loading photos opens the dialog once";
    EXPECT_TRUE(w.project->hdrState.hdrPresent);
    EXPECT_EQ(w.requestedExitCode, 0);
    // The merged image goes on to the tone-mapping preparation; switching to
    // the tone-mapping tab on the way does not ask for a merge again.
    QElapsedTimer timer;
    timer.start();
    while (!w.project->prepared && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(w.project->prepared);
    EXPECT_EQ(shown, 1) << "the dialog does not open again over the handed-over image";

    // In the automatic run a merge that did not come about ends the program
    // with a non-zero code; nothing goes on to tone mapping.
    startParams.autoProcess = true;
    startParams.outputFn = testSupport::freshDir("autoOut") + "/r.jpg";
    generateHDR::setExecHook([](generateHDR *) { return 0; });
    mainWindow automatic;
    automatic.show();
    ASSERT_TRUE(automatic.addImages(syntheticBracket(3)));
    waitForLoading(automatic);
    EXPECT_EQ(automatic.requestedExitCode, 3);
    EXPECT_FALSE(automatic.project->hdrState.hdrPresent);
    EXPECT_FALSE(QFileInfo::exists(startParams.outputFn));
}

TEST_F(generateHdrTest, anInteractiveMergeOfARealBracketShowsTheToneMappedResult)
{
    // The room bracket (seven photos, exposure times in EXIF), aligned in the
    // dialog (the alignment stage shows the photos "before" while it runs),
    // with the built-in default look: the view must end up showing the
    // tone-mapped picture of that look, not the merged image as it is.
    LUMIDRA_REQUIRE_TESTDATA();
    const QDir room(testSupport::testDataDir() + "/brackets/room_7exp");
    QStringList files;
    for (const QString &name : room.entryList({"*.jpg"}, QDir::Files, QDir::Name))
        files << room.absoluteFilePath(name);
    if (files.size() != 7)
        GTEST_SKIP() << "room bracket not found in the sample folder";
    const QString presets = testSupport::sourceDir() + "/resources/built-in presets/";
    processingParams_t defaultLook, neutralLook;
    ASSERT_EQ(loadSettingsFile(presets + "default.lmsx", &defaultLook), SETTINGS_LOADED);
    ASSERT_EQ(loadSettingsFile(presets + "none.lmsx", &neutralLook), SETTINGS_LOADED);
    options->misc.defaultToneMappingSettings = presets + "default.lmsx";
    options->colorManagement.enabled = false;

    int shown = 0;
    generateHDR::setExecHook([&shown](generateHDR *d) {
        ++shown;
        d->show();
        d->alignAutoCheck->setChecked(true);
        d->generateButton->click();
        waitForRun(*d);
        return d->result();
    });
    mainWindow w;
    w.resize(1100, 750);
    loadInto(w, files);
    processingProject &p = *w.project;
    ASSERT_TRUE(waitFor([&] {
        return p.prepared && !toneMappingRunning.load() && !w.toneMappingPending() && !w.toneMappingPreparing();
    }));
    ASSERT_EQ(shown, 1);
    ASSERT_TRUE(p.hdrState.aligned) << "the alignment stage ran";
    double lowest = p.photos.first().ev, highest = lowest;
    for (const photoInfo_t &photo : p.photos) {
        lowest = std::min(lowest, photo.ev);
        highest = std::max(highest, photo.ev);
    }
    EXPECT_GT(highest - lowest, 12.0) << "the exposure times of the EXIF data (2 s ... 1/4000 s)";

    // The base layer holds the default look and the view shows its result.
    const processingParams_t &base = p.layerSettings[0];
    EXPECT_NEAR(base.compression, defaultLook.compression, 1e-6);
    EXPECT_NEAR(base.gamma, defaultLook.gamma, 1e-6);
    EXPECT_EQ(base.lcEnabled, defaultLook.lcEnabled);
    // The levels panel shows the clip points the passes found automatically.
    EXPECT_GT(base.blackPointValue, 0.0);
    EXPECT_NEAR(w.histogramPanel->editor()->blackPoint(), base.blackPointValue, 1e-9);
    EXPECT_NEAR(w.histogramPanel->editor()->whitePoint(), base.whitePointValue, 1e-9);
    mainImageArea *canvas = w.workspace->canvas();
    EXPECT_TRUE(canvas->viewState().toneMappedView);
    EXPECT_FALSE(canvas->viewState().showSource) << "the stages' before view is over";
    EXPECT_FALSE(w.showingBefore);

    // The pixels drawn inside the view window are the pass's output.
    const previewWindow_t &win = p.view;
    ASSERT_TRUE(win.layerOutput[0] && win.width > 16 && win.height > 16);
    const QImage &drawn = canvas->renderImage();
    const int wx = std::max(0, int(canvas->originX() + 0.5)), wy = std::max(0, int(canvas->originY() + 0.5));
    int compared = 0, differing = 0;
    for (int y = 2; y < win.height - 2; y += 7)
        for (int x = 2; x < win.width - 2; x += 7) {
            const uint8_t *o = win.layerOutput[0] + (size_t(y) * size_t(win.width) + size_t(x)) * 3;
            const QRgb c = drawn.pixel(wx + x, wy + y);
            ++compared;
            if (std::abs(qRed(c) - o[0]) > 1 || std::abs(qGreen(c) - o[1]) > 1 || std::abs(qBlue(c) - o[2]) > 1)
                ++differing;
        }
    EXPECT_LT(differing, compared / 100) << differing << " of " << compared << " pixels are not the result";

    // The navigator shows the overview of the result, at a size one can see.
    w.leftTab->setCurrentIndex(w.leftTab->indexOf(w.navigatorWidget->parentWidget()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.navigatorWidget->hasPicture());
    EXPECT_TRUE(w.navigatorWidget->isVisible());
    EXPECT_GT(w.navigatorWidget->height(), 20) << "width " << w.navigatorWidget->width();

    // ... and that output has the default look's brightness, far from the
    // neutral look's (what the merged image looks like untouched).
    const double shownLevel = meanLevel(win.layerOutput[0], size_t(win.width) * size_t(win.height) * 3);
    const double defaultLevel = meanLevel(presetThumbWorker::renderThumbnail(&p, defaultLook, {}, base));
    const double neutralLevel = meanLevel(presetThumbWorker::renderThumbnail(&p, neutralLook, {}, base));
    ASSERT_GT(defaultLevel - neutralLevel, 20.0) << "the two looks must differ to tell them apart";
    EXPECT_LT(std::abs(shownLevel - defaultLevel), 0.25 * (defaultLevel - neutralLevel))
        << "view " << shownLevel << ", default look " << defaultLevel << ", neutral look " << neutralLevel;
}
