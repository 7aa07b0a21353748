#ifndef OPENEXR_H
#define OPENEXR_H

// OpenEXR images through the library's plain-function RGBA interface: only R,
// G and B are used (alpha is dropped on reading and written as 1.0).

#include <QString>

namespace imageLoader {

// Size of the file's data window (the display window is not consulted).
// False, with the reason when asked for, for a file the library cannot open,
// an empty or oversized window, or a file too small to hold the pixels its
// header declares (at the largest ratio its compression can reach).
bool getOpenEXRinfo(const QString &path, int &width, int &height, QString *reason = nullptr);

// Decodes the data window into rgb (width x height x 3 floats, top row first).
// Width and height must be those the info call returned. Values above the
// largest finite half (65504, infinity included) are clamped to it.
bool loadOpenEXR(const QString &path, int width, int height, float *rgb, float &minimum, float &maximum);

} // namespace imageLoader

namespace imageSaver {

// Writes rgb as a half-float RGBA file with PIZ compression. With normalise
// set every value v becomes (v - minimum) / (maximum - minimum) first. The file
// is saved through checkedSaveFile and replaces path only when every scanline,
// the close and a read-back of the last scanline succeeded. A read-only file
// is replaced only with replaceReadOnly; reason (when given) says why a save
// failed.
bool saveOpenEXR(const QString &path, int width, int height, const float *rgb, bool normalise, double minimum,
                 double maximum, bool replaceReadOnly = false, QString *reason = nullptr);

} // namespace imageSaver

#endif // OPENEXR_H
