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
// reach from one half-float channel.
int64_t minimalOpenEXRbytes(int64_t width, int64_t height, int compression)
{
    int linesPerBlock = 1;
    int64_t ratio = 1;
    switch (compression) {
    case IMF_NO_COMPRESSION: ratio = 1; break;
    case IMF_RLE_COMPRESSION: ratio = 64; break; // 2 bytes for a run of 128
    case IMF_ZIPS_COMPRESSION: ratio = 1032; break; // deflate's largest ratio
    case IMF_ZIP_COMPRESSION: linesPerBlock = 16; ratio = 1032; break;
    case IMF_PXR24_COMPRESSION: linesPerBlock = 16; ratio = 1032; break;
    // Wavelet and Huffman: a run of up to 256 equal values costs at least
    // ten bits, about 400 to 1; bounded here with room to spare.
    case IMF_PIZ_COMPRESSION: linesPerBlock = 32; ratio = 2048; break;
    case IMF_B44_COMPRESSION:
    case IMF_B44A_COMPRESSION: linesPerBlock = 32; ratio = 3; break; // 14 bytes for 16 pixels at best
    // The DCT codecs (and any newer one): run-length and deflate over mostly
    // zero coefficients; a generous bound still keeps a small file small.
    default: linesPerBlock = 256; ratio = 65536; break;
    }
    const int64_t blocks = (height + linesPerBlock - 1) / linesPerBlock;
    const int64_t blockBytes = blocks * 16;
    const int64_t dataBytes = ratio > 0 ? width * height * 2 / ratio : 0;
    return std::max(blockBytes, dataBytes);
}

// Size of a value of each fixed-layout attribute type the library knows;
// 0 for the types read by their stated size (strings, opaque values) or
// checked by their own layout (channel lists, previews).
int64_t fixedAttributeSize(const QByteArray &type)
{
    static const struct { const char *type; int size; } sizes[] = {
        {"box2i", 16},   {"box2f", 16},      {"chromaticities", 32}, {"compression", 1}, {"double", 8},
        {"envmap", 1},   {"float", 4},       {"int", 4},             {"keycode", 28},    {"lineOrder", 1},
        {"m33f", 36},    {"m33d", 72},       {"m44f", 64},           {"m44d", 128},      {"rational", 8},
        {"tiledesc", 9}, {"timecode", 8},    {"v2i", 8},             {"v2f", 8},         {"v2d", 16},
        {"v3i", 12},     {"v3f", 12},        {"v3d", 24},            {"deepImageState", 1},
    };
    for (const auto &s : sizes)
        if (type == s.type)
            return s.size;
    return 0;
}

// A channel list is a run of entries (zero-ended name, then pixel type,
// linear flag, three reserved bytes and the two sampling rates: 16 bytes)
// closed by an empty name; it must end exactly where its stated size ends.
// The file is positioned at the start of the value.
bool channelListFits(QFile &file, int64_t size, int nameLimit)
{
    int64_t used = 0;
    for (;;) {
        int length = 0;
        char c = 0;
        do {
            if (used >= size || !file.getChar(&c))
                return false;
            ++used;
            if (c != 0 && ++length > nameLimit)
                return false;
        } while (c != 0);
        if (length == 0)
            return used == size;
        uchar entry[16];
        if (size - used < 16 || file.read(reinterpret_cast<char *>(entry), 16) != 16)
            return false;
        used += 16;
        auto int32At = [&entry](int at) {
            return int32_t(uint32_t(entry[at]) | uint32_t(entry[at + 1]) << 8 | uint32_t(entry[at + 2]) << 16 |
                           uint32_t(entry[at + 3]) << 24);
        };
        // Pixel type: unsigned int, half or float; sampling rates of at least 1.
        if (int32At(0) < 0 || int32At(0) > 2 || int32At(8) < 1 || int32At(12) < 1)
            return false;
    }
}

// A preview is its width and height (32 bits each), then four bytes a pixel.
bool previewFits(QFile &file, int64_t size)
{
    uchar wh[8];
    if (size < 8 || file.read(reinterpret_cast<char *>(wh), 8) != 8)
        return false;
    const int64_t w = int64_t(uint32_t(wh[0]) | uint32_t(wh[1]) << 8 | uint32_t(wh[2]) << 16 | uint32_t(wh[3]) << 24);
    const int64_t h = int64_t(uint32_t(wh[4]) | uint32_t(wh[5]) << 8 | uint32_t(wh[6]) << 16 | uint32_t(wh[7]) << 24);
    return w * h * 4 == size - 8;
}

// The library allocates every header attribute at the size the file states
// before it reads it, so a few bytes can make it ask for gigabytes. The
// header's attributes (name, type, 32-bit size, value; an empty name ends
// the header) are walked here first: each value must fit in the file, and
// the data window must pass the probe's size checks (the library sizes its
// block buffers from it when the file is opened).
bool headerFitsFile(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("Cannot open the file (%1).").arg(file.errorString());
        return false;
    }
    const int64_t total = file.size();
    auto bad = [why](const char *what) {
        *why = QStringLiteral("The OpenEXR header is damaged (%1).").arg(QLatin1String(what));
        return false;
    };
    uchar head[8];
    if (file.read(reinterpret_cast<char *>(head), 8) != 8)
        return bad("file too short");
    if (!(head[0] == 0x76 && head[1] == 0x2f && head[2] == 0x31 && head[3] == 0x01))
        return bad("not an OpenEXR file");
    const bool longNames = (head[5] & 0x04) != 0;
    const int nameLimit = longNames ? 255 : 31;
    int64_t pos = 8;
    int compression = IMF_NO_COMPRESSION;
    int64_t windowWidth = -1, windowHeight = -1;
    // Reads a zero-ended name of at most nameLimit characters; false at the end of the file.
    auto readName = [&](QByteArray &name) {
        name.clear();
        char c;
        while (file.getChar(&c)) {
            ++pos;
            if (c == 0)
                return true;
            if (name.size() >= nameLimit)
                return false;
            name.append(c);
        }
        return false;
    };
    for (int attributes = 0; attributes < 100000; ++attributes) {
        QByteArray name, type;
        if (!readName(name))
            return bad("an attribute name runs past its limit or the file");
        if (name.isEmpty()) { // end of the (first) header
            if (windowWidth < 0)
                return bad("no data window");
            if (!imageFileLimits::sizeAcceptable(windowWidth, windowHeight)) {
                *why = QStringLiteral("Unsupported OpenEXR image size (%1 x %2).").arg(windowWidth).arg(windowHeight);
                return false;
            }
            if (total < minimalOpenEXRbytes(windowWidth, windowHeight, compression)) {
                *why = QStringLiteral("The OpenEXR file is too short for the size its header declares (%1 x %2).")
                           .arg(windowWidth)
                           .arg(windowHeight);
                return false;
            }
            return true;
        }
        if (!readName(type) || type.isEmpty())
            return bad("an attribute type runs past its limit or the file");
        uchar sizeBytes[4];
        if (file.read(reinterpret_cast<char *>(sizeBytes), 4) != 4)
            return bad("file too short");
        pos += 4;
        const int32_t size = int32_t(uint32_t(sizeBytes[0]) | uint32_t(sizeBytes[1]) << 8 |
                                     uint32_t(sizeBytes[2]) << 16 | uint32_t(sizeBytes[3]) << 24);
        if (size < 0 || size > total - pos)
            return bad("an attribute is larger than the file");
        // The library reads a value of a known type by its own layout, not by
        // the size stated before it: a size that disagrees would make it read
        // the rest of the header out of step with this walk (and take any
        // four bytes as the next size). Such a header is damaged.
        const int64_t fixed = fixedAttributeSize(type);
        if (fixed > 0 && size != fixed)
            return bad("an attribute's size does not match its type");
        if (type == "chlist" && !channelListFits(file, size, nameLimit))
            return bad("the channel list does not match its size");
        if (type == "preview" && !previewFits(file, size))
            return bad("the preview does not match its size");
        if (!file.seek(pos))
            return bad("file too short");
        // The library sizes its block buffers from the data window when the
        // file is opened: the window is checked against the file first.
        if (name == "compression" && type == "compression" && size == 1) {
            char c = 0;
            if (!file.getChar(&c))
                return bad("file too short");
            compression = uchar(c);
        } else if (name == "dataWindow" && type == "box2i" && size == 16) {
            uchar box[16];
            if (file.read(reinterpret_cast<char *>(box), 16) != 16)
                return bad("file too short");
            int32_t v[4];
            for (int i = 0; i < 4; ++i)
                v[i] = int32_t(uint32_t(box[i * 4]) | uint32_t(box[i * 4 + 1]) << 8 | uint32_t(box[i * 4 + 2]) << 16 |
                               uint32_t(box[i * 4 + 3]) << 24);
            windowWidth = int64_t(v[2]) - v[0] + 1;
            windowHeight = int64_t(v[3]) - v[1] + 1;
        }
        pos += size;
        if (!file.seek(pos))
            return bad("file too short");
    }
    return bad("too many attributes");
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
    QString why;
    if (!headerFitsFile(path, &why))
        return refuse(why);
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
    QString why;
    if (!headerFitsFile(path, &why)) {
        debugLog("%s: %s\n", "imageLoader::loadOpenEXR", qPrintable(why));
        return false;
    }
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
