#include "hdr/saveResultWorker.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "project/parallelRanges.h"
#include "project/processingProject.h"

#include <QMutexLocker>
#include <new>

saveResultWorker::saveResultWorker(processingProject *p, const saveResultJob_t &job, QObject *parent)
    : QObject(parent), project(p), saveJob(job)
{
}

bool saveResultWorker::convertToSrgbCopy(const processingProject *p, const uint16_t *rgb, int width, int height,
                                         std::vector<uint16_t> &out)
{
    out.clear();
    if (!p || !rgb || width <= 0 || height <= 0)
        return false;
    try {
        out.resize(size_t(width) * size_t(height) * 3);
    } catch (const std::bad_alloc &) {
        debugLog("%s: failed to allocate memory\n", "saveResultWorker::convertToSrgbCopy");
        return false;
    }
    const size_t rowSamples = size_t(width) * 3;
    const int n = p->taskCount();
    std::atomic<bool> ok {true};
    runTasks(n, [&](int i) {
        const range_t rows = taskRange(height, n, i);
        for (int64_t y = rows.first; y < rows.end && ok; ++y) {
            if (!p->doTransform(processingProject::TRANSFORM_TO_SRGB_16, rgb + size_t(y) * rowSamples,
                                out.data() + size_t(y) * rowSamples, uint32_t(width)))
                ok = false;
        }
    });
    if (!ok) {
        out.clear();
        out.shrink_to_fit();
    }
    return ok;
}

void saveResultWorker::doSaveResult()
{
    saved = false;
    failure.clear();
    debugLog("Preparing to save...\n");
    const int width = project->width;
    const int height = project->height;
    if (!saveJob.toneMapFirst) {
        debugLog("Photo was post processed, no need to tone map whole image.\n");
    } else {
        debugLog("Tone mapping entire photo...\n");
        // An interrupted or failed tone mapping leaves a partly rendered
        // image, which is never written.
        if (!project->doToneMappingFull()) {
            failure = tr("The tone mapping did not finish.");
            debugLog("Saving failed: %s (%s)\n", qPrintable(saveJob.fileName), "tone mapping incomplete");
            emit finished();
            return;
        }
    }

    {
        QMutexLocker locker(&toneMappingMutex);
        const uint16_t *rgb = static_cast<const uint16_t *>(project->outputImage.levelCount > 0
                                                                ? project->outputImage.levels[0].data
                                                                : nullptr);
        if (!rgb || width <= 0 || height <= 0) {
            failure = tr("There is no result to save.");
        } else {
            std::vector<uint16_t> converted;
            if (saveJob.convertToSrgb) {
                debugLog("Converting to sRGB...\n");
                if (convertToSrgbCopy(project, rgb, width, height, converted))
                    rgb = converted.data();
                else
                    failure = tr("The conversion to sRGB failed.");
            }
            if (failure.isEmpty()) {
                if (saveJob.options.resize)
                    debugLog("Resizing JPEG (%d x %d)...\n", saveJob.options.resizeWidth,
                             saveJob.options.resizeHeight);
                // A read-only leftover "~" file of an earlier save is ours to replace.
                QString reason;
                resultSaveOptions_t options = saveJob.options;
                options.taskCount = project->taskCount();
                options.runParallel = [](int n, const std::function<void(int)> &task) { runTasks(n, task); };
                saved = writeResultImage(temporaryName(), width, height, rgb, options, true, &reason);
                if (!saved)
                    failure = reason;
            }
        }
    }
    emit finished();
}
