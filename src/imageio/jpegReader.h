#ifndef JPEGREADER_H
#define JPEGREADER_H

// JPEG photos decoded with libjpeg straight into the loader's 16-bit RGB
// layout: one decode of the file, one pass from the decoder's 8-bit rows to
// 16 bits (v x 257), no intermediate full-size image. Qt's reader remains the
// path for everything this one leaves alone (other formats, CMYK JPEGs,
// scaled reads).

#include <QString>
#include <cstdint>
#include <functional>

namespace imageLoader {

enum class jpegDecodeResult {
    decoded,    // rgb16 holds the photo
    failed,     // a JPEG this reader owns, but damaged or of another size
    notHandled, // not a JPEG, or a colour model left to the general reader
};

// Decodes the JPEG at path into rgb16 (width x height x 3 samples, 8-bit
// samples times 257, grey files repeated in the three channels). The file's
// own size must be width x height. notHandled leaves rgb16 untouched; failed
// may leave it partly written.
jpegDecodeResult loadJPEG16(const QString &path, int width, int height, uint16_t *rgb16);

// The same decode handing the 16-bit rows out in batches instead of writing a
// full-size buffer: sink(firstRow, rowCount, rows) gets every row once, in
// order; rows holds rowCount x width x 3 samples and is reused after the call.
// A sink returning false ends the decode with failed.
jpegDecodeResult loadJPEG16Rows(const QString &path, int width, int height,
                                const std::function<bool(int, int, const uint16_t *)> &sink);

} // namespace imageLoader

#endif // JPEGREADER_H
