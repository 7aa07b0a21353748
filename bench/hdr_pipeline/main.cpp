// HDR pipeline benchmark: loads the photos named on the command line into a
// processing project and runs the HDR stages on them, timing each.
//
//   hdr_pipeline [--method true|smart|average] [--deghost] [--save-hdr FILE]
//                [--threads N] [--load-only] [--scratch DIR] PHOTO...
//
// Prints "photo FILE WIDTH HEIGHT EV" per loaded photo, "stage NAME SECONDS"
// per stage and last "peak_rss_mb N". A file that cannot be loaded prints
// "refused FILE: MESSAGE" and makes the exit code non-zero.

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "hdr/deghostWorker.h"
#include "hdr/generateHDRworker.h"
#include "imageio/exifReader.h"
#include "project/exposureValues.h"
#include "project/filterKernels.h"
#include "project/photoLoading.h"
#include "project/processingProject.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <omp.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

struct loadJob_t {
    QString path;
    photoInfo_t photo;
    QString error;
    bool ok = false;
};

void printStage(const char *name, const QElapsedTimer &t)
{
    std::printf("stage %s %.3f\n", name, t.nsecsElapsed() / 1e9);
    std::fflush(stdout);
}

// Decodes one photo into 16-bit RGB, makes its preview and parks the full-size
// pixels in the photo's temporary file, as photo loading does for JPEG, PNG and
// BMP files.
void decodePhoto(processingProject *project, loadJob_t &job)
{
    const int w = project->width, h = project->height;
    pyramid full;
    if (!full.makePyramid(w, h, 1, 2, 3, true)) {
        job.error = "Not enough memory!";
        return;
    }
    quint16 *dst = static_cast<quint16 *>(full.levels[0].data);
    QString error;
    int stripes = 0;
    if (!photoLoading::loadStandardImage(job.path, w, h, 1, dst, &stripes, &error)) {
        job.error = QString("Failed to load image, div=%1 %2").arg(stripes).arg(error);
        return;
    }
    photoInfo_t &p = job.photo;
    std::memset(&p.exif, 0, sizeof p.exif);
    exifReadFile(job.path, &p.exif);   // photos without EXIF get their EVs from the content
    const qint64 pn = qint64(project->previewWidth) * project->previewHeight;
    p.preview = new quint16[size_t(pn) * 3];
    p.mask = new quint8[size_t(pn)]();
    p.mergeBuffer = new double[PHOTO_MERGE_TABLE_SIZE];
    for (double *&t : p.workTables)
        t = new double[PHOTO_WORK_TABLE_BYTES / sizeof(double)];
    parallelFor(project->previewDivisor, w, h, dst, p.preview);
    if (!project->writeToTempFile(p, 0, full)) {
        job.error = "Cannot write temporary file (no write rights or not enough disk space).";
        return;
    }
    job.ok = true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList files;
    int method = 0, threads = 0;
    bool deghost = false, loadOnly = false;
    QString saveHdr, scratchDir;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); i++) {
        const QString &a = args[i];
        if (a == "--method" && i + 1 < args.size()) {
            const QString m = args[++i];
            method = m == "smart" ? 1 : m == "average" ? 2 : 0;
        } else if (a == "--deghost") {
            deghost = true;
        } else if (a == "--save-hdr" && i + 1 < args.size()) {
            saveHdr = args[++i];
        } else if (a == "--threads" && i + 1 < args.size()) {
            threads = args[++i].toInt();
        } else if (a == "--scratch" && i + 1 < args.size()) {
            scratchDir = args[++i];
        } else if (a == "--load-only") {
            loadOnly = true;
        } else if (a.startsWith("--")) {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(a));
            return 2;
        } else {
            files << a;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: hdr_pipeline [--method true|smart|average] [--deghost] [--save-hdr FILE] "
                             "[--threads N] [--load-only] [--scratch DIR] PHOTO...\n");
        return 2;
    }

    // The session's temporary files go to the scratch-pad folder (--scratch,
    // else the system temporary folder).
    QTemporaryDir scratch(scratchDir.isEmpty() ? QDir::tempPath() + "/hdr_pipeline-XXXXXX"
                                               : scratchDir + "/hdr_pipeline-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
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

        // ---- load: sizes from the first readable photo, then decode in parallel
        QElapsedTimer timer;
        timer.start();
        std::vector<loadJob_t> jobs;
        for (const QString &f : files) {
            loadJob_t job;
            job.path = f;
            QImageReader reader(f);
            const QSize size = reader.size();
            if (!reader.canRead() || !size.isValid()) {
                std::printf("refused %s: %s\n", qPrintable(f), qPrintable(reader.errorString()));
                status = 1;
                continue;
            }
            if (size.width() < 128 || size.height() < 128) {
                std::printf("refused %s: The photo is too small (%d x %d).\n", qPrintable(f), size.width(),
                            size.height());
                status = 1;
                continue;
            }
            if (project.width != 0 && (size.width() != project.width || size.height() != project.height)) {
                std::printf("refused %s: Wrong image dimensions. All photos must be the same size.\n", qPrintable(f));
                status = 1;
                continue;
            }
            if (project.width == 0) {
                project.width = size.width();
                project.height = size.height();
                if (!project.allocatePyramids() || !project.allocatePreview()) {
                    std::printf("refused %s: Not enough memory!\n", qPrintable(f));
                    return 1;
                }
            }
            job.photo.id = project.photoIdCounter++;
            job.photo.filePath = f;
            job.photo.included = 1;
            jobs.push_back(std::move(job));
        }
        const int parallel = threads > 0 ? threads : std::max(1, int(std::thread::hardware_concurrency()));
        for (size_t first = 0; first < jobs.size(); first += size_t(parallel)) {
            std::vector<std::thread> running;
            for (size_t k = first; k < std::min(jobs.size(), first + size_t(parallel)); k++)
                running.emplace_back([&project, &jobs, k] { decodePhoto(&project, jobs[k]); });
            for (std::thread &t : running)
                t.join();
        }
        for (loadJob_t &job : jobs) {
            if (job.ok) {
                project.photos.append(job.photo);
            } else {
                std::printf("refused %s: %s\n", qPrintable(job.path), qPrintable(job.error));
                status = 1;
                delete[] job.photo.preview;
                delete[] job.photo.mask;
                delete[] job.photo.mergeBuffer;
                for (double *t : job.photo.workTables)
                    delete[] t;
                for (QTemporaryFile *t : job.photo.tempFiles)
                    delete t;
            }
        }
        printStage("load", timer);

        // ---- exposure values from the content (the photos carry no EXIF here)
        timer.restart();
        evState_t ev;
        exposureValues::sortPhotosByEV(project.photos, ev, project.previewWidth, project.previewHeight,
                                       project.defaultResponseTable, project.ghostWeightTable);
        if (!ev.evFromExif && !ev.biasDistinct)
            for (photoInfo_t &p : project.photos)
                p.ev = p.evAuto;
        exposureValues::evRange(project.photos, ev);
        printStage("ev", timer);
        for (const photoInfo_t &p : project.photos)
            std::printf("photo %s %d %d %.2f\n", qPrintable(p.filePath), project.width, project.height, p.ev);

        if (!loadOnly && project.photos.size() > 0) {
            generateHDRoptions_t o;
            o.project = &project;
            o.method = method;
            o.selectivity = 1;
            o.smartMergeStrength = 5;
            o.ghostRemoval = deghost;
            o.saveHDR = !saveHdr.isEmpty();
            o.outputPath = saveHdr;
            generateHDRworker worker(o);

            timer.restart();
            worker.generateHDR_prepare();
            printStage("prepare", timer);
            if (deghost) {
                timer.restart();
                deghostWorker masks(&project, 5);
                masks.autoAntiGhostMask(0.5, -1);
                if (!masks.makeAntiGhostMasks(true))
                    status = 1;
                printStage("deghost", timer);
            }
            timer.restart();
            const bool merged = worker.generateHDR_core();
            printStage("merge", timer);
            if (qEnvironmentVariableIsSet("HDR_PIPELINE_TWICE")) {
                timer.restart();
                worker.generateHDR_core();
                printStage("merge_again", timer);
            }
            if (!merged) {
                std::printf("merge failed\n");
                status = 1;
            } else {
                if (!saveHdr.isEmpty() && method == 0) {
                    timer.restart();
                    if (!worker.saveHdrFile()) {
                        std::printf("refused %s: Cannot write file\n", qPrintable(saveHdr));
                        status = 1;
                    }
                    printStage("save", timer);
                }
                timer.restart();
                worker.hdrPreprocess();
                printStage("preprocess", timer);
            }
        }
    }
    optionsInstance = nullptr;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb %ld\n", usage.ru_maxrss / 1024);
    return status;
}
