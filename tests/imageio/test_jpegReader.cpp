// The direct JPEG decoder must give exactly the pixels Qt's reader gives (the
// loader used Qt before, and stored projects and tests hold those values),
// and leave to Qt what it does not decode itself.

#include "imageio/jpegReader.h"
#include "project/photoLoading.h"
#include "testSupport.h"

#include <QFile>
#include <QImage>
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

namespace {

using imageLoader::jpegDecodeResult;

QImage texturedPicture(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, qRgb(x * 255 / (width - 1), y * 255 / (height - 1), 128 + ((x / 3 + y / 5) % 2) * 60));
    return img;
}

// Every sample of rgb16 against Qt's decode of the same file, times 257.
void expectSameAsQt(const QString &path, const std::vector<uint16_t> &rgb16, const char *what)
{
    QImage ref(path);
    ASSERT_FALSE(ref.isNull()) << what;
    ref = ref.convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x) {
            const QRgb p = ref.pixel(x, y);
            const uint16_t *s = &rgb16[(size_t(y) * ref.width() + x) * 3];
            if (s[0] != qRed(p) * 257 || s[1] != qGreen(p) * 257 || s[2] != qBlue(p) * 257)
                ++wrong;
        }
    EXPECT_EQ(wrong, 0) << what;
}

// A CMYK JPEG written with libjpeg (Qt writes none).
QByteArray cmykJpeg(int width, int height)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &data, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 4);
    for (int x = 0; x < width; ++x) {
        row[size_t(x) * 4] = JSAMPLE(x * 4);
        row[size_t(x) * 4 + 1] = 60;
        row[size_t(x) * 4 + 2] = 200;
        row[size_t(x) * 4 + 3] = 255;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    free(data);
    return bytes;
}

} // namespace

TEST(jpegReader, decodesLikeQtAndLeavesOtherFilesToIt)
{
    const QString dir = testSupport::freshDir();
    const int w = 61, h = 37; // odd sizes: partial MCUs at the right and bottom edges
    const QImage colour = texturedPicture(w, h);
    ASSERT_TRUE(colour.save(dir + "/colour.jpg", "JPG", 90));
    ASSERT_TRUE(colour.save(dir + "/fine.jpg", "JPG", 100));
    ASSERT_TRUE(colour.convertToFormat(QImage::Format_Grayscale8).save(dir + "/grey.jpg", "JPG", 90));
    ASSERT_TRUE(colour.save(dir + "/png-named.jpg", "PNG"));
    ASSERT_TRUE(testSupport::writeFile(dir + "/cmyk.jpg", cmykJpeg(w, h)));
    QByteArray whole;
    {
        QFile f(dir + "/colour.jpg");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        whole = f.readAll();
    }
    ASSERT_TRUE(testSupport::writeFile(dir + "/garbage.jpg", QByteArray("\xff\xd8\xff", 3) + QByteArray(500, 'x')));

    struct {
        const char *file;
        int width, height;
        jpegDecodeResult direct;  // what the direct decoder says
        bool loads;               // what the loader (with Qt behind it) says
    } cases[] = {
        {"colour.jpg", w, h, jpegDecodeResult::decoded, true},
        {"fine.jpg", w, h, jpegDecodeResult::decoded, true},
        {"grey.jpg", w, h, jpegDecodeResult::decoded, true},
        {"png-named.jpg", w, h, jpegDecodeResult::notHandled, true},
        {"cmyk.jpg", w, h, jpegDecodeResult::notHandled, true},
        {"colour.jpg", w + 1, h, jpegDecodeResult::failed, false},
        {"garbage.jpg", w, h, jpegDecodeResult::failed, false},
        {"missing.jpg", w, h, jpegDecodeResult::notHandled, false},
    };
    for (const auto &c : cases) {
        const QString path = dir + "/" + c.file;
        std::vector<uint16_t> direct(size_t(c.width) * c.height * 3, 7);
        EXPECT_EQ(imageLoader::loadJPEG16(path, c.width, c.height, direct.data()), c.direct) << c.file;
        std::vector<uint16_t> loaded(size_t(c.width) * c.height * 3, 7);
        EXPECT_EQ(photoLoading::loadStandardImage(path, c.width, c.height, 1, loaded.data()), c.loads) << c.file;
        if (c.direct == jpegDecodeResult::decoded)
            expectSameAsQt(path, direct, c.file);
        // The row-batch decode: the same answer, every row once and in order, the same samples.
        std::vector<uint16_t> batched(size_t(c.width) * c.height * 3, 7);
        int nextRow = 0;
        bool inOrder = true;
        const jpegDecodeResult rowsResult = imageLoader::loadJPEG16Rows(
            path, c.width, c.height, [&](int first, int count, const uint16_t *rows) {
                inOrder = inOrder && first == nextRow && count > 0 && first + count <= c.height;
                if (inOrder)
                    std::copy(rows, rows + size_t(count) * c.width * 3, batched.begin() + size_t(first) * c.width * 3);
                nextRow = first + count;
                return true;
            });
        EXPECT_EQ(rowsResult, c.direct) << c.file;
        if (c.direct == jpegDecodeResult::decoded) {
            EXPECT_TRUE(inOrder) << c.file;
            EXPECT_EQ(nextRow, c.height) << c.file;
            EXPECT_TRUE(batched == direct) << c.file;
        }
        if (c.direct == jpegDecodeResult::notHandled && c.loads) {
            EXPECT_TRUE(std::all_of(direct.begin(), direct.end(), [](uint16_t v) { return v == 7; })) << c.file;
            expectSameAsQt(path, loaded, c.file);
        }
    }
}

TEST(jpegReader, rowSinkRefusalEndsTheDecode)
{
    // A sink that cannot store its rows (a full disk) makes the decode fail at
    // once, with no further rows handed out.
    const QString dir = testSupport::freshDir();
    const int w = 2000, h = 100; // rows of 12000 bytes: several batches
    ASSERT_TRUE(texturedPicture(w, h).save(dir + "/tall.jpg", "JPG", 90));
    int calls = 0;
    EXPECT_EQ(imageLoader::loadJPEG16Rows(dir + "/tall.jpg", w, h,
                                          [&](int, int, const uint16_t *) { return ++calls < 2; }),
              jpegDecodeResult::failed);
    EXPECT_EQ(calls, 2);
}

TEST(jpegReader, fileCutShortDecodesAsQtDoes)
{
    // A cut-short JPEG: whatever Qt makes of it, the loader makes the same
    // (the rows that are there, the rest filled by the decoder).
    const QString dir = testSupport::freshDir();
    const int w = 64, h = 48;
    ASSERT_TRUE(texturedPicture(w, h).save(dir + "/full.jpg", "JPG", 95));
    QFile f(dir + "/full.jpg");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_TRUE(testSupport::writeFile(dir + "/cut.jpg", bytes.left(bytes.size() * 2 / 3)));
    std::vector<uint16_t> rgb(size_t(w) * h * 3);
    const bool loaded = photoLoading::loadStandardImage(dir + "/cut.jpg", w, h, 1, rgb.data());
    const QImage qt(dir + "/cut.jpg");
    EXPECT_EQ(loaded, !qt.isNull());
    if (loaded)
        expectSameAsQt(dir + "/cut.jpg", rgb, "cut.jpg");
}

TEST(jpegReader, realPhotoMatchesQt)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString jpeg = testSupport::testDataFile("brackets/room_7exp/stack_room_exp_3.jpg");
    std::vector<uint16_t> rgb(size_t(640) * 427 * 3);
    ASSERT_EQ(imageLoader::loadJPEG16(jpeg, 640, 427, rgb.data()), jpegDecodeResult::decoded);
    expectSameAsQt(jpeg, rgb, "stack_room_exp_3.jpg");
}
