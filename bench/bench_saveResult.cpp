// Saving speed of a 24-megapixel result: JPEG at quality 95 and 16-bit TIFF,
// each followed by the EXIF transfer from a real photo when exiftool and the
// shared sample files are there (the exiftool process stays running between
// saves, as in the program).
//
//   ./bench_saveResult --benchmark_filter=Jpeg

#include "app/utils.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/resultImageWriter.h"
#include "project/parallelRanges.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#ifndef LUMIDRA_BENCH_TESTDATA
#define LUMIDRA_BENCH_TESTDATA "../shared/testdata"   // run from the worktree
#endif

namespace {

const int W = 6000, H = 4000;

const std::vector<uint16_t> &picture()
{
    static const std::vector<uint16_t> img = [] {
        std::vector<uint16_t> v(size_t(W) * H * 3);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                uint16_t *p = &v[(size_t(y) * W + x) * 3];
                const int texture = ((x * 7 + y * 13) % 17) * 600;
                p[0] = uint16_t(std::min(65535, x * 9 + texture));
                p[1] = uint16_t(std::min(65535, y * 14 + texture));
                p[2] = uint16_t(std::min(65535, (x + y) * 5 + texture));
            }
        return v;
    }();
    return img;
}

QString exifSource()
{
    const QString path = QStringLiteral(LUMIDRA_BENCH_TESTDATA "/exif_jpeg/Canon_40D.jpg");
    return QFile::exists(path) ? path : QString();
}

exiftoolDaemon *daemon()
{
    static std::unique_ptr<exiftoolDaemon> d;
    static bool tried = false;
    if (!tried) {
        tried = true;
        // The daemon starts itself and asks exiftool for its version; the
        // answer arrives through the event loop, and commands wait for it.
        d = std::make_unique<exiftoolDaemon>();
        QElapsedTimer t;
        t.start();
        while (d->isRunning() && d->getVersion().isEmpty() && t.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!d->isRunning() || d->getVersion().isEmpty() || d->getVersion() == "?")
            d.reset();
    }
    return d.get();
}

void saveOnce(benchmark::State &state, resultSaveOptions_t o, const char *suffix)
{
    // The program's task runner, as the save worker passes it (JPEG stripes).
    o.taskCount = idealThreadCount(false);
    o.runParallel = [](int n, const std::function<void(int)> &task) { runTasks(n, task); };
    QTemporaryDir dir;
    const QString path = dir.path() + "/result." + suffix;
    const std::vector<uint16_t> &img = picture();
    const QString source = exifSource();
    exiftoolDaemon *exif = source.isEmpty() ? nullptr : daemon();
    if (!exif)
        state.SetLabel("without EXIF transfer (exiftool or sample photo missing)");
    for (auto _ : state) {
        if (!writeResultImage(path, W, H, img.data(), o)) {
            state.SkipWithError("save failed");
            break;
        }
        if (exif && !exif->transferExif(path, source, QString(), false, o.dpi, false, false, false)) {
            state.SetLabel("EXIF transfer failed; image writing only");
            exif = nullptr;
        }
    }
}

void BM_SaveJpegQ95(benchmark::State &state)
{
    resultSaveOptions_t o;
    o.format = resultJpeg;
    o.jpegQuality = 95;
    saveOnce(state, o, "jpg");
}
BENCHMARK(BM_SaveJpegQ95)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_SaveTiff16(benchmark::State &state)
{
    resultSaveOptions_t o;
    o.format = resultTiff;
    o.tiffBitDepth = 2;
    saveOnce(state, o, "tif");
}
BENCHMARK(BM_SaveTiff16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
