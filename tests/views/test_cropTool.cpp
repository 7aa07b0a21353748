// The crop tool's controls: aspect presets against the width and height
// boxes (clamped to the image in crop mode), reset, the rectangle coming
// back from the image, the angle box and the signals to the workspace.

#include "viewTestHost.h"

#include "views/cropTool.h"
#include "widgets/slider.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>

namespace {

class cropToolTest : public ::testing::Test
{
protected:
    void SetUp() override { host.reset(new viewTestHost(320, 240)); }
    void TearDown() override
    {
        tool.reset();
        host.reset();
    }
    // A tool in crop mode on an image of w x h (the picture itself stays small).
    void start(int w, int h)
    {
        host->loadPicture(64, 48);
        host->project->width = w;
        host->project->height = h;
        tool.reset(new cropTool(host->project, host->workspace.get()));
        tool->startCropping();
    }

    std::unique_ptr<viewTestHost> host;
    std::unique_ptr<cropTool> tool;
};

TEST_F(cropToolTest, AspectPresetsDriveTheOtherSide)
{
    struct {
        const char *name;
        int imageW, imageH;
        QString preset;
        bool setHeight;
        int value, width, height;
    } cases[] = {
        {"16:9 from width", 4000, 3000, QStringLiteral("16:9"), false, 1600, 1600, 900},
        {"Original from height", 4000, 3000, QStringLiteral("Original"), true, 600, 800, 600},
        {"16:9 clamped by the image height", 3000, 1000, QStringLiteral("16:9"), false, 3000, 1777, 1000},
        {"1:1 from height", 4000, 3000, QStringLiteral("1:1"), true, 700, 700, 700},
        {"9:16 from width", 4000, 3000, QStringLiteral("9:16"), false, 900, 900, 1600},
    };
    for (const auto &c : cases) {
        start(c.imageW, c.imageH);
        tool->aspectCombo()->setCurrentText(c.preset);
        QSignalSpy size(tool.get(), &cropTool::sizeChanged);
        (c.setHeight ? tool->heightBox() : tool->widthBox())->setValue(c.value);
        EXPECT_EQ(tool->widthBox()->value(), c.width) << c.name;
        EXPECT_EQ(tool->heightBox()->value(), c.height) << c.name;
        ASSERT_EQ(size.count(), 1) << c.name;
        EXPECT_EQ(size.at(0).at(0).toInt(), c.width) << c.name;
        EXPECT_EQ(size.at(0).at(1).toInt(), c.height) << c.name;
    }
    EXPECT_NEAR(tool->getAspectRatio(), 0.5625, 1e-12);
    EXPECT_NEAR(host->canvas()->viewState().aspect, 0.5625, 1e-12);
}

TEST_F(cropToolTest, CustomLeavesTheSidesIndependentAndOriginalUsesTheImage)
{
    start(4000, 3000);
    EXPECT_EQ(tool->aspectCombo()->currentText(), QStringLiteral("Custom"));
    EXPECT_EQ(tool->widthBox()->value(), 4000);
    EXPECT_EQ(tool->heightBox()->maximum(), 3000);
    tool->widthBox()->setValue(1234);
    EXPECT_EQ(tool->heightBox()->value(), 3000);
    EXPECT_EQ(tool->getAspectRatio(), 0.0);
    tool->aspectCombo()->setCurrentText(QStringLiteral("Original"));
    EXPECT_NEAR(tool->getAspectRatio(), 4.0 / 3.0, 1e-12);
    EXPECT_EQ(tool->heightBox()->value(), 925); // follows the width at once
}

TEST_F(cropToolTest, ResetRestoresEverythingAndEmitsBothSignalsOnce)
{
    start(4000, 3000);
    tool->aspectCombo()->setCurrentText(QStringLiteral("3:2"));
    tool->widthBox()->setValue(1500);
    tool->angleBox()->setValue(12.5);
    tool->distortionSlider()->setValue(0.1);
    tool->perspectiveXSlider()->setValue(-0.2);
    tool->perspectiveYSlider()->setValue(0.05);
    QSignalSpy size(tool.get(), &cropTool::sizeChanged);
    QSignalSpy params(tool.get(), &cropTool::paramsChanged);
    tool->resetButton()->click();
    EXPECT_EQ(tool->widthBox()->value(), 4000);
    EXPECT_EQ(tool->heightBox()->value(), 3000);
    EXPECT_EQ(tool->aspectCombo()->currentIndex(), 0);
    EXPECT_EQ(host->canvas()->viewState().aspect, 0.0);
    ASSERT_EQ(size.count(), 1);
    ASSERT_EQ(params.count(), 1);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(params.at(0).at(i).toDouble(), 0.0) << i;
}

TEST_F(cropToolTest, RectangleFromTheImageSendsNothingBack)
{
    start(4000, 3000);
    QSignalSpy size(tool.get(), &cropTool::sizeChanged);
    cropRect r;
    r.width = 1111;
    r.height = 777;
    tool->setCropArea(r);
    EXPECT_EQ(tool->widthBox()->value(), 1111);
    EXPECT_EQ(tool->heightBox()->value(), 777);
    EXPECT_EQ(size.count(), 0);
}

TEST_F(cropToolTest, AngleSlidersAndButtonsReachTheWorkspaceSignals)
{
    start(4000, 3000);
    QSignalSpy params(tool.get(), &cropTool::paramsChanged);
    tool->angleBox()->setValue(359.9);
    tool->angleBox()->stepUp();
    EXPECT_EQ(tool->angleBox()->value(), 360.0);
    tool->angleBox()->stepUp(); // wraps from 360 to 0
    EXPECT_EQ(tool->angleBox()->value(), 0.0);
    tool->perspectiveYSlider()->setValue(0.125);
    ASSERT_GE(params.count(), 3);
    EXPECT_DOUBLE_EQ(params.last().at(3).toDouble(), 0.125);

    QSignalSpy apply(tool.get(), &cropTool::applyCropping);
    QSignalSpy cancel(tool.get(), &cropTool::cancelCropping);
    QSignalSpy guides(tool.get(), &cropTool::guidelinesToggled);
    tool->applyButton()->click();
    tool->cancelButton()->click();
    const bool wasChecked = tool->guidelinesButton()->isChecked();
    tool->guidelinesButton()->click();
    EXPECT_EQ(apply.count(), 1);
    EXPECT_EQ(cancel.count(), 1);
    ASSERT_EQ(guides.count(), 1);
    EXPECT_EQ(guides.at(0).at(0).toBool(), !wasChecked);
    EXPECT_EQ(tool->angleBox()->singleStep(), 0.25);
    EXPECT_EQ(tool->widthBox()->minimum(), 50);
}

TEST_F(cropToolTest, StoredAspectLabelIsSelectedOnEntry)
{
    start(4000, 3000);
    tool->startCropping(QStringLiteral("3:2"));
    EXPECT_EQ(tool->aspectCombo()->currentText(), QStringLiteral("3:2"));
    EXPECT_NEAR(host->canvas()->viewState().aspect, 1.5, 1e-12);
    tool->startCropping(QStringLiteral("5:4"));
    EXPECT_EQ(tool->aspectCombo()->currentText(), QStringLiteral("Custom"));
}

} // namespace

namespace {

// Rotation and perspective reach the main view: with the crop tool wired to
// the workspace as the window does it, the preview shows the picture turned
// (magenta where the turned source lies outside the picture).
TEST(cropToolWithView, RotationAndPerspectivePreviewInTheView)
{
    viewTestHost host(320, 240);
    host.loadPicture(300, 200);
    cropTool tool(host.project, host.workspace.get());
    QObject::connect(&tool, &cropTool::paramsChanged, host.workspace.get(),
                     [&host](double a, double d, double x, double y) { host.workspace->setParams(a, d, x, y); });
    QObject::connect(&tool, &cropTool::sizeChanged, host.workspace.get(),
                     [&host](int w, int h) { host.workspace->setCropSize(w, h); });
    host.state().cropMode = true;
    tool.startCropping();
    host.canvas()->renderView();

    auto magenta = [&host]() {
        const QImage &img = host.canvas()->renderImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                n += (qGreen(p) == 0 && qRed(p) > 0 && qRed(p) == qBlue(p)) ? 1 : 0;
            }
        return n;
    };
    EXPECT_EQ(magenta(), 0);
    tool.angleBox()->setValue(10.0);
    host.canvas()->renderView();
    const int rotated = magenta();
    EXPECT_GT(rotated, 100);
    tool.angleBox()->setValue(0.0);
    tool.perspectiveXSlider()->setValue(0.2);
    host.canvas()->renderView();
    EXPECT_GT(magenta(), 100);
    tool.resetButton()->click();
    host.canvas()->renderView();
    EXPECT_EQ(magenta(), 0);
}

} // namespace
