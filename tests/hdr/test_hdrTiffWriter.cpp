// The 32-bit float TIFF writer: values and EXIF read back through libtiff and
// exiftool; failed writes leave nothing behind and keep an older file.

#include "hdr/hdrTiffWriter.h"
#include "testSupport.h"

#include <QFile>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <tiffio.h>
#include <vector>

namespace {

std::vector<float> testImage(int w, int h)
{
    std::vector<float> img(size_t(w) * h * 3);
    for (size_t i = 0; i < img.size(); i++)
        img[i] = float(i) * 0.37f + 1e-3f;
    img[4] = 70000.5f;   // beyond the half-float range: stays exact in float
    return img;
}

std::vector<float> readTiff(const QString &path, int *w, int *h, uint16_t *compression)
{
    std::vector<float> out;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return out;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, spp = 0, format = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, compression);
    *w = int(width);
    *h = int(height);
    if (bits == 32 && spp == 3 && format == SAMPLEFORMAT_IEEEFP) {
        out.resize(size_t(width) * height * 3);
        for (uint32_t y = 0; y < height; y++)
            TIFFReadScanline(tif, out.data() + size_t(y) * width * 3, y, 0);
    }
    TIFFClose(tif);
    return out;
}

} // namespace

TEST(hdrTiffWriter, valuesReadBackExactlyWithAndWithoutCompression)
{
    const int w = 13, h = 7;
    const std::vector<float> img = testImage(w, h);
    for (bool deflate : {false, true}) {
        const QString path = testSupport::freshDir() + (deflate ? "/d.tif" : "/n.tif");
        ASSERT_TRUE(saveHdrTiff(path, w, h, img.data(), false, 0, 0, deflate, nullptr));
        EXPECT_FALSE(QFile::exists(path + "~"));
        int rw = 0, rh = 0;
        uint16_t compression = 0;
        const std::vector<float> back = readTiff(path, &rw, &rh, &compression);
        EXPECT_EQ(rw, w);
        EXPECT_EQ(rh, h);
        EXPECT_EQ(compression, deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
        EXPECT_EQ(back, img);
    }
}

TEST(hdrTiffWriter, photoWithoutExifValuesWritesNoExifDirectory)
{
    hdrTiffExif_t empty;
    empty.make = "Maker";   // names alone go to the main directory
    const std::vector<float> img = testImage(2000, 300);
    const QString path = testSupport::freshDir() + "/noexif.tif";
    ASSERT_TRUE(saveHdrTiff(path, 2000, 300, img.data(), false, 0, 0, false, &empty));
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    ASSERT_NE(tif, nullptr);
    uint64_t offset = 0;
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_EXIFIFD, &offset), 0);
    char *make = nullptr;
    ASSERT_EQ(TIFFGetField(tif, TIFFTAG_MAKE, &make), 1);
    EXPECT_STREQ(make, "Maker");
    TIFFClose(tif);
}

TEST(hdrTiffWriter, normalisesIntoTheGivenRange)
{
    const std::vector<float> img = {2.0f, 4.0f, 6.0f};
    const QString path = testSupport::freshDir() + "/norm.tif";
    ASSERT_TRUE(saveHdrTiff(path, 1, 1, img.data(), true, 2.0, 6.0, false, nullptr));
    int w, h;
    uint16_t c;
    EXPECT_EQ(readTiff(path, &w, &h, &c), (std::vector<float>{0.0f, 0.5f, 1.0f}));
}

TEST(hdrTiffWriter, carriesThePhotosExif)
{
    hdrTiffExif_t exif;
    exif.make = "Canon";
    exif.model = "Canon EOS REBEL T2i";
    exif.dateTime = "2011:12:13 03:09:10";
    exif.lensModel = "EF-S18-55mm f/3.5-5.6 IS";
    exif.exposureTime = 0.04;
    exif.fNumber = 5.6;
    exif.focalLength = 18.0;
    exif.iso = 100;
    // Many strips: the directories must not depend on a small file.
    const std::vector<float> img = testImage(2000, 600);
    const QString path = testSupport::freshDir() + "/exif.tif";
    ASSERT_TRUE(saveHdrTiff(path, 2000, 600, img.data(), false, 0, 0, true, &exif));

    // libtiff finds the EXIF directory and its values.
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    ASSERT_NE(tif, nullptr);
    uint64_t offset = 0;
    ASSERT_EQ(TIFFGetField(tif, TIFFTAG_EXIFIFD, &offset), 1);
    ASSERT_EQ(TIFFReadEXIFDirectory(tif, offset), 1);
    char *date = nullptr;
    ASSERT_EQ(TIFFGetField(tif, EXIFTAG_DATETIMEORIGINAL, &date), 1);
    EXPECT_STREQ(date, "2011:12:13 03:09:10");
    TIFFClose(tif);

    // The image still reads after the directory rewrite.
    int w, h;
    uint16_t c;
    EXPECT_EQ(readTiff(path, &w, &h, &c), img);

    // exiftool reads the same values.
    QProcess exiftool;
    exiftool.start("exiftool", {"-s", "-s", "-s", "-Make", "-Model", "-ExposureTime", "-FNumber", "-ISO",
                                "-LensModel", path});
    ASSERT_TRUE(exiftool.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(exiftool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{"Canon", "Canon EOS REBEL T2i", "1/25", "5.6", "100", "EF-S18-55mm f/3.5-5.6 IS"}));
}

TEST(hdrTiffWriter, failedWritesLeaveNothingAndKeepTheOldFile)
{
    const std::vector<float> img = testImage(64, 64);
    const QString dir = testSupport::freshDir();

    // A folder that does not exist (a file stands where the folder should be).
    ASSERT_TRUE(testSupport::writeFile(dir + "/notADir", "x"));
    EXPECT_FALSE(saveHdrTiff(dir + "/notADir/out.tif", 64, 64, img.data(), false, 0, 0, false, nullptr));

    // A full disk: the file-size limit makes every write past 4 KiB fail.
    const QString path = dir + "/full.tif";
    ASSERT_TRUE(testSupport::writeFile(path, "old content"));
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = saveHdrTiff(path, 64, 64, img.data(), false, 0, 0, false, nullptr);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(QFile::exists(path + "~"));
    EXPECT_EQ(testSupport::readFile(path), QByteArray("old content"));
}
