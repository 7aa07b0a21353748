#include "project/postProcessing.h"

#include "app/debugLog.h"
#include "project/filterKernels.h"
#include "project/pyramid.h"

#include <QTemporaryFile>
#include <algorithm>
#include <cstring>
#include <new>

qint64 postProcessProgressRange(int filter, int width, int height)
{
    const qint64 range = filter == POSTPROCESS_MEDIAN ? qint64(height) : qint64(height) + width;
    return std::max<qint64>(range, 1);
}

bool applyPostProcessFilter(quint16 *image, int width, int height,
                            const postProcessParams_t &params, int threads)
{
    if (!image || width <= 0 || height <= 0)
        return false;
    if (params.filter == POSTPROCESS_SAMPLE_TARGET) {
        _sampleTargetBalance_threadParams_t p{};
        p.image = image;
        p.width = width;
        p.height = height;
        p.opacity = params.opacity;
        std::memcpy(p.sample, params.sample, sizeof(p.sample));
        std::memcpy(p.target, params.target, sizeof(p.target));
        sampleTargetBalanceRgb16(p, threads);
        return true;
    }
    if (params.filter < POSTPROCESS_GAUSSIAN_BLUR || params.filter > POSTPROCESS_BILATERAL) {
        debugLog("%s: unknown filter %d\n", "applyPostProcessFilter", params.filter);
        return false;
    }
    const size_t samples = size_t(width) * size_t(height) * 3;
    std::unique_ptr<quint16[]> scratch(new (std::nothrow) quint16[samples]);
    if (!scratch) {
        debugLog("%s: failed to allocate memory\n", "applyPostProcessFilter");
        return false;
    }
    switch (params.filter) {
    case POSTPROCESS_GAUSSIAN_BLUR:
        gaussianBlurRgb16(image, scratch.get(), width, height, params.sigma, params.opacity, threads);
        break;
    case POSTPROCESS_SHARPEN:
        sharpenRgb16(image, scratch.get(), width, height, params.sigma, params.amount,
                     params.threshold, threads);
        break;
    case POSTPROCESS_MEDIAN:
        medianRgb16(image, scratch.get(), width, height, params.shape, params.threshold,
                    params.opacity, threads);
        break;
    default:
        bilateralRgb16(image, scratch.get(), width, height, params.sigma, params.threshold,
                       params.opacity, threads);
        break;
    }
    return true;
}

postProcessUndo::postProcessUndo() = default;
postProcessUndo::~postProcessUndo() = default;

bool postProcessUndo::available() const
{
    return bool(file);
}

void postProcessUndo::drop()
{
    if (file) {
        file->close();
        file->remove();
        file.reset();
    }
}

bool postProcessUndo::save(const pyramid &image, const QString &sessionDir)
{
    drop();
    std::unique_ptr<QTemporaryFile> f(new QTemporaryFile(sessionDir + "/XXXXXX"));
    if (!f->open()) {
        debugLog("%s: open() failed (%s)\n", "mainWindow::applyPostProcessing",
                 sessionDir.toLocal8Bit().constData());
        return false;
    }
    if (!image.writeToTempFile(f.get()) || !f->flush()) {
        debugLog("%s: writeToTempFile() failed\n", "mainWindow::applyPostProcessing");
        f->remove();
        return false;
    }
    file = std::move(f);
    return true;
}

bool postProcessUndo::restore(pyramid &image)
{
    if (!file)
        return false;
    debugLog("Post process undo...\n");
    bool ok = false;
    const size_t bytes = image.levelBytes(0);
    // Read into a separate buffer first, so that a short read leaves the
    // current image as it is.
    std::unique_ptr<char[]> copy(bytes ? new (std::nothrow) char[bytes] : nullptr);
    if (copy && image.levels[0].data) {
        qint64 done = 0;
        if (file->seek(0)) {
            while (done < qint64(bytes)) {
                const qint64 n = file->read(copy.get() + done, qint64(bytes) - done);
                if (n <= 0)
                    break;
                done += n;
            }
        }
        ok = done == qint64(bytes);
        if (ok)
            std::memcpy(image.levels[0].data, copy.get(), bytes);
    } else {
        ok = image.readFromTempFile(file.get());
    }
    if (!ok)
        debugLog("%s: readFromTempFile() failed\n", "mainWindow::undoPostProcessing");
    drop();
    return ok;
}
