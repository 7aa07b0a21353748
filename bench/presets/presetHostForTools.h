#ifndef PRESETHOSTFORTOOLS_H
#define PRESETHOSTFORTOOLS_H

// A preset library host without panels: the current layer is the project's
// base layer, a preset is loaded straight into it.

#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "project/processingProject.h"

#include <cstdio>

class toolPresetHost : public presetLibraryHost
{
public:
    explicit toolPresetHost(processingProject *project) : shown(project) {}
    int currentLayer() const override { return 0; }
    processingParams_t currentSettings() override { return shown->layerSettings[0]; }
    processingParams_t firstLayerSettings() override { return shown->layerSettings[0]; }
    lockedPanels_t lockedPanels() const override { return {}; }
    bool loadPreset(const QString &path) override
    {
        return loadSettingsFile(path, &shown->layerSettings[0]) == SETTINGS_LOADED;
    }
    void setAppliedPresetId(int id) override { shown->layerSettings[0].layerTag = id; }
    void addHistory(const QString &text) override { std::printf("history: %s\n", qPrintable(text)); }
    processingProject *project() override { return shown; }

private:
    processingProject *shown;
};

#endif // PRESETHOSTFORTOOLS_H
