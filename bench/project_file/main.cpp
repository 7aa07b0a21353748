// Times saving a project (three photos, the HDR image, two masked layers)
// into a project file and reading it back, and reports the file size and
// the peak memory of the process.
//
//   project_file [--size WxH] [--folder DIR] [--exif JPEG]
//
// With --exif every photo takes its EXIF data from JPEG: the save makes the
// three carriers through exiftool beside the compression, as the program
// does; the time the same three carriers take one after another (what the
// window spent before the save when it made them) is printed as well.
//
// The photos are smooth gradients with a little noise (like the sky and
// walls of a real bracket), so the compression works as hard as on photos.

#include "app/programOptionsSettings.h"
#include "app/rawFileIO.h"
#include "documents/projectFileWorkers.h"
#include "project/photoLoading.h"
#include "project/processingProject.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdio>
#include <random>
#include <sys/resource.h>

// CPU seconds of the whole process (every thread), user and system.
static double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

static long peakMegabytes()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int w = 6000, h = 4000;
    QString folder = QDir::tempPath();
    QString exifSource;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString a = argv[i], v = argv[i + 1];
        if (a == "--size")
            sscanf(argv[i + 1], "%dx%d", &w, &h);
        else if (a == "--folder")
            folder = v;
        else if (a == "--exif")
            exifSource = v;
    }
    programOptionsSettings options;
    optionsInstance = &options;
    {
        processingProject project(nullptr);
        project.width = w;
        project.height = h;
        if (!project.allocatePreview() || !project.allocatePyramids()) {
            fprintf(stderr, "not enough memory\n");
            return 1;
        }
        std::mt19937 rng(1);
        pyramid source;
        source.makePyramid(w, h, 1, 2, 3, true);
        uint16_t *px = static_cast<uint16_t *>(source.levels[0].data);
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < 3; ++c)
                        px[(size_t(y) * w + x) * 3 + c] =
                            uint16_t(std::min(65535.0, (x * 30000.0 / w + y * 20000.0 / h + c * 3000) * (p + 1) / 2 +
                                                           (rng() & 255)));
            photoInfo_t photo;
            photo.id = p;
            photo.filePath = QString("/photos/IMG_%1.JPG").arg(p);
            photo.bitDepth = 1;
            photo.ev = (p - 1) * 2.0;
            project.writeToTempFile(photo, 0, source, qint64(w) * h * 6);
            project.photos.append(photo);
        }
        source.freeAll();
        float *hdr = static_cast<float *>(project.hdrImage.levels[0].data);
        for (size_t i = 0; i < size_t(w) * h * 3; ++i)
            hdr[i] = float((i % 7919) * 1e-3 + (rng() & 15) * 1e-5);
        for (int l : {1, 2}) {
            project.layerMasks[l].makePyramid(w, h, 1, 1, 1, true);
            uint8_t *m = static_cast<uint8_t *>(project.layerMasks[l].levels[0].data);
            for (size_t i = 0; i < size_t(w) * h; ++i)
                m[i] = (i % size_t(w)) < size_t(w / 2 * l) / 2 ? 255 : 0;
        }
        projectSaveJob_t job;
        job.target = folder + "/bench_project.lmpx";
        job.saveInputs = true;
        job.saveHdr = true;
        for (int l : {0, 1, 2}) {
            job.layerPresent[l] = true;
            job.layerOpacity[l] = 1;
            job.layerSettings[l] = "[Tone mapping]\n";
        }
        QElapsedTimer t;
        if (!exifSource.isEmpty()) {
            job.exiftool = project.exiftool;
            for (int p = 0; p < 3; ++p) {
                exifCarrierJob_t c;
                c.carrier = folder + QStringLiteral("/bench_carrier_%1.jpg").arg(p);
                c.source = exifSource;
                job.carrierJobs.push_back(c);
            }
            // The first carrier waits for exiftool's start and warm-up,
            // which the program has behind it by the time it saves.
            if (!makeExifCarrier(job.exiftool, job.carrierJobs[0])) {
                fprintf(stderr, "exiftool cannot make a carrier from %s\n", qPrintable(exifSource));
                return 1;
            }
            t.start();
            for (const exifCarrierJob_t &c : job.carrierJobs)
                makeExifCarrier(job.exiftool, c);
            printf("carriers one after another %.2f s\n", t.nsecsElapsed() / 1e9);
            for (const exifCarrierJob_t &c : job.carrierJobs)
                QFile::remove(c.carrier);
        }
        t.start();
        double cpu = cpuSeconds();
        QString error;
        if (!saveProjectFile(&project, job, &error)) {
            fprintf(stderr, "save failed: %s\n", qPrintable(error));
            return 1;
        }
        const double saveSeconds = t.nsecsElapsed() / 1e9;
        printf("save %.2f s (cpu %.2f s), file %.1f MB\n", saveSeconds, cpuSeconds() - cpu,
               QFileInfo(job.target).size() / 1e6);

        // Reopen: the header, the photos through the photo loader's reader
        // (the window runs up to five loaders side by side), then the rest.
        auto fresh = std::make_unique<processingProject>(nullptr);
        fresh->width = w;
        fresh->height = h;
        fresh->allocatePreview();
        fresh->allocatePyramids();
        std::vector<std::vector<uint16_t>> photos(3, std::vector<uint16_t>(size_t(w) * h * 3));
        t.restart();
        cpu = cpuSeconds();
        projectHeader_t raw;
        projectFileHeader_t header;
        if (readProjectFileHeader(job.target, raw, header, &error) != projectHeaderResult_t::ok) {
            fprintf(stderr, "header refused: %s\n", qPrintable(error));
            return 1;
        }
        if (!job.carrierJobs.empty()) {
            int carriers = 0;
            for (int p = 0; p < 3; ++p)
                carriers += header.exifOffsets[p] != 0;
            printf("EXIF carriers in the file: %d of 3\n", carriers);
        }
        std::vector<QFuture<bool>> loads;
        for (int p = 0; p < 3; ++p)
            loads.push_back(QtConcurrent::run([&, p]() {
                return photoLoading::readProjectPhoto(job.target, raw, p, w, h, photos[size_t(p)].data(), nullptr);
            }));
        bool ok = true;
        for (auto &f : loads)
            ok = f.result() && ok;
        const double photoSeconds = t.nsecsElapsed() / 1e9;
        projectLoadResult_t result;
        ok = readProjectExtras(fresh.get(), job.target, header, {0, 1, 2}, result) && ok;
        const double loadSeconds = t.nsecsElapsed() / 1e9;
        printf("load %.2f s (cpu %.2f s; photos %.2f s, HDR image and layers %.2f s)%s\n", loadSeconds,
               cpuSeconds() - cpu, photoSeconds, loadSeconds - photoSeconds, ok ? "" : " FAILED");
        QFile::remove(job.target);
    }
    printf("peak %ld MB\n", peakMegabytes());
    optionsInstance = nullptr;
    return 0;
}
