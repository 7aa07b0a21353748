// The window's tone-mapping flow, driven offscreen: the view and panels in
// their places, preview passes on the worker (a burst of slider changes
// during a pass ends with the picture of the last value), a stopped pass,
// switching the processing tabs (full-size preparation for the filters),
// the split view, and real HDR images and photos on display.

#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "mainwindow/mainWindow.h"
#include "panels/colorAdjustGroup.h"
#include "panels/histogramGroup.h"
#include "panels/tonemappingGroup.h"
#include "panels/toneCurveGroup.h"
#include "panels/vignetteGroup.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "views/cropTool.h"
#include "views/layersTool.h"
#include "widgets/myQPushButton.h"
#include "views/mainWorkspace.h"
#include "views/navigator.h"
#include "widgets/myQTabWidget.h"
#include "widgets/slider.h"
#include "widgets/zoomWidget.h"
#include "windowFixture.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QMutexLocker>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

bool idle(mainWindow &w)
{
    return !toneMappingRunning.load() && !w.toneMappingPending() && !w.postProcessingPreparing()
           && !w.toneMappingPreparing();
}

// The view window's base-layer output as it is now.
std::vector<uint8_t> viewOutput(const processingProject &p)
{
    const previewWindow_t &v = p.view;
    if (!v.layerOutput[0] || v.width <= 0 || v.height <= 0)
        return {};
    return std::vector<uint8_t>(v.layerOutput[0], v.layerOutput[0] + size_t(v.width) * size_t(v.height) * 3);
}

// Accepts the load-option dialog an HDR file brings up.
struct modalAccepter {
    modalAccepter()
    {
        QObject::connect(&poll, &QTimer::timeout, [] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                d->accept();
        });
        poll.start(20);
    }
    QTimer poll;
};

class toneMappingFlowTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        options->scratchpad.pathCurrent = testSupport::freshDir("scratch");
        options->colorManagement.enabled = false;
        options->performance.liveToneMapping = false;
        options->devicePixelRatio = 1.0;
        options->misc.splitViewMode = 0;
        window.reset(new mainWindow);
        window->resize(1100, 750);
        window->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override
    {
        window.reset();
        mainWindowTest::TearDown();
    }

    // A 320 x 200 HDR scene (a wide ramp with a bright window) prepared for
    // tone mapping through the window's own preparation.
    void prepareSyntheticHdr()
    {
        processingProject *p = window->project;
        ASSERT_TRUE(plantHdrScene(*window, 320, 200, [](int x, int y, float *rgb) {
            const bool windowArea = x > 200 && x < 280 && y > 40 && y < 120;
            const float v = windowArea ? 0.95f : 0.002f + 0.3f * float(x) / 320;
            rgb[0] = v;
            rgb[1] = v * (0.8f + 0.2f * float(y) / 200);
            rgb[2] = v * 0.7f;
        }));
        ASSERT_TRUE(waitFor([&] { return p->prepared && idle(*window); }));
    }

    std::unique_ptr<mainWindow> window;
};

TEST_F(toneMappingFlowTest, ViewsAndPanelsSitInTheirPlaces)
{
    mainWindow &w = *window;
    ASSERT_NE(w.workspace, nullptr);
    EXPECT_EQ(w.workspace->parentWidget(), w.centralWidget());
    EXPECT_EQ(w.centralSlot->indexOf(w.workspace), 0);
    EXPECT_GE(w.centralSlot->indexOf(w.layersToolWidget), 1);
    EXPECT_GE(w.centralSlot->indexOf(w.cropToolWidget), 1);
    EXPECT_GE(w.navigatorSlot->indexOf(w.navigatorWidget), 0);
    // The tone-mapping tab's panels in their order, then the filter panels.
    const QList<toolBox *> tm = w.toneMappingPanels();
    ASSERT_EQ(tm.size(), 6);
    for (int i = 0; i < tm.size(); ++i)
        EXPECT_EQ(w.toneMappingSlot->indexOf(tm[i]), i) << i;
    const QList<toolBox *> pp = w.postProcessingPanels();
    ASSERT_EQ(pp.size(), 5);
    for (int i = 0; i < pp.size(); ++i)
        EXPECT_EQ(w.postProcessingSlot->indexOf(pp[i]), i) << i;
    // Nothing loaded: the view shows no image and the first tab is current.
    EXPECT_FALSE(w.workspace->canvas()->hasImage());
    EXPECT_EQ(w.rightTab->currentIndex(), 0);
    EXPECT_EQ(w.rightTab->tabText(0), "   1: Generate HDR   ");
    EXPECT_EQ(w.rightTab->tabText(1), "   2   ");
}

TEST_F(toneMappingFlowTest, PreparedHdrIsShownToneMappedOnTheToneMappingTab)
{
    prepareSyntheticHdr();
    mainWindow &w = *window;
    EXPECT_EQ(w.rightTab->currentIndex(), 1);
    EXPECT_EQ(w.rightTab->tabText(1), "   2: Tone mapping   ");
    EXPECT_TRUE(w.workspace->canvas()->hasImage());
    EXPECT_TRUE(w.workspace->canvas()->viewState().toneMappedView);
    EXPECT_GE(w.toneMappingPasses, 1u);
    const std::vector<uint8_t> out = viewOutput(*w.project);
    ASSERT_FALSE(out.empty());
    // The picture is not flat: the ramp and the window show.
    const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
    EXPECT_GT(int(*hi) - int(*lo), 40);
    EXPECT_TRUE(w.isEnabled() && w.interfaceEnabled());
}

// The central fault: changes arriving during a pass must not be lost.
TEST_F(toneMappingFlowTest, BurstOfSliderChangesDuringAPassEndsWithTheLastValue)
{
    prepareSyntheticHdr();
    mainWindow &w = *window;
    processingProject &p = *w.project;
    slider *gamma = w.toneMappingPanel->gamma;
    const double values[] = {1.3, 1.6, 0.9, 2.2};
    const uint64_t passesBefore = w.toneMappingPasses;
    {
        // Holding the tone-mapping lock keeps the first pass running while
        // the other values arrive.
        QMutexLocker hold(&toneMappingMutex);
        gamma->setValue(values[0]);
        EXPECT_TRUE(toneMappingRunning.load());
        for (size_t i = 1; i < std::size(values); ++i)
            gamma->setValue(values[i]);
        // A request from code meanwhile (an undo, say) is kept as well.
        w.doToneMapping();
        EXPECT_TRUE(w.toneMappingPending());
    }
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    EXPECT_DOUBLE_EQ(p.layerSettings[0].gamma, values[3]);
    EXPECT_GE(w.toneMappingPasses, passesBefore + 2);

    // The picture on display is the one of the last value...
    const std::vector<uint8_t> shown = viewOutput(p);
    p.doToneMapping(&p.layerSettings[0], nullptr, false, false);
    EXPECT_EQ(shown, viewOutput(p));
    // ... and not the one of the first.
    gamma->setValue(values[0]);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    EXPECT_NE(shown, viewOutput(p));
}

TEST_F(toneMappingFlowTest, StoppedPassNeverLeavesTheFlagSet)
{
    prepareSyntheticHdr();
    mainWindow &w = *window;
    w.toneMappingPanel->gamma->setValue(1.7);
    w.stopToneMappingWorkers();
    EXPECT_FALSE(toneMappingRunning.load());
    EXPECT_FALSE(abortBackgroundFlag.load());
    QCoreApplication::processEvents(); // a completion of the stopped pass changes nothing
    EXPECT_FALSE(toneMappingRunning.load());
    // The next change is rendered.
    const uint64_t before = w.toneMappingPasses;
    w.toneMappingPanel->gamma->setValue(1.1);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    EXPECT_GT(w.toneMappingPasses, before);
    EXPECT_DOUBLE_EQ(w.project->layerSettings[0].gamma, 1.1);
}

TEST_F(toneMappingFlowTest, PanelChangesAndVisibilitySwitchesReRender)
{
    prepareSyntheticHdr();
    mainWindow &w = *window;
    struct step_t {
        const char *name;
        std::function<void()> change;
    };
    const std::vector<step_t> steps = {
        {"compression", [&] { w.toneMappingPanel->compression->setValue(0.6); }},
        {"temperature", [&] { w.colorAdjustPanel->temperature->setValue(1.2); }},
        {"vignette", [&] { w.vignettePanel->amount->setValue(-0.4); }},
        {"colour switch", [&] { w.colorAdjustPanel->visibilitySwitch()->click(); }},
        {"code request", [&] { w.refreshAfterChange(); }},
    };
    for (const step_t &s : steps) {
        const std::vector<uint8_t> before = viewOutput(*w.project);
        const uint64_t passes = w.toneMappingPasses;
        s.change();
        ASSERT_TRUE(waitFor([&] { return idle(w); })) << s.name;
        EXPECT_GT(w.toneMappingPasses, passes) << s.name;
        if (std::string(s.name) != "code request") {
            EXPECT_NE(before, viewOutput(*w.project)) << s.name;
        }
    }
    // The colour switch went into the layer's record.
    EXPECT_FALSE(w.project->layerSettings[0].colorAdjustActive);
}

TEST_F(toneMappingFlowTest, EachPanelChangeRendersOnceAndAddsOneHistoryRow)
{
    // A control announces its change once: one preview pass and one history
    // row per change, not a second identical pass after the first.
    prepareSyntheticHdr();
    mainWindow &w = *window;
    struct step_t {
        const char *name;
        std::function<void()> change;
    };
    const std::vector<step_t> steps = {
        {"gamma", [&] { w.toneMappingPanel->gamma->setValue(1.4); }},
        {"compression", [&] { w.toneMappingPanel->compression->setValue(0.7); }},
        {"temperature", [&] { w.colorAdjustPanel->temperature->setValue(0.8); }},
        {"vignette", [&] { w.vignettePanel->amount->setValue(0.3); }},
    };
    for (const step_t &s : steps) {
        const uint64_t passes = w.toneMappingPasses;
        const int rows = w.historyList->count();
        s.change();
        ASSERT_TRUE(waitFor([&] { return idle(w); })) << s.name;
        EXPECT_EQ(w.toneMappingPasses, passes + 1) << s.name;
        EXPECT_EQ(w.historyList->count(), rows + 1) << s.name;
    }
}

TEST_F(toneMappingFlowTest, PreviewAtOneHundredPercentEqualsTheFullSizeResult)
{
    // The whole 320 x 200 picture fits the view at 100 %: the preview a
    // slider change renders through the window is then the full-size tone
    // mapping of the same settings, in 8 bits instead of 16.
    window->resize(1700, 1100);
    QCoreApplication::processEvents();
    prepareSyntheticHdr();
    mainWindow &w = *window;
    processingProject &p = *w.project;
    w.zoom->set100();
    QCoreApplication::processEvents();
    w.refreshAfterChange();
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    w.toneMappingPanel->gamma->setValue(1.35);
    w.toneMappingPanel->compression->setValue(0.8);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    ASSERT_DOUBLE_EQ(w.workspace->canvas()->zoom(), 1.0);
    ASSERT_EQ(p.view.width, p.width);
    ASSERT_EQ(p.view.height, p.height);
    const std::vector<uint8_t> preview = viewOutput(p);
    ASSERT_FALSE(preview.empty());
    ASSERT_TRUE(p.doToneMappingFull());
    const quint16 *full = static_cast<const quint16 *>(p.outputImage.levels[0].data);
    int worst = 0;
    for (size_t i = 0; i < preview.size(); ++i)
        worst = std::max(worst, std::abs(int(preview[i]) - int(full[i] * 255.0 / 65535.0)));
    EXPECT_LE(worst, 1);
}

TEST_F(toneMappingFlowTest, PostprocessingTabAsksThenPreparesTheFullSizeResult)
{
    prepareSyntheticHdr();
    mainWindow &w = *window;
    // No: the tab stays where it was.
    messageAnswer = styledMessageBox::No;
    w.rightTab->setCurrentIndex(2);
    EXPECT_EQ(w.rightTab->currentIndex(), 1);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().text.contains("tone mapped at full resolution"));
    EXPECT_FALSE(w.preparedForPostProcessing);

    // Yes: the full-size result is computed and shown.
    messageAnswer = styledMessageBox::Yes;
    w.rightTab->setCurrentIndex(2);
    ASSERT_TRUE(waitFor([&] { return !w.postProcessingPreparing(); }));
    EXPECT_EQ(w.rightTab->currentIndex(), 2);
    EXPECT_TRUE(w.preparedForPostProcessing);
    EXPECT_FALSE(w.workspace->canvas()->viewState().toneMappedView);
    EXPECT_TRUE(w.workspace->canvas()->hasImage());
    EXPECT_TRUE(w.navigatorWidget->hasPicture());
    EXPECT_TRUE(w.interfaceEnabled());

    // Going back asks; No keeps the filtered result.
    messageAnswer = styledMessageBox::No;
    const size_t asked = messages.size();
    w.rightTab->setCurrentIndex(1);
    EXPECT_EQ(w.rightTab->currentIndex(), 2);
    ASSERT_GT(messages.size(), asked);
    EXPECT_TRUE(messages.back().text.contains("reset the already applied filtering"));
    // Yes returns to the tone-mapped preview.
    messageAnswer = styledMessageBox::Yes;
    w.rightTab->setCurrentIndex(1);
    EXPECT_EQ(w.rightTab->currentIndex(), 1);
    EXPECT_FALSE(w.preparedForPostProcessing);
    EXPECT_TRUE(w.workspace->canvas()->viewState().toneMappedView);
    // The preview still follows the sliders.
    w.toneMappingPanel->gamma->setValue(1.9);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    EXPECT_DOUBLE_EQ(w.project->layerSettings[0].gamma, 1.9);
}

TEST_F(toneMappingFlowTest, SplitViewButtonRemembersTheLastMode)
{
    prepareSyntheticHdr();
    mainWindow &w = *window;
    mainViewState_t &v = w.workspace->canvas()->viewState();
    // First use with default settings: horizontal, result on the right.
    ASSERT_TRUE(w.splitAct->isEnabled());
    w.splitAct->trigger();
    EXPECT_TRUE(w.splitModeActs[1]->isChecked());
    EXPECT_EQ(v.splitMode, 1);
    EXPECT_EQ(options->misc.splitViewMode, 1);
    // Off, then another mode from the menu, off and on again.
    w.splitAct->trigger();
    EXPECT_TRUE(w.splitModeActs[0]->isChecked());
    EXPECT_EQ(v.splitMode, 0);
    EXPECT_EQ(options->misc.splitViewMode, 1); // turning off leaves the setting
    w.splitModeActs[3]->trigger();
    EXPECT_EQ(v.splitMode, 3);
    EXPECT_EQ(options->misc.splitViewMode, 3);
    EXPECT_TRUE(w.splitAct->isChecked());
    w.splitAct->trigger();
    EXPECT_EQ(v.splitMode, 0);
    w.splitAct->trigger();
    EXPECT_EQ(v.splitMode, 3);
    EXPECT_FALSE(w.showingBefore);
}

TEST_F(toneMappingFlowTest, RealHdrFileIsShownAndFollowsTheSliders)
{
    const QString hdr = testSupport::testDataFile("radiance/mpi_atrium_3.hdr");
    if (hdr.isEmpty())
        GTEST_SKIP() << "sample files not found (../shared/testdata)";
    modalAccepter accepter;
    mainWindow &w = *window;
    w.addImages(QStringList{hdr});
    ASSERT_TRUE(waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning() && w.project->prepared && idle(w); }))
        << w.project->photos.size() << " photos, prepared " << w.project->prepared << ", preparing "
        << w.toneMappingPreparing() << ", running " << toneMappingRunning.load() << ", messages " << messages.size() << (messages.empty() ? "" : messages.back().text.toStdString());
    EXPECT_EQ(w.rightTab->currentIndex(), 1);
    EXPECT_TRUE(w.workspace->canvas()->hasImage());
    EXPECT_TRUE(w.workspace->canvas()->viewState().toneMappedView);
    const std::vector<uint8_t> first = viewOutput(*w.project);
    ASSERT_FALSE(first.empty());
    w.toneMappingPanel->compression->setValue(0.3);
    ASSERT_TRUE(waitFor([&] { return idle(w); }));
    EXPECT_NE(first, viewOutput(*w.project));
    // A new project empties the view.
    w.newProject(true);
    EXPECT_FALSE(w.workspace->canvas()->hasImage());
    EXPECT_EQ(w.shownImageId(), -1);
}

TEST_F(toneMappingFlowTest, LoadedPhotosAreShownAndTheSelectedRowFollows)
{
    const QString dir = testSupport::freshDir("photos");
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        QImage img(192, 128, QImage::Format_RGB32);
        img.fill(QColor(40 + 80 * i, 40 + 80 * i, 40 + 80 * i));
        const QString f = dir + QString("/p%1.png").arg(i);
        ASSERT_TRUE(img.save(f));
        files << f;
    }
    options->optionsOnLoad.enabled = false;
    mainWindow &w = *window;
    w.addImages(files);
    ASSERT_TRUE(waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning(); }));
    ASSERT_EQ(w.project->photos.size(), 3);
    EXPECT_TRUE(w.workspace->canvas()->hasImage());
    EXPECT_GE(w.shownImageId(), 0);
    EXPECT_FALSE(w.workspace->canvas()->viewState().toneMappedView);
    // Choosing another photo shows it.
    const int other = w.project->photos.last().id;
    w.imageItemChanged(other);
    EXPECT_EQ(w.shownImageId(), other);
}

} // namespace
