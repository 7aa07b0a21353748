#ifndef RADIANCERGBE_H
#define RADIANCERGBE_H

// Radiance RGBE pictures (".hdr"): header and scanline reader, flat writer.
//
// Decoded samples are component x 2^(E - 128), i.e. 256 times the usual
// Radiance scale (2^(E - 136)); the reported minimum and maximum are on the same
// scale. The writer encodes with the usual scale, so a value written and read
// back comes out multiplied by 256. Callers (merge, colour management, the HDR
// preprocessing) rely on this convention: do not "fix" one side alone.
//
// The operations of imageLoader and imageSaver are free functions grouped in
// namespaces of those names; each image format declares its own in its header.

#include <QString>
#include <cstdint>
#include <cstdio>

namespace imageLoader {

constexpr int RADIANCE_LINE_SIZE = 256;

// Reads one header line into buffer (RADIANCE_LINE_SIZE bytes): the line ends
// at its newline, which is not kept, or after 255 characters, of which the last
// is dropped. Returns the length stored; 0 for an empty line or at the end of
// the file.
int readHeaderLine(FILE *file, char *buffer);

// Size and primaries (x, y of red, green, blue, white) of a Radiance file.
// False when the file cannot be opened, its header or resolution line is
// unusable, its FORMAT is not "32-bit_rle_rgbe", or it is too short for the
// size it declares; reason (when given) then says which. Scanlines may be
// run-length coded or in the older coding (flat pixels with repeat pixels);
// a file that starts in the older coding is walked through here once, so
// that a few bytes can never order a huge image.
bool getRadianceRGBEinfo(const QString &path, int &width, int &height, double primaries[8],
                         bool &primariesPresent, QString *reason = nullptr);
bool getRadianceRGBEinfo(FILE *file, int &width, int &height, double primaries[8], bool &primariesPresent,
                         QString *reason = nullptr);

// Decodes the pixels into rgb (width x height x 3 floats, top row first).
// Width and height must be those the info call returned.
bool loadRadianceRGBE(const QString &path, int width, int height, float *rgb, float &minimum,
                      float &maximum);
bool loadRadianceRGBE(FILE *file, int width, int height, float *rgb, float &minimum, float &maximum);

} // namespace imageLoader

namespace imageSaver {

// Writes rgb (width x height x 3 floats) as a Radiance file with flat
// scanlines. With normalise set every value v becomes (v - minimum) /
// (maximum - minimum) first. The file is saved through checkedSaveFile: a
// read-only file is replaced only with replaceReadOnly; on failure the old
// file stays and reason (when given) says why.
bool saveRadianceRGBE(const QString &path, int width, int height, const float *rgb, bool normalise,
                      double minimum, double maximum, bool replaceReadOnly = false, QString *reason = nullptr);

// The four bytes of one pixel, usual Radiance scale.
void encodeRGBE(float r, float g, float b, uint8_t out[4]);

} // namespace imageSaver

#endif // RADIANCERGBE_H
