// processingProject::transformImage: one geometric operation applied to
// everything the project holds at full size (photos, HDR image, derived maps,
// output, ghost and layer masks and their undo files), so that they all stay
// aligned.

#include "project/processingProject.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "hdr/geometryPhotoFiles.h"
#include "project/filterKernels.h"
#include "project/imageTransform.h"
#include "project/photoLoading.h"

#include <QFile>
#include <QTemporaryFile>
#include <memory>
#include <new>
#include <vector>

namespace {

struct transformArgs_t {
    int mode, x1, y1, x2, y2;
    double angle, distortion, px, py;
};

// Level 0 of a full-size pyramid (the lower levels are rebuilt at the end).
template <typename T>
bool transformLevel0(pyramid &p, int width, int height, int channels, const transformArgs_t &a)
{
    if (!p.levels[0].data || p.levelCount < 1)
        return true;
    return transformBuffer(static_cast<T *>(p.levels[0].data), width, height, channels, a.mode,
                           a.x1, a.y1, a.x2, a.y2, a.angle, a.distortion, a.px, a.py);
}

// A preview-size mask follows rotations and mirrors; crops and warps clear it.
bool transformPreviewMask(uint8_t *mask, int width, int height, const transformArgs_t &a)
{
    if (!mask)
        return true;
    return transformBuffer(mask, width, height, 1, a.mode, 0, 0, width, height, 0, 0, 0, 0);
}

// A full-size buffer the project holds at the old size follows the operation,
// whatever produced its contents (a merge, a loaded HDR file, an enhanced photo).
bool heldAtSize(const pyramid &p, int width, int height)
{
    return p.levelCount >= 1 && p.levels[0].data && int64_t(p.levels[0].width) * p.levels[0].height ==
                                                         int64_t(width) * height;
}

QString undoFile(const QString &session, const QString &name)
{
    return session + (session.endsWith('/') ? QString() : QStringLiteral("/")) + name;
}

} // namespace

bool processingProject::transformImage(int mode, int x1, int y1, int x2, int y2, double angle,
                                       double distortion, double perspectiveX,
                                       double perspectiveY)
{
    debugLog("Transforming image... mode: %d, crop: %d,%d; %d,%d\n", mode, x1, y1, x2, y2);
    const char *fn = "processingProject::transformImage";
    const int W = width, H = height;
    int newW = 0, newH = 0;
    if (!transformOutputSize(mode, W, H, x1, y1, x2, y2, newW, newH)) {
        debugLog("%s: refused (mode %d, rectangle %d,%d; %d,%d for %dx%d)\n", fn, mode, x1, y1, x2,
                 y2, W, H);
        return false;
    }
    const transformArgs_t args{mode, x1, y1, x2, y2, angle, distortion, perspectiveX, perspectiveY};
    const bool cropping = mode == TRANSFORM_CROP || mode == TRANSFORM_WARP;

    // 1. The photos' new full-size images, each in a new file; nothing is
    //    switched until all of them are complete.
    const bool photosAreFloat = !photos.isEmpty() && photos.first().isFloat;
    std::vector<std::unique_ptr<QTemporaryFile>> newFiles;
    std::vector<std::vector<uint16_t>> newPreviews;
    const previewGeometry_t newPreview = previewGeometry(newW, newH);
    if (!photosAreFloat && !photos.isEmpty()) {
        std::unique_ptr<uint16_t[]> work(new (std::nothrow) uint16_t[size_t(W) * size_t(H) * 3]);
        if (!work) {
            debugLog("%s: failed to allocate memory\n", fn);
            return false;
        }
        for (int k = 0; k < photos.size(); ++k) {
            const int64_t bytes = int64_t(W) * H * 6;
            if (!readPhotoImage(photos[k], work.get(), bytes) ||
                !transformBuffer(work.get(), W, H, 3, mode, x1, y1, x2, y2, angle, distortion,
                                 perspectiveX, perspectiveY)) {
                debugLog("%s: photo %d cannot be transformed; nothing was changed\n", fn, k);
                return false;
            }
            newFiles.emplace_back(writeNewPhotoFile(sessionPath, work.get(), int64_t(newW) * newH * 6));
            if (!newFiles.back()) {
                debugLog("%s: photo %d cannot be stored; nothing was changed\n", fn, k);
                return false;
            }
            newPreviews.emplace_back(size_t(newPreview.width) * newPreview.height * 3);
            parallelFor(newPreview.divisor, newW, newH, work.get(), newPreviews.back().data());
            progressCounter.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // 2. The preview-size buffers for the new size; only then the new size.
    const int oldPreviewW = previewWidth, oldPreviewH = previewHeight;
    if (!resizePreviews(newW, newH)) {
        debugLog("%s: the previews cannot be resized; nothing further is done\n", fn);
        return false;
    }
    width = newW;
    height = newH;

    // 3. The HDR image and its preview (for a loaded HDR file also the
    //    photo's preview, which shows the same image).
    const bool hdrHeld = heldAtSize(hdrImage, W, H);
    if (hdrHeld) {
        transformLevel0<float>(hdrImage, W, H, 3, args);
        const float *hdr = static_cast<const float *>(hdrImage.levels[0].data);
        if (preview16 && previewDivisor > 0)
            boxDownsampleToRgb16(previewDivisor, newW, newH, hdr, false, 1.0, preview16);
        if (photosAreFloat)
            for (photoInfo_t &photo : photos)
                if (photo.preview)
                    photoLoading::reduceFloatToPreview(hdr, newW, newH, previewDivisor, 1.0, photo.preview,
                                                       previewWidth, previewHeight);
    }
    progressCounter.fetch_add(1, std::memory_order_relaxed);
    // 4. The local-contrast maps and the tone-mapped output.
    const bool mapsHeld = heldAtSize(lcPyramids[0], W, H);
    if (mapsHeld)
        for (pyramid &p : lcPyramids)
            transformLevel0<uint16_t>(p, W, H, 1, args);
    const bool outputHeld = heldAtSize(outputImage, W, H);
    if (outputHeld)
        transformLevel0<uint16_t>(outputImage, W, H, 3, args);
    // 5. Switch the photos to their new files.
    for (int k = 0; k < int(newFiles.size()) && k < photos.size(); ++k) {
        photoInfo_t &photo = photos[k];
        for (int slot = 1; slot < PHOTO_TEMP_SLOTS; ++slot)
            closeTempFiles(photo, slot);
        switchPhotoImage(photo, -1, newFiles[size_t(k)].release());
        if (photo.preview)
            std::copy(newPreviews[size_t(k)].begin(), newPreviews[size_t(k)].end(), photo.preview);
    }
    progressCounter.fetch_add(1, std::memory_order_relaxed);
    // 6. Ghost masks (preview size) and their undo files.
    for (int n = 1;; ++n) {
        const QString path = undoFile(sessionPath, QStringLiteral("ghostMaskUndo_%1").arg(n));
        if (!QFile::exists(path))
            break;
        if (cropping) {
            QFile::remove(path);
            continue;
        }
        pyramid m;
        if (!m.makePyramid(oldPreviewW, oldPreviewH, 1, 1, 1, true) || !m.readMaskFile(path)) {
            QFile::remove(path);
            continue;
        }
        transformPreviewMask(static_cast<uint8_t *>(m.levels[0].data), oldPreviewW, oldPreviewH, args);
        m.setLevelSizes(previewWidth, previewHeight);
        // A file left in the old geometry would be read back wrongly placed.
        if (!m.writeMaskFile(path))
            QFile::remove(path);
    }
    if (ghostLabelMask.levels[0].data) {
        if (cropping)
            ghostLabelMask.clear();
        else
            transformPreviewMask(static_cast<uint8_t *>(ghostLabelMask.levels[0].data), oldPreviewW,
                                 oldPreviewH, args);
        ghostLabelMask.setLevelSizes(previewWidth, previewHeight);
    }
    // 7. Layer masks and their undo files: the live mask is the current undo
    //    step's, so it is transformed and written to that step's file; every
    //    other step's file is read, transformed and written back. Steps up to
    //    the current one are all visited (a missing one is skipped); beyond it
    //    the first missing file ends the history.
    for (int layer = 1; layer < LAYER_COUNT; ++layer) {
        if (!layerExists[layer])
            continue;
        const int current = layerUndoCount[layer];
        const bool maskHeld = heldAtSize(layerMasks[layer], W, H);
        if (maskHeld) {
            transformLevel0<uint8_t>(layerMasks[layer], W, H, 1, args);
            layerMasks[layer].setLevelSizes(newW, newH);
        }
        for (int step = 1;; ++step) {
            const QString path =
                undoFile(sessionPath, QStringLiteral("layerUndo_%1_%2").arg(layer).arg(step));
            const bool exists = QFile::exists(path);
            if (step > current && !exists)
                break;
            if (step == current && maskHeld) {
                if (!layerMasks[layer].writeMaskFile(path)) {
                    debugLog("%s: the mask of layer %d cannot be written to its undo file\n", fn, layer);
                    QFile::remove(path);
                }
                continue;
            }
            if (!exists)
                continue;
            pyramid m;
            if (!m.makePyramid(W, H, 1, 1, 1, true) || !m.readMaskFile(path)) {
                QFile::remove(path);
                continue;
            }
            transformLevel0<uint8_t>(m, W, H, 1, args);
            m.setLevelSizes(newW, newH);
            if (!m.writeMaskFile(path))
                QFile::remove(path);
        }
    }
    // 8. New level sizes, display buffer and the lower levels.
    allocateDisplayBuffer();
    if (hdrHeld)
        hdrImage.buildLevelsFrom(0, taskCount());
    if (mapsHeld)
        for (pyramid &p : lcPyramids)
            p.buildLevelsFrom(0, taskCount());
    if (outputHeld)
        outputImage.buildLevelsFrom(0, taskCount());
    for (int layer = 1; layer < LAYER_COUNT; ++layer)
        if (layerExists[layer])
            layerMasks[layer].buildLevelsFrom(0);
    for (photoInfo_t &p : photos)
        makePhotoThumbnail(p);
    progressCounter.fetch_add(1, std::memory_order_relaxed);
    debugLog("Transform complete!\n");
    return true;
}
