// Project file (.lmpx) header coding, checks, payload reading and writing.

#include "documents/projectFile.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/rawFileIO.h"
#include "app/utils.h"
#include "project/parallelRanges.h"
#include "project/photoLoading.h"

#include <QCoreApplication>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <memory>
#include <mutex>
#include <vector>
#include <zlib.h>

const char PROJECT_FILE_ID[] = "Lumidra 3 project";

namespace {

// Version-2 header offsets.
constexpr int OFF_ID = 0;
constexpr int OFF_VERSION = 32;
constexpr int OFF_HEADER_SIZE = 36;
constexpr int OFF_BLOCK_SIZE = 40;
constexpr int OFF_PHOTO_SLOTS = 44;
constexpr int OFF_LAYER_SLOTS = 45;
constexpr int OFF_WIDTH = 48;
constexpr int OFF_HEIGHT = 52;
constexpr int OFF_GHOST_WIDTH = 56;
constexpr int OFF_GHOST_HEIGHT = 60;
constexpr int OFF_CONSTANT = 64;
constexpr int OFF_NAMES = 68;
constexpr int OFF_EXIF = 25672;
constexpr int OFF_PIXELS = 26480;
constexpr int OFF_EVS = 27280;
constexpr int OFF_GHOST_LABELS = 28080;
constexpr int OFF_LAYER_MASKS = 28480;
constexpr int OFF_LAYER_NAMES = 28560;
constexpr int OFF_LAYER_SETTINGS = 28880;
constexpr int OFF_LAYER_OPACITY = 28960;
constexpr int OFF_OPTIONS = 29040; // seven option bytes
constexpr int OFF_GHOST_MASK = 29048;
constexpr int OFF_NOISE = 29056; // noise on, strength, softness, panorama, lens
constexpr int OFF_HDR_ENCODING = 29164;
constexpr int OFF_HDR_OFFSET = 29168;
constexpr int OFF_HDR_PRE = 29176;

static_assert(OFF_HDR_PRE + 16 == PROJECT_HEADER_SIZE, "the header ends with the preprocessing values");
static_assert(OFF_NAMES + PROJECT_FILE_PHOTO_SLOTS * PROJECT_FILE_NAME_BYTES == 25668, "names end at 25668");

// The largest ratio a zlib stream reaches (deflate's limit is about 1032:1);
// a run of N bytes can never be stored in fewer bytes than this allows.
constexpr uint64_t ZLIB_MAX_RATIO = 1032;

uint64_t getLE(const uint8_t *p, int count)
{
    uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

void putLE(uint8_t *p, int count, uint64_t v)
{
    for (int i = 0; i < count; ++i, v >>= 8)
        p[i] = uint8_t(v & 0xff);
}

int32_t getI32(const uint8_t *b, int at) { return int32_t(uint32_t(getLE(b + at, 4))); }
int64_t getI64(const uint8_t *b, int at) { return int64_t(getLE(b + at, 8)); }
double getF64(const uint8_t *b, int at)
{
    const uint64_t bits = getLE(b + at, 8);
    double d;
    memcpy(&d, &bits, 8);
    return d;
}
void putI32(uint8_t *b, int at, int32_t v) { putLE(b + at, 4, uint32_t(v)); }
void putI64(uint8_t *b, int at, int64_t v) { putLE(b + at, 8, uint64_t(v)); }
void putF64(uint8_t *b, int at, double d)
{
    uint64_t bits;
    memcpy(&bits, &d, 8);
    putLE(b + at, 8, bits);
}

void putName(uint8_t *b, int at, int fieldBytes, const QString &name)
{
    const QByteArray bytes = utf8Fitting(name, fieldBytes - 1);
    memset(b + at, 0, size_t(fieldBytes));
    memcpy(b + at, bytes.constData(), size_t(bytes.size()));
}

// The name in a field, or false when the field has no terminator.
bool getName(const uint8_t *b, int at, int fieldBytes, QString &name)
{
    const void *end = memchr(b + at, 0, size_t(fieldBytes));
    if (!end)
        return false;
    name = QString::fromUtf8(reinterpret_cast<const char *>(b + at),
                             int(static_cast<const uint8_t *>(end) - (b + at)));
    return true;
}

QString tr(const char *text) { return QCoreApplication::translate("projectFile", text); }

// Bytes a compressed run of `bytes` occupies at least.
uint64_t minimumRunBytes(uint64_t bytes, int32_t blockSize)
{
    const uint64_t blocks = (bytes + uint64_t(blockSize) - 1) / uint64_t(blockSize);
    return blocks * 8 + bytes / ZLIB_MAX_RATIO;
}

} // namespace

QByteArray utf8Fitting(const QString &name, int maxBytes)
{
    QByteArray out;
    if (maxBytes <= 0)
        return out;
    for (int i = 0; i < name.size();) {
        const int len = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const QByteArray ch = name.mid(i, len).toUtf8();
        if (out.size() + ch.size() > maxBytes)
            break;
        out += ch;
        i += len;
    }
    return out;
}

void encodeProjectFileHeader(const projectFileHeader_t &h, projectHeader_t &out)
{
    uint8_t *b = out.bytes;
    memset(b, 0, PROJECT_HEADER_SIZE);
    memcpy(b + OFF_ID, PROJECT_FILE_ID, strlen(PROJECT_FILE_ID));
    putI32(b, OFF_VERSION, PROJECT_FILE_VERSION);
    putI32(b, OFF_HEADER_SIZE, PROJECT_HEADER_SIZE);
    putI32(b, OFF_BLOCK_SIZE, h.blockSize);
    b[OFF_PHOTO_SLOTS] = PROJECT_FILE_PHOTO_SLOTS;
    b[OFF_LAYER_SLOTS] = PROJECT_FILE_LAYER_SLOTS;
    putI32(b, OFF_WIDTH, h.width);
    putI32(b, OFF_HEIGHT, h.height);
    putI32(b, OFF_GHOST_WIDTH, h.ghostWidth);
    putI32(b, OFF_GHOST_HEIGHT, h.ghostHeight);
    putI32(b, OFF_CONSTANT, h.photoConstant);
    for (int i = 0; i < PROJECT_FILE_PHOTO_SLOTS; ++i) {
        putName(b, OFF_NAMES + i * PROJECT_FILE_NAME_BYTES, PROJECT_FILE_NAME_BYTES, h.photoNames[i]);
        putI64(b, OFF_EXIF + 8 * i, h.exifOffsets[i]);
        putI64(b, OFF_PIXELS + 8 * i, h.pixelOffsets[i]);
        putF64(b, OFF_EVS + 8 * i, h.evs[i]);
        putI32(b, OFF_GHOST_LABELS + 4 * i, h.ghostLabels[i]);
    }
    for (int i = 0; i < PROJECT_FILE_LAYER_SLOTS; ++i) {
        putI64(b, OFF_LAYER_MASKS + 8 * i, i == 0 ? 0 : h.layerMaskOffsets[i]);
        putName(b, OFF_LAYER_NAMES + i * PROJECT_FILE_LAYER_NAME_BYTES, PROJECT_FILE_LAYER_NAME_BYTES,
                i == 0 ? QString() : h.layerNames[i]);
        putI64(b, OFF_LAYER_SETTINGS + 8 * i, h.layerSettingsOffsets[i]);
        putF64(b, OFF_LAYER_OPACITY + 8 * i, h.layerOpacity[i]);
    }
    const uint8_t options[7] = {h.evSource, h.autoAlign, h.hdrMethod, h.selectivity, h.smartMerge, h.deghost, 1};
    memcpy(b + OFF_OPTIONS, options, sizeof options);
    putI64(b, OFF_GHOST_MASK, h.ghostMaskOffset);
    const uint8_t noise[5] = {h.noiseFilter, h.noiseStrength, h.noiseSoftness, h.panorama, h.autoLens};
    memcpy(b + OFF_NOISE, noise, sizeof noise);
    putI32(b, OFF_HDR_ENCODING, h.hdrEncoding);
    putI64(b, OFF_HDR_OFFSET, h.hdrOffset);
    putF64(b, OFF_HDR_PRE, h.hdrPreprocess[0]);
    putF64(b, OFF_HDR_PRE + 8, h.hdrPreprocess[1]);
}

projectFileHeader_t decodeProjectFileHeader(const projectHeader_t &in)
{
    const uint8_t *b = in.bytes;
    projectFileHeader_t h;
    h.version = getI32(b, OFF_VERSION);
    h.headerSize = getI32(b, OFF_HEADER_SIZE);
    h.blockSize = getI32(b, OFF_BLOCK_SIZE);
    h.photoSlots = std::min<int>(b[OFF_PHOTO_SLOTS], PROJECT_FILE_PHOTO_SLOTS);
    h.layerSlots = std::min<int>(b[OFF_LAYER_SLOTS], PROJECT_FILE_LAYER_SLOTS);
    h.width = getI32(b, OFF_WIDTH);
    h.height = getI32(b, OFF_HEIGHT);
    h.ghostWidth = getI32(b, OFF_GHOST_WIDTH);
    h.ghostHeight = getI32(b, OFF_GHOST_HEIGHT);
    h.photoConstant = getI32(b, OFF_CONSTANT);
    for (int i = 0; i < PROJECT_FILE_PHOTO_SLOTS; ++i) {
        // An unterminated name reads as empty here; the check refuses it.
        if (!getName(b, OFF_NAMES + i * PROJECT_FILE_NAME_BYTES, PROJECT_FILE_NAME_BYTES, h.photoNames[i]))
            h.photoNames[i].clear();
        h.exifOffsets[i] = getI64(b, OFF_EXIF + 8 * i);
        h.pixelOffsets[i] = getI64(b, OFF_PIXELS + 8 * i);
        h.evs[i] = getF64(b, OFF_EVS + 8 * i);
        h.ghostLabels[i] = getI32(b, OFF_GHOST_LABELS + 4 * i);
    }
    for (int i = 0; i < PROJECT_FILE_LAYER_SLOTS; ++i) {
        h.layerMaskOffsets[i] = getI64(b, OFF_LAYER_MASKS + 8 * i);
        if (!getName(b, OFF_LAYER_NAMES + i * PROJECT_FILE_LAYER_NAME_BYTES, PROJECT_FILE_LAYER_NAME_BYTES,
                     h.layerNames[i]))
            h.layerNames[i].clear();
        h.layerSettingsOffsets[i] = getI64(b, OFF_LAYER_SETTINGS + 8 * i);
        h.layerOpacity[i] = getF64(b, OFF_LAYER_OPACITY + 8 * i);
    }
    const uint8_t *o = b + OFF_OPTIONS;
    h.evSource = o[0];
    h.autoAlign = o[1];
    h.hdrMethod = o[2];
    h.selectivity = o[3];
    h.smartMerge = o[4];
    h.deghost = o[5];
    h.alwaysOne = o[6];
    h.ghostMaskOffset = getI64(b, OFF_GHOST_MASK);
    const uint8_t *n = b + OFF_NOISE;
    h.noiseFilter = n[0];
    h.noiseStrength = n[1];
    h.noiseSoftness = n[2];
    h.panorama = n[3];
    h.autoLens = n[4];
    h.hdrEncoding = getI32(b, OFF_HDR_ENCODING);
    h.hdrOffset = getI64(b, OFF_HDR_OFFSET);
    h.hdrPreprocess[0] = getF64(b, OFF_HDR_PRE);
    h.hdrPreprocess[1] = getF64(b, OFF_HDR_PRE + 8);
    return h;
}

void upgradeProjectHeaderV1(const uint8_t *v1, projectHeader_t &v2)
{
    uint8_t *b = v2.bytes;
    memset(b, 0, PROJECT_HEADER_SIZE);
    struct move_t {
        int from, size, to;
    };
    static const move_t moves[] = {
        {0, 32, 0},         // identification
        {32, 12, 32},       // version, header size, block size
        {44, 20, 48},       // width, height, ghost-mask size, the constant
        {64, 8192, 68},     // 32 photo names
        {8256, 256, 25672}, // EXIF offsets
        {8512, 8, 26472},   // unused, carried over
        {8520, 256, 26480}, // pixel offsets
        {8776, 256, 27280}, // EVs
        {9032, 80, 28480},  // layer mask offsets
        {9112, 320, 28560}, // layer names
        {9432, 80, 28880},  // layer settings offsets
        {9512, 80, 28960},  // layer opacities
        {9592, 7, 29040},   // option bytes
        {9600, 8, 29048},   // ghost-mask offset
        {9608, 4, 29056},   // noise filter and panorama
        {9712, 4, 29160},   // unused, carried over
        {9716, 4, 29164},   // HDR image encoding
        {9720, 8, 29168},   // HDR image offset
        {9728, 16, 29176},  // preprocessing values
    };
    for (const move_t &m : moves)
        memcpy(b + m.to, v1 + m.from, size_t(m.size));
    b[OFF_PHOTO_SLOTS] = PROJECT_FILE_V1_PHOTO_SLOTS;
    b[OFF_LAYER_SLOTS] = PROJECT_FILE_LAYER_SLOTS;
    for (int i = 0; i < PROJECT_FILE_V1_PHOTO_SLOTS; ++i)
        putI32(b, OFF_GHOST_LABELS + 4 * i, i + 1);
    b[OFF_NOISE + 4] = 0; // no lens correction in version 1
}

projectHeaderResult_t checkProjectFileHeader(const uint8_t *bytes, int64_t byteCount, int64_t fileSize,
                                             projectHeader_t &raw, projectFileHeader_t &h, QString *reason)
{
    auto damaged = [&](const QString &why) {
        if (reason)
            *reason = why;
        debugLog("%s: %s\n", "readProjectFileHeader", qPrintable(why));
        return projectHeaderResult_t::damaged;
    };
    auto unsupported = [&](const char *log) {
        debugLog(log, "readProjectFileHeader");
        if (reason)
            *reason = tr("Unsupported project version.");
        return projectHeaderResult_t::unsupportedVersion;
    };
    if (byteCount < 256) {
        if (reason)
            reason->clear();
        return projectHeaderResult_t::unreadable;
    }
    const int32_t version = getI32(bytes, OFF_VERSION);
    if (version != 1 && version != 2)
        return unsupported("%s: bad version number\n");
    const int need = version == 1 ? PROJECT_FILE_V1_HEADER_SIZE : PROJECT_HEADER_SIZE;
    if (byteCount < need)
        return unsupported("%s: bad header size (1)\n");
    if (getI32(bytes, OFF_HEADER_SIZE) != need)
        return unsupported("%s: bad header size (2)\n");
    if (version == 1)
        upgradeProjectHeaderV1(bytes, raw);
    else
        memcpy(raw.bytes, bytes, PROJECT_HEADER_SIZE);
    const uint8_t *b = raw.bytes;
    h = decodeProjectFileHeader(raw);

    // From here on every field is checked against the file before use.
    if (h.blockSize <= 0 || uint32_t(h.blockSize) > RAW_FILE_MAX_BLOCK_SIZE)
        return damaged(tr("Bad block size (%1).").arg(h.blockSize));
    if (h.width <= 0 || h.height <= 0 || h.width > PROJECT_FILE_MAX_SIDE || h.height > PROJECT_FILE_MAX_SIDE)
        return damaged(tr("Bad image size (%1 x %2).").arg(h.width).arg(h.height));
    if (h.ghostWidth < 0 || h.ghostHeight < 0 || h.ghostWidth > h.width || h.ghostHeight > h.height ||
        (h.ghostWidth == 0) != (h.ghostHeight == 0))
        return damaged(tr("Bad ghost mask size (%1 x %2).").arg(h.ghostWidth).arg(h.ghostHeight));
    const int photoSlots = std::min<int>(b[OFF_PHOTO_SLOTS], PROJECT_FILE_PHOTO_SLOTS);
    const int layerSlots = std::min<int>(b[OFF_LAYER_SLOTS], PROJECT_FILE_LAYER_SLOTS);

    const int64_t payloadEnd = fileSize;
    // A compressed run of `bytes` at `offset` must start in the payload and
    // have room for at least as many bytes as zlib could shrink it to.
    auto runFits = [&](int64_t offset, uint64_t runBytes) {
        if (offset < PROJECT_FILE_PAYLOAD_OFFSET || offset >= payloadEnd)
            return false;
        return minimumRunBytes(runBytes, h.blockSize) <= uint64_t(payloadEnd - offset);
    };
    auto blockFits = [&](int64_t offset) {
        return offset >= PROJECT_FILE_PAYLOAD_OFFSET && offset <= payloadEnd - 8;
    };

    int photos = 0;
    for (int i = 0; i < photoSlots; ++i) {
        QString name;
        if (!getName(b, OFF_NAMES + i * PROJECT_FILE_NAME_BYTES, PROJECT_FILE_NAME_BYTES, name))
            return damaged(tr("The name of photo %1 is not terminated.").arg(i + 1));
        if (name.isEmpty())
            continue;
        ++photos;
        if (!runFits(h.pixelOffsets[i], h.photoBytes()))
            return damaged(tr("The pixel data of photo %1 lies outside the file.").arg(i + 1));
        if (h.exifOffsets[i] != 0 && !blockFits(h.exifOffsets[i]))
            return damaged(tr("The EXIF data of photo %1 lies outside the file.").arg(i + 1));
        if (!std::isfinite(h.evs[i]) || std::fabs(h.evs[i]) > 1000)
            return damaged(tr("Photo %1 has no valid EV.").arg(i + 1));
    }
    // Entries past the slot count are not photos of this file.
    for (int i = photoSlots; i < PROJECT_FILE_PHOTO_SLOTS; ++i)
        h.photoNames[i].clear();
    if (photos == 0 && h.hdrOffset == 0)
        return damaged(tr("The project holds neither photos nor an HDR image."));

    for (int i = 0; i < layerSlots; ++i) {
        QString name;
        if (!getName(b, OFF_LAYER_NAMES + i * PROJECT_FILE_LAYER_NAME_BYTES, PROJECT_FILE_LAYER_NAME_BYTES, name))
            return damaged(tr("The name of layer %1 is not terminated.").arg(i));
        const bool present = i == 0 || h.layerMaskOffsets[i] != 0;
        if (!present)
            continue;
        if (i > 0 && !runFits(h.layerMaskOffsets[i], h.maskBytes()))
            return damaged(tr("The mask of layer %1 lies outside the file.").arg(i));
        if (!blockFits(h.layerSettingsOffsets[i]))
            return damaged(tr("The settings of layer %1 lie outside the file.").arg(i));
        if (!std::isfinite(h.layerOpacity[i]) || h.layerOpacity[i] < 0 || h.layerOpacity[i] > 1)
            return damaged(tr("Layer %1 has no valid opacity.").arg(i));
    }
    for (int i = layerSlots; i < PROJECT_FILE_LAYER_SLOTS; ++i) {
        h.layerMaskOffsets[i] = 0;
        h.layerSettingsOffsets[i] = 0;
    }
    if (h.layerMaskOffsets[0] != 0)
        return damaged(tr("The base layer has a mask."));
    if (h.ghostMaskOffset != 0 && (h.ghostWidth == 0 || !runFits(h.ghostMaskOffset, h.ghostMaskBytes())))
        return damaged(tr("The ghost mask lies outside the file."));
    if (h.hdrEncoding == 0 && h.hdrOffset != 0) {
        if (!runFits(h.hdrOffset, h.hdrBytes()))
            return damaged(tr("The HDR image lies outside the file."));
        if (!std::isfinite(h.hdrPreprocess[0]) || !std::isfinite(h.hdrPreprocess[1]))
            return damaged(tr("The HDR image has no valid preprocessing values."));
    }
    if (reason)
        reason->clear();
    return projectHeaderResult_t::ok;
}

projectHeaderResult_t readProjectFileHeader(const QString &path, projectHeader_t &raw, projectFileHeader_t &header,
                                            QString *reason, int64_t *fileSize)
{
    if (reason)
        reason->clear();
    std::unique_ptr<FILE, int (*)(FILE *)> f(openFileWide(path, "rb"), fclose);
    if (!f)
        return projectHeaderResult_t::unreadable;
    if (fseeko(f.get(), 0, SEEK_END) != 0)
        return projectHeaderResult_t::unreadable;
    const int64_t size = ftello(f.get());
    if (fileSize)
        *fileSize = size;
    if (size < 256 || fseeko(f.get(), 0, SEEK_SET) != 0)
        return projectHeaderResult_t::unreadable;
    std::vector<uint8_t> bytes(PROJECT_HEADER_SIZE, 0);
    const size_t got = fread(bytes.data(), 1, bytes.size(), f.get());
    if (got < 256)
        return projectHeaderResult_t::unreadable;
    return checkProjectFileHeader(bytes.data(), int64_t(got), size, raw, header, reason);
}

bool readProjectRun(FILE *file, int64_t fileSize, int64_t offset, void *destination, uint64_t bytes,
                    int32_t blockSize)
{
    if (!file || !destination || blockSize <= 0 || uint32_t(blockSize) > RAW_FILE_MAX_BLOCK_SIZE)
        return false;
    if (offset < PROJECT_FILE_PAYLOAD_OFFSET || offset >= fileSize ||
        minimumRunBytes(bytes, blockSize) > uint64_t(fileSize - offset))
        return false;
    if (fseeko(file, off_t(offset), SEEK_SET) != 0)
        return false;
    // Blocks are read in order a group at a time and inflated in parallel;
    // while one group is inflated the next one is read (two sets of
    // buffers take turns). Every length is checked against what a block of
    // this size can be stored as and against the bytes left in the file,
    // and every block must inflate to exactly the bytes it stands for.
    const uint64_t bs = uint64_t(blockSize);
    const uint64_t maxStored = compressBound(uLong(bs));
    const uint64_t blocks = (bytes + bs - 1) / bs;
    const uint64_t group = uint64_t(std::max(1, idealThreadCount(false))) * 2;
    const size_t slotCount = size_t(std::min<uint64_t>(group, std::max<uint64_t>(blocks, 1)));
    // The buffers only grow (to the longest block they held), so their
    // bytes are not cleared again for every block.
    struct packed_t {
        std::vector<uint8_t> bytes;
        size_t length = 0;
    };
    std::vector<packed_t> packed[2] = {std::vector<packed_t>(slotCount), std::vector<packed_t>(slotCount)};
    uint8_t *dst = static_cast<uint8_t *>(destination);
    int64_t at = offset;
    // Reads the `count` blocks of a group into a set.
    auto readGroup = [&](std::vector<packed_t> &set, int count) {
        for (int i = 0; i < count; ++i) {
            uint8_t lengthBytes[8];
            if (fread(lengthBytes, 1, 8, file) != 8)
                return false;
            const uint64_t length = getLE(lengthBytes, 8);
            if (length == 0 || length > maxStored || int64_t(length) > fileSize - at - 8)
                return false;
            packed_t &block = set[size_t(i)];
            try {
                if (block.bytes.size() < size_t(length))
                    block.bytes.resize(size_t(length));
            } catch (const std::bad_alloc &) {
                return false;
            }
            if (fread(block.bytes.data(), 1, size_t(length), file) != size_t(length))
                return false;
            block.length = size_t(length);
            at += 8 + int64_t(length);
        }
        return true;
    };
    auto countFrom = [&](uint64_t first) { return int(std::min<uint64_t>(group, blocks - first)); };
    if (blocks == 0)
        return true;
    if (!readGroup(packed[0], countFrom(0)))
        return false;
    int turn = 0;
    for (uint64_t first = 0; first < blocks; first += group) {
        const int count = countFrom(first);
        const std::vector<packed_t> &set = packed[turn];
        std::future<taskResult_t> inflating = std::async(std::launch::async, [&set, count, first, bs, bytes, dst]() {
            return runTasks(count, [&](int i) {
                const uint64_t start = (first + uint64_t(i)) * bs;
                const uint64_t want = std::min<uint64_t>(bs, bytes - start);
                const packed_t &in = set[size_t(i)];
                if (!inflateBlock(in.bytes.data(), in.length, dst + start, size_t(want)))
                    return taskResult_t::failed;
                return taskResult_t::done;
            });
        });
        const bool nextRead = first + group >= blocks || readGroup(packed[turn ^ 1], countFrom(first + group));
        if (inflating.get() != taskResult_t::done || !nextRead)
            return false;
        turn ^= 1;
    }
    return true;
}

bool readProjectRawBlock(FILE *file, int64_t fileSize, int64_t offset, int64_t maxBytes, QByteArray &out)
{
    out.clear();
    if (!file || offset < PROJECT_FILE_PAYLOAD_OFFSET || offset > fileSize - 8 ||
        fseeko(file, off_t(offset), SEEK_SET) != 0)
        return false;
    uint8_t lengthBytes[8];
    if (fread(lengthBytes, 1, 8, file) != 8)
        return false;
    const uint64_t length = getLE(lengthBytes, 8);
    if (length > uint64_t(std::min<int64_t>(maxBytes, fileSize - offset - 8)) || length > uint64_t(INT32_MAX))
        return false;
    out.resize(int(length));
    if (length && fread(out.data(), 1, size_t(length), file) != size_t(length)) {
        out.clear();
        return false;
    }
    return true;
}

namespace {

// One run: ceil(bytes / blockSize) blocks, each an 8-byte length and that
// many bytes inside the file.
bool walkRun(FILE *file, int64_t fileSize, int64_t offset, uint64_t bytes, int32_t blockSize)
{
    if (blockSize <= 0 || offset < PROJECT_FILE_PAYLOAD_OFFSET || offset >= fileSize)
        return false;
    const uint64_t bs = uint64_t(blockSize);
    const uint64_t maxStored = compressBound(uLong(bs));
    const uint64_t blocks = (bytes + bs - 1) / bs;
    int64_t at = offset;
    for (uint64_t b = 0; b < blocks; ++b) {
        uint8_t lengthBytes[8];
        if (at > fileSize - 8 || fseeko(file, off_t(at), SEEK_SET) != 0 || fread(lengthBytes, 1, 8, file) != 8)
            return false;
        const uint64_t length = getLE(lengthBytes, 8);
        if (length == 0 || length > maxStored || int64_t(length) > fileSize - at - 8)
            return false;
        at += 8 + int64_t(length);
    }
    return true;
}

bool walkRawBlock(FILE *file, int64_t fileSize, int64_t offset, int64_t maxBytes)
{
    uint8_t lengthBytes[8];
    if (offset < PROJECT_FILE_PAYLOAD_OFFSET || offset > fileSize - 8 || fseeko(file, off_t(offset), SEEK_SET) != 0 ||
        fread(lengthBytes, 1, 8, file) != 8)
        return false;
    const uint64_t length = getLE(lengthBytes, 8);
    return length <= uint64_t(std::min<int64_t>(maxBytes, fileSize - offset - 8));
}

} // namespace

bool checkProjectPayload(const QString &path, const projectFileHeader_t &header, QString *problem)
{
    auto fail = [&](const QString &where) {
        if (problem)
            *problem = where;
        return false;
    };
    std::unique_ptr<FILE, int (*)(FILE *)> f(openFileWide(path, "rb"), fclose);
    if (!f)
        return fail(QStringLiteral("cannot open the file"));
    if (fseeko(f.get(), 0, SEEK_END) != 0)
        return fail(QStringLiteral("cannot read the file"));
    const int64_t fileSize = ftello(f.get());
    for (int j = 0; j < header.photoSlots && j < PROJECT_FILE_PHOTO_SLOTS; ++j) {
        if (header.photoNames[j].isEmpty())
            continue;
        if (header.pixelOffsets[j] &&
            !walkRun(f.get(), fileSize, header.pixelOffsets[j], header.photoBytes(), header.blockSize))
            return fail(QStringLiteral("photo %1").arg(j + 1));
        if (header.exifOffsets[j] &&
            !walkRawBlock(f.get(), fileSize, header.exifOffsets[j], photoLoading::MAX_EXIF_CARRIER_BYTES))
            return fail(QStringLiteral("EXIF data of photo %1").arg(j + 1));
    }
    if (header.ghostMaskOffset &&
        !walkRun(f.get(), fileSize, header.ghostMaskOffset, header.ghostMaskBytes(), header.blockSize))
        return fail(QStringLiteral("ghost mask"));
    for (int i = 0; i < header.layerSlots && i < PROJECT_FILE_LAYER_SLOTS; ++i) {
        if (header.layerMaskOffsets[i] &&
            !walkRun(f.get(), fileSize, header.layerMaskOffsets[i], header.maskBytes(), header.blockSize))
            return fail(QStringLiteral("layer %1").arg(i));
        if (header.layerSettingsOffsets[i] &&
            !walkRawBlock(f.get(), fileSize, header.layerSettingsOffsets[i], PROJECT_FILE_MAX_SETTINGS_BYTES))
            return fail(QStringLiteral("settings of layer %1").arg(i));
    }
    if (header.hdrOffset && header.hdrEncoding == 0 &&
        !walkRun(f.get(), fileSize, header.hdrOffset, header.hdrBytes(), header.blockSize))
        return fail(QStringLiteral("HDR image"));
    return true;
}

void remapGhostLabels(uint8_t *mask, uint64_t count, const projectFileHeader_t &header, const int *newIds,
                      int photoCount)
{
    uint8_t table[256] = {};
    bool taken[256] = {};
    int k = 0;
    for (int slot = 0; slot < PROJECT_FILE_PHOTO_SLOTS && k < photoCount; ++slot) {
        if (header.photoNames[slot].isEmpty())
            continue;
        const int32_t stored = header.ghostLabels[slot];
        const int label = (newIds[k] % 100) + 1;
        ++k;
        // A stored label names one photo; should two slotCount carry the same
        // label, the first one keeps it.
        if (stored > 0 && stored < 256 && !taken[stored]) {
            table[stored] = uint8_t(label);
            taken[stored] = true;
        }
    }
    for (uint64_t i = 0; i < count; ++i)
        mask[i] = table[mask[i]];
}

projectFileWriter::projectFileWriter(const QString &target, int32_t size)
    : file(new checkedSaveFile(target)), blockSize(size)
{
}

projectFileWriter::~projectFileWriter() = default;

bool projectFileWriter::fail(const QString &reason)
{
    if (!failed) {
        failed = true;
        error = reason;
        debugLog("%s: %s\n", "projectFileWriter", qPrintable(reason));
    }
    if (file)
        file->discard();
    return false;
}

bool projectFileWriter::append(const char *data, int64_t bytes)
{
    if (failed)
        return false;
    while (bytes > 0) {
        const qint64 n = file->write(data, bytes);
        if (n <= 0)
            return fail(file->errorText().isEmpty() ? tr("Cannot write the project file.") : file->errorText());
        data += n;
        bytes -= n;
        pos += n;
    }
    return true;
}

bool projectFileWriter::begin()
{
    if (blockSize <= 0 || uint32_t(blockSize) > RAW_FILE_MAX_BLOCK_SIZE)
        return fail(tr("Bad block size."));
    if (!file->open(QIODevice::WriteOnly))
        return fail(file->errorText().isEmpty() ? tr("Cannot create the project file.") : file->errorText());
    // Header area and padding: zeros until the header is written last.
    const std::vector<char> zeros(size_t(PROJECT_FILE_PAYLOAD_OFFSET), 0);
    return append(zeros.data(), PROJECT_FILE_PAYLOAD_OFFSET);
}

bool projectFileWriter::writeRun(const void *data, uint64_t bytes, int64_t *offset, std::atomic<uint64_t> *progress,
                                 const std::atomic<bool> *stop)
{
    if (!data && bytes) {
        if (offset)
            *offset = pos;
        return fail(tr("Cannot write the project file."));
    }
    const uint8_t *src = static_cast<const uint8_t *>(data);
    return writeBlocks(
        bytes, [src](uint64_t at, size_t, uint8_t *) { return src + at; }, false, offset, progress, stop);
}

bool projectFileWriter::writeRun(uint64_t bytes, const blockSource_t &source, int64_t *offset,
                                 std::atomic<uint64_t> *progress, const std::atomic<bool> *stop)
{
    return writeBlocks(
        bytes,
        [&source](uint64_t at, size_t n, uint8_t *into) -> const uint8_t * {
            return source(at, n, into) ? into : nullptr;
        },
        true, offset, progress, stop);
}

bool projectFileWriter::writeBlocks(uint64_t bytes, const blockBytes_t &blockBytes, bool needsScratch,
                                    int64_t *offset, std::atomic<uint64_t> *progress, const std::atomic<bool> *stop)
{
    if (failed)
        return false;
    if (offset)
        *offset = pos;
    const uint64_t bs = uint64_t(blockSize);
    const uint64_t blocks = (bytes + bs - 1) / bs;
    if (blocks == 0)
        return true;
    // The compressing tasks take the blocks in order, one at a time, and
    // put block k into slot k % slotCount of the ring; this thread writes the
    // blocks in order as they come ready and frees their slotCount. A task
    // waits only when the slot of its block still holds one not yet
    // written, so no task idles at the end of a group while others finish.
    const int tasks = int(std::min<uint64_t>(uint64_t(std::max(1, idealThreadCount(false))), blocks));
    const size_t slotCount = size_t(std::min<uint64_t>(uint64_t(tasks) * 2, blocks));
    const size_t capacity = compressBlockBound(size_t(bs));
    try {
        if (ring.size() < slotCount)
            ring.resize(slotCount);
        for (size_t i = 0; i < slotCount; ++i)
            if (ring[i].bytes.size() < capacity + 8)
                ring[i].bytes.resize(capacity + 8);
        if (needsScratch) {
            if (scratch.size() < size_t(tasks))
                scratch.resize(size_t(tasks));
            for (int i = 0; i < tasks; ++i)
                if (scratch[size_t(i)].size() < size_t(bs))
                    scratch[size_t(i)].resize(size_t(bs));
        }
    } catch (const std::bad_alloc &) {
        return fail(tr("Not enough memory!"));
    }

    enum class problem_t { none, noSource, tooLarge, noMemory };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint64_t> readyBlock(slotCount, UINT64_MAX); // the block a slot holds, ready to write
    uint64_t written = 0;                                // blocks written (under the mutex)
    bool abandon = false;                                // under the mutex
    problem_t problem = problem_t::none;                 // the first problem (under the mutex)
    std::atomic<uint64_t> next{0};

    auto compressing = [&](int task) {
        uint8_t *input = needsScratch ? scratch[size_t(task)].data() : nullptr;
        for (;;) {
            const uint64_t k = next++;
            if (k >= blocks)
                return;
            packedBlock_t &out = ring[size_t(k % slotCount)];
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&]() { return abandon || k < written + slotCount; });
                if (abandon)
                    return;
            }
            const uint64_t at = k * bs;
            const size_t n = size_t(std::min<uint64_t>(bs, bytes - at));
            problem_t p = problem_t::none;
            const uint8_t *in = blockBytes(at, n, input);
            size_t length = 0;
            if (!in) {
                p = problem_t::noSource;
            } else {
                length = compressBlockFast(in, n, out.bytes.data() + 8, capacity);
                if (length == 0)
                    p = problem_t::noMemory;
                else if (length > size_t(bs)) // a reader holds a compressed block in a buffer of block size
                    p = problem_t::tooLarge;
            }
            if (p == problem_t::none) {
                putLE(out.bytes.data(), 8, uint64_t(length));
                out.length = length + 8;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (p == problem_t::none) {
                    readyBlock[size_t(k % slotCount)] = k;
                } else {
                    if (problem == problem_t::none)
                        problem = p;
                    abandon = true;
                }
            }
            changed.notify_all();
            if (p != problem_t::none)
                return;
        }
    };
    std::vector<QFuture<void>> running;
    running.reserve(size_t(tasks));
    for (int t = 0; t < tasks; ++t)
        running.push_back(QtConcurrent::run([&compressing, t]() { compressing(t); }));
    auto endTasks = [&]() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            abandon = true;
        }
        changed.notify_all();
        for (QFuture<void> &f : running)
            f.waitForFinished();
    };

    for (uint64_t k = 0; k < blocks; ++k) {
        const size_t slot = size_t(k % slotCount);
        bool stopped = false;
        problem_t p = problem_t::none;
        {
            // Waits in short steps so that a stop is seen while the tasks
            // work.
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                stopped = stop && stop->load();
                p = problem;
                if (stopped || p != problem_t::none || readyBlock[slot] == k)
                    break;
                changed.wait_for(lock, std::chrono::milliseconds(50));
            }
        }
        if (stopped || p != problem_t::none) {
            endTasks();
            if (stopped)
                return fail(tr("Saving was stopped."));
            if (p == problem_t::noSource)
                return fail(tr("Cannot read the data to be saved."));
            if (p == problem_t::tooLarge)
                return fail(tr("A block of image data cannot be compressed below the project file's block size."));
            return fail(tr("Not enough memory!"));
        }
        // The slot is this thread's until it is freed below.
        if (!append(reinterpret_cast<const char *>(ring[slot].bytes.data()), int64_t(ring[slot].length))) {
            endTasks();
            return false;
        }
        if (progress)
            *progress += std::min<uint64_t>(bs, bytes - k * bs);
        {
            std::lock_guard<std::mutex> lock(mutex);
            readyBlock[slot] = UINT64_MAX;
            written = k + 1;
        }
        changed.notify_all();
        if ((k + 1) % slotCount == 0)
            startWriteback();
    }
    endTasks();
    startWriteback();
    return true;
}

bool projectFileWriter::writeZeroRun(uint64_t bytes, int64_t *offset, std::atomic<uint64_t> *progress,
                                     const std::atomic<bool> *stop)
{
    if (failed)
        return false;
    if (offset)
        *offset = pos;
    const uint64_t bs = uint64_t(blockSize);
    const uint64_t blocks = (bytes + bs - 1) / bs;
    // At most two lengths: the full block and a shorter last one.
    std::vector<uint8_t> stored[2];
    try {
        const std::vector<uint8_t> zeros(size_t(std::min<uint64_t>(bs, bytes)), 0);
        for (int k = 0; k < 2; ++k) {
            const uint64_t n = k == 0 ? std::min<uint64_t>(bs, bytes) : bytes % bs;
            if (n == 0 || (k == 1 && blocks == 1))
                continue;
            std::vector<uint8_t> &out = stored[k];
            out.resize(compressBlockBound(size_t(n)) + 8);
            const size_t length = compressBlockFast(zeros.data(), size_t(n), out.data() + 8, out.size() - 8);
            if (length == 0)
                return fail(tr("Not enough memory!"));
            putLE(out.data(), 8, uint64_t(length));
            out.resize(length + 8);
        }
    } catch (const std::bad_alloc &) {
        return fail(tr("Not enough memory!"));
    }
    for (uint64_t b = 0; b < blocks; ++b) {
        if (stop && stop->load())
            return fail(tr("Saving was stopped."));
        const uint64_t n = std::min<uint64_t>(bs, bytes - b * bs);
        const std::vector<uint8_t> &block = n == bs || blocks == 1 ? stored[0] : stored[1];
        if (!append(reinterpret_cast<const char *>(block.data()), int64_t(block.size())))
            return false;
        if (progress)
            *progress += n;
    }
    startWriteback();
    return true;
}

void projectFileWriter::startWriteback()
{
#ifdef __linux__
    const int fd = file ? file->handle() : -1;
    if (fd >= 0 && pos > writebackFrom) {
        // Only a hint: the data are synced by the commit either way.
        ::sync_file_range(fd, off_t(writebackFrom), off_t(pos - writebackFrom), SYNC_FILE_RANGE_WRITE);
        writebackFrom = pos;
    }
#endif
}

bool projectFileWriter::writeRawBlock(const QByteArray &bytes, int64_t *offset)
{
    if (failed)
        return false;
    if (offset)
        *offset = pos;
    uint8_t length[8];
    putLE(length, 8, uint64_t(bytes.size()));
    return append(reinterpret_cast<const char *>(length), 8) && append(bytes.constData(), bytes.size());
}

bool projectFileWriter::finish(const projectFileHeader_t &header)
{
    if (failed)
        return false;
    projectHeader_t raw;
    projectFileHeader_t h = header;
    h.blockSize = blockSize;
    encodeProjectFileHeader(h, raw);
    const int64_t end = pos;
    if (!file->seek(0))
        return fail(tr("Cannot write the project file."));
    pos = 0;
    if (!append(reinterpret_cast<const char *>(raw.bytes), PROJECT_HEADER_SIZE))
        return false;
    pos = end;
    if (!file->commit())
        return fail(file->errorText().isEmpty() ? tr("Cannot write the project file.") : file->errorText());
    return true;
}

void projectFileWriter::discard()
{
    if (file)
        file->discard();
}
