#include "hdr/geometryPhotoFiles.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "project/filterKernels.h"

#include <QTemporaryFile>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

bool readPhotoImage(const photoInfo_t &photo, void *buffer, int64_t bytes)
{
    QTemporaryFile *file = photo.tempFiles[PHOTO_SLOT_CURRENT];
    if (!file || !buffer || bytes < 0)
        return false;
    if (!file->isOpen() && !file->open())
        return false;
    if (file->size() < bytes || !file->seek(0))
        return false;
    char *to = static_cast<char *>(buffer);
    int64_t done = 0;
    while (done < bytes) {
        const int64_t n = file->read(to + done, bytes - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QTemporaryFile *writeNewPhotoFile(const QString &sessionPath, const void *data, int64_t bytes)
{
    std::unique_ptr<QTemporaryFile> file(new QTemporaryFile(sessionPath + QStringLiteral("/XXXXXX")));
    if (!file->open()) {
        debugLog("%s: open() failed (%s)\n", "processingProject::writeToTempFile",
                 qPrintable(file->fileTemplate()));
        return nullptr;
    }
    const char *from = static_cast<const char *>(data);
    int64_t done = 0;
    while (done < bytes) {
        const int64_t n = file->write(from + done, bytes - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done != bytes || !file->flush()) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", "processingProject::writeToTempFile",
                 (long long)done, (long long)bytes);
        return nullptr; // the partial file is removed
    }
    return file.release();
}

void switchPhotoImage(photoInfo_t &photo, int keepSlot, QTemporaryFile *newFile)
{
    QTemporaryFile *previous = photo.tempFiles[PHOTO_SLOT_CURRENT];
    if (previous) {
        if (keepSlot > 0 && keepSlot < PHOTO_TEMP_SLOTS && !photo.tempFiles[keepSlot])
            photo.tempFiles[keepSlot] = previous;
        else
            delete previous; // closes and removes it
    }
    photo.tempFiles[PHOTO_SLOT_CURRENT] = newFile;
}

bool replacePhotoImage(photoInfo_t &photo, int keepSlot, const QString &sessionPath,
                       const void *data, int64_t bytes)
{
    QTemporaryFile *file = writeNewPhotoFile(sessionPath, data, bytes);
    if (!file)
        return false;
    switchPhotoImage(photo, keepSlot, file);
    return true;
}

namespace {

struct workBuffers_t {
    std::unique_ptr<uint16_t[]> ownIn, ownOut;
    uint16_t *in = nullptr, *out = nullptr;
    bool make(geometryPass_t &pass)
    {
        const size_t samples = size_t(pass.width) * size_t(pass.height) * 3;
        in = pass.workIn;
        out = pass.workOut;
        if (!in) {
            ownIn.reset(new (std::nothrow) uint16_t[samples]);
            in = ownIn.get();
        }
        if (!out) {
            ownOut.reset(new (std::nothrow) uint16_t[samples]);
            out = ownOut.get();
        }
        return in && out;
    }
};

// Moves rows top..bottom, columns left..right to the start of the buffer.
void packRect(uint16_t *image, int width, int left, int top, int right, int bottom)
{
    alignCrop_t c;
    c.left = left;
    c.top = top;
    c.right = right;
    c.bottom = bottom;
    packCropRect(image, width, c);
}

// Runs one per-photo image operation over all photos. Every new image is
// written to its own new file first; only when all of them are complete are
// the photos switched to them (and the previews replaced), so a failure
// leaves every photo, and the project size, as they were.
bool rewritePhotos(geometryPass_t &pass, int left, int top, int right, int bottom, int keepSlot,
                   const char *caller,
                   const std::function<void(int k, const uint16_t *in, uint16_t *out)> &operation,
                   int *failedPhotos)
{
    const int W = pass.width, H = pass.height;
    const int sx = right - left + 1, sy = bottom - top + 1;
    if (failedPhotos)
        *failedPhotos = 0;
    if (!pass.hasPhotos() || pass.photoCount < 0 || W < 1 || H < 1 || left < 0 || top < 0 ||
        right >= W || bottom >= H || sx < 1 || sy < 1)
        return false;
    workBuffers_t work;
    if (!work.make(pass)) {
        debugLog("%s: memory alloc failed\n", caller);
        return false;
    }
    const bool cropped = sx != W || sy != H;
    const int c = std::max(1, pass.previewDivisorFor ? pass.previewDivisorFor(sx, sy)
                                                     : pass.previewDivisor);
    const size_t previewSamples = size_t((sx + c - 1) / c) * size_t((sy + c - 1) / c) * 3;
    std::vector<std::unique_ptr<QTemporaryFile>> newFiles(size_t(pass.photoCount));
    std::vector<std::vector<uint16_t>> previews(size_t(pass.photoCount));
    int failed = 0;
    for (int k = 0; k < pass.photoCount; ++k) {
        const int64_t bytes = int64_t(W) * H * 3 * int64_t(sizeof(uint16_t));
        if (!readPhotoImage(pass.photo(k), work.in, bytes)) {
            debugLog("%s: photo %d cannot be read\n", caller, k);
            ++failed;
            break;
        }
        operation(k, work.in, work.out);
        if (cropped)
            packRect(work.out, W, left, top, right, bottom);
        const int64_t outBytes = int64_t(sx) * sy * 3 * int64_t(sizeof(uint16_t));
        newFiles[size_t(k)].reset(writeNewPhotoFile(pass.sessionPath, work.out, outBytes));
        if (!newFiles[size_t(k)]) {
            ++failed;
            break;
        }
        if (pass.photo(k).preview) {
            previews[size_t(k)].assign(previewSamples, 0);
            parallelFor(c, sx, sy, work.out, previews[size_t(k)].data());
        }
        if (pass.progress)
            pass.progress(H);
    }
    if (failed) {
        if (failedPhotos)
            *failedPhotos = failed;
        debugLog("%s: no photo was changed\n", caller);
        return false; // the new files go with newFiles
    }
    if (pass.prepareNewSize && !pass.prepareNewSize(sx, sy))
        return false;
    for (int k = 0; k < pass.photoCount; ++k) {
        photoInfo_t &photo = pass.photo(k);
        switchPhotoImage(photo, keepSlot, newFiles[size_t(k)].release());
        if (photo.preview && !previews[size_t(k)].empty())
            std::memcpy(photo.preview, previews[size_t(k)].data(),
                        previews[size_t(k)].size() * sizeof(uint16_t));
    }
    return true;
}

} // namespace

bool alignPhotoImages(geometryPass_t &pass, const alignTransform_t *transforms, int method,
                      const alignCrop_t &crop, int *failedPhotos)
{
    if (!transforms)
        return false;
    const int W = pass.width, H = pass.height, threads = pass.threadCount;
    debugLog("Size after align: sx=%d, sy=%d  (%d, %d); (%d, %d)\n", crop.right - crop.left + 1,
             crop.bottom - crop.top + 1, crop.left, crop.top, crop.right, crop.bottom);
    return rewritePhotos(pass, crop.left, crop.top, crop.right, crop.bottom,
                         PHOTO_SLOT_PRE_ALIGNMENT, "alignmentWorker::applyAlignment",
                         [&](int k, const uint16_t *in, uint16_t *out) {
                             runGetTransformedImage(in, out, W, H, transforms[k], method, threads);
                         },
                         failedPhotos);
}

bool correctPhotoImages(geometryPass_t &pass, const lensCalibData &calib, double centreX,
                        double centreY, const lensCropRect_t &crop, int *failedPhotos)
{
    const int W = pass.width, H = pass.height, threads = pass.threadCount;
    debugLog("Size after lens correction: sx=%d, sy=%d\n", crop.right - crop.left + 1,
             crop.bottom - crop.top + 1);
    return rewritePhotos(pass, crop.left, crop.top, crop.right, crop.bottom,
                         PHOTO_SLOT_UNCORRECTED, "lensCorrectionWorker::doCorrection",
                         [&](int, const uint16_t *in, uint16_t *out) {
                             runLensCorrection(in, out, W, H, calib, centreX, centreY, threads);
                         },
                         failedPhotos);
}
