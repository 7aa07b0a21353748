#include "hdrdialogs/loadOptionDialogs.h"

#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/hdrLoadOptions.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "project/processingProject.h"

#include <QComboBox>

loadOptionDialogs::loadOptionDialogs(QWidget *parent)
    : rawOptions(new rawLoadOptions(parent)), hdrOptions(new hdrLoadOptions(parent))
{
}

bool loadOptionDialogs::hdrLoadChoices(processingProject *project, int fileType)
{
    hdrLoadOptions *dlg = hdrOptions;
    dlg->setFileType(fileType);
    denoiseSettings_t noise;
    if (startParams.autoProcess) {
        noise.enabled = startParams.noiseFilter;
        noise.strength = startParams.noiseFilterParam1;
        noise.softness = startParams.noiseFilterParam2;
        dlg->denoise()->setSettings(noise);
        dlg->setPanorama(startParams.panoramaMode);
    } else if (project->quiet) {
        dlg->setColorSpace(project->batchHdrColorSpace);
        noise.enabled = project->batchHdrNoiseFilter;
        noise.strength = project->batchHdrNoiseStrength;
        noise.softness = project->batchHdrNoiseSoftness;
        dlg->denoise()->setSettings(noise);
        dlg->setPanorama(project->batchHdrPanorama);
    } else if (dlg->exec() != QDialog::Accepted) {
        return false;
    }
    project->hdrColorSpaceCode = dlg->colorSpace();
    // The loader reads these after the decode, on its own thread, from the
    // settings record rather than from the widgets.
    dlg->denoise()->getSettings();
    if (optionsInstance)
        optionsInstance->processing.panoramaMode = dlg->panorama();
    return true;
}

int loadOptionDialogs::rawColorSpaceCode() const
{
    return rawOptions->colorSpaceCombo()->currentIndex() + 1;
}
