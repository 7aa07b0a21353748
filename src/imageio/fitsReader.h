#ifndef FITSREADER_H
#define FITSREADER_H

// FITS images (primary array only, BITPIX 16, 32 or -32; one or three planes)
// read as ordinary photos: the samples are stretched between their minimum
// and maximum with a fixed tone curve into 16-bit RGB, and astronomical
// keywords fill the photo's shooting data.

#include "imageio/exifReader.h"

#include <QString>
#include <cstdint>
#include <cstdio>

namespace imageLoader {

// Reads the primary header. Every output is optional (null = not wanted):
// the size pair, the triple (data offset, channels, bits per pixel) and the
// record. The header is read card by card up to its END card, however many
// there are (the file's size bounds them). False, with a log line and the
// reason (when asked for), for a header without END, an unsupported BITPIX,
// plane count or axis count, an empty image, or a file too short for the data
// its header declares.
bool getFITSinfo(const QString &path, int *width, int *height, int64_t *dataOffset, int *channels, int *bitpix,
                 exifInfo_t *exif, QString *reason = nullptr);
bool getFITSinfo(FILE *file, int *width, int *height, int64_t *dataOffset, int *channels, int *bitpix,
                 exifInfo_t *exif, QString *reason = nullptr);

// Decodes the image into rgb16 (width x height x 3, top row first; FITS rows
// run bottom-up). Width and height must be those the info call returned.
bool loadFITS(const QString &path, int width, int height, uint16_t *rgb16, exifInfo_t *exif);
bool loadFITS(FILE *file, int width, int height, uint16_t *rgb16, exifInfo_t *exif);

// The stretch curve: t in 0..1 (clamped) to a 16-bit value.
uint16_t fitsStretch(double t);

} // namespace imageLoader

#endif // FITSREADER_H
