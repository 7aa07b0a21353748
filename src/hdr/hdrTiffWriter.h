#ifndef HDRTIFFWRITER_H
#define HDRTIFFWRITER_H

// Writes the merged HDR image as a 32-bit floating-point RGB TIFF through
// libtiff, with the photo's EXIF data in an EXIF sub-directory. The file is
// saved through checkedSaveFile: on failure nothing is left behind and an
// existing file keeps its content.

#include <QString>

// The EXIF values the HDR file carries over from the photo (empty or 0 = absent).
struct hdrTiffExif_t {
    QString make;
    QString model;
    QString dateTime;        // "yyyy:MM:dd hh:mm:ss"
    QString lensModel;
    double exposureTime = 0.0;
    double fNumber = 0.0;
    double focalLength = 0.0;
    double exposureBias = 0.0;
    int iso = 0;
};

// rgb: width x height x 3 floats, top row first. With normalize each value
// becomes (v - minimum) / (maximum - minimum). deflate selects Deflate with the
// floating-point predictor, else no compression. exif may be null. A
// read-only file is replaced only with replaceReadOnly; reason (when given)
// says why a save failed.
bool saveHdrTiff(const QString &path, int width, int height, const float *rgb, bool normalize,
                 double minimum, double maximum, bool deflate, const hdrTiffExif_t *exif,
                 bool replaceReadOnly = false, QString *reason = nullptr);

#endif // HDRTIFFWRITER_H
