#include "project/toneMappingPreprocessWorker.h"

#include "project/processingProject.h"

bool batchOutputNeedsNoImage(int outputType)
{
    return outputType == 19 || outputType == 20 || outputType == 21;
}

toneMappingPreprocessWorker::toneMappingPreprocessWorker(processingProject *project,
                                                         QObject *parent)
    : QObject(parent), project(project)
{
}

void toneMappingPreprocessWorker::doIt()
{
    if (!project) {
        emit finished();
        return;
    }
    if (project->batchRunning && batchOutputNeedsNoImage(project->batchOutputType)) {
        ready = true;
        emit finished();
        return;
    }
    if (!project->maskReady)
        project->maskReady = project->computeMask();
    if (!project->localContrastReady)
        project->localContrastReady = project->localContrast();
    ready = project->maskReady && project->localContrastReady;
    project->prepared = ready;
    emit finished();
}
