#include "project/loadPhotoWorker.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "imageio/fitsReader.h"
#include "imageio/jpegReader.h"
#include "imageio/openEXR.h"
#include "imageio/radianceRGBE.h"
#include "imageio/rawDecoder.h"
#include "imageio/tiffReader.h"
#include "platform/systemMemory.h"
#include "project/photoLoading.h"
#include "project/processingProject.h"
#include "project/pyramid.h"
#include "project/sessionMappedFile.h"

#include <QFile>
#include <QMutexLocker>
#include <QTemporaryFile>
#include <memory>
#include <new>
#include <utility>

namespace {

const char *const WRITE_ERROR = "Cannot write temporary file (no write rights or not enough disk space).";

} // namespace

loadPhotoWorker::loadPhotoWorker(processingProject *p, const photoInfo_t &record, const pyramid &image, int id)
    : photo(record), project(p), fullImage(&image), workerId(id)
{
}

loadPhotoWorker::~loadPhotoWorker() = default;

int loadPhotoWorker::finish(int status, const QString &message)
{
    // The file decoded into is kept only when the load succeeded; either way
    // it is unmapped before the record is reported.
    if (directFile) {
        sessionMappedFile::end(photo, 0, directFile, status == 0);
        directFile = nullptr;
    }
    emit finished(status, message, workerId);
    return status;
}

bool loadPhotoWorker::decode(int type, int w, int h, uint16_t *rgb16, float &minValue, float &maxValue,
                             QString &reason)
{
    const QByteArray path = photo.filePath.toLocal8Bit();
    const char *fn = "loadPhotoWorker::loadPhoto";
    switch (type) {
    case FILETYPE_TIFF: {
        float *f = photo.isFloat ? static_cast<float *>(project->hdrImage.levels[0].data) : nullptr;
        if (!imageLoader::loadTIFF(photo.filePath, rgb16, f, &minValue, &maxValue, &photo.exif, w, h, &reason)) {
            debugLog("%s: Failed to load TIFF image: '%s'.\n", fn, path.constData());
            return false;
        }
        return true;
    }
    case FILETYPE_RAW:
        if (!imageLoader::loadRAW(photo.rawArguments, w, h, rgb16, nullptr, photo.rawInfo.scale,
                                  photo.rawInfo.useLibraw != 0)) {
            debugLog("%s: Failed to load RAW image: '%s'.\n", fn, path.constData());
            reason = tr("The RAW decoder could not decode the file.");
            return false;
        }
        return true;
    case FILETYPE_FITS:
        if (!imageLoader::loadFITS(photo.filePath, w, h, rgb16, &photo.exif)) {
            debugLog("%s: Failed to load FITS image: '%s'.\n", fn, path.constData());
            reason = tr("The FITS file is damaged or cut short.");
            return false;
        }
        return true;
    case FILETYPE_HDR:
    case FILETYPE_EXR: {
        float *f = static_cast<float *>(project->hdrImage.levels[0].data);
        if (!f || project->hdrImage.levels[0].width != w || project->hdrImage.levels[0].height != h)
            return false;
        const bool ok = type == FILETYPE_HDR ? imageLoader::loadRadianceRGBE(photo.filePath, w, h, f, minValue, maxValue)
                                             : imageLoader::loadOpenEXR(photo.filePath, w, h, f, minValue, maxValue);
        if (!ok) {
            reason = type == FILETYPE_HDR ? tr("The Radiance file is damaged or cut short.")
                                          : tr("The OpenEXR file is damaged or cut short.");
            debugLog(type == FILETYPE_HDR ? "%s: Failed to load Radiance RGBE image: '%s'.\n"
                                          : "%s: Failed to load OpenEXR image: '%s'.\n",
                     fn, path.constData());
        }
        return ok;
    }
    case FILETYPE_PROJECT: {
        bool decoded = false;
        if (!photoLoading::readProjectPhoto(photo.projectPath, photo.projectHeader, photo.projectPhotoIndex, w, h,
                                            rgb16, &decoded)) {
            debugLog("%s: Failed to load image: #%d '%s' from project '%s'.\n", fn, photo.projectPhotoIndex,
                     path.constData(), photo.projectPath.toLocal8Bit().constData());
            reason = tr("The photo cannot be read from the project file.");
            return false;
        }
        const QString carrier = project->exifTempPath(photo.projectPhotoIndex);
        if (QFile::exists(carrier)) {
            exifFreeStripTables(&photo.exif);
            memset(&photo.exif, 0, sizeof photo.exif);
            if (!exifReadFile(carrier, &photo.exif))
                debugLog("%s: Failed to get JPEGs EXIF: '%s'.\n", fn, carrier.toLocal8Bit().constData());
        }
        return true;
    }
    case FILETYPE_JPEG:
    case FILETYPE_BMP:
    case FILETYPE_PNG: {
        int stripes = 1;
        QString error;
        if (!photoLoading::loadStandardImage(photo.filePath, w, h, photo.loadDivisor, rgb16, &stripes, &error)) {
            if (error.isEmpty())
                debugLog("%s: Failed to load image: '%s', div=%d.\n", fn, path.constData(), stripes);
            else
                debugLog("%s: Failed to load image: '%s', div=%d, UNSUPPORTED IMAGE FORMAT.\n", fn, path.constData(),
                         stripes);
            reason = error.isEmpty() ? tr("The image is damaged or cut short.") : error;
            return false;
        }
        if (type == FILETYPE_JPEG) {
            exifFreeStripTables(&photo.exif);
            memset(&photo.exif, 0, sizeof photo.exif);
            if (!exifReadFile(photo.filePath, &photo.exif))
                debugLog("%s: Failed to get JPEGs EXIF: '%s'.\n", fn, path.constData());
        }
        return true;
    }
    default:
        return false;
    }
}

int loadPhotoWorker::loadJPEGStreamed(int w, int h, int64_t previewCapacity, bool &streamed)
{
    streamed = false;
    exifFreeStripTables(&photo.exif);
    memset(&photo.exif, 0, sizeof photo.exif);
    if (!exifReadFile(photo.filePath, &photo.exif))
        debugLog("%s: Failed to get JPEGs EXIF: '%s'.\n", "loadPhotoWorker::loadPhoto",
                 photo.filePath.toLocal8Bit().constData());
    // A photo to be turned is turned whole after decoding: the general path.
    if (photo.autoRotate && photoLoading::orientationMode(photo.exif.orientation) != -1)
        return 0;
    int divisor = 1, previewW = 0, previewH = 0;
    {
        QMutexLocker lock(&project->orientationMutex);
        divisor = project->previewDivisor;
        previewW = project->previewWidth;
        previewH = project->previewHeight;
    }
    if (int64_t(previewW) * previewH > previewCapacity || previewW <= 0 || previewH <= 0)
        return 0;
    photoLoading::previewRowReducer preview(w, h, divisor, photo.preview, previewW, previewH);
    const QString session = project->sessionDirPath();
    bool created = false, writeFailed = false;
    const imageLoader::jpegDecodeResult result = imageLoader::loadJPEG16Rows(
        photo.filePath, w, h, [&](int firstRow, int rowCount, const uint16_t *rows) {
            if (!created && !(created = sessionMappedFile::create(session, photo, 0))) {
                writeFailed = true;
                return false;
            }
            const qint64 rowBytes = qint64(w) * 6;
            if (!sessionMappedFile::writeAt(photo, 0, firstRow * rowBytes, rows, rowCount * rowBytes)) {
                writeFailed = true;
                return false;
            }
            preview.addRows(firstRow, rowCount, rows);
            return true;
        });
    if (result != imageLoader::jpegDecodeResult::decoded && created)
        sessionMappedFile::end(photo, 0, nullptr, false);
    if (result == imageLoader::jpegDecodeResult::notHandled)
        return 0;
    if (result == imageLoader::jpegDecodeResult::failed) {
        debugLog("%s: Failed to load image: '%s'.\n", "loadPhotoWorker::loadPhoto",
                 photo.filePath.toLocal8Bit().constData());
        return writeFailed ? 1 : 2;
    }
    // Another photo may have changed the preview's size meanwhile (a turned
    // first photo): then reduce again from the file.
    {
        QMutexLocker lock(&project->orientationMutex);
        if (divisor != project->previewDivisor || previewW != project->previewWidth
            || previewH != project->previewHeight) {
            divisor = project->previewDivisor;
            previewW = project->previewWidth;
            previewH = project->previewHeight;
            lock.unlock();
            if (int64_t(previewW) * previewH > previewCapacity)
                return 1;
            QTemporaryFile *file = photo.tempFiles[0];
            uchar *mapped = file->map(0, qint64(w) * h * 6);
            if (!mapped)
                return 1;
            photoLoading::reduceToPreview(reinterpret_cast<const uint16_t *>(mapped), w, h, divisor, photo.preview,
                                          previewW, previewH);
            file->unmap(mapped);
        }
    }
    streamed = true;
    return 0;
}

int loadPhotoWorker::loadPhoto()
{
    debugLog("Loading: %s (id=%d)...\n", photo.filePath.toLocal8Bit().constData(), photo.id);
    project->radiancePrimariesSet = false;
    const int type = fileTypeOf(photo.filePath);
    debugLog("Format = %d\n", type);

    // The size the file decodes to. A photo turned by another worker has
    // already swapped the project's width and height; both change together
    // under the orientation lock, so the snapshot taken under it is never
    // half-updated.
    int w = 0, h = 0;
    {
        QMutexLocker lock(&project->orientationMutex);
        w = project->width;
        h = project->height;
        if (project->orientationKnown && (project->orientationMode == 0 || project->orientationMode == 2))
            std::swap(w, h);
    }
    uint16_t *rgb16 = static_cast<uint16_t *>(fullImage->levels[0].data);
    if (!photo.isFloat && (!rgb16 || int64_t(fullImage->levels[0].width) * fullImage->levels[0].height !=
                                         int64_t(w) * h)) {
        debugLog("%s: image buffer does not fit %d x %d\n", "loadPhotoWorker::loadPhoto", w, h);
        return finish(1, tr("Not enough memory!"));
    }
    const int pw = project->previewWidth, ph = project->previewHeight;
    photo.preview = new (std::nothrow) uint16_t[size_t(pw) * ph * 3];
    photo.mask = new (std::nothrow) uint8_t[size_t(pw) * ph];
    if (!photo.preview || !photo.mask)
        return finish(1, tr("Not enough memory!"));
    adviseHugePages(photo.preview, size_t(pw) * ph * 3 * sizeof(uint16_t));

    // A full-size JPEG that needs no turning: its rows go to the session file
    // and into the preview as they are decoded.
    bool streamed = false;
    float minValue = 0, maxValue = 0;
    QString reason;
    if (type == FILETYPE_JPEG && photo.loadDivisor == 1 && !photo.isFloat) {
        const int status = loadJPEGStreamed(w, h, int64_t(pw) * ph, streamed);
        if (status != 0)
            return finish(status, status == 2 ? tr("The image is damaged or cut short.") : tr(WRITE_ERROR));
    }
    if (!streamed) {
        if (!photo.isFloat) {
            directFile = sessionMappedFile::begin(project->sessionDirPath(), photo, 0, qint64(w) * h * 6);
            if (directFile)
                rgb16 = reinterpret_cast<uint16_t *>(directFile);
        }
        if (!decode(type, w, h, photo.isFloat ? nullptr : rgb16, minValue, maxValue, reason))
            return finish(2, reason);
    }
    progressCounter += uint64_t(w + h) * 2;
    for (double *&table : photo.workTables) {
        table = new (std::nothrow) double[PHOTO_WORK_TABLE_BYTES / sizeof(double)]();
        if (!table)
            return finish(1, tr("Not enough memory!"));
    }

    if (photo.autoRotate && type != FILETYPE_HDR && type != FILETYPE_EXR && type != FILETYPE_PROJECT) {
        const int mode = photoLoading::orientationMode(photo.exif.orientation);
        debugLog("Orientation = %d, mode = %d\n", photo.exif.orientation, mode);
        QMutexLocker lock(&project->orientationMutex);
        if (project->orientationKnown) {
            debugLog("- next\n");
            if (mode != project->orientationMode) {
                debugLog("Not all photos have the same orientation!\n");
                return finish(1, tr("All photos must have the same orientation."));
            }
        } else {
            debugLog("- first\n");
            project->orientationMode = mode;
            project->orientationKnown = true;
            if (mode == 0 || mode == 2) {
                std::swap(project->width, project->height);
                if (!project->resizePreviews(project->width, project->height) || !project->allocateDisplayBuffer())
                    return finish(1, tr("Not enough memory!"));
            }
        }
        if (mode != -1) {
            std::unique_ptr<uint16_t[]> turned(new (std::nothrow) uint16_t[size_t(w) * h * 3]);
            if (!turned)
                return finish(1, tr("Not enough memory!"));
            photoLoading::rotateImage16(rgb16, w, h, mode, turned.get());
            memcpy(rgb16, turned.get(), size_t(w) * h * 3 * sizeof(uint16_t));
            if (mode == 0 || mode == 2)
                std::swap(w, h);
        }
    }

    if (!photo.isFloat && !streamed) {
        int divisor = 1, previewW = 0, previewH = 0;
        {
            QMutexLocker lock(&project->orientationMutex);
            divisor = project->previewDivisor;
            previewW = project->previewWidth;
            previewH = project->previewHeight;
        }
        if (int64_t(previewW) * previewH > int64_t(pw) * ph)
            return finish(1, tr("Not enough memory!"));
        photoLoading::reduceToPreview(rgb16, w, h, divisor, photo.preview, previewW, previewH);
        if (!directFile && !project->writeToTempFile(photo, 0, *fullImage, qint64(w) * h * 6))
            return finish(1, tr(WRITE_ERROR));
    }
    progressCounter += uint64_t(w + h) * 2;

    if (photo.isFloat)
        project->postLoadPhoto(minValue, maxValue, photo);

    photo.mergeBuffer = new (std::nothrow) double[SAMPLE_TABLE_SIZE];
    if (!photo.mergeBuffer)
        return finish(1, tr("Not enough memory!"));
    debugLog("Loaded successfully, id=%d\n", photo.id);
    return finish(0, QString());
}
