// panel_viewer [--scale S] [--bright] [--balance]
// Shows the panels of the right dock as the window stacks them: the six
// panels of the "Tone mapping" tab (all open) and the five of the
// "Postprocessing" tab (the Gaussian blur open, the others closed), on a
// project whose current layer has a made-up histogram, with the program's
// style sheet at UI scale S, so that they can be looked at (e.g. with the
// screenshot tool).

#include "app/programOptionsSettings.h"
#include "panels/colorAdjustGroup.h"
#include "panels/colorSaturationGroup.h"
#include "panels/filterGroup.h"
#include "panels/histogramGroup.h"
#include "panels/histogramTool.h"
#include "panels/sampleTargetBalanceGroup.h"
#include "panels/selectiveCurveTool.h"
#include "panels/toneCurveGroup.h"
#include "panels/toneCurveTool.h"
#include "panels/tonemappingGroup.h"
#include "panels/vignetteGroup.h"
#include "project/processingProject.h"
#include "widgets/colorSample.h"
#include "widgets/myQPushButton.h"
#include "widgets/slider.h"
#include "widgets/styleSheet.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

namespace {

// Two humps (shadows and highlights), shifted a little per channel.
void fillHistogram(quint32 *h, double shift)
{
    for (int i = 0; i < PP_HISTOGRAM_SIZE; ++i) {
        const double x = i / double(PP_HISTOGRAM_SIZE - 1);
        const double a = std::exp(-std::pow((x - 0.25 - shift) / 0.08, 2.0));
        const double b = 0.6 * std::exp(-std::pow((x - 0.7 + shift) / 0.12, 2.0));
        h[i] = quint32(10000 * (a + b) + 50);
    }
}

// A column of panels in a scroll area, the way a dock tab holds them.
QScrollArea *column(const QString &title, const QList<toolBox *> &panels, int width)
{
    auto *inner = new QWidget;
    auto *layout = new QVBoxLayout(inner);
    layout->addWidget(new QLabel("<b>" + title + "</b>"));
    for (toolBox *p : panels)
        layout->addWidget(p);
    layout->addStretch();
    auto *scroll = new QScrollArea;
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    scroll->setFixedWidth(width);
    return scroll;
}

selKneePoints_t knee(double x, double y, double sigma)
{
    selKneePoints_t k;
    k.x = x;
    k.y = y;
    k.sigma = sigma;
    return k;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    programOptionsSettings options;
    options.activeScale = 0; // logical DPI / 96
    options.logicalDpiX = 96;
    options.scratchpad.pathCurrent = scratch.path();
    const QStringList args = app.arguments();
    const int scaleAt = args.indexOf("--scale");
    if (scaleAt > 0 && scaleAt + 1 < args.size())
        options.logicalDpiX = int(96 * args[scaleAt + 1].toDouble() + 0.5);
    options.activeSkin = args.contains("--bright") ? 1 : 0;
    optionsInstance = &options;
    const double s = widgetSupport::uiScale();
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QCoreApplication::applicationDirPath())));

    std::unique_ptr<processingProject> project(new processingProject(nullptr));
    processingParams_t &layer = project->layerSettings[0];
    for (int c = 0; c < 4; ++c)
        fillHistogram(layer.histograms[c], c == 1 ? 0.03 : c == 3 ? -0.03 : 0.0);
    double running = 0, total = 0;
    for (int i = 0; i < PP_HISTOGRAM_SIZE; ++i)
        total += layer.histograms[0][i];
    for (int i = 0; i < PP_HISTOGRAM_SIZE; ++i) {
        running += layer.histograms[0][i];
        layer.cumulative[0][i] = 100.0 * running / total;
    }

    auto *curves = new toneCurveGroup(project.get(), QObject::tr("Tone curve"));
    auto *levels = new histogramGroup(project.get(), QObject::tr("Histogram, black && white point"));
    auto *tonemapping = new tonemappingGroup(project.get(), QObject::tr("Tone mapping"));
    auto *saturation = new colorSaturationGroup(project.get(), QObject::tr("Color saturation"));
    auto *adjust = new colorAdjustGroup(project.get(), QObject::tr("Color adjustment"));
    auto *vignette = new vignetteGroup(project.get(), QObject::tr("Vignette"));
    auto *blur = new gaussianBlurGroup(QObject::tr("Gaussian blur"));
    auto *sharpen = new sharpenGroup(QObject::tr("Unsharp mask"));
    auto *median = new medianFilterGroup(QObject::tr("Median filter"));
    auto *bilateral = new bilateralFilterGroup(QObject::tr("Bilateral filter"));
    auto *balance = new sampleTargetBalanceGroup(QObject::tr("Sample/target balance"));

    // Made-up state: a curve, a histogram, a few values, a white balance.
    const quint32 *counts[4] = {layer.histograms[0], layer.histograms[1], layer.histograms[2], layer.histograms[3]};
    curves->editor()->setCurve(0, toneCurveTool::presetPoints(4));
    curves->editor()->setHistograms(counts, PP_HISTOGRAM_SIZE);
    curves->editor()->setWBpoints(0.05, 0.92);
    levels->editor()->canvas()->setHistograms(counts, PP_HISTOGRAM_SIZE);
    levels->editor()->setClipPoints(false, 0.05, 0.92);
    tonemapping->localContrast->setChecked(true);
    saturation->hueSelective->setKneePoints({knee(0.08, 0.75, 1.0), knee(0.55, 0.3, 0.6)});
    saturation->brightnessSelective->setKneePoints({knee(0.2, 0.35, 1.0), knee(0.8, 0.7, 1.0)});
    adjust->temperature->setValue(1.3);
    adjust->update(true);
    vignette->amount->setValue(-0.35);
    vignette->padlock()->click();
    balance->takeSample(4, rgbDouble_t{0.1, 0.12, 0.2});
    balance->takeSample(6, rgbDouble_t{0.9, 0.85, 0.7});
    // --balance opens the sample/target balance panel instead of the blur.
    (args.contains("--balance") ? static_cast<toolBox *>(balance) : blur)->setOpened(true);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tool panels at UI scale %1").arg(s));
    auto *row = new QHBoxLayout(&window);
    const int w = int(340 * s);
    row->addWidget(column("Tone mapping (1/2)", {curves, levels, tonemapping}, w));
    row->addWidget(column("Tone mapping (2/2)", {saturation, adjust, vignette}, w));
    row->addWidget(column("Postprocessing", {blur, sharpen, median, bilateral, balance}, w));
    row->addStretch();
    window.move(0, 0);
    window.resize(3 * w + 60, 1040);
    window.show();
    return app.exec();
}
