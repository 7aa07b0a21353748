#include "project/toneMappingPreprocessWorker.h"

#include "project/processingProject.h"

#include <thread>

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
    if (!project->maskReady && !project->localContrastReady) {
        // The two are independent (each has its own part of the scratch):
        // side by side, the tasks of one keep the cores busy while the other
        // waits for the last task of a pass.
        bool maskDone = false;
        std::thread mask([this, &maskDone]() { maskDone = project->computeMask(); });
        project->localContrastReady = project->localContrast();
        mask.join();
        project->maskReady = maskDone;
    } else if (!project->maskReady) {
        project->maskReady = project->computeMask();
    } else if (!project->localContrastReady) {
        project->localContrastReady = project->localContrast();
    }
    ready = project->maskReady && project->localContrastReady;
    project->prepared = ready;
    emit finished();
}
