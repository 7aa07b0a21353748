// The window side of post-processing on a real tone-mapped image: a filter
// runs on a worker with the window locked and the values captured at Apply,
// changes the picture, and Undo brings it back bit for bit; a failed pass
// shows "Error!" and keeps the last undo step.

#include "imageio/radianceRGBE.h"
#include "panels/filterGroup.h"
#include "panels/postProcessingControl.h"
#include "panels/sampleTargetBalanceGroup.h"
#include "widgets/colorSample.h"
#include "panelTestSupport.h"
#include "project/curveMaths.h"
#include "project/toneMappingTables.h"
#include "widgets/styledMessageBox.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>

#include <algorithm>

namespace {

class postProcessingControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString path = testSupport::testDataFile("radiance/image1.hdr");
        if (path.isEmpty())
            GTEST_SKIP() << "radiance/image1.hdr not found; real-image post-processing test skipped";
        panelProject::get(); // the settings record
        project.reset(new processingProject(nullptr));
        ASSERT_FALSE(project->constructionFailed);
        int w = 0, h = 0;
        double primaries[8];
        bool present = false;
        ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(path, w, h, primaries, present));
        project->width = w;
        project->height = h;
        ASSERT_TRUE(project->allocatePyramids());
        float lo = 0, hi = 0;
        float *hdr = static_cast<float *>(project->hdrImage.levels[0].data);
        ASSERT_TRUE(imageLoader::loadRadianceRGBE(path, w, h, hdr, lo, hi));
        ASSERT_GT(hi, 0.0f);
        for (qint64 i = 0; i < qint64(w) * h * 3; ++i)
            hdr[i] /= hi;
        project->hdrImage.buildLevelsFrom(0);
        project->hdrState.hdrMedian = 0.25;

        processingParams_t &p = project->layerSettings[0];
        for (int c = 0; c < PP_CURVE_COUNT; ++c) {
            p.curves[c].points = {QPointF(0, 0), QPointF(1, 1)};
            curveToLut16(p.curveLut[c], p.curves[c].points, 0);
        }
        p.lcEnabled = true;
        p.lcStrength = 0.5;
        p.compression = 1.4;
        p.gamma = 0.9;
        for (int c = 0; c < 3; ++c)
            buildLookupTableParallel(project.get(), &p, c);
        project->generateTMtable(&p);
        project->toneCurveTable(&p);
        updateColorMatrix(&p);
        project->vignetteProfile(&p);
        p.precalculated = true;
        ASSERT_TRUE(project->computeMask());
        ASSERT_TRUE(project->localContrast());
        ASSERT_TRUE(project->doToneMappingFull());
        width = w;
        height = h;

        control.reset(new postProcessingControl(project.get()));
        blur = new gaussianBlurGroup("Gaussian blur");
        sharpen = new sharpenGroup("Unsharp mask");
        median = new medianFilterGroup("Median filter");
        bilateral = new bilateralFilterGroup("Bilateral filter");
        for (filterGroup *g : {(filterGroup *)blur, (filterGroup *)sharpen, (filterGroup *)median,
                               (filterGroup *)bilateral}) {
            panels.emplace_back(g);
            control->addPanel(g);
            g->resize(400, 200);
            g->show();
            g->setOpened(true);
        }
        QApplication::processEvents();

        styledMessageBox::setMessageHook([this](int kind, const QString &title, const QString &, int) {
            boxes << QString("%1:%2").arg(kind).arg(title);
            return int(styledMessageBox::Ok);
        });
    }
    void TearDown() override
    {
        styledMessageBox::setMessageHook({});
        control.reset();
        panels.clear();
        project.reset();
    }

    std::vector<quint16> image() const
    {
        const auto *d = static_cast<const quint16 *>(project->outputImage.levels[0].data);
        return std::vector<quint16>(d, d + size_t(width) * height * 3);
    }
    // Clicks Apply and waits for the pass to end.
    bool applyAndWait(filterGroup *panel)
    {
        QSignalSpy finished(control.get(), &postProcessingControl::finished);
        QTest::mouseClick(panel->applyButton, Qt::LeftButton);
        if (finished.isEmpty() && !finished.wait(30000))
            return false;
        return finished.at(0).at(0).toBool();
    }
    bool undoEnabledEverywhere(bool enabled) const
    {
        return std::all_of(panels.begin(), panels.end(),
                           [enabled](const std::unique_ptr<filterGroup> &g) { return g->undoButton->isEnabled() == enabled; });
    }

    std::unique_ptr<processingProject> project;
    std::unique_ptr<postProcessingControl> control;
    std::vector<std::unique_ptr<filterGroup>> panels;
    gaussianBlurGroup *blur = nullptr;
    sharpenGroup *sharpen = nullptr;
    medianFilterGroup *median = nullptr;
    bilateralFilterGroup *bilateral = nullptr;
    QStringList boxes;
    int width = 0, height = 0;
};

} // namespace

TEST_F(postProcessingControlTest, aFilterChangesTheImageAndUndoRestoresItBitForBit)
{
    const std::vector<quint16> original = image();
    QSignalSpy locked(control.get(), &postProcessingControl::windowLocked);
    QSignalSpy progress(control.get(), &postProcessingControl::progressStarted);
    QSignalSpy repaint(control.get(), &postProcessingControl::imageChanged);

    typeValue(blur->sliders[1], 2.0);
    ASSERT_TRUE(applyAndWait(blur));
    EXPECT_NE(image(), original);
    ASSERT_EQ(locked.count(), 2);
    EXPECT_TRUE(locked.at(0).at(0).toBool());
    EXPECT_FALSE(locked.at(1).at(0).toBool());
    ASSERT_EQ(progress.count(), 1);
    EXPECT_EQ(progress.at(0).at(0).toLongLong(), qint64(width) + height);
    EXPECT_EQ(repaint.count(), 1);
    EXPECT_TRUE(undoEnabledEverywhere(true));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "busy cursor restored";
    EXPECT_TRUE(boxes.isEmpty());

    QTest::mouseClick(median->undoButton, Qt::LeftButton);
    EXPECT_EQ(image(), original);
    EXPECT_TRUE(undoEnabledEverywhere(false));
    EXPECT_EQ(repaint.count(), 2);

    // Nothing left to undo.
    control->undoPostProcessing();
    EXPECT_EQ(image(), original);
}

TEST_F(postProcessingControlTest, preparingANewResultDropsTheUndoStep)
{
    const std::vector<quint16> original = image();
    ASSERT_TRUE(applyAndWait(blur));
    ASSERT_TRUE(undoEnabledEverywhere(true));
    QSignalSpy finished(control.get(), &postProcessingControl::finished);
    QSignalSpy locked(control.get(), &postProcessingControl::windowLocked);
    control->preparePostProcessing();
    ASSERT_TRUE(finished.count() == 1 || finished.wait(30000));
    EXPECT_TRUE(finished.at(0).at(0).toBool());
    EXPECT_EQ(locked.count(), 2);
    EXPECT_EQ(image(), original) << "the same settings render the same result";
    EXPECT_TRUE(undoEnabledEverywhere(false));
    EXPECT_FALSE(control->undoAvailable());
    // Undo right after opening the tab changes nothing.
    control->undoPostProcessing();
    EXPECT_EQ(image(), original);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(postProcessingControlTest, undoGoesBackOneFilterOnly)
{
    ASSERT_TRUE(applyAndWait(sharpen));
    const std::vector<quint16> afterFirst = image();
    median->shape->setCurrentIndex(11);
    QSignalSpy progress(control.get(), &postProcessingControl::progressStarted);
    ASSERT_TRUE(applyAndWait(median));
    EXPECT_EQ(progress.at(0).at(0).toLongLong(), qint64(height)) << "the median counts rows";
    EXPECT_NE(image(), afterFirst);
    QTest::mouseClick(bilateral->undoButton, Qt::LeftButton);
    EXPECT_EQ(image(), afterFirst);
}

TEST_F(postProcessingControlTest, theWorkerUsesTheValuesOfTheMomentApplyWasPressed)
{
    // The same filter run directly with the values at Apply.
    typeValue(bilateral->sliders[0], 0.8);
    typeValue(bilateral->sliders[1], 3.0);
    const postProcessParams_t atApply = bilateral->parameters();
    std::vector<quint16> expected = image();
    ASSERT_TRUE(applyPostProcessFilter(expected.data(), width, height, atApply, project->taskCount()));

    QSignalSpy finished(control.get(), &postProcessingControl::finished);
    QTest::mouseClick(bilateral->applyButton, Qt::LeftButton);
    // Changed while the pass may still run: belongs to the next pass.
    bilateral->sliders[1]->setValue(7.5);
    bilateral->sliders[0]->setValue(0.1);
    ASSERT_TRUE(finished.count() == 1 || finished.wait(30000));
    EXPECT_TRUE(finished.at(0).at(0).toBool());
    EXPECT_EQ(image(), expected);
}

TEST_F(postProcessingControlTest, theBalancePanelShiftsTheColoursAndIsUndoneLikeTheOthers)
{
    auto *balance = new sampleTargetBalanceGroup("Sample/target balance");
    panels.emplace_back(balance);
    control->addPanel(balance);
    const std::vector<quint16> original = image();

    // With every swatch black the pass changes nothing beyond rounding.
    ASSERT_TRUE(applyAndWait(balance));
    const std::vector<quint16> neutral = image();
    for (size_t i = 0; i < original.size(); ++i)
        ASSERT_LE(std::abs(int(neutral[i]) - int(original[i])), 1) << i;
    QTest::mouseClick(balance->undoButton, Qt::LeftButton);
    ASSERT_EQ(image(), original);

    // Midtones sampled grey, asked to become warmer.
    rgbDouble_t grey;
    grey.r = grey.g = grey.b = 0.5;
    balance->takeSample(5, grey);
    balance->target[1]->setColor(false, QColor::fromRgbF(0.6, 0.5, 0.4), Qt::black);
    ASSERT_TRUE(applyAndWait(balance));
    const std::vector<quint16> warmed = image();
    double redGain = 0, blueGain = 0;
    for (size_t i = 0; i < warmed.size(); i += 3) {
        redGain += int(warmed[i]) - int(original[i]);
        blueGain += int(warmed[i + 2]) - int(original[i + 2]);
    }
    EXPECT_GT(redGain, 0.0);
    EXPECT_LT(blueGain, 0.0);
    EXPECT_TRUE(undoEnabledEverywhere(true));
    QTest::mouseClick(sharpen->undoButton, Qt::LeftButton);
    EXPECT_EQ(image(), original);
}

TEST_F(postProcessingControlTest, aFailedPassShowsErrorAndKeepsTheLastUndoStep)
{
    const std::vector<quint16> original = image();
    ASSERT_TRUE(applyAndWait(blur));
    const std::vector<quint16> blurred = image();

    // The undo file of the next pass can't be written.
    const QString session = project->sessionPath;
    project->sessionPath = testSupport::scratchDir() + "/missing/folder";
    EXPECT_FALSE(applyAndWait(sharpen));
    project->sessionPath = session;
    EXPECT_EQ(boxes, QStringList{QString("%1:Error!").arg(int(styledMessageBox::Error))});
    EXPECT_EQ(image(), blurred) << "nothing was filtered";
    EXPECT_TRUE(undoEnabledEverywhere(true));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Undo still goes back to the image before the blur.
    QTest::mouseClick(blur->undoButton, Qt::LeftButton);
    EXPECT_EQ(image(), original);
    EXPECT_TRUE(undoEnabledEverywhere(false));
}

TEST(postProcessingControl, withoutAResultImageThePassFailsWithTheErrorBox)
{
    processingProject *project = panelProject::get();
    postProcessingControl control(project);
    gaussianBlurGroup panel("Gaussian blur");
    control.addPanel(&panel);
    QStringList boxes;
    styledMessageBox::setMessageHook([&boxes](int, const QString &title, const QString &, int) {
        boxes << title;
        return int(styledMessageBox::Ok);
    });
    QSignalSpy finished(&control, &postProcessingControl::finished);
    QSignalSpy progress(&control, &postProcessingControl::progressStarted);
    control.applyPostProcessingFor(&panel);
    styledMessageBox::setMessageHook({});
    ASSERT_EQ(finished.count(), 1);
    EXPECT_FALSE(finished.at(0).at(0).toBool());
    EXPECT_EQ(boxes, QStringList{"Error!"});
    EXPECT_EQ(progress.at(0).at(0).toLongLong(), 1) << "a zero-size image counts one step";
    EXPECT_FALSE(panel.undoButton->isEnabled());
    EXPECT_FALSE(control.isRunning());
}
