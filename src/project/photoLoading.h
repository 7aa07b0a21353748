#ifndef PHOTOLOADING_H
#define PHOTOLOADING_H

// The decoding steps of photo loading that need no project: JPEG, PNG and BMP
// read in horizontal stripes into 16-bit RGB, a photo stored in a project file
// (its EXIF carrier and its compressed pixels), and the orientation turn.
// Every length and offset read from a file is checked against the file.

#include "project/projectHeader.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// The RAW decode choices of the "Load RAW image" dialog, as the dialog's
// controls hold them or as the "LoadRAW/" settings stored them.
struct rawDecodeChoices_t {
    enum whiteBalance_t { AsShot = 0, AutoWhole = 1, AutoSelection = 2, Manual = 3 };
    int whiteBalance = AsShot;
    int sampleX = -1, sampleY = -1, sampleSize = 0; // AutoSelection: the sample (preview pixels)
    double multipliers[3] = {1, 1, 1};              // Manual: R/G, G, B/G
    bool noiseFilter = false;
    int wavelet = 2;
    int median = 1;
    bool colorManagement = false;
    int colorSpace = 1;                             // 1-based, as stored
    bool keepOrientation = true;
    bool other = false;                             // "Other options"
    bool recoverHighlights = false;
    bool autoBrighten = false;
    double brightness = 1.0;
};

namespace photoLoading {

// The dcraw-style switch list (without the file path) both RAW engines take:
// the preview variant asks for a half-size, fast decode.
QStringList rawDecodeSwitches(const rawDecodeChoices_t &c, bool preview);

// Largest EXIF carrier accepted from a project file.
constexpr int64_t MAX_EXIF_CARRIER_BYTES = 64 << 20;

// Stripes a standard image of w x h pixels is read in: trunc(w x h / 20e6) + 1.
int stripeCount(int64_t width, int64_t height);

// Reads a JPEG, PNG or BMP file into rgb16 (width x height x 3). With divisor
// 1 a JPEG is decoded by libjpeg in one pass (imageLoader::loadJPEG16; CMYK
// ones excepted) and other files stripe by stripe through a clip rectangle;
// otherwise the reader scales to width x height. 8-bit samples become trunc(v / 255 x 65535) (= v x 257),
// 16-bit ones are kept. stripes (optional) receives the stripe count. On
// failure error (optional) receives "UNSUPPORTED IMAGE FORMAT" for an image
// whose pixel format cannot be converted, else stays empty.
bool loadStandardImage(const QString &path, int width, int height, int divisor, uint16_t *rgb16,
                       int *stripes = nullptr, QString *error = nullptr);

// Copies the EXIF carrier (a JPEG file holding the photo's EXIF data) of
// project photo entry `entry` into target. True with nothing written when the
// entry has no carrier; false for an entry outside the header's tables, a
// file that can't be read, a length beyond the file or a failed write.
bool extractExifCarrier(const QString &projectPath, const projectHeader_t &header, int entry, const QString &target,
                        bool *written = nullptr);

// Reads the 16-bit pixels (width x height x 6 bytes, compressed blocks of the
// header's block size) of project photo entry `entry` into rgb16. True with
// nothing read when the entry has no pixel data.
bool readProjectPhoto(const QString &projectPath, const projectHeader_t &header, int entry, int width, int height,
                      uint16_t *rgb16, bool *decoded = nullptr);

// Turn mode of an EXIF orientation: 1 for 3 (half turn), 2 for 6 (quarter
// turn clockwise), 0 for 8 (quarter turn counter-clockwise), -1 otherwise.
int orientationMode(int exifOrientation);

// Turns an interleaved 16-bit RGB image (width x height) by the mode into
// dst (which must not be src). Quarter turns swap width and height.
void rotateImage16(const uint16_t *src, int width, int height, int mode, uint16_t *dst);

// Reduces a 16-bit RGB image (width x height) to the preview (previewWidth x
// previewHeight, each ceil(side / divisor)) by averaging divisor x divisor
// blocks (clipped at the right and bottom edges).
void reduceToPreview(const uint16_t *src, int width, int height, int divisor, uint16_t *dst, int previewWidth,
                     int previewHeight);

// reduceToPreview for rows that arrive in order, top to bottom, a batch at a
// time (a decoder writing its rows out): each preview pixel gets the same sums
// in the same order, so the preview is the same to the last bit. Preview rows
// without any source row stay 0.
class previewRowReducer
{
public:
    previewRowReducer(int width, int height, int divisor, uint16_t *dst, int previewWidth, int previewHeight);
    // Rows firstRow .. firstRow + rowCount - 1, width x 3 samples each.
    void addRows(int firstRow, int rowCount, const uint16_t *rows);

private:
    int width, height, divisor, previewWidth, previewHeight;
    uint16_t *dst;
    std::vector<double> sums;   // previewWidth x 3, the block row being summed
};

// The same for a float RGB image, mapped linearly from 0..maximum to 0..65535.
void reduceFloatToPreview(const float *src, int width, int height, int divisor, double maximum, uint16_t *dst,
                          int previewWidth, int previewHeight);

} // namespace photoLoading

#endif // PHOTOLOADING_H
