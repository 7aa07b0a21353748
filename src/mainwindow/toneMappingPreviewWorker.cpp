#include "mainwindow/toneMappingPreviewWorker.h"

#include "app/sharedFlags.h"
#include "project/processingProject.h"

toneMappingPreviewWorker::toneMappingPreviewWorker(processingProject *project_, int layer_, int currentLayer_,
                                                   QObject *sender, bool keep, bool levels)
    : keepPreset(keep), updateLevels(levels), trueSender(sender), project(project_), layer(layer_),
      currentLayer(currentLayer_)
{
    // Which layers to render is decided now, on the GUI thread.
    for (int l = 0; l < LAYER_COUNT; ++l)
        renderLayer[l] = project && project->layerExists[l]
                         && (layer == l || (layer < 0 && project->layerEnabled[l]));
}

void toneMappingPreviewWorker::doIt()
{
    for (int l = 0; l < LAYER_COUNT && project; ++l) {
        if (abortBackgroundFlag.load())
            break;
        if (renderLayer[l])
            project->doToneMapping(&project->layerSettings[l], nullptr, false, false);
    }
    emit finished();
}
