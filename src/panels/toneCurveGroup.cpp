#include "panels/toneCurveGroup.h"

#include "panels/panelSupport.h"
#include "panels/toneCurveTool.h"
#include "project/processingProject.h"

#include <QVBoxLayout>

namespace {
constexpr unsigned ALL_CURVES = 0xf;
}

toneCurveGroup::toneCurveGroup(processingProject *project, const QString &title)
    : toolBox(title, false, false), project(project)
{
    auto *layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    curves = new toneCurveTool;
    layout->addWidget(curves);
    connectSignals(true);
}

void toneCurveGroup::connectSignals(bool connect)
{
    if (!connect) {
        curves->disconnect(this);
        return;
    }
    QObject::connect(curves, &toneCurveTool::curvesChanged, this, qOverload<int>(&toneCurveGroup::getCurveData));
    QObject::connect(curves, &toneCurveTool::changed, this, qOverload<int, int>(&toneCurveGroup::storeHistory));
    if (liveToneMapping())
        QObject::connect(curves, &toneCurveTool::curvesChangedLive, this,
                         qOverload<int>(&toneCurveGroup::getCurveData));
}

void toneCurveGroup::showCurves(const processingParams_t &params)
{
    const QSignalBlocker block(curves);
    for (int j = 0; j < PP_CURVE_COUNT; ++j) {
        toneCurveToolArea *c = curves->canvas(j);
        c->setMode(params.curves[j].type);
        if (params.curves[j].points.isEmpty() || !curves->setCurve(j, params.curves[j].points))
            curves->resetCurve(j, true);
    }
}

void toneCurveGroup::getCurveData(int i, bool init)
{
    QObject *s = sender();
    const unsigned mask = (init || i < 0 || i > 3) ? ALL_CURVES : (1u << i);
    if (deferWhileToneMapping(mask, init, s))
        return;
    convertCurves(mask);
    if (!init)
        emit curvesModified(s);
}

void toneCurveGroup::applyDeferredChange(unsigned groups, bool announce, QObject *s)
{
    convertCurves(groups & ALL_CURVES);
    if (announce)
        emit curvesModified(s);
}

void toneCurveGroup::convertCurves(unsigned curveMask)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    for (int j = 0; j < 4; ++j) {
        if (!(curveMask & (1u << j)))
            continue;
        const toneCurveToolArea *c = curves->canvas(j);
        panelTables::curveLut(p, j, c->curvePoints(), c->mode());
    }
    // Lookup table k depends on the luminance curve and curve k + 1.
    for (int k = 0; k < 3; ++k)
        if (curveMask & (1u | (1u << (k + 1))))
            panelTables::lookupTable(project, p, k);
}

void toneCurveGroup::storeHistory(int i, int reason)
{
    QString text;
    if (sender() == curves) {
        static const char *const tags[] = {" (L)", " (R)", " (G)", " (B)"};
        text = QString("%1").arg("<font size='2'>" + tr("Tone curve"));
        if (i >= 0 && i < 4)
            text += tags[i];
        switch (reason) {
        case 0:
            text += ",</font> " + tr("added");
            break;
        case 1:
            text += ",</font> " + tr("deleted");
            break;
        case 2:
            text += ",</font> " + tr("moved");
            break;
        case 3:
            text += ",</font> " + tr("mode");
            break;
        case 4:
            text += ",</font> " + tr("reset");
            break;
        case 5:
            text += " (LRGB),</font> " + tr("reset");
            break;
        case 6:
            text += ",</font> " + tr("preset");
            break;
        default:
            break;
        }
    }
    emit newToHistory(text);
}
