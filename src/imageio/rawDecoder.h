#ifndef RAWDECODER_H
#define RAWDECODER_H

// Camera RAW files through one of two engines chosen by "LoadRAW/UseLibraw":
// the LibRaw library or the dcraw program (run as a child process with an
// argument list, its output read whole, the child always reaped). Both are
// driven by one list of dcraw-style switches (rawLoadOptions::getDcrawArguments)
// ending with the file path; for LibRaw the switches become its parameters.
//
// Decoded layouts (caller-owned, width x height pixels, top row first):
// 16-bit mode 3 x uint16 per pixel, 8-bit mode 3 bytes per pixel. Exactly one
// of the two buffers is used; the 16-bit one wins when both are given. Every
// value is multiplied by the scale factor, truncated and clamped.

#include "imageio/exifReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <libraw/libraw_types.h>

class QImage;

namespace imageLoader {

// Size and shooting data. halfWidth/halfHeight, exif, daylight and camera
// (three multipliers each) may be null. With halfSize set (and the half-size
// outputs given) width and height take the half-size values. libraw chooses
// the engine (the caller's copy of "LoadRAW/UseLibraw"): LibRaw, else dcraw.
bool getRAWinfo(const QString &path, int &width, int &height, int *halfWidth, int *halfHeight, exifInfo_t *exif,
                double *daylight, double *camera, bool halfSize, bool keepOrientation, bool libraw = true);
bool getRAWinfo_LIBRAW(const QString &path, int &width, int &height, int *halfWidth, int *halfHeight,
                       exifInfo_t *exif, double *daylight, double *camera, bool halfSize, bool keepOrientation);
bool getRAWinfo_DCRAW(const QString &path, int &width, int &height, int *halfWidth, int *halfHeight,
                      exifInfo_t *exif, double *daylight, double *camera, bool halfSize, bool keepOrientation);

// Full decode; args ends with the file path. Width and height are those the
// probe reported for the same switches; the decode must give exactly them.
bool loadRAW(const QStringList &args, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale,
             bool libraw = true);
bool loadRAW_LIBRAW(const QStringList &args, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale);
bool loadRAW_DCRAW(const QStringList &args, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale);

// Thumbnail of a JPEG, TIFF, BMP or PNG file (types 0 to 3) scaled to the
// target height, or the embedded thumbnail of a RAW file (type 4).
bool getThumbFromRAW(const QString &path, int fileType, QImage &image, int targetHeight);
bool getThumbFromRAW_DCRAW(const QString &path, QImage &image);

// Runs dcraw with args; its standard output, empty on failure (not started,
// no end within 30 s, or a non-zero exit code).
QByteArray runDCRAW(const QStringList &args);

// The dcraw program: a copy beside the executable, else the one on PATH;
// empty when there is none.
QString dcrawProgram();

// Decodes a binary PPM ("P6") as dcraw writes it: the header may follow other
// text that starts within the first 256 bytes. The image must have the
// expected size and hold all its rows.
bool decodePPM(const QByteArray &data, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale);

// Translates the dcraw switches (all elements but the last, the path) into
// LibRaw's output parameters; a switch whose values are missing is ignored.
void applyDcrawSwitches(const QStringList &args, libraw_output_params_t &params);

// Fills the shooting data from the text of "dcraw -v -i".
void parseDcrawInfo(const QByteArray &text, exifInfo_t *exif, double *daylight, double *camera);

} // namespace imageLoader

#endif // RAWDECODER_H
