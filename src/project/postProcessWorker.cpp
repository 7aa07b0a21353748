#include "project/postProcessWorker.h"

#include "app/debugLog.h"
#include "project/processingProject.h"

postProcessWorker::postProcessWorker(processingProject *project, const postProcessParams_t &params,
                                     QObject *parent)
    : QObject(parent), project(project), params(params)
{
}

void postProcessWorker::prepareForPostProcessing()
{
    debugLog("Tone mapping entire photo...\n");
    // Only a complete image counts: a pass stopped by abortBackgroundFlag, a
    // layer without tables or a failed allocation leaves the flag false.
    succeeded = project && project->doToneMappingFull();
    if (succeeded)
        project->outputImage.buildLevelsFrom(0, project->taskCount());
    emit finished();
}

void postProcessWorker::runFilter(int filter)
{
    succeeded = false;
    if (project && project->outputImage.levelCount > 0 && project->outputImage.levels[0].data) {
        params.filter = filter;
        const pyramidLevel_t &level = project->outputImage.levels[0];
        succeeded = applyPostProcessFilter(static_cast<quint16 *>(level.data), level.width,
                                           level.height, params, project->taskCount());
    }
    emit finished();
}

void postProcessWorker::gaussianBlur()
{
    runFilter(POSTPROCESS_GAUSSIAN_BLUR);
}

void postProcessWorker::sharpen()
{
    runFilter(POSTPROCESS_SHARPEN);
}

void postProcessWorker::medianFilter()
{
    runFilter(POSTPROCESS_MEDIAN);
}

void postProcessWorker::bilateralFilter()
{
    runFilter(POSTPROCESS_BILATERAL);
}

void postProcessWorker::sampleTargetBalance()
{
    runFilter(POSTPROCESS_SAMPLE_TARGET);
}
