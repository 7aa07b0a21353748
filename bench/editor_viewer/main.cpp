// editor_viewer [--scale S] [--bright]
// Shows the tone-curve, selective-curve and levels editors, a row of colour
// swatches and the "Select color" dialog filled with made-up data, with the
// program's style sheet at UI scale S (default 1.0), so that they can be
// looked at (e.g. with the screenshot tool). A point and a marker are hovered
// and a sample is shown, so hover and sample painting are visible too.

#include "app/programOptionsSettings.h"
#include "panels/histogramTool.h"
#include "panels/selectiveCurveTool.h"
#include "panels/toneCurveTool.h"
#include "widgets/colorPicker.h"
#include "widgets/colorSample.h"
#include "widgets/styleSheet.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <vector>

namespace {

// A histogram with two humps (shadows and highlights), one per channel.
std::vector<quint32> makeHistogram(double shift)
{
    std::vector<quint32> h(4096);
    for (int i = 0; i < 4096; ++i) {
        const double x = i / 4095.0;
        const double a = std::exp(-std::pow((x - 0.25 - shift) / 0.08, 2.0));
        const double b = 0.6 * std::exp(-std::pow((x - 0.7 + shift) / 0.12, 2.0));
        h[size_t(i)] = quint32(10000 * (a + b) + 50);
    }
    return h;
}

void hoverAt(QWidget *w, QPoint pos)
{
    QMouseEvent e(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
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
    programOptionsSettings options;
    options.activeScale = 0; // logical DPI / 96
    options.logicalDpiX = 96;
    const QStringList args = app.arguments();
    const int scaleAt = args.indexOf("--scale");
    if (scaleAt > 0 && scaleAt + 1 < args.size())
        options.logicalDpiX = int(96 * args[scaleAt + 1].toDouble() + 0.5);
    options.activeSkin = args.contains("--bright") ? 1 : 0;
    optionsInstance = &options;
    const double s = widgetSupport::uiScale();
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QCoreApplication::applicationDirPath())));

    static std::vector<quint32> histograms[4] = {makeHistogram(0.0), makeHistogram(0.03), makeHistogram(0.0),
                                                 makeHistogram(-0.03)};
    const quint32 *counts[4] = {histograms[0].data(), histograms[1].data(), histograms[2].data(),
                                histograms[3].data()};

    QWidget window;
    window.setWindowTitle(QStringLiteral("Editors at UI scale %1").arg(s));
    auto *grid = new QGridLayout(&window);

    auto *curves = new toneCurveTool;
    curves->setFixedWidth(int(300 * s));
    curves->setCurve(0, toneCurveTool::presetPoints(4));
    curves->setCurve(1, {{0, 0}, {0.5, 0.56}, {1, 1}});
    curves->setHistograms(counts, 4096);
    curves->setWBpoints(0.05, 0.92);
    curves->setSampleValue(true, rgbDouble_t{0.6, 0.45, 0.3});
    grid->addWidget(new QLabel("toneCurveTool"), 0, 0);
    grid->addWidget(curves, 1, 0, 3, 1, Qt::AlignTop);

    auto *levels = new histogramTool;
    levels->setFixedWidth(int(300 * s));
    levels->canvas()->setHistograms(counts, 4096);
    levels->setClipPoints(false, 0.05, 0.92);
    levels->clipTooltip(0.1, 0.2);
    levels->blackClipSpinBox()->setValue(0.1);
    levels->whiteClipSpinBox()->setValue(0.2);
    levels->setSampleValue(true, rgbDouble_t{0.6, 0.45, 0.3});
    grid->addWidget(new QLabel("histogramTool"), 0, 1);
    grid->addWidget(levels, 1, 1, Qt::AlignTop);

    auto *hue = new selectiveCurveTool(0);
    auto *brightness = new selectiveCurveTool(1);
    hue->setFixedWidth(int(300 * s));
    brightness->setFixedWidth(int(300 * s));
    hue->setKneePoints({knee(0.08, 0.75, 1.0), knee(0.55, 0.3, 0.6), knee(0.95, 0.6, 1.5)});
    brightness->setKneePoints({knee(0.2, 0.35, 1.0), knee(0.8, 0.7, 1.0)});
    hue->setSampleValue(true, rgbDouble_t{0.2, 0.5, 0.8});
    brightness->setSampleValue(true, rgbDouble_t{0.2, 0.5, 0.8});
    grid->addWidget(new QLabel("selectiveCurveTool"), 2, 1);
    auto *selective = new QVBoxLayout;
    selective->addWidget(hue);
    selective->addWidget(brightness);
    grid->addLayout(selective, 3, 1, Qt::AlignTop);

    auto *swatches = new QHBoxLayout;
    const QColor colours[] = {QColor(200, 60, 40), QColor(30, 160, 220), QColor(0, 0, 0), QColor(250, 250, 250)};
    for (const QColor &c : colours) {
        auto *swatch = new colorSample(true, false);
        swatch->setColor(false, c, c);
        swatch->setFixedSize(int(40 * s), int(23 * s));
        swatches->addWidget(swatch);
    }
    auto *dual = new colorSample(false, true);
    dual->setColor(false, QColor(120, 200, 80), QColor(200, 120, 80));
    dual->setFixedSize(int(80 * s), int(23 * s));
    swatches->addWidget(dual);
    auto *disabled = new colorSample(false, false);
    disabled->setColor(false, QColor(250, 0, 0), QColor(250, 0, 0));
    disabled->setFixedSize(int(40 * s), int(23 * s));
    disabled->setEnabled(false);
    swatches->addWidget(disabled);
    swatches->addStretch();
    grid->addWidget(new QLabel("colorSample (4 clickable, dual, disabled)"), 4, 0, 1, 2);
    grid->addLayout(swatches, 5, 0, 1, 2);
    grid->setRowStretch(6, 1);

    window.move(10, 10);
    window.show();

    colorPicker picker(&window, QColor(200, 100, 50));
    picker.setCenterOnShow(false);
    picker.setModal(false);

    QTimer::singleShot(300, [&]() {
        picker.move(window.frameGeometry().right() + 20, 10);
        picker.show();
        // Hover the middle point of the master curve and give its canvas the focus.
        toneCurveToolArea *master = curves->canvas(0);
        master->setFocus();
        hoverAt(master, master->pointPosition(2));
        hoverAt(levels->canvas(), QPoint(int(levels->canvas()->width() * 0.92),
                                         levels->canvas()->markerStripTop() + 3));
        selectiveCurveToolArea *h = hue->canvas();
        hoverAt(h, h->kneePosition(1));
        hoverAt(picker.editor()->strip(), QPoint(3, int(picker.editor()->strip()->markerY())));
    });
    return app.exec();
}
