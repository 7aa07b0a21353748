// processingProject: thumbnails, photo list operations, the default response,
// the weighting tables and the YCbCr conversion of the float image.

#include "project/processingProject.h"

#include "app/debugLog.h"
#include "app/utils.h"
#include "project/parallelRanges.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr int HALF_TABLE = SAMPLE_TABLE_SIZE / 2; // 32768

// Coefficients of the standard camera response (a polynomial in x = v / 65535).
constexpr double DEFAULT_RESPONSE[6] = {0.011572206254299083, 0.2524769884516882,
                                        0.8850015088202797,   0.07465203573338197,
                                        -0.19796856978236432, 1.084440338878309};

struct _yCbCr_threadParams_t {
    float *pixels;
    int64_t start;
    int64_t end;
    bool forward;
};

} // namespace

void processingProject::makePhotoThumbnail(photoInfo_t &photo)
{
    delete photo.thumbnail;
    photo.thumbnail = nullptr;
    const int tw = previewWidth / 4;
    const int th = previewHeight / 4;
    if (tw <= 0 || th <= 0 || !photo.preview) {
        photo.meanBrightness = 0.0;
        return;
    }
    photo.thumbnail = new QImage(tw, th, QImage::Format_RGB888);
    double total = 0.0;
    for (int ty = 0; ty < th; ++ty) {
        uchar *row = photo.thumbnail->scanLine(ty);
        for (int tx = 0; tx < tw; ++tx) {
            uint64_t r = 0, g = 0, b = 0;
            int n = 0;
            for (int dy = 0; dy < 4; ++dy) {
                const int y = ty * 4 + dy;
                if (y >= previewHeight)
                    continue;
                for (int dx = 0; dx < 4; ++dx) {
                    const int x = tx * 4 + dx;
                    if (x >= previewWidth)
                        continue;
                    const uint16_t *p = photo.preview + (int64_t(y) * previewWidth + x) * 3;
                    r += p[0];
                    g += p[1];
                    b += p[2];
                    ++n;
                    // Brightness of the running sums, counted after every pixel.
                    const double c = double(r + g + b) / 3.0 / 65535.0;
                    if (c < 0.1)
                        continue;
                    total += c < 0.3 ? c * c / (0.3 * 0.3) * 0.3 : c;
                }
            }
            uchar *out = row + tx * 3;
            out[0] = n ? uchar((r / uint64_t(n)) >> 8) : 0;
            out[1] = n ? uchar((g / uint64_t(n)) >> 8) : 0;
            out[2] = n ? uchar((b / uint64_t(n)) >> 8) : 0;
        }
        doTransform(TRANSFORM_TO_MONITOR_8, row, row, uint32_t(tw)); // no-op without transforms
    }
    photo.meanBrightness = total / tw / th * 0.0625;
}

int processingProject::getImageInfoIdx(int id) const
{
    for (int i = 0; i < photos.size(); ++i) {
        if (photos[i].id == id)
            return i;
    }
    debugLog("%s: Id = %d not found\n", "processingProject::getImageInfoIdx", id);
    return -1;
}

bool processingProject::removePhoto(int id)
{
    int index = -1;
    for (int i = 0; i < photos.size() && index < 0; ++i) {
        if (photos[i].id == id)
            index = i;
    }
    if (index < 0) {
        debugLog("%s: Id = %d not found\n", "processingProject::removePhoto", id);
        return false;
    }
    freePhotoBuffers(photos[index]);
    photos.removeAt(index);
    return true;
}

void processingProject::defaultResponse(responseRecord *out)
{
    if (out) {
        *out = responseRecord();
        std::copy(std::begin(DEFAULT_RESPONSE), std::end(DEFAULT_RESPONSE), out->coefficients);
        out->count = 6;
        return;
    }
    if (!defaultResponseTable)
        return;
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i) {
        const double x = i / 65535.0;
        double f = 0.0, xp = 1.0;
        for (double c : DEFAULT_RESPONSE) {
            f += c * xp;
            xp *= x;
        }
        defaultResponseTable[i] = f;
    }
}

void hdrWeightTable(double *table, double low, double high, int mode)
{
    if (mode < 1 || mode > 3) {
        std::fill(table, table + SAMPLE_TABLE_SIZE, 1.0);
        return;
    }
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i) {
        const bool lower = i < HALF_TABLE;
        double v;
        if (mode == 1)
            v = lower ? i * 16.0 / 65536.0 : (65536 - i) * 8.0 / 65536.0;
        else
            v = lower ? i * 2.0 / 65536.0 : (65536 - i) * 2.0 / 65536.0;
        if (mode == 1)
            v = std::min(v, 1.0);
        if (mode == 3) {
            if (lower)
                v = v < low ? 0.0 : v - low;
            else
                v = v < high ? 0.01 : v - high;
        } else if (lower) {
            v = v < low ? 0.0 : (v - low) / (1.0 - low);
        } else {
            v = v < high ? 0.01 : (v - high) / (1.0 - high);
            if (mode == 2)
                v = std::max(v, 0.01);
        }
        table[i] = v;
    }
    if (mode == 3) {
        // Normalise by the value at the top of the lower half (the walk
        // divides the lower half by it and the upper half by the new 1).
        const double peak = table[HALF_TABLE - 1];
        if (peak > 0) {
            for (int i = 0; i < HALF_TABLE; ++i)
                table[i] /= peak;
        }
        for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
            table[i] /= i < HALF_TABLE ? 0.9 : 0.1;
    }
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i)
        table[i] = std::min(table[i], 1.0);
}

void rampTable(double *table, int peak, double low, double high, double scale)
{
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i) {
        double v = i < peak ? double(i) / peak : double(65535 - i) / double(65536 - peak);
        if (i < peak && v < low)
            v = 0.0;
        else if (i > peak && v < high)
            v = 0.0;
        table[i] = std::min(v * scale, 1.0);
    }
}

void gaussWeightTable(double *table, bool underExposed)
{
    for (int i = 0; i < SAMPLE_TABLE_SIZE; ++i) {
        const double x = i / 65535.0;
        if (underExposed)
            table[i] = x < 0.01 ? 1.0 : std::exp(-(x - 0.01) * (x - 0.01) / 0.003);
        else
            table[i] = x > 0.99 ? 1.0 : std::exp(-(1.0 - x - 0.01) * (1.0 - x - 0.01) / 0.003);
    }
}

void rgbToYCbCrRange(float *pixels, int64_t start, int64_t end, bool squareRoot)
{
    for (int64_t i = start; i < end; ++i) {
        float *p = pixels + i * 3;
        double r = p[0], g = p[1], b = p[2];
        if (squareRoot) {
            r = std::sqrt(std::max(r, 0.0));
            g = std::sqrt(std::max(g, 0.0));
            b = std::sqrt(std::max(b, 0.0));
        }
        p[0] = float(0.299 * r + 0.587 * g + 0.114 * b);
        p[1] = float(0.5 * b - (0.1687 * r + 0.3313 * g) + 0.5);
        p[2] = float(0.5 * r - 0.4187 * g - 0.0813 * b + 0.5);
    }
}

void yCbCrToRgbRange(float *pixels, int64_t start, int64_t end, bool square)
{
    for (int64_t i = start; i < end; ++i) {
        float *p = pixels + i * 3;
        const double y = p[0], cb = p[1] - 0.5, cr = p[2] - 0.5;
        double r = y + 1.402 * cr;
        double g = y - 0.34414 * cb - 0.71414 * cr;
        double b = y + 1.772 * cb;
        if (square) {
            r *= r;
            g *= g;
            b *= b;
        }
        p[0] = float(r);
        p[1] = float(g);
        p[2] = float(b);
    }
}

namespace {

void yCbCrThread(const _yCbCr_threadParams_t &t)
{
    if (t.forward)
        rgbToYCbCrRange(t.pixels, t.start, t.end, true);
    else
        yCbCrToRgbRange(t.pixels, t.start, t.end, true);
}

void convertParallel(pyramid &image, bool forward, bool batch)
{
    if (image.levelCount < 1 || !image.levels[0].data || image.bytesPerSample != 4
        || image.channels != 3)
        return;
    float *pixels = static_cast<float *>(image.levels[0].data);
    const int64_t total = int64_t(image.levels[0].width) * image.levels[0].height;
    parallelRanges(
        total, idealThreadCount(batch),
        [&](const range_t &r) { return _yCbCr_threadParams_t{pixels, r.first, r.end, forward}; },
        yCbCrThread);
}

} // namespace

void processingProject::toYCbCrParallel()
{
    convertParallel(hdrImage, true, quiet);
}

void processingProject::fromYCbCrParallel()
{
    convertParallel(hdrImage, false, quiet);
}

bool processingProject::reallocateLevelBuffer()
{
    delete[] levelBuffer;
    levelBuffer = nullptr;
    if (selectedPreviewLevel >= 1 && selectedPreviewLevel < hdrImage.levelCount) {
        const pyramidLevel_t &l = hdrImage.levels[selectedPreviewLevel];
        const int64_t bytes = int64_t(l.width) * l.height * 3;
        if (bytes > 0)
            levelBuffer = new (std::nothrow) uint8_t[size_t(bytes)];
    }
    return levelBuffer != nullptr;
}
