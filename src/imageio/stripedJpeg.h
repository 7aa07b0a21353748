#ifndef STRIPEDJPEG_H
#define STRIPEDJPEG_H

// JPEG encoding in parallel stripes. The image is cut into stripes of whole
// MCU rows (a multiple of eight MCU rows each); every stripe is encoded on
// its own with a restart marker after each MCU row, and the stripes'
// entropy-coded data are joined into one baseline stream with a single
// header. Restart markers reset the DC predictions, so the joined stream is
// byte for byte the one a single encoder with the same restart interval
// writes, and every JPEG decoder reads it.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

// Runs task(0) ... task(count - 1), in parallel where it can, and returns
// when all have ended. The caller hands in the program's task runner (this
// folder sits below it); without one the tasks run one after another.
using parallelRunner_t = std::function<void(int count, const std::function<void(int)> &task)>;

struct stripedJpegOptions_t {
    int quality = 95;      // 0..100
    int dpi = 0;           // 0: no resolution in the JFIF header (aspect 1:1)
    int taskCount = 1;     // stripes encoded at the same time
    parallelRunner_t runParallel;
};

// Fills one row of 8-bit RGB samples (width x 3 bytes) for image row y. Called
// from several threads at once, each with its own row buffer.
using jpegRowSource_t = std::function<void(int y, uint8_t *rgbRow)>;

// Encodes a width x height image into out. False with a reason when the
// encoder failed (the size is checked: at most 65500 pixels on each side).
bool encodeStripedJpeg(int width, int height, const jpegRowSource_t &rows, const stripedJpegOptions_t &options,
                       QByteArray *out, QString *reason = nullptr);

#endif // STRIPEDJPEG_H
