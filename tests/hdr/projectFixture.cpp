#include "projectFixture.h"

#include "imageio/exifReader.h"
#include "project/filterKernels.h"
#include "project/loadPhotoWorker.h"
#include "testSupport.h"

#include <QImage>
#include <QProcess>

#include <cmath>
#include <cstring>

hdrProjectFixture::hdrProjectFixture()
{
    scratch = testSupport::freshDir();
    options.reset(new programOptionsSettings);
    options->scratchpad.pathCurrent = scratch;
    options->generateHDR.dontRecoverResponceCurve = false;
    options->colorManagement.enabled = false;
    optionsInstance = options.get();
    proj.reset(new processingProject(nullptr));
}

hdrProjectFixture::~hdrProjectFixture()
{
    proj.reset();
    optionsInstance = nullptr;
}

bool hdrProjectFixture::addPhoto(const std::vector<quint16> &rgb, int w, int h, double ev, int iso)
{
    processingProject *p = proj.get();
    if (p->photos.isEmpty()) {
        p->width = w;
        p->height = h;
        if (!p->allocatePyramids() || !p->allocatePreview())
            return false;
    } else if (p->width != w || p->height != h) {
        return false;
    }
    photoInfo_t photo;
    photo.id = p->photoIdCounter++;
    photo.filePath = QString("synthetic_%1.tif").arg(photo.id);
    photo.included = 1;
    photo.ev = ev;
    photo.evLn = ev * M_LN2;
    photo.exif.iso = iso;
    const qint64 pn = qint64(p->previewWidth) * p->previewHeight;
    photo.preview = new quint16[size_t(pn) * 3];
    photo.mask = new quint8[size_t(pn)]();
    photo.mergeBuffer = new double[SAMPLE_TABLE_SIZE];
    for (double *&t : photo.workTables)
        t = new double[PHOTO_WORK_TABLE_BYTES / sizeof(double)];   // left unset, as after loading
    parallelFor(p->previewDivisor, w, h, rgb.data(), photo.preview);
    pyramid full;
    if (!full.makePyramid(w, h, 1, 2, 3, true))
        return false;
    std::memcpy(full.levels[0].data, rgb.data(), rgb.size() * 2);
    const bool ok = p->writeToTempFile(photo, 0, full);
    p->photos.append(photo);
    return ok;
}

bool hdrProjectFixture::addImageFile(const QString &path)
{
    // The program's loader: prepare (sizes, limits), then the worker decodes,
    // reads the EXIF data, makes the preview and writes the temporary file.
    processingProject *p = proj.get();
    p->quiet = true;
    photoInfo_t photo;
    photo.filePath = path;
    photo.loadDivisor = 1;
    if (p->loadPhotoPrepare(photo, 0, 1, false) != 0)
        return false;
    pyramid image;
    if (!image.makePyramid(p->width, p->height, 1, 2, 3, true))
        return false;
    loadPhotoWorker worker(p, photo, image, photo.id);
    const int status = worker.loadPhoto();
    p->photos.append(worker.photo);
    if (status != 0) {
        p->removePhoto(worker.photo.id);
        return false;
    }
    // EV from the EXIF exposure settings (recentred by the caller).
    const exifInfo_t &exif = p->photos.last().exif;
    const double t = exif.exposureTime > 0 ? exif.exposureTime : 1.0;
    const double n = exif.fNumber > 0 ? exif.fNumber : 1.0;
    const double iso = exif.iso > 0 ? exif.iso : 100;
    p->photos.last().ev = std::log2(t / (n * n) * iso / 100.0);
    p->photos.last().evLn = p->photos.last().ev * M_LN2;
    return true;
}

bool hdrProjectFixture::addDecodedFile(const QString &path)
{
    QImage img(path);
    if (img.isNull())
        return false;
    img = img.convertToFormat(QImage::Format_RGB888);
    const int w = img.width(), h = img.height();
    std::vector<quint16> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; y++) {
        const uchar *line = img.constScanLine(y);
        for (int x = 0; x < w * 3; x++)
            rgb[size_t(y) * w * 3 + x] = quint16(line[x] * 257);
    }
    // Exposure settings through exiftool (the program's EXIF reader is tested on its own).
    QProcess exiftool;
    exiftool.start("exiftool", {"-n", "-s3", "-f", "-ExposureTime", "-FNumber", "-ISO", "-Make", "-Model", path});
    if (!exiftool.waitForFinished(30000))
        return false;
    const QStringList v = QString::fromUtf8(exiftool.readAllStandardOutput()).split('\n');
    if (v.size() < 5)
        return false;
    exifInfo_t exif;
    std::memset(&exif, 0, sizeof exif);
    exif.exposureTime = v[0].toFloat();
    exif.fNumber = v[1].toFloat();
    exif.iso = v[2].toInt();
    qstrncpy(exif.make, v[3].toLatin1().constData(), sizeof exif.make);
    qstrncpy(exif.model, v[4].toLatin1().constData(), sizeof exif.model);
    const double t = exif.exposureTime > 0 ? exif.exposureTime : 1.0;
    const double n = exif.fNumber > 0 ? exif.fNumber : 1.0;
    const double s = exif.iso > 0 ? exif.iso : 100;
    const double ev = std::log2(t / (n * n) * s / 100.0);
    if (!addPhoto(rgb, w, h, ev, exif.iso))
        return false;
    photoInfo_t &added = proj->photos.last();
    std::memcpy(&added.exif, &exif, sizeof exif);
    added.filePath = path;
    return true;
}

void hdrProjectFixture::recentreEvs()
{
    double mean = 0.0;
    for (const photoInfo_t &p : proj->photos)
        mean += p.ev;
    mean /= std::max(1, int(proj->photos.size()));
    for (photoInfo_t &p : proj->photos) {
        p.ev -= mean;
        p.evLn = p.ev * M_LN2;
    }
}
