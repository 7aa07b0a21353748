#include "imageio/resultImageWriter.h"
#include "testSupport.h"
#include "writeFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <cmath>
#include <tiffio.h>
#include <vector>

namespace {

// A 16-bit RGB image with different ramps per channel (every value differs
// from its neighbours, so a swapped channel or row shows).
std::vector<uint16_t> rampImage(int width, int height)
{
    std::vector<uint16_t> img(size_t(width) * height * 3);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint16_t *p = &img[(size_t(y) * width + x) * 3];
            p[0] = uint16_t((x * 65535) / std::max(1, width - 1));
            p[1] = uint16_t((y * 65535) / std::max(1, height - 1));
            p[2] = uint16_t(((x + y) * 977 + 13) % 65536);
        }
    return img;
}

struct tiffContent {
    bool opened = false;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, compression = 0;
    float xres = 0;
    std::vector<uint16_t> pixels;   // 16-bit: as stored; 8-bit: widened to uint16
};

tiffContent readTiff(const QString &path)
{
    tiffContent c;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return c;
    c.opened = true;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &c.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &c.height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &c.bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &c.samples);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &c.compression);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &c.xres);
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < c.height; y++) {
        if (TIFFReadScanline(tif, row.data(), y, 0) != 1) {
            c.pixels.clear();
            break;
        }
        for (size_t i = 0; i < size_t(c.width) * 3; i++)
            c.pixels.push_back(c.bits == 16 ? reinterpret_cast<uint16_t *>(row.data())[i] : row[i]);
    }
    TIFFClose(tif);
    return c;
}

} // namespace

TEST(resultImageWriter, formatAndSuffixFollowTheName)
{
    const struct { const char *name; int format; } formats[] = {
        {"a.tif", resultTiff}, {"a.TIFF", resultTiff}, {"a.jpg", resultJpeg}, {"b.JPEG", resultJpeg},
        {"a.png", resultPng}, {"noSuffix", resultPng}, {"dir.jpg/x.bmp", resultPng},
    };
    for (const auto &f : formats)
        EXPECT_EQ(resultFormatForName(f.name), f.format) << f.name;

    const struct { const char *typed; int filter; const char *result; } repairs[] = {
        {"photo", resultPng, "photo.png"},       {"photo.PNG", resultPng, "photo.PNG"},
        {"photo.JPG", resultJpeg, "photo.JPG"},  {"photo.jpeg", resultJpeg, "photo.jpeg"},
        {"photo.png", resultJpeg, "photo.png.jpg"}, {"photo", resultTiff, "photo.tif"},
        {"photo.Tiff", resultTiff, "photo.Tiff"}, {"photo.jpg", resultTiff, "photo.jpg.tif"},
    };
    for (const auto &r : repairs)
        EXPECT_EQ(repairResultSuffix(r.typed, r.filter), QString(r.result)) << r.typed;
}

TEST(resultImageWriter, everyFormatDecodesWithItsSizeDepthAndValues)
{
    const int w = 67, h = 41;   // odd sizes: no row padding hides a stride error
    const std::vector<uint16_t> img = rampImage(w, h);
    const QString dir = testSupport::freshDir();

    // 16-bit TIFF keeps every sample exactly, with each compression.
    for (int compression : {0, 1, 2}) {
        resultSaveOptions_t o;
        o.format = resultTiff;
        o.tiffBitDepth = 2;
        o.tiffCompression = compression;
        o.dpi = 240;
        const QString path = dir + QString("/t16_%1.tif").arg(compression);
        QString why;
        ASSERT_TRUE(writeResultImage(path, w, h, img.data(), o, false, &why)) << qPrintable(why);
        const tiffContent c = readTiff(path);
        ASSERT_TRUE(c.opened);
        EXPECT_EQ(c.width, uint32_t(w));
        EXPECT_EQ(c.height, uint32_t(h));
        EXPECT_EQ(c.bits, 16);
        EXPECT_EQ(c.samples, 3);
        EXPECT_EQ(c.compression, compression == 0 ? COMPRESSION_NONE
                                 : compression == 1 ? COMPRESSION_LZW : COMPRESSION_ADOBE_DEFLATE);
        EXPECT_FLOAT_EQ(c.xres, 240.0f);
        EXPECT_EQ(c.pixels, img) << "compression " << compression;
    }

    // 8-bit TIFF, PNG and JPEG: v * 255 / 65535 truncated (JPEG within its loss).
    std::vector<uint16_t> eight(img.size());
    for (size_t i = 0; i < img.size(); i++)
        eight[i] = uint16_t(uint32_t(img[i]) * 255u / 65535u);
    {
        resultSaveOptions_t o;
        o.format = resultTiff;
        o.tiffBitDepth = 1;
        o.tiffCompression = 1;
        ASSERT_TRUE(writeResultImage(dir + "/t8.tif", w, h, img.data(), o));
        const tiffContent c = readTiff(dir + "/t8.tif");
        EXPECT_EQ(c.bits, 8);
        EXPECT_EQ(c.pixels, eight);
    }
    for (int format : {resultPng, resultJpeg}) {
        resultSaveOptions_t o;
        o.format = format;
        o.jpegQuality = 95;
        o.dpi = 300;
        const QString path = dir + (format == resultPng ? "/r.png" : "/r.jpg");
        ASSERT_TRUE(writeResultImage(path, w, h, img.data(), o));
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), format == resultPng ? QByteArray("png") : QByteArray("jpeg"));
        const QImage back = reader.read();
        ASSERT_FALSE(back.isNull());
        EXPECT_EQ(back.size(), QSize(w, h));
        EXPECT_NEAR(back.dotsPerMeterX(), int(300 * 39.37), 40);
        double worst = 0, sum = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const QRgb p = back.pixel(x, y);
                const uint16_t *e = &eight[(size_t(y) * w + x) * 3];
                for (int k = 0; k < 3; k++) {
                    const int got = k == 0 ? qRed(p) : k == 1 ? qGreen(p) : qBlue(p);
                    worst = std::max(worst, std::abs(double(got - e[k])));
                    sum += std::abs(double(got - e[k]));
                }
            }
        if (format == resultPng)
            EXPECT_EQ(worst, 0.0);
        else
            EXPECT_LT(sum / (w * h * 3), 4.0) << "JPEG q95 strays too far on average";
    }
}

TEST(resultImageWriter, jpegQualityAndResizeAreApplied)
{
    const int w = 200, h = 120;
    // A one-pixel checkerboard: halving it must give an even grey, not a
    // pattern of black and white (aliasing) left by dropping pixels.
    std::vector<uint16_t> chart(size_t(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int k = 0; k < 3; k++)
                chart[(size_t(y) * w + x) * 3 + k] = ((x + y) & 1) ? 65535 : 0;
    const QString dir = testSupport::freshDir();
    resultSaveOptions_t o;
    o.format = resultJpeg;
    o.jpegQuality = 100;
    o.resize = true;
    o.resizeWidth = 100;
    o.resizeHeight = 60;
    ASSERT_TRUE(writeResultImage(dir + "/half.jpg", w, h, chart.data(), o));
    const QImage half(dir + "/half.jpg");
    ASSERT_EQ(half.size(), QSize(100, 60));
    int lo = 255, hi = 0;
    for (int y = 2; y < 58; y++)
        for (int x = 2; x < 98; x++) {
            lo = std::min(lo, qGray(half.pixel(x, y)));
            hi = std::max(hi, qGray(half.pixel(x, y)));
        }
    EXPECT_GE(lo, 100);
    EXPECT_LE(hi, 155);

    // The aspect ratio is not kept: the size asked for is the size written.
    o.resizeWidth = 50;
    o.resizeHeight = 90;
    ASSERT_TRUE(writeResultImage(dir + "/odd.jpg", w, h, chart.data(), o));
    EXPECT_EQ(QImage(dir + "/odd.jpg").size(), QSize(50, 90));

    // Lower quality gives a smaller file for the same picture.
    const std::vector<uint16_t> img = rampImage(w, h);
    o.resize = false;
    o.jpegQuality = 100;
    ASSERT_TRUE(writeResultImage(dir + "/q100.jpg", w, h, img.data(), o));
    o.jpegQuality = 70;
    ASSERT_TRUE(writeResultImage(dir + "/q70.jpg", w, h, img.data(), o));
    EXPECT_LT(QFileInfo(dir + "/q70.jpg").size(), QFileInfo(dir + "/q100.jpg").size());
}

TEST(resultImageWriter, failedSavesLeaveNoFileAndKeepTheOldOne)
{
    // Noise, so that no format compresses the picture below the size limit.
    const int w = 300, h = 200;
    std::vector<uint16_t> img(size_t(w) * h * 3);
    uint32_t seed = 12345;
    for (uint16_t &v : img) {
        seed = seed * 1664525u + 1013904223u;
        v = uint16_t(seed >> 16);
    }
    const QString dir = testSupport::freshDir();
    const QString readOnly = writeFailure::readOnlyFolder(dir + "/locked");
    struct { const char *name; resultSaveOptions_t options; } cases[4];
    cases[0].name = "a.jpg";
    cases[1].name = "a.png";
    cases[1].options.format = resultPng;
    cases[2].name = "a8.tif";
    cases[2].options.format = resultTiff;
    cases[3].name = "a16.tif";
    cases[3].options.format = resultTiff;
    cases[3].options.tiffBitDepth = 2;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // A full disk: the file-size limit cuts the write short.
        const QString caseDir = dir + "/" + QFileInfo(c.name).completeBaseName() + QFileInfo(c.name).suffix();
        ASSERT_TRUE(QDir().mkpath(caseDir));
        const QString path = caseDir + "/" + c.name;
        ASSERT_TRUE(testSupport::writeFile(path, "old result"));
        QString why;
        bool saved;
        {
            writeFailure::fileSizeLimit limit(4096);
            saved = writeResultImage(path, w, h, img.data(), c.options, false, &why);
        }
        EXPECT_FALSE(saved);
        EXPECT_FALSE(why.isEmpty());
        EXPECT_EQ(testSupport::readFile(path), QByteArray("old result"));
        EXPECT_EQ(QDir(caseDir).entryList(QDir::Files).join(' '), QString(c.name)) << "a temporary file stayed behind";
        QFile::remove(path);

        // A folder that may not be written.
        const QString lockedPath = readOnly + "/" + c.name;
        EXPECT_FALSE(writeResultImage(lockedPath, w, h, img.data(), c.options));
        EXPECT_FALSE(QFile::exists(lockedPath));

        // The same save succeeds once nothing is in the way.
        EXPECT_TRUE(writeResultImage(path, w, h, img.data(), c.options));
        EXPECT_GT(QFileInfo(path).size(), 1000);
    }
}

TEST(resultImageWriter, badArgumentsAreRefused)
{
    const std::vector<uint16_t> img = rampImage(4, 4);
    const QString dir = testSupport::freshDir();
    resultSaveOptions_t o;
    EXPECT_FALSE(writeResultImage(dir + "/a.jpg", 0, 4, img.data(), o));
    EXPECT_FALSE(writeResultImage(dir + "/a.jpg", 4, 4, nullptr, o));
    o.resize = true;   // resize without a size
    EXPECT_FALSE(writeResultImage(dir + "/a.jpg", 4, 4, img.data(), o));
    o = resultSaveOptions_t();
    o.format = resultTiff;
    o.tiffBitDepth = 3;
    EXPECT_FALSE(writeResultImage(dir + "/a.tif", 4, 4, img.data(), o));
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());
}
