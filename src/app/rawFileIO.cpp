#include "app/rawFileIO.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <cstring>
#include <vector>
#include <zlib.h>
#ifdef LUMIDRA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

void putLE32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i, v >>= 8)
        p[i] = uint8_t(v & 0xff);
}

uint32_t getLE32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

bool writeRawFile(FILE *file, const void *source, uint64_t byteCount, uint64_t *written,
                  std::atomic<uint64_t> *progress)
{
    if (written)
        *written = 0;
    if (!file || (!source && byteCount))
        return false;
    std::vector<uint8_t> packed;
    try {
        packed.resize(compressBound(RAW_FILE_BLOCK_SIZE));
    } catch (const std::bad_alloc &) {
        return false;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    for (uint64_t offset = 0; offset < byteCount; offset += RAW_FILE_BLOCK_SIZE) {
        const uint64_t chunk = std::min<uint64_t>(RAW_FILE_BLOCK_SIZE, byteCount - offset);
        uLongf length = uLongf(packed.size());
        if (compress(packed.data(), &length, src + offset, uLong(chunk)) != Z_OK)
            return false;
        uint8_t header[8];
        putLE32(header, uint32_t(length));
        putLE32(header + 4, 0);
        if (std::fwrite(header, 1, 8, file) != 8 || std::fwrite(packed.data(), 1, length, file) != length)
            return false;
        if (written)
            *written += uint64_t(length) + 8;
        if (progress)
            *progress += chunk;
    }
    return true;
}

size_t compressBlockBound(size_t n)
{
    // Above what either library can need (libdeflate adds up to 5 bytes per
    // 5,000 input bytes and a little padding).
    return size_t(compressBound(uLong(n))) + n / 1000 + 1024;
}

size_t compressBlockFast(const uint8_t *in, size_t n, uint8_t *out, size_t outCapacity)
{
    if ((!in && n) || !out || n > RAW_FILE_MAX_BLOCK_SIZE)
        return 0;
#ifdef LUMIDRA_HAVE_LIBDEFLATE
    // One compressor per thread, kept for the thread's next blocks (its
    // tables are set up afresh by every call); no state is shared between
    // threads.
    thread_local std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor *)> c(
        nullptr, libdeflate_free_compressor);
    if (!c)
        c.reset(libdeflate_alloc_compressor(1));
    if (!c)
        return 0;
    return libdeflate_zlib_compress(c.get(), in, n, out, outCapacity);
#else
    uLongf length = uLongf(outCapacity);
    if (compress2(out, &length, in, uLong(n), Z_BEST_SPEED) != Z_OK)
        return 0;
    return size_t(length);
#endif
}

bool inflateBlock(const uint8_t *in, size_t n, uint8_t *out, size_t want)
{
    if (!in || !out || n == 0)
        return false;
#ifdef LUMIDRA_HAVE_LIBDEFLATE
    thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor *)> d(
        nullptr, libdeflate_free_decompressor);
    if (!d)
        d.reset(libdeflate_alloc_decompressor());
    if (!d)
        return false;
    size_t produced = 0;
    return libdeflate_zlib_decompress(d.get(), in, n, out, want, &produced) == LIBDEFLATE_SUCCESS &&
           produced == want;
#else
    uLongf produced = uLongf(want);
    return uncompress(out, &produced, in, uLong(n)) == Z_OK && produced == want;
#endif
}

bool readRawFile(FILE *file, void *destination, uint64_t expected, uint32_t blockSize)
{
    if (!file || (!destination && expected) || blockSize == 0 || blockSize > RAW_FILE_MAX_BLOCK_SIZE)
        return false;
    const uint64_t maxStored = compressBound(blockSize);
    std::vector<uint8_t> work;
    uint8_t *dst = static_cast<uint8_t *>(destination);
    uint64_t produced = 0;
    while (produced < expected) {
        uint8_t header[8];
        if (std::fread(header, 1, 8, file) != 8)
            return false;
        const uint64_t length = getLE32(header);
        if (getLE32(header + 4) != 0 || length == 0 || length > maxStored)
            return false;
        try {
            if (work.size() < length)
                work.resize(length);
        } catch (const std::bad_alloc &) {
            return false;
        }
        if (std::fread(work.data(), 1, length, file) != length)
            return false;
        // Inflate into what is left of the destination, at most one block.
        const uint64_t want = std::min<uint64_t>(blockSize, expected - produced);
        if (!inflateBlock(work.data(), size_t(length), dst + produced, size_t(want)))
            return false;
        produced += want;
    }
    return produced == expected;
}

FILE *openFileWide(const QString &path, const char *mode)
{
    if (path.isEmpty() || path.size() > 2047 || !mode || std::strlen(mode) > 31)
        return nullptr;
    return std::fopen(QFile::encodeName(path).constData(), mode);
}

void gaussianSmoothHistogram4096(double *histogram)
{
    constexpr int bins = 4096;
    constexpr int centre = 32;
    double kernel[2 * centre + 1];
    for (int j = 0; j <= 2 * centre; ++j)
        kernel[j] = std::exp(-double((j - centre) * (j - centre)) / 512.0);
    std::vector<double> out(bins);
    for (int i = 0; i < bins; ++i) {
        double sum = 0, weight = 0;
        for (int j = 0; j <= 2 * centre; ++j) {
            const int s = i + j - centre;
            if (s < 0 || s >= bins)
                continue;
            sum += kernel[j] * histogram[s];
            weight += kernel[j];
        }
        out[i] = sum / weight;
    }
    std::memcpy(histogram, out.data(), sizeof(double) * bins);
}
