#ifndef TONECURVEGROUP_H
#define TONECURVEGROUP_H

// The "Tone curve" panel: hosts the tone-curve editor and turns its four
// curves (0 luminance, 1 red, 2 green, 3 blue) into the current layer's
// 16-bit curve tables and the three per-channel lookup tables that depend on
// them (table k on curve 0, curve k + 1 and the gamma).

#include "panels/toolBox.h"

class processingProject;
struct processingParams_t;
class toneCurveTool;

class toneCurveGroup : public toolBox
{
    Q_OBJECT

public:
    toneCurveGroup(processingProject *project, const QString &title);

    void connectSignals(bool connect);
    // Hands the record's four curves and their modes to the editor without
    // signals; an empty curve becomes the identity. getCurveData(-1, true)
    // then writes the tables.
    void showCurves(const processingParams_t &params);
    toneCurveTool *editor() const { return curves; }

signals:
    void curvesModified(QObject *s);
    void newToHistory(QString txt);

public slots:
    // Converts curve i (every curve for -1 or init) and rebuilds the lookup
    // tables it feeds; init announces nothing.
    void getCurveData(int i, bool init);
    void getCurveData(int i) { getCurveData(i, false); }
    void storeHistory(int i, int reason);
    void storeHistory(int i) { storeHistory(i, -1); }

protected:
    void applyDeferredChange(unsigned groups, bool announce, QObject *sender) override;

private:
    // Curves as a bit mask (bit j = curve j).
    void convertCurves(unsigned curveMask);

    toneCurveTool *curves;
    processingProject *project;
};

#endif // TONECURVEGROUP_H
