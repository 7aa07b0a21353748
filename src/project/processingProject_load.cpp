// Photo loading (the preparing half on the GUI thread, the after-load step of
// an HDR image) and the exposure values of the project.

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "hdr/generateHDRworker.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/fitsReader.h"
#include "imageio/openEXR.h"
#include "imageio/radianceRGBE.h"
#include "imageio/rawDecoder.h"
#include "imageio/tiffReader.h"
#include "project/exposureValues.h"
#include "project/loadOptionsPrompt.h"
#include "project/photoLoading.h"
#include "project/processingProject.h"

#include <QFileInfo>
#include <QImageReader>
#include <QMutexLocker>
#include <cstring>

namespace {

constexpr int MAX_PHOTOS = 100;
constexpr int MIN_PHOTO_SIDE = 128;

// Asks the installed load-option prompt (the dialogs of the main window) for
// the HDR load choices; false when the person cancelled. Without a prompt the
// stored settings apply. The loader works on a copy of the choices (it reads
// no widgets and no settings on its own thread).
bool hdrLoadChoices(processingProject *project, int type, hdrLoadChoices_t &choices)
{
    if (project->loadOptions && !project->loadOptions->hdrLoadChoices(project, type))
        return false;
    if (optionsInstance) {
        choices.noiseFilter = optionsInstance->loadHDR.noiseFilter;
        choices.noiseFilterStrength = optionsInstance->loadHDR.noiseFilterStrength;
        choices.noiseFilterSoftness = optionsInstance->loadHDR.noiseFilterSoftness;
        choices.panorama = optionsInstance->processing.panoramaMode;
    }
    return true;
}

// The RAW decode choices of the stored "LoadRAW/" settings, for a photo
// loaded without the dialog (the automatic run, batches, the benchmark).
rawDecodeChoices_t storedRawChoices(bool keepOrientation)
{
    rawDecodeChoices_t c;
    c.keepOrientation = keepOrientation;
    if (!optionsInstance)
        return c;
    const auto &o = optionsInstance->loadRAW;
    // The dialog itself offers only "as shot" and "automatic" on opening.
    c.whiteBalance = o.whiteBalance == rawDecodeChoices_t::AutoWhole ? rawDecodeChoices_t::AutoWhole
                                                                     : rawDecodeChoices_t::AsShot;
    c.noiseFilter = o.noiseFilter;
    c.wavelet = o.noiseFilterWavelet;
    c.median = o.noiseFilterMedian;
    c.colorManagement = optionsInstance->colorManagement.enabled;
    c.colorSpace = o.colorSpace;
    c.other = o.other;
    c.recoverHighlights = o.recoverHighlights;
    c.autoBrighten = o.autoBrighten;
    c.brightness = o.brightness;
    return c;
}

// The photo record as preparing leaves it before the file is probed.
void resetForPrepare(photoInfo_t &photo)
{
    photo.bitDepth = 0;
    photo.included = 1;
    for (QTemporaryFile *&t : photo.tempFiles)
        t = nullptr;
    photo.thumbnail = nullptr;
    photo.preview = nullptr;
    photo.mask = nullptr;
    photo.mergeBuffer = nullptr;
    photo.isRaw = 0;
    photo.isFloat = 0;
    photo.rawInfo.flag = 0;
    photo.evExif = photo.exifBias = photo.ev = 0;
    photo.profilePath.clear();
    memset(&photo.exif, 0, sizeof photo.exif);
}

} // namespace

// Reads the photo's size (and what else the file type tells before a decode)
// into w and h.
processingProject::loadPrepareResult_t processingProject::probePhoto(photoInfo_t &photo, int type, int &w, int &h)
{
    const char *fn = "processingProject::loadPhotoPrepare";
    const QByteArray path = photo.filePath.toLocal8Bit();
    switch (type) {
    case FILETYPE_TIFF: {
        int bits = 0;
        if (!imageLoader::getTIFFinfo(photo.filePath, &w, &h, &bits, &lastErrorMessage)) {
            debugLog("%s: Failed to get TIFF image info: '%s'.\n", fn, path.constData());
            return LOAD_UNREADABLE;
        }
        photo.bitDepth = bits == 16 ? 2 : 1;
        photo.isFloat = bits == 32;
        if (photo.isFloat)
            photo.bitDepth = 0;
        return LOAD_PREPARED;
    }
    case FILETYPE_RAW: {
        // The decode choices are copied now; the worker reads no settings.
        photo.rawInfo.useLibraw = optionsInstance ? optionsInstance->loadRAW.useLibraw : 1;
        photo.rawInfo.scale =
            optionsInstance && optionsInstance->loadRAW.other ? optionsInstance->loadRAW.contrast : 1.0;
        if (photo.rawArguments.isEmpty()) {
            // No dialog was shown: the stored RAW load options decide. The
            // decoder does not turn the image, so neither does the probe.
            photo.autoRotate = 0;
            photo.rawArguments = photoLoading::rawDecodeSwitches(storedRawChoices(false), false) << photo.filePath;
        }
        int hw = 0, hh = 0;
        if (!imageLoader::getRAWinfo(photo.filePath, w, h, &hw, &hh, &photo.exif, photo.rawInfo.daylightMultipliers,
                                     photo.rawInfo.cameraMultipliers, photo.loadDivisor != 1, photo.autoRotate != 0,
                                     photo.rawInfo.useLibraw != 0)) {
            debugLog("%s: Failed to get RAW image info: '%s'.\n", fn, path.constData());
            lastErrorMessage = tr("The RAW decoder does not recognise the file.");
            return LOAD_UNREADABLE;
        }
        photo.rawInfo.halfWidth = hw;
        photo.rawInfo.halfHeight = hh;
        debugLog("RAW: (%d x %d)\n", w, h);
        photo.bitDepth = 2;
        photo.isRaw = 1;
        return LOAD_PREPARED;
    }
    case FILETYPE_FITS:
        if (!imageLoader::getFITSinfo(photo.filePath, &w, &h, nullptr, nullptr, nullptr, &photo.exif,
                                      &lastErrorMessage)) {
            debugLog("%s: Failed to get FITS image info: '%s'.\n", fn, path.constData());
            return LOAD_UNREADABLE;
        }
        photo.bitDepth = 2;
        return LOAD_PREPARED;
    case FILETYPE_HDR:
    case FILETYPE_EXR: {
        if (!hdrLoadChoices(this, type, photo.hdrChoices))
            return LOAD_REFUSED;
        bool ok = false;
        if (type == FILETYPE_HDR) {
            bool present = false;
            ok = imageLoader::getRadianceRGBEinfo(photo.filePath, w, h, radiancePrimaries, present, &lastErrorMessage);
            radiancePrimariesSet = present;
            if (!ok)
                debugLog("%s: Failed to get Radiance RGBE image info: '%s'.\n", fn, path.constData());
        } else {
            ok = imageLoader::getOpenEXRinfo(photo.filePath, w, h, &lastErrorMessage);
            if (!ok)
                debugLog("%s: Failed to get OpenEXR image info: '%s'.\n", fn, path.constData());
        }
        if (!ok)
            return LOAD_UNREADABLE;
        photo.isFloat = 1;
        return LOAD_PREPARED;
    }
    case FILETYPE_PROJECT:
        w = photo.projectWidth;
        h = photo.projectHeight;
        photo.bitDepth = photo.projectBitDepth;
        if (!photoLoading::extractExifCarrier(photo.projectPath, photo.projectHeader, photo.projectPhotoIndex,
                                              exifTempPath(photo.projectPhotoIndex))) {
            debugLog("%s: Failed to load image: #%d '%s' from project '%s'.\n", fn, photo.projectPhotoIndex,
                     path.constData(), photo.projectPath.toLocal8Bit().constData());
            lastErrorMessage = tr("The photo cannot be read from the project file.");
            return LOAD_UNREADABLE;
        }
        return LOAD_PREPARED;
    default: { // JPEG, BMP, PNG
        QImageReader reader(photo.filePath);
        reader.setAutoTransform(false);
        if (!reader.canRead() || !reader.size().isValid()) {
            debugLog("%s: Failed to get image info: '%s'.\n", fn, path.constData());
            lastErrorMessage = reader.errorString();
            return LOAD_UNREADABLE;
        }
        const int divisor = std::max(1, photo.loadDivisor);
        w = reader.size().width() / divisor;
        h = reader.size().height() / divisor;
        photo.bitDepth = 1;
        return LOAD_PREPARED;
    }
    }
}

// The first photo sets the project's size and buffers; every later one must
// have that size. Empty when accepted, else the message.
QString processingProject::acceptPhotoSize(const photoInfo_t &photo, int position, bool hdrPresent, int w, int h)
{
    if (w < MIN_PHOTO_SIDE || h < MIN_PHOTO_SIDE)
        return tr("The photo is too small (%1 x %2). The minimum required size is 128 x 128 pixels.").arg(w).arg(h);
    if (position != 0) {
        if (hdrPresent)
            return tr("You can load only one HDR image.");
        if (photo.isFloat)
            return tr("Cannot load the HDR image right now.");
        int pw = 0, ph = 0;
        {
            QMutexLocker lock(&orientationMutex);
            pw = width;
            ph = height;
            // The project's size may already be turned by the first photo.
            if (orientationKnown && (orientationMode == 0 || orientationMode == 2))
                std::swap(pw, ph);
        }
        if (w != pw || h != ph)
            return tr("Wrong image dimensions. All photos must be the same size.");
        return QString();
    }
    debugLog("Allocating memory for new project. Image size: %d x %d.\n", w, h);
    {
        QMutexLocker lock(&orientationMutex);
        width = w;
        height = h;
        orientationKnown = false;
        orientationMode = -1;
    }
    if (!allocatePyramids() || !allocatePreview())
        return tr("Not enough memory!");
    return QString();
}

// The photo's input colour profile, when colour management is on.
processingProject::loadPrepareResult_t processingProject::preparePhotoProfile(photoInfo_t &photo, int type,
                                                                              int indexInBatch)
{
    if (!optionsInstance || !optionsInstance->colorManagement.enabled)
        return LOAD_PREPARED;
    photo.profilePath = sessionPath + "/~profile" + QString::number(photo.id) + ".icc";
    int status = 0;
    if (type == FILETYPE_JPEG || type == FILETYPE_TIFF || type == FILETYPE_PROJECT) {
        const QString source = type == FILETYPE_PROJECT ? exifTempPath(photo.projectPhotoIndex) : photo.filePath;
        if (!exiftool || !exiftool->readIccProfile(source, photo.profilePath)) {
            lastErrorMessage = tr("Failed to get color profile embedded in") + ": " +
                               QFileInfo(photo.filePath).fileName() + ". " + tr("Assuming sRGB") + ".";
            if (!quiet)
                reportMessage(projectMessage_t::warning, lastErrorMessage);
        }
        status = checkInputProfile(photo, photos.size(), photos.size() + indexInBatch);
    } else if (type == FILETYPE_HDR || type == FILETYPE_EXR) {
        status = createInputProfile(photo, type);
        if (status == 0)
            status = checkInputProfile(photo, photos.size(), photos.size() + indexInBatch);
    }
    return status == 0 ? LOAD_PREPARED : status == 1 ? LOAD_UNREADABLE : LOAD_REFUSED;
}

processingProject::loadPrepareResult_t processingProject::loadPhotoPrepare(photoInfo_t &photo, int indexInBatch,
                                                                           int batchCount, bool hdrPresent)
{
    const char *fn = "processingProject::loadPhotoPrepare";
    const QByteArray path = photo.filePath.toLocal8Bit();
    auto refuse = [&](const QString &text) {
        lastErrorMessage = text;
        if (!quiet)
            reportMessage(projectMessage_t::error, text);
        return LOAD_REFUSED;
    };

    lastErrorMessage.clear();
    resetForPrepare(photo);
    debugLog("Getting image info: %s...\n", path.constData());
    radiancePrimariesSet = false;

    const int type = fileTypeOf(photo.filePath);
    const int position = photos.size() + indexInBatch;
    if (position >= MAX_PHOTOS)
        return refuse(tr("Too many images!"));
    if (type > FILETYPE_PROJECT) {
        debugLog("%s: Unsupported image format: '%s'.\n", fn, path.constData());
        lastErrorMessage = tr("Unsupported image format.");
        return LOAD_UNREADABLE;
    }

    int w = 0, h = 0;
    const loadPrepareResult_t probed = probePhoto(photo, type, w, h);
    if (probed != LOAD_PREPARED)
        return probed;
    const QString sizeError = acceptPhotoSize(photo, position, hdrPresent, w, h);
    if (!sizeError.isEmpty())
        return refuse(sizeError);

    photo.id = photoIdCounter;
    const loadPrepareResult_t profiled = preparePhotoProfile(photo, type, indexInBatch);
    if (profiled != LOAD_PREPARED)
        return profiled;
    ++photoIdCounter;
    debugLog("Image info taken successfully, id=%d\n", photo.id);
    Q_UNUSED(batchCount);
    return LOAD_PREPARED;
}

void processingProject::postLoadPhoto(double minValue, double maxValue, photoInfo_t &photo)
{
    // The HDR engine in its LDR-enhancement set-up: HDR preprocessing (the
    // normalising curve, which brings the image to 0..1 and measures its
    // median) and the noise filter chosen in the HDR load options.
    generateHDRoptions_t o;
    o.project = this;
    o.hdrFileInput = true;
    o.method = 0;
    o.notBatch = !quiet;
    o.noiseFilter = photo.hdrChoices.noiseFilter;
    o.noiseFilterStrength = photo.hdrChoices.noiseFilterStrength;
    o.noiseFilterSoftness = photo.hdrChoices.noiseFilterSoftness;
    generateHDRworker engine(o);
    engine.minHDR = minValue;
    engine.maxHDR = maxValue;
    double top = maxValue;
    if (engine.hdrPreprocess()) {
        top = 1.0;
        if (!engine.noiseFiltering())
            debugLog("%s: noise filtering failed\n", "processingProject::postLoadPhoto");
    } else {
        debugLog("%s: HDR preprocessing failed\n", "processingProject::postLoadPhoto");
    }
    const pyramidLevel_t &l0 = hdrImage.levels[0];
    if (photo.preview && l0.data)
        photoLoading::reduceFloatToPreview(static_cast<const float *>(l0.data), l0.width, l0.height, previewDivisor,
                                           top, photo.preview, previewWidth, previewHeight);
    makePhotoThumbnail(photo);
    hdrImage.buildLevelsFrom(0, taskCount());
    panoramaMode = photo.hdrChoices.panorama;
}

// --- exposure values ---

namespace {

evState_t stateOf(const processingProject &p)
{
    evState_t s;
    s.evFromExif = p.evFromExif;
    s.biasDistinct = p.biasDistinct;
    s.evMin = p.evMin;
    s.evMax = p.evMax;
    s.evMean = p.evMean;
    s.evMinLn = p.evMinLn;
    s.evMaxLn = p.evMaxLn;
    s.evMeanLn = p.evMeanLn;
    s.idxMid = p.idxMid;
    s.idxMin = p.idxMin;
    s.idxMax = p.idxMax;
    return s;
}

void storeState(processingProject &p, const evState_t &s)
{
    p.evFromExif = s.evFromExif;
    p.biasDistinct = s.biasDistinct;
    p.evMin = s.evMin;
    p.evMax = s.evMax;
    p.evMean = s.evMean;
    p.evMinLn = s.evMinLn;
    p.evMaxLn = s.evMaxLn;
    p.evMeanLn = s.evMeanLn;
    p.idxMid = s.idxMid;
    p.idxMin = s.idxMin;
    p.idxMax = s.idxMax;
}

} // namespace

void processingProject::sortPhotosByEV()
{
    evState_t s = stateOf(*this);
    exposureValues::sortPhotosByEV(photos, s, previewWidth, previewHeight, defaultResponseTable, ghostWeightTable);
    storeState(*this, s);
}

double processingProject::computeAutoEV(const photoInfo_t &a, const photoInfo_t &b)
{
    return exposureValues::computeAutoEV(a, b, previewWidth, previewHeight, defaultResponseTable, ghostWeightTable);
}

void processingProject::evRange()
{
    evState_t s = stateOf(*this);
    exposureValues::evRange(photos, s);
    storeState(*this, s);
}

bool processingProject::aebEVdiff()
{
    return exposureValues::aebEVdiff(photos, stateOf(*this));
}

bool processingProject::minEVdiff()
{
    return exposureValues::minEVdiff(photos);
}
