#ifndef SETTINGSPANELS_H
#define SETTINGSPANELS_H

// Showing a layer's settings record in the tool panels after a settings file
// or preset was loaded (or a layer or history step was switched to).
//
// The panels are reached through settingsPanelsView, which the main window
// implements over its real panels (tests use a small fake). A panel whose
// padlock is on keeps its values unless the refresh is forced; afterwards
// every panel copies its controls back into the record, so the values of a
// locked panel replace the loaded ones and record and panels agree.

#include "documents/presetThumbWorker.h"
#include "project/processingParams.h"
#include "project/processingParamsTable.h"

class settingsPanelsView
{
public:
    virtual ~settingsPanelsView() = default;
    virtual bool isPanelLocked(processingPanel_e panel) const = 0;
    // Shows the record's values in one panel with its signals blocked
    // (the levels panel shows the clip points and the automatic-clipping padlock).
    virtual void showInPanel(processingPanel_e panel, const processingParams_t &params) = 0;
    // Hands the four tone curves to the curve editor (an untouched curve is reset).
    virtual void showCurves(const processingParams_t &params) = 0;
    // Each panel copies its controls back into the record (their update with init).
    virtual void copyPanelsToRecord(processingParams_t *params) = 0;
    // The rest of the refresh: the layer's opacity slider, the enabled state
    // of the tone-mapping controls.
    virtual void finishRefresh(const processingParams_t &params) = 0;
};

// The locked panels of a view (for the thumbnails, which must show the same).
lockedPanels_t lockedPanelsOf(const settingsPanelsView &view);

// Shows params in the panels; force also overwrites locked panels.
void applySettingsToPanels(settingsPanelsView &view, processingParams_t *params, bool force);

#endif // SETTINGSPANELS_H
