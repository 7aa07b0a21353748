// HDR pipeline benchmark: loads the photos named on the command line into a
// processing project and runs the HDR stages on them, timing each.
//
//   hdr_pipeline [--method true|smart|average] [--lens] [--align] [--deghost] [--deghost-strength 0..9]
//                [--deghost-smoothness 1..10] [--deghost-base K] [--save-hdr FILE]
//                [--tonemap OUT] [--settings FILE.lmsx] [--threads N] [--load-only] [--scratch DIR] PHOTO...
//
// With --tonemap the merged image is also prepared for tone mapping and
// tone-mapped at full size with the default look ("built-in presets/default.lmsx"
// beside the program, or the --settings file); the result is written as PNG
// or JPEG by the suffix of OUT.
//
// Prints "photo FILE WIDTH HEIGHT EV" per loaded photo, "stage NAME SECONDS"
// per stage and last "peak_rss_mb N". A file that cannot be loaded prints
// "refused FILE: MESSAGE" and makes the exit code non-zero.

#include "app/checkedSaveFile.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "documents/presetThumbWorker.h"
#include "documents/settingsFile.h"
#include "hdr/deghostWorker.h"
#include "hdr/generateHDRworker.h"
#include "hdr/ghostMaths.h"
#include "project/toneMappingPreprocessWorker.h"
#include "project/curveMaths.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "project/toneMappingTables.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <omp.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

void printStage(const char *name, const QElapsedTimer &t)
{
    std::printf("stage %s %.3f\n", name, t.nsecsElapsed() / 1e9);
    std::fflush(stdout);
}

// The base layer's settings: the settings file when one is given (or the
// built-in default look beside the program), else the record's built-in
// defaults (straight curves, gamma 1, compression 1, every effect off).
// Fills the derived tables as the program does for an applied preset.
bool prepareBaseLayer(processingProject &project, const QString &settingsPath)
{
    processingParams_t &p = project.layerSettings[0];
    if (!settingsPath.isEmpty()) {
        QString error;
        if (loadSettingsFile(settingsPath, &p, &error) != SETTINGS_LOADED) {
            std::printf("refused %s: %s\n", qPrintable(settingsPath),
                        qPrintable(error.isEmpty() ? QString("cannot read the settings file") : error));
            return false;
        }
    }
    std::printf("settings %s\n", settingsPath.isEmpty() ? "built-in-record" : qPrintable(settingsPath));
    preparePresetTables(&project, &p);
    return true;
}

// The lens model of a photo as exiftool reports it ("" when it cannot tell).
QString lensModelOf(const QString &path)
{
    QProcess exiftool;
    exiftool.start("exiftool", {"-s", "-s", "-s", "-LensModel", path});
    if (!exiftool.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(exiftool.readAllStandardOutput()).trimmed();
}

// Format of a tone-mapped result by the file's suffix; null for other suffixes.
const char *resultFormat(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "png")
        return "PNG";
    if (suffix == "jpg" || suffix == "jpeg")
        return "JPEG";
    return nullptr;
}

// Writes level 0 of the project's 16-bit output image as an 8-bit RGB picture,
// under a temporary name renamed only when everything was written.
bool writeResult(const processingProject &project, const QString &path)
{
    const int w = project.width, h = project.height;
    const quint16 *src = static_cast<const quint16 *>(project.outputImage.levels[0].data);
    QImage img(w, h, QImage::Format_RGB888);
    if (img.isNull() || !src)
        return false;
    for (int y = 0; y < h; y++) {
        uchar *line = img.scanLine(y);
        const quint16 *row = src + size_t(y) * size_t(w) * 3;
        for (int i = 0; i < w * 3; i++)
            line[i] = uchar((unsigned(row[i]) * 255u + 32767u) / 65535u);
    }
    checkedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, resultFormat(path));
    if (qstrcmp(resultFormat(path), "JPEG") == 0)
        writer.setQuality(95);
    if (!writer.write(img)) {
        file.discard();
        return false;
    }
    return file.commit();
}

// The tone-mapping preparation (mask luminance and local-contrast maps, as
// the preparation worker computes them) and the full-size tone mapping of the
// base layer with its default settings; writes the result to `out`.
bool toneMap(processingProject &project, const QString &out, const QString &settingsPath)
{
    QElapsedTimer timer;
    timer.start();
    project.maskReady = project.localContrastReady = false;
    toneMappingPreprocessWorker preparation(&project);
    preparation.doIt();
    printStage("localcontrast", timer);
    if (!preparation.mapsReady()) {
        std::printf("tone-mapping preparation failed\n");
        return false;
    }
    timer.restart();
    if (!prepareBaseLayer(project, settingsPath))
        return false;
    // The statistics pass over the smallest level (histograms, automatic
    // clip points) that the program runs before every full rendering.
    {
        const pyramidLevel_t &small = project.hdrImage.levels[project.hdrImage.levelCount - 1];
        std::vector<uint8_t> preview(size_t(small.width) * size_t(small.height) * 3);
        project.doToneMapping(&project.layerSettings[0], preview.data(), false, false);
    }
    const bool complete = project.doToneMappingFull();
    printStage("tonemap", timer);
    if (!complete) {
        std::printf("tone mapping failed\n");
        return false;
    }
    timer.restart();
    if (!writeResult(project, out)) {
        std::printf("refused %s: Cannot write file\n", qPrintable(out));
        return false;
    }
    printStage("write", timer);
    std::printf("hdr_median %.4f lc_correction %.4f\n", project.hdrState.hdrMedian, project.hdrState.lcCorrection);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList files;
    int method = 0, threads = 0;
    bool deghost = false, loadOnly = false, align = false, lens = false;
    int deghostStrength = 4, deghostSmoothness = 5;   // the ghost-removal defaults
    int deghostBase = -1;   // photo index (in EV order) every ghost region takes; -1 = best per subject
    QString saveHdr, scratchDir, toneMapOut, settingsPath;
    bool settingsGiven = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); i++) {
        const QString &a = args[i];
        if (a == "--method" && i + 1 < args.size()) {
            const QString m = args[++i];
            method = m == "smart" ? 1 : m == "average" ? 2 : 0;
        } else if (a == "--deghost") {
            deghost = true;
        } else if (a == "--deghost-strength" && i + 1 < args.size()) {
            deghost = true;
            deghostStrength = args[++i].toInt();
        } else if (a == "--deghost-smoothness" && i + 1 < args.size()) {
            deghost = true;
            deghostSmoothness = args[++i].toInt();
        } else if (a == "--deghost-base" && i + 1 < args.size()) {
            deghost = true;
            deghostBase = args[++i].toInt();
        } else if (a == "--align") {
            align = true;
        } else if (a == "--lens") {
            lens = true;
        } else if (a == "--save-hdr" && i + 1 < args.size()) {
            saveHdr = args[++i];
        } else if (a == "--tonemap" && i + 1 < args.size()) {
            toneMapOut = args[++i];
        } else if (a == "--settings" && i + 1 < args.size()) {
            settingsPath = args[++i];
            settingsGiven = true;
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
        std::fprintf(stderr, "usage: hdr_pipeline [--method true|smart|average] [--lens] [--align] [--deghost] [--deghost-strength S] [--deghost-smoothness M] [--deghost-base K] [--save-hdr FILE] "
                             "[--tonemap OUT] [--settings FILE.lmsx] [--threads N] [--load-only] [--scratch DIR] PHOTO...\n");
        return 2;
    }
    if (!settingsGiven) {
        // The default look shipped beside the program, when it is there.
        const QString builtIn = QCoreApplication::applicationDirPath() + "/built-in presets/default.lmsx";
        if (QFileInfo(builtIn).isFile())
            settingsPath = builtIn;
    }
    if (!toneMapOut.isEmpty() && !resultFormat(toneMapOut)) {
        std::fprintf(stderr, "--tonemap: the file must end in .png, .jpg or .jpeg\n");
        return 2;
    }

    // The session's temporary files go to the scratch-pad folder (--scratch,
    // else the system temporary folder).
    QTemporaryDir scratch(scratchDir.isEmpty() ? QDir::tempPath() + "/hdr_pipeline-XXXXXX"
                                               : scratchDir + "/hdr_pipeline-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
    options.colorManagement.enabled = false;   // no profile files beside the benchmark
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

        // ---- load: the photo loader's prepare step for every file (sizes,
        // limits), then one loadPhotoWorker per photo, at most `parallel` at a time.
        QElapsedTimer timer;
        timer.start();
        project.quiet = true;   // no message boxes: refusals are printed
        struct job_t {
            QString path;
            std::unique_ptr<pyramid> image;
            std::unique_ptr<loadPhotoWorker> worker;
            QString error;
            int status = -1;
        };
        std::vector<job_t> jobs;
        for (const QString &f : files) {
            photoInfo_t photo;
            photo.filePath = f;
            photo.loadDivisor = 1;
            const int prepared = project.loadPhotoPrepare(photo, int(jobs.size()), files.size(), false);
            if (prepared != 0) {
                const QString why = project.lastErrorMessage.isEmpty() ? QString("cannot be loaded")
                                                                       : project.lastErrorMessage;
                std::printf("refused %s: %s\n", qPrintable(f), qPrintable(why));
                status = 1;
                continue;
            }
            job_t job;
            job.path = f;
            job.image.reset(new pyramid);
            job.worker.reset(new loadPhotoWorker(&project, photo, *job.image, int(jobs.size())));
            jobs.push_back(std::move(job));
        }
        const int parallel = threads > 0 ? threads : std::max(1, int(std::thread::hardware_concurrency()));
        for (size_t first = 0; first < jobs.size(); first += size_t(parallel)) {
            const size_t end = std::min(jobs.size(), first + size_t(parallel));
            // The full-size buffers of this group only, freed once its photos are stored.
            for (size_t k = first; k < end; k++)
                if (!jobs[k].image->makePyramid(project.width, project.height, 1, 2, 3, true)) {
                    std::printf("refused %s: Not enough memory!\n", qPrintable(jobs[k].path));
                    return 1;
                }
            std::vector<std::thread> running;
            for (size_t k = first; k < end; k++)
                running.emplace_back([&jobs, k] {
                    job_t &j = jobs[k];
                    QObject::connect(j.worker.get(), &loadPhotoWorker::finished,
                                     [&j](int, QString message, int) { j.error = message; });
                    j.status = j.worker->loadPhoto();
                });
            for (std::thread &t : running)
                t.join();
            for (size_t k = first; k < end; k++) {
                job_t &j = jobs[k];
                project.photos.append(j.worker->photo);
                if (j.status != 0) {
                    std::printf("refused %s: %s\n", qPrintable(j.path),
                                qPrintable(j.error.isEmpty() ? QString("failed to load") : j.error));
                    status = 1;
                    project.removePhoto(j.worker->photo.id);
                }
                j.image.reset();
            }
        }
        printStage("load", timer);

        // ---- exposure values: EXIF, else the AEB bias, else the content
        timer.restart();
        project.sortPhotosByEV();
        if (!project.evFromExif && !project.biasDistinct)
            for (photoInfo_t &p : project.photos)
                p.ev = p.evAuto;
        project.evRange();
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
            o.ghostRemovalSmoothness = deghostSmoothness;
            o.ghostRemovalRepair = deghost;   // the program's default ("Repair over and underexposed" on)
            o.saveHDR = !saveHdr.isEmpty();
            o.outputPath = saveHdr;
            generateHDRworker worker(o);
            bool stageOk = false;
            QObject::connect(&worker, &generateHDRworker::finished, [&stageOk](bool ok) { stageOk = ok; });

            // ---- the geometric stages, in the HDR dialog's order: lens
            // correction, then alignment to the middle exposure.
            if (lens) {
                const photoInfo_t &first = project.photos.first();
                worker.setLensExif(QString::fromLatin1(first.exif.model), lensModelOf(first.filePath),
                                   first.exif.focalLength);
                timer.restart();
                worker.generateHDR_preLensCorrection();
                printStage("lens", timer);
                std::printf("lens %s: %s\n", stageOk ? "corrected" : "not corrected",
                            qPrintable(worker.statusText()));
            }
            if (align) {
                QStringList names;
                for (const photoInfo_t &p : project.photos)
                    names << p.filePath;
                timer.restart();
                worker.generateHDR_preAutoAlign();
                printStage("align", timer);
                if (!stageOk) {
                    std::printf("alignment failed\n");
                    status = 1;
                } else if (worker.alignBase >= 0 && worker.alignBase < names.size()) {
                    std::printf("base %s\n", qPrintable(names[worker.alignBase]));
                    for (int k = 0; k < names.size() && k < int(worker.alignTransforms.size()); k++) {
                        if (k == worker.alignBase)
                            continue;
                        const double *a = worker.alignTransforms[size_t(k)].a;
                        std::printf("transform %s %.6g %.6g %.6g %.6g %.6g %.6g %.6g %.6g\n", qPrintable(names[k]),
                                    a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
                    }
                }
                std::printf("size %d %d\n", project.width, project.height);
            }

            timer.restart();
            worker.generateHDR_prepare();
            printStage("prepare", timer);
            if (deghost) {
                timer.restart();
                deghostWorker masks(&project, deghostSmoothness);
                // As the ghost-removal dialog initialises: a preview merge
                // without masks, and the photos' tones matched to it.
                const double threshold = ghostThresholdForStrength(deghostStrength, project.photos.size());
                worker.confidenceTablesValid = masks.matchTonesToMerge(o, threshold);
                masks.autoAntiGhostMask(threshold, deghostBase);
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
                // As the HDR worker finishes a merge: preprocessing, noise
                // filtering, the smaller levels of the HDR image.
                worker.hdrPreprocess();
                worker.noiseFiltering();
                project.hdrImage.buildLevelsFrom(0);
                printStage("preprocess", timer);
                if (!toneMapOut.isEmpty() && !toneMap(project, toneMapOut, settingsPath))
                    status = 1;
            }
        }
    }
    optionsInstance = nullptr;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb %ld\n", usage.ru_maxrss / 1024);
    return status;
}
