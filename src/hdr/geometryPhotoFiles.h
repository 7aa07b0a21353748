#ifndef GEOMETRYPHOTOFILES_H
#define GEOMETRYPHOTOFILES_H

// The geometric stages (lens correction, alignment, transformation) rewrite
// every photo's full-size image, which lives in the photo's session temporary
// file of slot 0. The new image is written to a new file first; only when it
// is complete does it become slot 0, and the previous file is either kept in
// a backup slot (the uncorrected or pre-alignment copy) or deleted. A failed
// write leaves the photo with its previous, intact file.

#include "hdr/lensCorrection.h"
#include "hdr/transformFitting.h"
#include "project/photoInfo.h"

#include <QList>
#include <QString>

class QTemporaryFile;
#include <cstdint>
#include <functional>

constexpr int PHOTO_SLOT_CURRENT = 0;
constexpr int PHOTO_SLOT_UNCORRECTED = 1;  // kept by lens correction
constexpr int PHOTO_SLOT_PRE_ALIGNMENT = 2; // kept by alignment

// Reads the photo's current full-size image (bytes long) into buffer.
bool readPhotoImage(const photoInfo_t &photo, void *buffer, int64_t bytes);

// A new session temporary file holding data, complete and flushed; null (and
// nothing left behind) when it can't be created or fully written.
QTemporaryFile *writeNewPhotoFile(const QString &sessionPath, const void *data, int64_t bytes);

// Makes newFile the photo's current image; the previous file moves to
// keepSlot when that slot is empty, else it is closed and deleted.
void switchPhotoImage(photoInfo_t &photo, int keepSlot, QTemporaryFile *newFile);

// Writes data as the photo's new current image (see above). keepSlot < 0
// deletes the previous file; otherwise the previous file moves to keepSlot
// when that slot is empty and is deleted when it already holds a file.
bool replacePhotoImage(photoInfo_t &photo, int keepSlot, const QString &sessionPath,
                       const void *data, int64_t bytes);

// What a geometric pass over all photos needs of the project.
struct geometryPass_t {
    photoInfo_t *photos = nullptr;        // an array of photoCount records, or
    QList<photoInfo_t> *photoList = nullptr; // the project's list
    int photoCount = 0;
    int width = 0;  // full size before the pass
    int height = 0;
    QString sessionPath;
    int previewDivisor = 1;
    int threadCount = 1;
    uint16_t *workIn = nullptr;  // width x height x 3 scratch (allocated when null)
    uint16_t *workOut = nullptr; // width x height x 3 scratch (allocated when null)
    // Called with the new size once every new image is written and before
    // the photos are switched to them, so that the project can resize the
    // photos' previews (they are then filled); false stops the pass.
    std::function<bool(int newWidth, int newHeight)> prepareNewSize;
    // Optional: the preview divisor the project will use for a new size
    // (previewDivisor when absent).
    std::function<int(int newWidth, int newHeight)> previewDivisorFor;
    // Optional: grey histogram-matching tables (4096 entries) that bring the
    // photo's tones to the base photo's (automatic alignment).
    std::function<bool(int photo, int base, double *photoTable, double *baseTable)> histogramMatch;
    // Told the rows done after every photo.
    std::function<void(int rows)> progress;

    bool hasPhotos() const { return photos || photoList; }
    photoInfo_t &photo(int k) const { return photoList ? (*photoList)[k] : photos[k]; }
};

// Warps every photo onto the base grid through its transform and keeps the
// crop rectangle (the whole image when crop is off). All or nothing: when any
// photo's image can't be read or written, every photo keeps its previous data
// and the result is false (failedPhotos counts the failures).
bool alignPhotoImages(geometryPass_t &pass, const alignTransform_t *transforms, int method,
                      const alignCrop_t &crop, int *failedPhotos = nullptr);

// Corrects every photo with the calibration and keeps the crop rectangle.
bool correctPhotoImages(geometryPass_t &pass, const lensCalibData &calib, double centreX,
                        double centreY, const lensCropRect_t &crop, int *failedPhotos = nullptr);

#endif // GEOMETRYPHOTOFILES_H
