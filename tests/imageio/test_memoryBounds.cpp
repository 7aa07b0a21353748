// Crafted files of every image format that declare a huge picture in a few
// bytes. Each goes through what the photo loader does (size probe, then an
// image buffer of the declared size, then the decode) under a memory limit:
// the probe must refuse the file with a reason before the large buffer exists.

#include "imageio/fitsReader.h"
#include "imageio/openEXR.h"
#include "imageio/radianceRGBE.h"
#include "imageio/tiffReader.h"

#include "testSupport.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIDRA_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LUMIDRA_TEST_ASAN 1
#endif
#ifdef LUMIDRA_TEST_ASAN
// From the sanitizer runtime (GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void *, size_t),
                                                         void (*freeHook)(const volatile void *));
#endif

namespace {

// Allocations above this while a probe runs count as unbounded.
constexpr int64_t LIMIT_BYTES = int64_t(256) << 20;

struct loadResult_t {
    bool loaded = false;
    QString reason;
};

using loader_t = std::function<loadResult_t(const QString &)>;

#ifdef LUMIDRA_TEST_ASAN
// The address sanitizer reserves terabytes of address space, so an address-
// space limit cannot be used; its allocator hook sees every allocation instead.
std::atomic<bool> watching{false};
std::atomic<int64_t> largest{0};

void mallocHook(const volatile void *, size_t size)
{
    if (!watching.load(std::memory_order_relaxed))
        return;
    int64_t seen = largest.load(std::memory_order_relaxed);
    while (int64_t(size) > seen && !largest.compare_exchange_weak(seen, int64_t(size))) {
    }
}

void freeHook(const volatile void *) {}

// Runs the load and fails the test when it allocated more than the limit at once.
loadResult_t runBounded(const loader_t &load, const QString &path)
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook) != 0;
    EXPECT_TRUE(installed);
    largest = 0;
    watching = true;
    const loadResult_t r = load(path);
    watching = false;
    EXPECT_LT(largest.load(), LIMIT_BYTES) << "an allocation of " << largest.load() << " bytes";
    return r;
}
#else
// The load runs in a child process whose address space is limited to what
// the process already uses plus the limit: an unbounded allocation fails there.
loadResult_t runBounded(const loader_t &load, const QString &path)
{
    int report[2];
    if (pipe(report) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        int64_t pages = 0;
        if (FILE *f = fopen("/proc/self/statm", "r")) {
            if (fscanf(f, "%lld", reinterpret_cast<long long *>(&pages)) != 1)
                pages = 0;
            fclose(f);
        }
        rlimit lim;
        lim.rlim_cur = lim.rlim_max = rlim_t(pages * sysconf(_SC_PAGESIZE) + LIMIT_BYTES);
        setrlimit(RLIMIT_AS, &lim);
        loadResult_t r;
        try {
            r = load(path);
        } catch (const std::bad_alloc &) {
            _exit(3);
        }
        const QByteArray text = (r.loaded ? "1" : "0") + r.reason.toUtf8();
        if (write(report[1], text.constData(), size_t(text.size())) != text.size())
            _exit(4);
        _exit(0);
    }
    close(report[1]);
    QByteArray text;
    char buf[512];
    ssize_t n;
    while ((n = read(report[0], buf, sizeof buf)) > 0)
        text.append(buf, int(n));
    close(report[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the load ran out of its memory limit (status " << status << ")";
    loadResult_t r;
    r.loaded = text.startsWith('1');
    r.reason = QString::fromUtf8(text.mid(1));
    return r;
}
#endif

// What the photo loader does with each format: probe, allocate, decode.
loadResult_t loadTiff(const QString &path)
{
    loadResult_t r;
    int w = 0, h = 0, bits = 0;
    if (!imageLoader::getTIFFinfo(path, &w, &h, &bits, &r.reason))
        return r;
    const size_t n = size_t(w) * h * 3;
    std::unique_ptr<uint16_t[]> rgb16(new uint16_t[n]);
    std::unique_ptr<float[]> rgbf(bits == 32 ? new float[n] : nullptr);
    float mn = 0, mx = 0;
    exifInfo_t exif{};
    r.loaded = imageLoader::loadTIFF(path, rgb16.get(), rgbf.get(), &mn, &mx, &exif, w, h, &r.reason);
    return r;
}

loadResult_t loadRadiance(const QString &path)
{
    loadResult_t r;
    int w = 0, h = 0;
    double primaries[8];
    bool present = false;
    if (!imageLoader::getRadianceRGBEinfo(path, w, h, primaries, present, &r.reason))
        return r;
    std::unique_ptr<float[]> rgb(new float[size_t(w) * h * 3]);
    float mn = 0, mx = 0;
    r.loaded = imageLoader::loadRadianceRGBE(path, w, h, rgb.get(), mn, mx);
    return r;
}

loadResult_t loadExr(const QString &path)
{
    loadResult_t r;
    int w = 0, h = 0;
    if (!imageLoader::getOpenEXRinfo(path, w, h, &r.reason))
        return r;
    std::unique_ptr<float[]> rgb(new float[size_t(w) * h * 3]);
    float mn = 0, mx = 0;
    r.loaded = imageLoader::loadOpenEXR(path, w, h, rgb.get(), mn, mx);
    return r;
}

loadResult_t loadFits(const QString &path)
{
    loadResult_t r;
    int w = 0, h = 0;
    if (!imageLoader::getFITSinfo(path, &w, &h, nullptr, nullptr, nullptr, nullptr, &r.reason))
        return r;
    std::unique_ptr<uint16_t[]> rgb16(new uint16_t[size_t(w) * h * 3]);
    r.loaded = imageLoader::loadFITS(path, w, h, rgb16.get(), nullptr);
    return r;
}

void setLe(QByteArray &b, int at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

// A baseline RGB TIFF of 20000 x 20000 whose one strip holds 64 bytes.
QByteArray hugeTiff(uint16_t compression)
{
    QByteArray b("II*\0\x08\0\0\0", 8);
    struct entry_t { uint16_t tag, type; uint32_t value; };
    const entry_t entries[] = {{256, 4, 20000}, {257, 4, 20000}, {258, 3, 8}, {259, 3, compression}, {262, 3, 2},
                               {273, 4, 122},   {277, 3, 3},     {278, 4, 20000}, {279, 4, 64}};
    QByteArray d(2, '\0');
    setLe(d, 0, sizeof entries / sizeof entries[0], 2);
    for (const entry_t &e : entries) {
        QByteArray x(12, '\0');
        setLe(x, 0, e.tag, 2);
        setLe(x, 2, e.type, 2);
        setLe(x, 4, 1, 4);
        setLe(x, 8, e.value, e.type == 3 ? 2 : 4);
        d += x;
    }
    d += QByteArray(4, '\0');
    return b + d + QByteArray(64, '\x55');
}

QByteArray radianceHeader(int w, int h)
{
    return "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + QByteArray::number(h) + " +X " + QByteArray::number(w) +
           "\n";
}

// A FITS file: header cards in one block, then some bytes of data.
QByteArray hugeFits(int bitpix, int w, int h, int dataBytes)
{
    QByteArray b;
    for (const QByteArray &c : {QByteArray("SIMPLE  =                    T"), "BITPIX  = " + QByteArray::number(bitpix),
                                QByteArray("NAXIS   = 2"), "NAXIS1  = " + QByteArray::number(w),
                                "NAXIS2  = " + QByteArray::number(h), QByteArray("END")})
        b += c.leftJustified(80, ' ');
    b = b.leftJustified(2880, ' ');
    return b + QByteArray(dataBytes, '\0');
}

// A small OpenEXR file written by the program's own writer, its data window
// then widened to 20000 x 20000 (and its compression set when asked).
QByteArray hugeExr(int compression)
{
    const QString small = testSupport::freshDir("exrSource") + "/small.exr";
    std::vector<float> rgb(8 * 8 * 3, 0.5f);
    if (!imageSaver::saveOpenEXR(small, 8, 8, rgb.data(), false, 0, 1))
        return QByteArray();
    QByteArray b = testSupport::readFile(small);
    const int window = b.indexOf(QByteArray("dataWindow\0box2i\0", 17));
    if (window < 0)
        return QByteArray();
    const int box = window + 17 + 4;
    setLe(b, box + 8, 19999, 4);
    setLe(b, box + 12, 19999, 4);
    if (compression >= 0) {
        const int at = b.indexOf(QByteArray("compression\0compression\0", 24));
        if (at < 0)
            return QByteArray();
        b[at + 24 + 4] = char(compression);
    }
    return b;
}

// A small OpenEXR file whose first header attribute claims about 1.9 GB:
// the library would allocate that before reading it.
QByteArray exrWithHugeAttribute()
{
    QByteArray b = hugeExr(-1);
    if (b.isEmpty())
        return b;
    const int at = b.indexOf(QByteArray("channels\0chlist\0", 16));
    if (at < 0)
        return QByteArray();
    setLe(b, at + 16, 0x70000000, 4);
    return b;
}

// A small OpenEXR file whose channel list states a size 13 bytes larger than
// the list: a walk by stated sizes skips those bytes, but the library reads the
// list by its own layout and takes them as one more attribute of about 1.9 GB.
QByteArray exrWithHiddenAttribute()
{
    const QString small = testSupport::freshDir("exrHidden") + "/small.exr";
    std::vector<float> rgb(8 * 8 * 3, 0.5f);
    if (!imageSaver::saveOpenEXR(small, 8, 8, rgb.data(), false, 0, 1))
        return QByteArray();
    QByteArray b = testSupport::readFile(small);
    const int at = b.indexOf(QByteArray("channels\0chlist\0", 16));
    if (at < 0)
        return QByteArray();
    const int size = int(uint8_t(b[at + 16])) | int(uint8_t(b[at + 17])) << 8;
    QByteArray hidden("x\0opaque\0", 9);
    hidden += QByteArray(4, '\0');
    setLe(hidden, 9, 0x70000000, 4);
    b.insert(at + 20 + size, hidden);
    setLe(b, at + 16, uint32_t(size + hidden.size()), 4);
    return b;
}

} // namespace

TEST(memoryBounds, aFewBytesCannotOrderAHugeImage)
{
    QByteArray oldStyle = radianceHeader(20000, 20000);
    for (uint8_t v : {9, 9, 9, 128, 1, 1, 1, 0x1f, 1, 1, 1, 0x4e})
        oldStyle.append(char(v));
    QByteArray newStyle = radianceHeader(20000, 20000);
    for (uint8_t v : {2, 2, 0x4e, 0x20, 0x80 + 127, 9})
        newStyle.append(char(v));
    struct { const char *name; QByteArray bytes; loader_t load; } cases[] = {
        {"tiffUncompressed.tif", hugeTiff(1), loadTiff},
        {"tiffLzw.tif", hugeTiff(5), loadTiff},
        {"tiffDeflate.tif", hugeTiff(8), loadTiff},
        {"tiffPackBits.tif", hugeTiff(32773), loadTiff},
        {"radianceRunLength.hdr", newStyle, loadRadiance},
        {"radianceOlderRuns.hdr", oldStyle, loadRadiance},
        {"exrPiz.exr", hugeExr(-1), loadExr},
        {"exrUncompressed.exr", hugeExr(0), loadExr},
        {"exrZip.exr", hugeExr(3), loadExr},
        {"exrHugeAttribute.exr", exrWithHugeAttribute(), loadExr},
        {"exrHiddenAttribute.exr", exrWithHiddenAttribute(), loadExr},
        {"fits16.fits", hugeFits(16, 20000, 20000, 2880), loadFits},
        {"fitsFloat.fits", hugeFits(-32, 30000, 30000, 2880 * 4), loadFits},
    };
    const QString dir = testSupport::freshDir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        EXPECT_LT(c.bytes.size(), 20000);
        const QString path = dir + "/" + c.name;
        ASSERT_TRUE(testSupport::writeFile(path, c.bytes));
        const loadResult_t r = runBounded(c.load, path);
        EXPECT_FALSE(r.loaded);
        EXPECT_FALSE(r.reason.isEmpty()) << "refused without a reason";
    }
}

TEST(memoryBounds, smallFilesOfEachFormatStillLoad)
{
    // The same path with honest files: the limits refuse nothing real.
    const QString dir = testSupport::freshDir();
    std::vector<float> rgb(64 * 48 * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = float(i % 97) / 97.0f;
    ASSERT_TRUE(imageSaver::saveOpenEXR(dir + "/ok.exr", 64, 48, rgb.data(), false, 0, 1));
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(dir + "/ok.hdr", 64, 48, rgb.data(), false, 0, 1));
    ASSERT_TRUE(testSupport::writeFile(dir + "/ok.fits", hugeFits(16, 40, 30, 2880)));
    struct { const char *name; loader_t load; } cases[] = {
        {"ok.exr", loadExr}, {"ok.hdr", loadRadiance}, {"ok.fits", loadFits}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const loadResult_t r = runBounded(c.load, dir + "/" + c.name);
        EXPECT_TRUE(r.loaded) << qPrintable(r.reason);
    }
}
