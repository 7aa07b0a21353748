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
    ASSERT_TRUE(imageLoader::getTIFFinfo(path, &w, &h, &bps));
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
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.spp == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    if (l.spp == 4) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, l.bps == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
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
    // than the file holds and a strip far outside it decode from what exists.
    const QString dir = testSupport::freshDir();
    const QString path = writeWithLibtiff(dir, {"p", 8, 3, COMPRESSION_NONE, 0, false, 4}, 10, 8);
    const reference_t raw = libtiffDecode(path);
    QByteArray bytes = testSupport::readFile(path);
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
        if (tag != 273 && tag != 279)
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
    ASSERT_TRUE(imageLoader::loadTIFF(path, rgb.data(), nullptr, nullptr, nullptr, &s.info, 10, 8));
    EXPECT_EQ(s.info.predictor, 2);
    // Strip 0 (rows 0..3): the stored bytes accumulated along each row.
    for (int y = 0; y < 4; ++y) {
        uint8_t acc[3] = {0, 0, 0};
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c) {
                acc[c] = uint8_t(acc[c] + raw.rgb16[size_t(y * 10 + x) * 3 + c] / 257);
                ASSERT_EQ(rgb[size_t(y * 10 + x) * 3 + c], acc[c] * 257) << x << "," << y;
            }
    }
    EXPECT_EQ(rgb[4 * 10 * 3], 0); // strip 1 lies outside the file
    EXPECT_EQ(testSupport::readFile(path), bytes); // the file is untouched
}

TEST(tiffReader, packBits)
{
    const uint8_t src[] = {2, 'a', 'b', 'c', 0xFE, 'z', 0x80, 0, 'q'};
    uint8_t dst[16];
    std::memset(dst, 0, sizeof dst);
    EXPECT_EQ(imageLoader::decodePackBits(src, dst, sizeof src, false, sizeof dst), 7);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(dst), 7), "abczzzq");
    EXPECT_EQ(imageLoader::decodePackBits(src, dst, 0, false, 16), 0);
    EXPECT_EQ(imageLoader::decodePackBits(src, dst, sizeof src, false, 4), 4); // cut at the destination
    const uint8_t shortLiteral[] = {10, 'x', 'y'};
    EXPECT_EQ(imageLoader::decodePackBits(shortLiteral, dst, sizeof shortLiteral, false, 16), 2);
}

TEST(tiffReader, predictors)
{
    uint8_t row8[] = {10, 20, 30, 1, 2, 3, 250, 250, 250};
    tiffHorizontalPredictor8(row8, 9, 3);
    EXPECT_EQ(row8[3], 11);
    EXPECT_EQ(row8[6], uint8_t(11 + 250));
    uint16_t row16[] = {65535, 2, 3};
    tiffHorizontalPredictor16(reinterpret_cast<uint8_t *>(row16), 6, 1);
    EXPECT_EQ(row16[1], 1); // modulo 2^16
    EXPECT_EQ(row16[2], 4);
    uint16_t one[] = {7};
    tiffHorizontalPredictor16(reinterpret_cast<uint8_t *>(one), 2, 1);
    EXPECT_EQ(one[0], 7);
    // Floating-point predictor: two samples, planes of most significant bytes first.
    const float values[2] = {1.5f, -2.25f};
    uint8_t planes[8];
    const uint8_t *b = reinterpret_cast<const uint8_t *>(values);
    for (int j = 0; j < 2; ++j)
        for (int p = 0; p < 4; ++p)
            planes[p * 2 + j] = b[4 * j + 3 - p];
    for (int i = 7; i >= 1; --i) // horizontal differences with stride 1
        planes[i] = uint8_t(planes[i] - planes[i - 1]);
    tiffFloatPredictor(planes, 8, 1);
    float out[2];
    std::memcpy(out, planes, 8);
    EXPECT_EQ(out[0], 1.5f);
    EXPECT_EQ(out[1], -2.25f);
}

namespace {

// Packs 9-bit codes least significant bit first (old-style LZW) or most
// significant bit first (TIFF 6.0).
std::vector<uint8_t> packCodes(const std::vector<int> &codes, bool lsbFirst)
{
    std::vector<uint8_t> out((codes.size() * 9 + 7) / 8 + 1, 0);
    int64_t bit = 0;
    for (int code : codes)
        for (int i = 0; i < 9; ++i, ++bit) {
            const int b = lsbFirst ? (code >> i) & 1 : (code >> (8 - i)) & 1;
            if (b)
                out[size_t(bit >> 3)] |= uint8_t(lsbFirst ? 1 << (bit & 7) : 0x80 >> (bit & 7));
        }
    return out;
}

std::vector<uint8_t> lzwDecodeAll(const std::vector<uint8_t> &input, size_t outputSize, bool *compat, int *result)
{
    tiffSetQuiet(true);
    lzwState_t s;
    s.input = input.data();
    s.inputLength = int64_t(input.size());
    std::vector<uint8_t> out(outputSize, 0xEE);
    *result = 0;
    if (lzwSetupDecode(&s) && lzwPreDecode(&s)) {
        *compat = s.compat;
        *result = s.compat ? lzwDecodeCompat(&s, out.data(), int64_t(out.size()))
                           : lzwDecode(&s, out.data(), int64_t(out.size()));
    }
    lzwFree(&s);
    tiffSetQuiet(false);
    return out;
}

} // namespace

TEST(tiffReader, lzwCodes)
{
    // Clear, 'a', 'b', 258 ("ab"), then 260: the entry being added
    // ("ab" + "a", the KwKwK case), EOI.
    const std::vector<int> codes = {256, 'a', 'b', 258, 260, 257};
    const std::vector<uint8_t> expected = {'a', 'b', 'a', 'b', 'a', 'b', 'a'};
    for (bool oldStyle : {false, true}) {
        SCOPED_TRACE(oldStyle);
        bool compat = !oldStyle;
        int result = 0;
        const std::vector<uint8_t> out = lzwDecodeAll(packCodes(codes, oldStyle), expected.size(), &compat, &result);
        EXPECT_EQ(compat, oldStyle); // first byte 0 and odd second byte
        EXPECT_EQ(result, 1);
        EXPECT_EQ(out, expected);
    }
    // A code beyond the next free entry is a corrupted table; a stream
    // without EOI that runs short reports failure; output is cut at its end.
    int result = 1;
    bool compat = false;
    lzwDecodeAll(packCodes({256, 'a', 300, 257}, false), 8, &compat, &result);
    EXPECT_EQ(result, 0);
    lzwDecodeAll(packCodes({256, 'a', 'b'}, false), 8, &compat, &result);
    EXPECT_EQ(result, 0);
    const std::vector<uint8_t> cut = lzwDecodeAll(packCodes(codes, false), 3, &compat, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(cut, (std::vector<uint8_t>{'a', 'b', 'a'}));
}
