#include "imageio/openEXR.h"
#include "imageio/imageFileLimits.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/sharedFlags.h"

#include <OpenEXR/ImfCRgbaFile.h>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr float HALF_MAX = 65504.0f;

struct inputCloser {
    void operator()(ImfInputFile *f) const
    {
        if (f)
            ImfCloseInputFile(f);
    }
};

// Data window of an open file; false when it is empty or absurdly large.
bool dataWindow(ImfInputFile *in, int &xMin, int &yMin, int64_t &width, int64_t &height)
{
    const ImfHeader *header = ImfInputHeader(in);
    if (!header)
        return false;
    int xMax = 0, yMax = 0;
    ImfHeaderDataWindow(header, &xMin, &yMin, &xMax, &yMax);
    width = int64_t(xMax) - xMin + 1;
    height = int64_t(yMax) - yMin + 1;
    return imageFileLimits::sizeAcceptable(width, height);
}

// The library's close cannot report a failure of the last buffered writes;
// reading the last scanline back proves the file is complete.
bool lastScanlineReadable(const char *name, int width, int height)
{
    std::unique_ptr<ImfInputFile, inputCloser> in(ImfOpenInputFile(name));
    if (!in)
        return false;
    int xMin = 0, yMin = 0;
    int64_t w = 0, h = 0;
    if (!dataWindow(in.get(), xMin, yMin, w, h) || w != width || h != height || xMin != 0 || yMin != 0)
        return false;
    std::vector<ImfRgba> line(static_cast<size_t>(width));
    const intptr_t shift = intptr_t(height - 1) * width * intptr_t(sizeof(ImfRgba));
    ImfRgba *base = reinterpret_cast<ImfRgba *>(reinterpret_cast<uintptr_t>(line.data()) - uintptr_t(shift));
    return ImfInputSetFrameBuffer(in.get(), base, 1, size_t(width)) && ImfInputReadPixels(in.get(), height - 1, height - 1);
}

// Fewest bytes a scanline or tiled file of this size can take: every block
// of scanlines has an offset-table entry and a block header (line number and
// size, 16 bytes together), and no block holds more than its compression can
// reach from one half-float channel. Codecs with no fixed limit (the wavelet
// and DCT ones) are bounded by their blocks alone.
int64_t minimalOpenEXRbytes(int64_t width, int64_t height, int compression)
{
    int linesPerBlock = 1;
    int64_t ratio = 0; // 0: no bound from the pixel data
    switch (compression) {
    case IMF_NO_COMPRESSION: ratio = 1; break;
    case IMF_RLE_COMPRESSION: ratio = 64; break; // 2 bytes for a run of 128
    case IMF_ZIPS_COMPRESSION: ratio = 1032; break; // deflate's largest ratio
    case IMF_ZIP_COMPRESSION: linesPerBlock = 16; ratio = 1032; break;
    case IMF_PXR24_COMPRESSION: linesPerBlock = 16; ratio = 1032; break;
    case IMF_PIZ_COMPRESSION: linesPerBlock = 32; break;
    case IMF_B44_COMPRESSION:
    case IMF_B44A_COMPRESSION: linesPerBlock = 32; ratio = 3; break; // 14 bytes for 16 pixels at best
    default: linesPerBlock = 256; break;
    }
    const int64_t blocks = (height + linesPerBlock - 1) / linesPerBlock;
    const int64_t blockBytes = blocks * 16;
    const int64_t dataBytes = ratio > 0 ? width * height * 2 / ratio : 0;
    return std::max(blockBytes, dataBytes);
}

} // namespace

namespace imageLoader {

bool getOpenEXRinfo(const QString &path, int &width, int &height, QString *reason)
{
    auto refuse = [reason](const QString &why) {
        debugLog("%s: %s\n", "imageLoader::getOpenEXRinfo", qPrintable(why));
        if (reason)
            *reason = why;
        return false;
    };
    ImfInputFile *in = ImfOpenInputFile(QFile::encodeName(path).constData());
    if (!in)
        return refuse(QStringLiteral("Cannot read the OpenEXR file (%1).").arg(QString::fromUtf8(ImfErrorMessage())));
    const ImfHeader *header = ImfInputHeader(in);
    if (!header) {
        ImfCloseInputFile(in);
        return refuse(QStringLiteral("The OpenEXR file has no header."));
    }
    const int compression = ImfHeaderCompression(header);
    int xMin = 0, yMin = 0;
    int64_t w = 0, h = 0;
    const bool ok = dataWindow(in, xMin, yMin, w, h);
    debugLog("OpenEXR image size: %lld x %lld\n", (long long)w, (long long)h);
    ImfCloseInputFile(in);
    if (!ok)
        return refuse(QStringLiteral("Unsupported OpenEXR image size (%1 x %2).").arg(w).arg(h));
    const int64_t fileBytes = QFileInfo(path).size();
    const int64_t needed = minimalOpenEXRbytes(w, h, compression);
    if (fileBytes < needed)
        return refuse(QStringLiteral("The OpenEXR file is too short for the size its header declares (%1 x %2).")
                          .arg(w)
                          .arg(h));
    width = int(w);
    height = int(h);
    return true;
}

bool loadOpenEXR(const QString &path, int width, int height, float *rgb, float &minimum, float &maximum)
{
    minimum = 1e9f;
    maximum = 0.0f;
    ImfInputFile *in = ImfOpenInputFile(QFile::encodeName(path).constData());
    if (!in)
        return false;
    // The data-window origin is read again from the file being decoded, so a
    // load can never use another file's origin.
    int xMin = 0, yMin = 0;
    int64_t w = 0, h = 0;
    if (!dataWindow(in, xMin, yMin, w, h) || w != width || h != height) {
        debugLog("%s: data window differs from the expected size (%d x %d)\n", "imageLoader::loadOpenEXR", width,
                 height);
        ImfCloseInputFile(in);
        return false;
    }

    std::vector<ImfRgba> line;
    std::vector<ImfHalf> halves;
    std::vector<float> floats;
    try {
        line.resize(size_t(width));
        halves.resize(size_t(width));
        floats.resize(size_t(width) * 3);
    } catch (const std::bad_alloc &) {
        ImfCloseInputFile(in);
        return false;
    }

    bool ok = true;
    for (int i = 0; i < height && ok; ++i) {
        const int y = yMin + i;
        // The library addresses pixel (x, y) at base + x * xStride + y * yStride
        // (in elements); place the base so that (xMin, y) is line[0].
        const intptr_t shift = (intptr_t(xMin) + intptr_t(y) * width) * intptr_t(sizeof(ImfRgba));
        ImfRgba *base = reinterpret_cast<ImfRgba *>(reinterpret_cast<uintptr_t>(line.data()) - uintptr_t(shift));
        if (!ImfInputSetFrameBuffer(in, base, 1, size_t(width))) {
            debugLog("ImfInputSetFrameBuffer failed\n");
            ok = false;
            break;
        }
        if (!ImfInputReadPixels(in, y, y)) {
            debugLog("ImfInputReadPixels failed\n");
            debugLog("%s: %s\n", "imageLoader::loadOpenEXR", ImfErrorMessage());
            ok = false;
            break;
        }
        for (int c = 0; c < 3; ++c) {
            for (int x = 0; x < width; ++x)
                halves[x] = c == 0 ? line[x].r : (c == 1 ? line[x].g : line[x].b);
            ImfHalfToFloatArray(width, halves.data(), floats.data() + size_t(c) * width);
        }
        float *out = rgb + size_t(i) * width * 3;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                float v = floats[size_t(c) * width + x];
                if (v > HALF_MAX)
                    v = HALF_MAX;
                out[x * 3 + c] = v;
                if (v > maximum)
                    maximum = v;
                if (v < minimum)
                    minimum = v;
            }
        }
    }
    if (!ImfCloseInputFile(in)) {
        debugLog("ImfCloseInputFile failed\n");
        ok = false;
    }
    return ok;
}

} // namespace imageLoader

namespace imageSaver {

bool saveOpenEXR(const QString &path, int width, int height, const float *rgb, bool normalise, double minimum,
                 double maximum, bool replaceReadOnly, QString *reason)
{
    debugLog("Saving OpenEXR image format...\n");
    auto failWith = [&](const QString &why) {
        debugLog("%s: Cannot write file %s (%s).\n", "imageSaver::saveOpenEXR", qPrintable(path), qPrintable(why));
        if (reason)
            *reason = why;
        return false;
    };
    if (width <= 0 || height <= 0 || !rgb)
        return failWith(QStringLiteral("no image"));
    checkedSaveFile file(path);
    file.setReplaceReadOnly(replaceReadOnly);
    if (!file.openForLibrary())
        return failWith(file.errorText());
    const QByteArray tempName = QFile::encodeName(file.temporaryPath());
    ImfHeader *header = ImfNewHeader();
    if (!header)
        return failWith(QStringLiteral("not enough memory"));
    ImfHeaderSetDataWindow(header, 0, 0, width - 1, height - 1);
    ImfHeaderSetDisplayWindow(header, 0, 0, width - 1, height - 1);
    ImfHeaderSetCompression(header, IMF_PIZ_COMPRESSION);
    ImfHeaderSetLineOrder(header, IMF_INCREASING_Y);
    ImfOutputFile *out = ImfOpenOutputFile(tempName.constData(), header, IMF_WRITE_RGBA);
    ImfDeleteHeader(header);
    if (!out)
        return failWith(QString::fromLocal8Bit(ImfErrorMessage()));

    double offset = 0.0, range = 1.0;
    if (normalise) {
        offset = minimum;
        range = maximum - minimum;
        if (!(range > 0.0))
            range = 1.0; // an empty range cannot be stretched; write the values unchanged
    }
    bool ok = true;
    std::vector<ImfRgba> line;
    std::vector<float> floats;
    std::vector<ImfHalf> halves;
    try {
        line.resize(size_t(width));
        floats.resize(size_t(width));
        halves.resize(size_t(width));
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    for (int y = 0; ok && y < height; ++y) {
        const float *in = rgb + size_t(y) * width * 3;
        for (int c = 0; c < 4; ++c) {
            for (int x = 0; x < width; ++x)
                floats[x] = c == 3 ? 1.0f : float((in[x * 3 + c] - offset) / range);
            ImfFloatToHalfArray(width, floats.data(), halves.data());
            for (int x = 0; x < width; ++x) {
                ImfRgba &p = line[x];
                (c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : p.a) = halves[x];
            }
        }
        const intptr_t shift = intptr_t(y) * width * intptr_t(sizeof(ImfRgba));
        const ImfRgba *base =
            reinterpret_cast<const ImfRgba *>(reinterpret_cast<uintptr_t>(line.data()) - uintptr_t(shift));
        if (!ImfOutputSetFrameBuffer(out, base, 1, size_t(width)) || !ImfOutputWritePixels(out, 1)) {
            debugLog("%s: %s\n", "imageSaver::saveOpenEXR", ImfErrorMessage());
            ok = false;
        }
        ++progressCounter;
    }
    QString why;
    if (!ok)
        why = QString::fromLocal8Bit(ImfErrorMessage());
    if (!ImfCloseOutputFile(out) && ok) {
        why = QString::fromLocal8Bit(ImfErrorMessage());
        ok = false;
    }
    if (ok && !lastScanlineReadable(tempName.constData(), width, height)) {
        why = QStringLiteral("the written file is incomplete");
        ok = false;
    }
    if (!ok)
        return failWith(why.isEmpty() ? QStringLiteral("write failed") : why);
    if (!file.commit())
        return failWith(file.errorText());
    return true;
}

} // namespace imageSaver
