// Preset thumbnail benchmark: the thumbnails of 40 presets of a bracket, as
// the presets tab renders them (smallest preview level, one worker run).
//
//   preset_thumbs [--threads N] [--screenful K] PHOTO...
//
// Prints "size W H" (the image and its smallest preview level), then
// "first_screen SECONDS" (the first K thumbnails, default 8, the rows a
// presets tab shows at once) and "all SECONDS" (all 40).

#include "app/programOptionsSettings.h"
#include "bracketProject.h"
#include "documents/presetThumbWorker.h"
#include "project/processingProject.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThreadPool>
#include <cstdio>
#include <omp.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList photos;
    int threads = 0, screenful = 8;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--threads" && i + 1 < args.size())
            threads = args[++i].toInt();
        else if (args[i] == "--screenful" && i + 1 < args.size())
            screenful = args[++i].toInt();
        else
            photos << args[i];
    }
    if (photos.isEmpty()) {
        std::fprintf(stderr, "usage: preset_thumbs [--threads N] [--screenful K] PHOTO...\n");
        return 2;
    }
    QTemporaryDir scratch(QDir::tempPath() + "/preset_thumbs-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
    options.colorManagement.enabled = false;
    if (threads > 0) {
        options.performance.coreCount = threads;
        options.performance.coreCountBatch = threads;
        QThreadPool::globalInstance()->setMaxThreadCount(threads);
        omp_set_num_threads(threads);
    }
    optionsInstance = &options;
    int status = 0;
    {
        processingProject project(nullptr);
        QString error;
        if (!loadBracket(project, photos, &error)) {
            std::fprintf(stderr, "preset_thumbs: %s\n", qPrintable(error));
            optionsInstance = nullptr;
            return 1;
        }
        const pyramidLevel_t &lv = project.hdrImage.levels[project.hdrImage.levelCount - 1];
        std::printf("size %d %d thumbnail %d %d\n", project.width, project.height, lv.width, lv.height);

        // 40 looks: every combination of a few strengths, mask and colour settings.
        presetThumbJob_t job;
        for (int i = 0; i < 40; ++i) {
            processingParams_t p;
            p.compression = 1.0 + 0.1 * (i % 8);
            p.gamma = 0.8 + 0.05 * (i % 5);
            p.lcEnabled = true;
            p.lcStrength = 0.1 * (i % 7);
            p.maskEnabled = i % 3 == 0;
            p.maskHighlights = 0.1 * (i % 4);
            p.saturation = 0.5 + 0.05 * i;
            p.temperature = 0.7 + 0.015 * i;
            p.vignetteAmount = -0.3 * (i % 2);
            p.vignetteSmoothness = p.vignetteSize = 1.0;
            p.hueSelectivePoints = {{0.1 * (i % 10), 0.7, 1.0}};
            job.items.append({i, p});
        }
        presetThumbWorker worker(&project, job);
        QElapsedTimer timer;
        int done = 0;
        QObject::connect(&worker, &presetThumbWorker::finishedSingle, [&](int, const QImage &) {
            if (++done == screenful)
                std::printf("first_screen %.3f\n", timer.nsecsElapsed() / 1e9);
        });
        timer.start();
        worker.generateThumbs();
        std::printf("all %.3f (%d thumbnails)\n", timer.nsecsElapsed() / 1e9, done);
        if (done != 40)
            status = 1;
    }
    optionsInstance = nullptr;
    return status;
}
