// TIFF reader: every sample file compared pixel by pixel with libtiff's own
// decoding, files written by libtiff in every supported layout, and damaged
// or unsupported files that must be refused or decoded without overruns.
#include "imageio/tiffReader.h"

#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <tiffio.h>
#include <vector>

namespace {

struct exifScope {
    exifScope() { std::memset(&info, 0, sizeof info); exifSetQuiet(true); tiffSetQuiet(true); }
    ~exifScope() { exifFreeStripTables(&info); exifSetQuiet(false); tiffSetQuiet(false); }
    exifInfo_t info;
};

// The image as libtiff decodes it, in the reader's output convention.
struct reference_t {
    bool ok = false;
    bool tiled = false;
    int width = 0, height = 0, bps = 0;
    std::vector<uint16_t> rgb16;
    std::vector<float> rgbFloat;
};

reference_t libtiffDecode(const QString &path)
{
    reference_t r;
    TIFFSetWarningHandler(nullptr);
    std::unique_ptr<TIFF, void (*)(TIFF *)> tif(TIFFOpen(QFile::encodeName(path).constData(), "r"), TIFFClose);
    if (!tif)
        return r;
    uint32_t w = 0, h = 0;
    uint16_t bps = 0, spp = 1;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    r.width = int(w);
    r.height = int(h);
    r.bps = bps;
    r.tiled = TIFFIsTiled(tif.get());
    if (r.tiled)
        return r;
    std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif.get())));
    const size_t n = size_t(w) * h * 3;
    if (bps == 32)
        r.rgbFloat.resize(n);
    else
        r.rgb16.resize(n);
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif.get(), line.data(), y, 0) < 0)
            return r;
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t s = size_t(x) * spp + (spp == 1 ? 0 : c);
                const size_t o = (size_t(y) * w + x) * 3 + c;
                if (bps == 8)
                    r.rgb16[o] = uint16_t(line[s] * 257);
                else if (bps == 16)
                    r.rgb16[o] = reinterpret_cast<const uint16_t *>(line.data())[s];
                else
                    r.rgbFloat[o] = reinterpret_cast<const float *>(line.data())[s];
            }
    }
    r.ok = true;
    return r;
}

// Decodes with our reader into exact-size buffers; compares with libtiff.
void expectSameAsLibtiff(const QString &path)
{
    SCOPED_TRACE(path.toStdString());
    const reference_t ref = libtiffDecode(path);
    int w = 0, h = 0, bps = 0;
    QString reason;
    if (ref.tiled) {
        EXPECT_FALSE(imageLoader::getTIFFinfo(path, &w, &h, &bps, &reason)) << "tiled files are refused";
        EXPECT_TRUE(reason.contains("tiled")) << qPrintable(reason);
        return;
    }
    ASSERT_TRUE(imageLoader::getTIFFinfo(path, &w, &h, &bps, &reason)) << qPrintable(reason);
    EXPECT_EQ(w, ref.width);
    EXPECT_EQ(h, ref.height);
    EXPECT_EQ(bps, ref.bps);
    exifScope s;
    std::vector<uint16_t> rgb16(bps == 32 ? 0 : size_t(w) * h * 3);
    std::vector<float> rgbFloat(bps == 32 ? size_t(w) * h * 3 : 0);
    float lo = -1, hi = -1;
    const bool ok = imageLoader::loadTIFF(path, rgb16.empty() ? nullptr : rgb16.data(),
                                          rgbFloat.empty() ? nullptr : rgbFloat.data(), &lo, &hi, &s.info, w, h);
    if (ref.tiled) {
        EXPECT_FALSE(ok) << "tiled files are refused";
        return;
    }
    ASSERT_TRUE(ref.ok);
    ASSERT_TRUE(ok);
    if (bps == 32) {
        ASSERT_EQ(0, std::memcmp(rgbFloat.data(), ref.rgbFloat.data(), rgbFloat.size() * 4));
        float mn = 1e9f, mx = 0;
        for (float v : ref.rgbFloat) {
            mn = std::min(mn, v);
            mx = std::max(mx, v);
        }
        EXPECT_EQ(lo, mn);
        EXPECT_EQ(hi, mx);
    } else {
        size_t diff = 0;
        for (size_t i = 0; i < rgb16.size(); ++i)
            diff += rgb16[i] != ref.rgb16[i];
        EXPECT_EQ(diff, 0u);
    }
}

struct layout_t {
    const char *name;
    int bps, spp;
    uint16_t compression, predictor;
    bool bigEndian;
    uint32_t rowsPerStrip;
    int photometric = -1;    // -1: grey or RGB by samples; -2: no tag at all
    int sampleFormat = -1;   // -1: by bits (unsigned or float); -2: no tag at all
};

// Writes a test image with libtiff in the given layout.
QString writeWithLibtiff(const QString &dir, const layout_t &l, int w, int h)
{
    const QString path = dir + "/" + l.name + ".tif";
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), l.bigEndian ? "wb" : "wl");
    if (!tif)
        return QString();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(l.bps));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(l.spp));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (l.photometric != -2)
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     uint16_t(l.photometric >= 0 ? l.photometric : l.spp == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> map(size_t(1) << l.bps);
        for (size_t i = 0; i < map.size(); ++i)
            map[i] = uint16_t(i * 65535 / (map.size() - 1));
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    if (l.photometric == PHOTOMETRIC_YCBCR && l.compression != COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(1), uint16_t(1));
    }
    if (l.compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (l.spp == 4 && l.photometric != PHOTOMETRIC_SEPARATED) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (l.sampleFormat != -2)
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
                     uint16_t(l.sampleFormat >= 0 ? l.sampleFormat : l.bps == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
    if (l.predictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
    if (l.rowsPerStrip)
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
    std::mt19937 rng(l.bps * 100 + l.spp);
    const size_t lineBytes = size_t(w) * l.spp * (l.bps / 8);
    std::vector<uint8_t> line(lineBytes);
    for (int y = 0; y < h; ++y) {
        for (size_t i = 0; i < size_t(w) * l.spp; ++i) {
            // Smooth ramps with a little noise, so that the predictors matter.
            const double v = (double(i / l.spp) / w + double(y) / h) / 2 + (rng() % 100) / 5000.0;
            if (l.bps == 8)
                line[i] = uint8_t(v * 255);
            else if (l.bps == 16)
                reinterpret_cast<uint16_t *>(line.data())[i] = uint16_t(v * 65535);
            else
                reinterpret_cast<float *>(line.data())[i] = float(v * 4 - 1); // some negative samples
        }
        if (TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) < 0) {
            TIFFClose(tif);
            return QString();
        }
    }
    TIFFClose(tif);
    return path;
}

} // namespace

TEST(tiffReader, sampleFilesMatchLibtiff)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QDir dir(testSupport::testDataDir() + "/tiff");
    const QStringList files = dir.entryList({"*.tif", "*.tiff"}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 14);
    for (const QString &f : files)
        expectSameAsLibtiff(dir.filePath(f));
}

TEST(tiffReader, everyLayoutWrittenByLibtiff)
{
    const QString dir = testSupport::freshDir();
    const layout_t layouts[] = {
        {"rgb8_none", 8, 3, COMPRESSION_NONE, 0, false, 5},
        {"rgb8_lzw_pred2_be", 8, 3, COMPRESSION_LZW, 2, true, 6},
        {"rgb8_packbits", 8, 3, COMPRESSION_PACKBITS, 0, false, 4},
        {"rgb8_deflate_single_strip", 8, 3, COMPRESSION_ADOBE_DEFLATE, 2, false, 0},
        {"grey8_lzw", 8, 1, COMPRESSION_LZW, 0, false, 3},
        {"grey16_none_be", 16, 1, COMPRESSION_NONE, 0, true, 5},
        {"rgba8_deflate", 8, 4, COMPRESSION_ADOBE_DEFLATE, 2, false, 9},
        {"rgb16_lzw_pred2_be", 16, 3, COMPRESSION_LZW, 2, true, 8},
        {"rgb16_deflate_pred2_le", 16, 3, COMPRESSION_ADOBE_DEFLATE, 2, false, 8},
        {"rgba16_packbits_be", 16, 4, COMPRESSION_PACKBITS, 0, true, 16},
        {"rgbf_none_be", 32, 3, COMPRESSION_NONE, 0, true, 5},
        {"rgbf_lzw_pred3_be", 32, 3, COMPRESSION_LZW, 3, true, 6},
        {"rgbf_deflate_pred3", 32, 3, COMPRESSION_ADOBE_DEFLATE, 3, false, 11},
        {"rgbf_lzw_pred2_be", 32, 3, COMPRESSION_LZW, 2, true, 7},
        {"greyf_none", 32, 1, COMPRESSION_NONE, 0, false, 4},
    };
    for (const layout_t &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = writeWithLibtiff(dir, l, 61, 23);
        ASSERT_FALSE(path.isEmpty());
        expectSameAsLibtiff(path);
    }
}

TEST(tiffReader, unsupportedLayoutsAreRefused)
{
    const QString dir = testSupport::freshDir();
    const layout_t refused[] = {
        {"jpeg", 8, 3, COMPRESSION_JPEG, 0, false, 8},
        {"two_samples", 8, 2, COMPRESSION_NONE, 0, false, 8},
    };
    for (const layout_t &l : refused) {
        SCOPED_TRACE(l.name);
        const QString path = writeWithLibtiff(dir, l, 16, 16);
        ASSERT_FALSE(path.isEmpty());
        exifScope s;
        std::vector<uint16_t> rgb(16 * 16 * 3);
        EXPECT_FALSE(imageLoader::loadTIFF(path, rgb.data(), nullptr, nullptr, nullptr, &s.info, 16, 16));
    }
    // A size that differs from the probe's (the buffers) is refused.
    const QString ok = writeWithLibtiff(dir, {"ok", 8, 3, COMPRESSION_NONE, 0, false, 4}, 16, 16);
    std::vector<uint16_t> rgb(16 * 16 * 3);
    {
        exifScope s;
        EXPECT_FALSE(imageLoader::loadTIFF(ok, rgb.data(), nullptr, nullptr, nullptr, &s.info, 16, 15));
    }
    {
        exifScope s; // an 8-bit image without a 16-bit buffer
        float f[16 * 16 * 3];
        EXPECT_FALSE(imageLoader::loadTIFF(ok, nullptr, f, nullptr, nullptr, &s.info, 16, 16));
    }
    {
        exifScope s;
        EXPECT_FALSE(imageLoader::loadTIFF(dir + "/missing.tif", rgb.data(), nullptr, nullptr, nullptr, &s.info, 16, 16));
    }
    int w = 1, h = 1, b = 1;
    EXPECT_FALSE(imageLoader::getTIFFinfo(dir + "/missing.tif", &w, &h, &b));
    EXPECT_EQ(w, 0);
    ASSERT_TRUE(testSupport::writeFile(dir + "/bad.tif", "IM*\0\x08\0\0\0"));
    EXPECT_FALSE(imageLoader::getTIFFinfo(dir + "/bad.tif", &w, &h, &b));
}

TEST(tiffReader, damagedFilesStayInBounds)
{
    // Truncations of files in several layouts: every cut decodes from the
    // bytes that exist or is refused, never reads past the mapping (ASan).
    const QString dir = testSupport::freshDir();
    const layout_t layouts[] = {
        {"none", 8, 3, COMPRESSION_NONE, 0, false, 4},
        {"none16", 16, 3, COMPRESSION_NONE, 0, false, 4},
        {"lzw", 8, 1, COMPRESSION_LZW, 2, false, 4},
        {"packbits", 16, 3, COMPRESSION_PACKBITS, 0, true, 4},
        {"deflate", 32, 3, COMPRESSION_ADOBE_DEFLATE, 3, false, 4},
    };
    for (const layout_t &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = writeWithLibtiff(dir, l, 20, 12);
        const QByteArray whole = testSupport::readFile(path);
        int w = 0, h = 0, bps = 0;
        ASSERT_TRUE(imageLoader::getTIFFinfo(path, &w, &h, &bps));
        // libtiff writes the directory last: cut the image data instead, by
        // zeroing the strip area's tail and by pointing strips past the end.
        for (int cut = 16; cut < whole.size(); cut += std::max(1, whole.size() / 23)) {
            QByteArray damaged = whole;
            std::mt19937 rng(cut);
            for (int i = 8; i < cut && i < damaged.size(); i += 7)
                damaged[i] = char(rng());
            ASSERT_TRUE(testSupport::writeFile(dir + "/d.tif", damaged));
            exifScope s;
            std::vector<uint16_t> rgb(size_t(w) * h * 3);
            std::vector<float> f(size_t(w) * h * 3);
            imageLoader::getTIFFinfo(dir + "/d.tif", &w, &h, &bps);
            imageLoader::loadTIFF(dir + "/d.tif", rgb.data(), f.data(), nullptr, nullptr, &s.info, 20, 12);
        }
        // A file cut short right after its directory's strip data begins.
        ASSERT_TRUE(testSupport::writeFile(dir + "/t.tif", whole.left(whole.size() / 2)));
        exifScope s;
        std::vector<uint16_t> rgb(20 * 12 * 3);
        std::vector<float> f(20 * 12 * 3);
        imageLoader::loadTIFF(dir + "/t.tif", rgb.data(), f.data(), nullptr, nullptr, &s.info, 20, 12);
    }
}

namespace {

uint32_t le32(const QByteArray &b, uint32_t at)
{
    uint32_t v;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}
uint16_t le16(const QByteArray &b, uint32_t at)
{
    uint16_t v;
    std::memcpy(&v, b.constData() + at, 2);
    return v;
}
void setLe(QByteArray &b, uint32_t at, uint32_t v, int bytes)
{
    std::memcpy(b.data() + at, &v, size_t(bytes));
}

} // namespace

TEST(tiffReader, uncompressedStripsWithPredictorAndPastTheEnd)
{
    // An uncompressed file that carries a Predictor tag: the predictor runs
    // on a copy (the mapping is read-only). Strip byte counts that claim more
    // than the file holds, or a strip far outside it, refuse the file.
    const QString dir = testSupport::freshDir();
    const QString path = writeWithLibtiff(dir, {"p", 8, 3, COMPRESSION_NONE, 0, false, 4}, 10, 8);
    const reference_t raw = libtiffDecode(path);
    const QByteArray original = testSupport::readFile(path);
    enum damage_t { predictorOnly, countsTooLarge, stripFarAway };
    for (damage_t damage : {predictorOnly, countsTooLarge, stripFarAway}) {
        SCOPED_TRACE(int(damage));
        QByteArray bytes = original;
        const uint32_t dirAt = le32(bytes, 4);
        const uint16_t n = le16(bytes, dirAt);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t e = dirAt + 2 + 12 * i;
            const uint16_t tag = le16(bytes, e);
            if (tag == 284) { // PlanarConfiguration 1 becomes Predictor 2
                setLe(bytes, e, 317, 2);
                setLe(bytes, e + 8, 2, 2);
                continue;
            }
            if ((tag != 273 || damage != stripFarAway) && (tag != 279 || damage != countsTooLarge))
                continue;
            // Values of SHORT or LONG arrays, in the entry when they fit.
            const int size = le16(bytes, e + 2) == 3 ? 2 : 4;
            const uint32_t count = le32(bytes, e + 4);
            const uint32_t at = count * size <= 4 ? e + 8 : le32(bytes, e + 8);
            if (tag == 279) {
                for (uint32_t k = 0; k < count; ++k)
                    setLe(bytes, at + size * k, size == 2 ? 0xffff : 0x7fffffff, size);
            } else {
                setLe(bytes, at + size, size == 2 ? 0xfff0 : 0xfffffff0u, size); // strip 1 far away
            }
        }
        ASSERT_TRUE(testSupport::writeFile(path, bytes));
        exifScope s;
        std::vector<uint16_t> rgb(10 * 8 * 3, 0xAAAA);
        QString reason;
        const bool ok = imageLoader::loadTIFF(path, rgb.data(), nullptr, nullptr, nullptr, &s.info, 10, 8, &reason);
        EXPECT_EQ(testSupport::readFile(path), bytes); // the file is untouched
        if (damage != predictorOnly) {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(reason.contains("incomplete")) << qPrintable(reason);
            continue;
        }
        ASSERT_TRUE(ok) << qPrintable(reason);
        EXPECT_EQ(s.info.predictor, 2);
        // The stored bytes accumulated along each row.
        for (int y = 0; y < 8; ++y) {
            uint8_t acc[3] = {0, 0, 0};
            for (int x = 0; x < 10; ++x)
                for (int c = 0; c < 3; ++c) {
                    acc[c] = uint8_t(acc[c] + raw.rgb16[size_t(y * 10 + x) * 3 + c] / 257);
                    ASSERT_EQ(rgb[size_t(y * 10 + x) * 3 + c], acc[c] * 257) << x << "," << y;
                }
        }
    }
}

namespace {

// libtiff's own colour decoding (its RGBA interface applies the photometric
// interpretation): 8 bits per channel, top row first; empty when it fails.
std::vector<uint8_t> libtiffRgb8(const QString &path, int w, int h)
{
    std::unique_ptr<TIFF, void (*)(TIFF *)> tif(TIFFOpen(QFile::encodeName(path).constData(), "r"), TIFFClose);
    std::vector<uint32_t> raster(size_t(w) * h);
    if (!tif || !TIFFReadRGBAImageOriented(tif.get(), uint32_t(w), uint32_t(h), raster.data(), ORIENTATION_TOPLEFT, 0))
        return {};
    std::vector<uint8_t> rgb(raster.size() * 3);
    for (size_t i = 0; i < raster.size(); ++i) {
        rgb[i * 3] = uint8_t(TIFFGetR(raster[i]));
        rgb[i * 3 + 1] = uint8_t(TIFFGetG(raster[i]));
        rgb[i * 3 + 2] = uint8_t(TIFFGetB(raster[i]));
    }
    return rgb;
}

bool loadWithReader(const QString &path, int w, int h, std::vector<uint16_t> &rgb16, std::vector<float> &rgbFloat,
                    QString *reason)
{
    int pw = 0, ph = 0, bps = 0;
    if (!imageLoader::getTIFFinfo(path, &pw, &ph, &bps, reason))
        return false;
    EXPECT_EQ(pw, w);
    EXPECT_EQ(ph, h);
    rgb16.assign(bps == 32 ? 0 : size_t(w) * h * 3, 0);
    rgbFloat.assign(bps == 32 ? size_t(w) * h * 3 : 0, 0.0f);
    exifScope s;
    float lo = 0, hi = 0;
    return imageLoader::loadTIFF(path, rgb16.empty() ? nullptr : rgb16.data(),
                                 rgbFloat.empty() ? nullptr : rgbFloat.data(), &lo, &hi, &s.info, w, h, reason);
}

} // namespace

// Every photometric interpretation and sample format the reader accepts
// decodes as libtiff decodes it (its colour interface for integer samples,
// the raw samples for floats and for RGB with alpha); everything else is
// refused with a reason that names it.
TEST(tiffReader, photometricAndSampleFormatsMatchLibtiff)
{
    const QString dir = testSupport::freshDir();
    const int w = 19, h = 11;
    struct comboCase {
        layout_t layout;
        const char *refusal;   // nullptr: accepted and compared; else part of the reason
    };
    const comboCase cases[] = {
        {{"grey8_blackzero", 8, 1, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_MINISBLACK}, nullptr},
        {{"grey8_whitezero", 8, 1, COMPRESSION_LZW, 2, false, 4, PHOTOMETRIC_MINISWHITE}, nullptr},
        {{"grey16_whitezero_be", 16, 1, COMPRESSION_NONE, 0, true, 3, PHOTOMETRIC_MINISWHITE}, nullptr},
        {{"grey16_blackzero", 16, 1, COMPRESSION_ADOBE_DEFLATE, 2, false, 5, PHOTOMETRIC_MINISBLACK}, nullptr},
        {{"grey8_no_photometric", 8, 1, COMPRESSION_NONE, 0, false, 4, -2}, nullptr},
        {{"grey8_no_sampleformat", 8, 1, COMPRESSION_PACKBITS, 0, false, 4, -1, -2}, nullptr},
        {{"rgb8", 8, 3, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_RGB}, nullptr},
        {{"rgb8_no_photometric", 8, 3, COMPRESSION_LZW, 0, false, 4, -2}, nullptr},
        {{"rgb16_be", 16, 3, COMPRESSION_NONE, 0, true, 4, PHOTOMETRIC_RGB}, nullptr},
        {{"rgb16_no_sampleformat", 16, 3, COMPRESSION_LZW, 2, false, 4, PHOTOMETRIC_RGB, -2}, nullptr},
        {{"rgba8", 8, 4, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_RGB}, nullptr},
        {{"rgba16", 16, 4, COMPRESSION_ADOBE_DEFLATE, 0, false, 4, PHOTOMETRIC_RGB}, nullptr},
        {{"greyf", 32, 1, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_MINISBLACK}, nullptr},
        {{"rgbf", 32, 3, COMPRESSION_LZW, 3, true, 4, PHOTOMETRIC_RGB}, nullptr},
        {{"ycbcr8", 8, 3, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_YCBCR}, "YCbCr"},
        {{"ycbcr8_jpeg", 8, 3, COMPRESSION_JPEG, 0, false, 16, PHOTOMETRIC_YCBCR}, "unsupported TIFF format"},
        {{"palette8", 8, 1, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_PALETTE}, "palette"},
        {{"cmyk8", 8, 4, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_SEPARATED}, "photometric"},
        {{"grey8_signed", 8, 1, COMPRESSION_NONE, 0, false, 4, -1, SAMPLEFORMAT_INT}, "sample format"},
        {{"grey16_half", 16, 1, COMPRESSION_NONE, 0, false, 4, -1, SAMPLEFORMAT_IEEEFP}, "sample format"},
        {{"grey32_unsigned", 32, 1, COMPRESSION_NONE, 0, false, 4, -1, SAMPLEFORMAT_UINT}, "sample format"},
        {{"grey32_no_sampleformat", 32, 1, COMPRESSION_NONE, 0, false, 4, -1, -2}, "32-bit integer"},
        {{"greyf_whitezero", 32, 1, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_MINISWHITE}, "WhiteIsZero"},
        {{"rgb8_as_grey", 8, 3, COMPRESSION_NONE, 0, false, 4, PHOTOMETRIC_MINISBLACK}, "photometric"},
    };
    TIFFSetErrorHandler(nullptr);
    for (const comboCase &c : cases) {
        SCOPED_TRACE(c.layout.name);
        const QString path = writeWithLibtiff(dir, c.layout, w, h);
        ASSERT_FALSE(path.isEmpty());
        std::vector<uint16_t> rgb16;
        std::vector<float> rgbFloat;
        QString reason;
        const bool ok = loadWithReader(path, w, h, rgb16, rgbFloat, &reason);
        if (c.refusal) {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(reason.contains(QLatin1String(c.refusal))) << qPrintable(reason);
            continue;
        }
        ASSERT_TRUE(ok) << qPrintable(reason);
        // Floats, alpha (libtiff premultiplies it) and files without a
        // photometric tag (libtiff's colour interface guesses) by raw samples.
        if (c.layout.bps == 32 || c.layout.spp == 4 || c.layout.photometric == -2) {
            expectSameAsLibtiff(path);
            continue;
        }
        const std::vector<uint8_t> ref = libtiffRgb8(path, w, h);
        ASSERT_EQ(ref.size(), rgb16.size());
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i)
            worst = std::max(worst, std::abs(int((rgb16[i] * 255u + 32767u) / 65535u) - int(ref[i])));
        EXPECT_LE(worst, 1);
        if (c.layout.photometric == PHOTOMETRIC_MINISWHITE) {
            // The brightest stored sample is the darkest pixel.
            EXPECT_EQ(rgb16[0] >= 0x8000, ref[0] >= 0x80);
        }
    }
}

// A strip whose data ends before the file does, or does not decode to all of
// its rows, refuses the file (never a picture black at the bottom as if whole).
TEST(tiffReader, stripsEndingEarlyAreRefused)
{
    const QString dir = testSupport::freshDir();
    const layout_t layouts[] = {
        {"none", 8, 3, COMPRESSION_NONE, 0, false, 4},
        {"lzw", 16, 3, COMPRESSION_LZW, 2, false, 4},
        {"deflate", 32, 3, COMPRESSION_ADOBE_DEFLATE, 3, false, 4},
        {"packbits", 8, 1, COMPRESSION_PACKBITS, 0, false, 4},
    };
    for (const layout_t &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = writeWithLibtiff(dir, l, 24, 12);
        QByteArray bytes = testSupport::readFile(path);
        const uint32_t dirAt = le32(bytes, 4);
        ASSERT_GT(dirAt, 8u) << "libtiff writes the strips before the directory";
        // Every strip's byte count cut to half: its data now ends early.
        const uint16_t n = le16(bytes, dirAt);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t e = dirAt + 2 + 12 * i;
            if (le16(bytes, e) != 279)
                continue;
            const int size = le16(bytes, e + 2) == 3 ? 2 : 4;
            const uint32_t count = le32(bytes, e + 4);
            const uint32_t at = count * size <= 4 ? e + 8 : le32(bytes, e + 8);
            for (uint32_t k = 0; k < count; ++k) {
                uint32_t v = 0;
                std::memcpy(&v, bytes.constData() + at + size * k, size_t(size));
                setLe(bytes, at + size * k, v / 2, size);
            }
        }
        const QString cut = dir + "/cut_" + l.name + ".tif";
        ASSERT_TRUE(testSupport::writeFile(cut, bytes));
        std::vector<uint16_t> rgb16;
        std::vector<float> rgbFloat;
        QString reason;
        EXPECT_FALSE(loadWithReader(cut, 24, 12, rgb16, rgbFloat, &reason));
        EXPECT_TRUE(reason.contains("incomplete")) << qPrintable(reason);

        // The file itself cut inside the strip data.
        const QString shortFile = dir + "/short_" + l.name + ".tif";
        QByteArray whole = testSupport::readFile(path);
        ASSERT_TRUE(testSupport::writeFile(shortFile, whole.left(int(dirAt) / 2) + QByteArray(int(dirAt) - int(dirAt) / 2, '\0')
                                                          + whole.mid(int(dirAt))));
        reason.clear();
        const bool zeroed = loadWithReader(shortFile, 24, 12, rgb16, rgbFloat, &reason);
        if (l.compression != COMPRESSION_NONE) {
            EXPECT_FALSE(zeroed) << "zeroed compressed data cannot decode to all rows";
            EXPECT_FALSE(reason.isEmpty());
        }
    }
}

// A 186-byte baseline TIFF that declares 20000 x 20000 pixels with one
// 64-byte strip: refused by the size probe, before anyone allocates the image.
TEST(tiffReader, aTinyFileCannotClaimAHugeImage)
{
    const QString dir = testSupport::freshDir();
    for (uint16_t compression : {uint16_t(COMPRESSION_NONE), uint16_t(COMPRESSION_LZW), uint16_t(COMPRESSION_ADOBE_DEFLATE),
                                 uint16_t(COMPRESSION_PACKBITS)}) {
        SCOPED_TRACE(compression);
        QByteArray b("II*\0\x08\0\0\0", 8);
        struct entry_t { uint16_t tag, type; uint32_t count, value; };
        const entry_t entries[] = {{256, 4, 1, 20000}, {257, 4, 1, 20000}, {258, 3, 1, 8}, {259, 3, 1, compression},
                                   {262, 3, 1, 2}, {273, 4, 1, 122}, {277, 3, 1, 3}, {278, 4, 1, 20000},
                                   {279, 4, 1, 64}};
        QByteArray d(2, '\0');
        setLe(d, 0, sizeof entries / sizeof entries[0], 2);
        for (const entry_t &e : entries) {
            QByteArray x(12, '\0');
            setLe(x, 0, e.tag, 2);
            setLe(x, 2, e.type, 2);
            setLe(x, 4, e.count, 4);
            setLe(x, 8, e.value, e.type == 3 ? 2 : 4);
            d += x;
        }
        d += QByteArray(4, '\0');
        b += d;
        ASSERT_EQ(b.size(), 122);
        b += QByteArray(64, '\x55');
        ASSERT_EQ(b.size(), 186);
        const QString path = dir + "/huge.tif";
        ASSERT_TRUE(testSupport::writeFile(path, b));
        int w = 0, h = 0, bps = 0;
        QString reason;
        EXPECT_FALSE(imageLoader::getTIFFinfo(path, &w, &h, &bps, &reason));
        EXPECT_TRUE(reason.contains("strip 0")) << qPrintable(reason);
        EXPECT_EQ(w, 0);
    }
}
