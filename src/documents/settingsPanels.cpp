#include "documents/settingsPanels.h"

namespace
{
const processingPanel_e LOCKABLE[] = {processingPanel_e::colorSaturation, processingPanel_e::colorAdjustment,
                                      processingPanel_e::vignette};
}

lockedPanels_t lockedPanelsOf(const settingsPanelsView &view)
{
    lockedPanels_t locked;
    for (processingPanel_e panel : LOCKABLE)
        if (view.isPanelLocked(panel))
            locked.insert(panel);
    return locked;
}

void applySettingsToPanels(settingsPanelsView &view, processingParams_t *params, bool force)
{
    if (!params)
        return;
    view.showCurves(*params);
    view.showInPanel(processingPanel_e::toneMapping, *params);
    for (processingPanel_e panel : LOCKABLE)
        if (force || !view.isPanelLocked(panel))
            view.showInPanel(panel, *params);
    view.showInPanel(processingPanel_e::levels, *params);
    view.copyPanelsToRecord(params);
    view.finishRefresh(*params);
}
