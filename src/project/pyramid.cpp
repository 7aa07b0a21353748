#include "project/pyramid.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "platform/systemMemory.h"
#include "project/parallelRanges.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

// Channel count the averaging and the image export work with: 1, 3 or 4;
// anything else is handled as one channel.
int effectiveChannels(int channels)
{
    return (channels == 3 || channels == 4) ? channels : 1;
}

// A task of the level averaging gets at least this many target pixels: the
// small levels are done on the calling thread, where starting tasks would
// cost more than the averaging.
constexpr int64_t MIN_PIXELS_PER_TASK = 8192;

// Target rows [firstRow, endRow) of a level: pixel (x, y) is the mean of the
// 2 x 2 source block that ends at (2x, 2y); in column 0 and row 0 the missing
// column/row repeats 2x / 2y. Every target row reads only the source, so
// ranges of rows can be done at the same time.
template <typename T>
void averageRow(const T *row1, const T *row0, T *out, int32_t width, int ch)
{
    for (int32_t x = 0; x < width; ++x) {
        const size_t c1 = size_t(2 * x);
        const size_t c0 = x == 0 ? c1 : c1 - 1;
        const T *a = row1 + c1 * size_t(ch);
        const T *b = row1 + c0 * size_t(ch);
        const T *c = row0 + c1 * size_t(ch);
        const T *d = row0 + c0 * size_t(ch);
        for (int k = 0; k < ch; ++k) {
            if constexpr (std::is_floating_point<T>::value)
                out[k] = (a[k] + b[k] + c[k] + d[k]) * 0.25f;
            else
                out[k] = T((uint32_t(a[k]) + b[k] + c[k] + d[k]) >> 2);
        }
        out += ch;
    }
}

template <typename T>
void averageLevel(const T *src, int32_t srcWidth, T *dst, int32_t width, int64_t firstRow, int64_t endRow, int ch)
{
    for (int64_t y = firstRow; y < endRow; ++y) {
        const size_t row1 = size_t(2 * y) * size_t(srcWidth);
        const size_t row0 = y == 0 ? row1 : row1 - size_t(srcWidth);
        averageRow(src + row1 * size_t(ch), src + row0 * size_t(ch), dst + size_t(y) * size_t(width) * size_t(ch),
                   width, ch);
    }
}

// Reads exactly bytes at offset, however the kernel splits the read; false on
// an error or the end of the file.
bool readAt(int fd, void *data, size_t bytes, off_t offset)
{
    char *to = static_cast<char *>(data);
    while (bytes > 0) {
        const ssize_t got = pread(fd, to, bytes, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        bytes -= size_t(got);
        offset += got;
    }
    return true;
}

} // namespace

pyramid::pyramid()
{
    reset(false);
}

pyramid::~pyramid()
{
    freeAll();
}

pyramid::pyramid(pyramid &&other) noexcept
{
    moveFrom(other);
}

pyramid &pyramid::operator=(pyramid &&other) noexcept
{
    if (this != &other) {
        freeAll();
        moveFrom(other);
    }
    return *this;
}

void pyramid::moveFrom(pyramid &other)
{
    for (int i = 0; i < PYRAMID_MAX_LEVELS; ++i)
        levels[i] = other.levels[i];
    levelCount = other.levelCount;
    bytesPerSample = other.bytesPerSample;
    channels = other.channels;
    mappedBytes = other.mappedBytes;
    other.reset(false);
}

void pyramid::setLevelSizes(int32_t width, int32_t height)
{
    for (int i = 0; i < levelCount && i < PYRAMID_MAX_LEVELS; ++i) {
        levels[i].width = width;
        levels[i].height = height;
        width /= 2;
        height /= 2;
    }
}

size_t pyramid::levelBytes(int level) const
{
    if (level < 0 || level >= levelCount || level >= PYRAMID_MAX_LEVELS)
        return 0;
    const pyramidLevel_t &l = levels[level];
    if (l.width <= 0 || l.height <= 0 || channels <= 0 || bytesPerSample <= 0)
        return 0;
    return size_t(l.width) * size_t(l.height) * size_t(channels) * size_t(bytesPerSample);
}

bool pyramid::makePyramid(int32_t width, int32_t height, int32_t count, int32_t bps, int32_t ch,
                          bool allocate)
{
    if (count < 0)
        count = 0;
    if (count > PYRAMID_MAX_LEVELS)
        count = PYRAMID_MAX_LEVELS;
    levelCount = count;
    bytesPerSample = bps;
    channels = ch;
    setLevelSizes(width, height);
    for (int i = levelCount; i < PYRAMID_MAX_LEVELS; ++i) {
        levels[i].width = levels[i].height = 0;
        levels[i].data = nullptr;
    }
    mappedBytes = 0;
    for (int i = 0; i < levelCount; ++i) {
        levels[i].data = nullptr;
        if (!allocate)
            continue;
        // At least one byte, so that an empty level still owns a buffer.
        const size_t bytes = levelBytes(i);
        levels[i].data = std::calloc(bytes ? bytes : 1, 1);
        if (!levels[i].data) {
            debugLog("%s: failed to allocate memory\n", "pyramid::makePyramid");
            return false;
        }
        // A large level comes straight from the system, not yet touched:
        // its first writes fault in huge pages.
        adviseHugePages(levels[i].data, bytes);
    }
    return true;
}

void pyramid::freeAll()
{
    releaseLevel0();
    for (int i = 1; i < PYRAMID_MAX_LEVELS; ++i) {
        std::free(levels[i].data);
        levels[i].data = nullptr;
    }
    reset(true);
}

void pyramid::reset(bool keepBuffers)
{
    levelCount = 0;
    bytesPerSample = 0;
    channels = 0;
    for (int i = 0; i < PYRAMID_MAX_LEVELS; ++i) {
        levels[i].width = 0;
        levels[i].height = 0;
        levels[i].valid = i == 0;
        if (!keepBuffers)
            levels[i].data = nullptr;
    }
    if (!keepBuffers)
        mappedBytes = 0;
}

void pyramid::clear()
{
    for (int i = 0; i < levelCount; ++i)
        if (levels[i].data)
            std::memset(levels[i].data, 0, levelBytes(i));
    for (int i = 0; i < PYRAMID_MAX_LEVELS; ++i)
        levels[i].valid = i == 0;
}

void pyramid::buildLevelsFrom(int s, int taskCount)
{
    if (s < 0)
        return;
    const int ch = effectiveChannels(channels);
    const int tasksWanted = std::max(1, taskCount);
    for (int t = s + 1; t < levelCount; ++t) {
        const pyramidLevel_t &src = levels[t - 1];
        pyramidLevel_t &dst = levels[t];
        if (!src.data || !dst.data)
            continue;
        // The level sizes must follow the halving rule, or the block reads
        // would leave the source.
        if (dst.width > src.width / 2 || dst.height > src.height / 2)
            continue;
        if (dst.width > 0 && dst.height > 0) {
            if (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4)
                continue;
            const int64_t pixels = int64_t(dst.width) * dst.height;
            const int tasks = int(std::max<int64_t>(1, std::min<int64_t>(tasksWanted, pixels / MIN_PIXELS_PER_TASK)));
            runRanges(dst.height, tasks, [&](range_t rows, int) {
                const size_t rowBytes = size_t(dst.width) * size_t(ch) * size_t(bytesPerSample);
                prefaultPages(static_cast<unsigned char *>(dst.data) + size_t(rows.first) * rowBytes,
                              size_t(rows.end - rows.first) * rowBytes, true);
                switch (bytesPerSample) {
                case 1:
                    averageLevel(static_cast<const uint8_t *>(src.data), src.width, static_cast<uint8_t *>(dst.data),
                                 dst.width, rows.first, rows.end, ch);
                    break;
                case 2:
                    averageLevel(static_cast<const uint16_t *>(src.data), src.width,
                                 static_cast<uint16_t *>(dst.data), dst.width, rows.first, rows.end, ch);
                    break;
                default:
                    averageLevel(static_cast<const float *>(src.data), src.width, static_cast<float *>(dst.data),
                                 dst.width, rows.first, rows.end, ch);
                    break;
                }
            });
        }
        dst.valid = true;
    }
}

bool pyramid::buildLevelsFromFile(int fd, int taskCount)
{
    const char *fn = "pyramid::buildLevelsFromFile";
    if (levelCount < 2)
        return true;
    const int ch = effectiveChannels(channels);
    const pyramidLevel_t &src = levels[0];
    pyramidLevel_t &dst = levels[1];
    if (ch != channels || (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4) || !dst.data
        || dst.width > src.width / 2 || dst.height > src.height / 2 || dst.width <= 0 || dst.height <= 0)
        return false;
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < off_t(levelBytes(0))) {
        debugLog("%s: no file, or the file is shorter than level 0\n", fn);
        return false;
    }
    const size_t rowBytes = size_t(src.width) * size_t(ch) * size_t(bytesPerSample);
    // Target rows are done in strips; a strip reads the 2 * STRIP_ROWS - 1 or
    // 2 * STRIP_ROWS source rows its targets average, into the task's buffer.
    constexpr int64_t STRIP_ROWS = 16;
    const int64_t pixels = int64_t(dst.width) * dst.height;
    const int tasks = int(std::max<int64_t>(1, std::min<int64_t>(std::max(1, taskCount), pixels / MIN_PIXELS_PER_TASK)));
    const taskResult_t result = runRanges(dst.height, tasks, [&](range_t rows, int) {
        std::vector<char> strip;
        try {
            strip.resize(size_t(2 * STRIP_ROWS) * rowBytes);
        } catch (const std::bad_alloc &) {
            return taskResult_t::failed;
        }
        char *out = static_cast<char *>(dst.data);
        const size_t outRowBytes = size_t(dst.width) * size_t(ch) * size_t(bytesPerSample);
        prefaultPages(out + size_t(rows.first) * outRowBytes, size_t(rows.end - rows.first) * outRowBytes, true);
        for (int64_t first = rows.first; first < rows.end; first += STRIP_ROWS) {
            const int64_t end = std::min(first + STRIP_ROWS, rows.end);
            const int64_t top = first == 0 ? 0 : 2 * first - 1; // first source row the strip needs
            const int64_t count = 2 * (end - 1) - top + 1;
            if (!readAt(fd, strip.data(), size_t(count) * rowBytes, off_t(top) * off_t(rowBytes)))
                return taskResult_t::failed;
            for (int64_t y = first; y < end; ++y) {
                const char *row1 = strip.data() + size_t(2 * y - top) * rowBytes;
                const char *row0 = y == 0 ? row1 : row1 - rowBytes;
                char *target = out + size_t(y) * outRowBytes;
                switch (bytesPerSample) {
                case 1:
                    averageRow(reinterpret_cast<const uint8_t *>(row1), reinterpret_cast<const uint8_t *>(row0),
                               reinterpret_cast<uint8_t *>(target), dst.width, ch);
                    break;
                case 2:
                    averageRow(reinterpret_cast<const uint16_t *>(row1), reinterpret_cast<const uint16_t *>(row0),
                               reinterpret_cast<uint16_t *>(target), dst.width, ch);
                    break;
                default:
                    averageRow(reinterpret_cast<const float *>(row1), reinterpret_cast<const float *>(row0),
                               reinterpret_cast<float *>(target), dst.width, ch);
                    break;
                }
            }
        }
        return taskResult_t::done;
    });
    if (result != taskResult_t::done) {
        debugLog("%s: reading the rows failed\n", fn);
        dst.valid = false;
        return false;
    }
    dst.valid = true;
    buildLevelsFrom(1, taskCount);
    return true;
}

void prefaultPages(const void *data, size_t bytes, bool forWriting)
{
    static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096);
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
    if (end <= begin)
        return;
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
    madvise(reinterpret_cast<void *>(begin), end - begin, forWriting ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
#else
    (void)forWriting;
#endif
}

bool pyramid::writeMaskFile(const QString &path) const
{
    if (bytesPerSample != 1 || channels != 1 || levelCount < 1 || !levels[0].data)
        return false;
    const size_t size = levelBytes(0);
    if (size > 0xffffffffu)
        return false;
    uLongf capacity = compressBound(uLong(size));
    std::vector<uint8_t> packed(capacity);
    if (compress(packed.data(), &capacity, static_cast<const Bytef *>(levels[0].data), uLong(size)) != Z_OK
        || capacity > 0xffffffffu) {
        debugLog("%s: compress failed\n", "pyramid::writeMaskFile");
        return false;
    }
    checkedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    uchar header[4];
    qToLittleEndian<quint32>(quint32(capacity), header);
    if (file.write(reinterpret_cast<const char *>(header), 4) != 4
        || file.write(reinterpret_cast<const char *>(packed.data()), qint64(capacity)) != qint64(capacity)
        || !file.commit()) {
        debugLog("%s: write failed: %s (%s)\n", "pyramid::writeMaskFile", qPrintable(path),
                 qPrintable(file.errorText()));
        return false;
    }
    return true;
}

bool pyramid::readMaskFile(const QString &path)
{
    if (bytesPerSample != 1 || channels != 1 || levelCount < 1 || !levels[0].data)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const size_t size = levelBytes(0);
    uchar header[4];
    if (file.read(reinterpret_cast<char *>(header), 4) != 4) {
        debugLog("%s: truncated file: %s\n", "pyramid::readMaskFile", qPrintable(path));
        return false;
    }
    const quint64 stored = qFromLittleEndian<quint32>(header);
    // A sound writer never stores more than compressBound of the level, and the
    // file must really hold the stored bytes.
    if (stored == 0 || stored > compressBound(uLong(size)) || qint64(stored) > file.size() - 4) {
        debugLog("%s: bad stored length %llu: %s\n", "pyramid::readMaskFile",
                 (unsigned long long)stored, qPrintable(path));
        return false;
    }
    std::vector<uint8_t> packed(stored);
    if (file.read(reinterpret_cast<char *>(packed.data()), qint64(stored)) != qint64(stored))
        return false;
    std::vector<uint8_t> plain(size ? size : 1);
    uLongf produced = uLongf(size);
    if (uncompress(plain.data(), &produced, packed.data(), uLong(stored)) != Z_OK || produced != size) {
        debugLog("%s: damaged mask data: %s\n", "pyramid::readMaskFile", qPrintable(path));
        return false;
    }
    std::memcpy(levels[0].data, plain.data(), size);
    return true;
}

bool pyramid::saveImage(const QString &path) const
{
    if (levelCount < 1 || !levels[0].data || levels[0].width <= 0 || levels[0].height <= 0)
        return false;
    const int w = levels[0].width, h = levels[0].height;
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return false;
    const int ch = effectiveChannels(channels);
    if (bytesPerSample == 1 || bytesPerSample == 2) {
        for (int y = 0; y < h; ++y) {
            uchar *out = image.scanLine(y);
            for (int x = 0; x < w; ++x) {
                uint8_t v[4] = {0, 0, 0, 0xff};
                const size_t base = (size_t(y) * size_t(w) + size_t(x)) * size_t(ch);
                for (int k = 0; k < ch; ++k) {
                    v[k] = bytesPerSample == 1 ? static_cast<const uint8_t *>(levels[0].data)[base + k]
                                               : uint8_t(static_cast<const uint16_t *>(levels[0].data)[base + k] >> 8);
                }
                if (ch == 1)
                    v[1] = v[2] = v[0];
                // Memory order of a 32-bit pixel is blue, green, red, fourth byte.
                out[4 * x + 0] = v[2];
                out[4 * x + 1] = v[1];
                out[4 * x + 2] = v[0];
                out[4 * x + 3] = ch == 4 ? v[3] : 0xff;
            }
        }
    }
    checkedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray format = QFileInfo(path).suffix().toLatin1();
    if (!image.save(&file, format.isEmpty() ? nullptr : format.constData()) || !file.commit()) {
        debugLog("%s: failed to save %s (%s)\n", "pyramid::saveImage", qPrintable(path),
                 qPrintable(file.errorText()));
        return false;
    }
    return true;
}

int32_t pyramid::readFromImage(const QString &path)
{
    QImage image;
    if (!image.load(path)) {
        debugLog("%s: failed to load %s\n", "pyramid::readFromImage", qPrintable(path));
        return -1;
    }
    if ((channels != 1 && channels != 3) || (bytesPerSample != 1 && bytesPerSample != 2)
        || levelCount < 1 || !levels[0].data) {
        debugLog("%s: bad buffer\n", "pyramid::readFromImage");
        return -1;
    }
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32) {
        debugLog("%s: bad format\n", "pyramid::readFromImage");
        return -1;
    }
    const int w = levels[0].width, h = levels[0].height;
    int32_t result = 0;
    if (image.width() != w || image.height() != h) {
        image = image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.width() != w || image.height() != h)
            return -1;
        result = 1;
    }
    for (int y = 0; y < h; ++y) {
        const uchar *in = image.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            // Memory order of a 32-bit pixel is blue, green, red, alpha; channels
            // are filled red, green, blue as saveImage writes them.
            const uchar *p = in + 4 * x;
            const double k = p[3] / 255.0;
            const size_t base = (size_t(y) * size_t(w) + size_t(x)) * size_t(channels);
            if (bytesPerSample == 1) {
                uint8_t *out = static_cast<uint8_t *>(levels[0].data) + base;
                if (channels == 1)
                    out[0] = uint8_t(k * (p[0] + p[1] + p[2]) / 3.0);
                else
                    for (int i = 0; i < 3; ++i)
                        out[i] = uint8_t(k * p[2 - i]);
            } else {
                uint16_t *out = static_cast<uint16_t *>(levels[0].data) + base;
                if (channels == 1)
                    out[0] = uint16_t(k * (((p[0] + p[1] + p[2]) / 3) * 256));
                else
                    for (int i = 0; i < 3; ++i)
                        out[i] = uint16_t(k * (p[2 - i] * 256));
            }
        }
    }
    return result;
}

bool pyramid::writeToTempFile(QIODevice *device) const
{
    if (!device || levelCount < 1 || !levels[0].data)
        return false;
    const qint64 size = qint64(levelBytes(0));
    const char *data = static_cast<const char *>(levels[0].data);
    qint64 done = 0;
    while (done < size) {
        const qint64 n = device->write(data + done, size - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done != size) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", "pyramid::writeToTempFile",
                 (long long)done, (long long)size);
        return false;
    }
    return true;
}

bool pyramid::readFromTempFile(QIODevice *device)
{
    if (!device || levelCount < 1 || !levels[0].data)
        return false;
    const qint64 size = qint64(levelBytes(0));
    char *data = static_cast<char *>(levels[0].data);
    qint64 done = 0;
    if (device->seek(0)) {
        while (done < size) {
            const qint64 n = device->read(data + done, size - done);
            if (n <= 0)
                break;
            done += n;
        }
    }
    if (done != size) {
        debugLog("%s: read() failed (size=%lld/%lld)\n", "pyramid::readFromTempFile",
                 (long long)done, (long long)size);
        return false;
    }
    return true;
}

bool pyramid::mapLevel0(int fd)
{
    const size_t bytes = levelBytes(0);
    if (fd < 0 || bytes == 0)
        return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size < off_t(bytes)) {
        debugLog("%s: the file is shorter than the level (%lld/%lld)\n", "pyramid::mapLevel0",
                 (long long)info.st_size, (long long)bytes);
        return false;
    }
    void *mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (mapping == MAP_FAILED) {
        debugLog("%s: mmap() failed (%s)\n", "pyramid::mapLevel0", strerror(errno));
        return false;
    }
    releaseLevel0();
    levels[0].data = mapping;
    mappedBytes = bytes;
    return true;
}

void pyramid::releaseLevel0()
{
    if (mappedBytes)
        munmap(levels[0].data, mappedBytes);
    else
        std::free(levels[0].data);
    levels[0].data = nullptr;
    mappedBytes = 0;
}

double powInt(double x, int n)
{
    unsigned long long e = n < 0 ? 0ull - (unsigned long long)(long long)n : (unsigned long long)n;
    double result = 1.0;
    double square = x;
    while (e) {
        if (e & 1)
            result *= square;
        square *= square;
        e >>= 1;
    }
    return n < 0 ? 1.0 / result : result;
}
