// JPEG encoding in parallel stripes: the joined stream must be exactly the
// stream one plain encoder writes with a restart marker after every MCU row,
// decode cleanly in libjpeg (no resynchronisation warnings) and in Qt, and
// keep the picture.

#include "imageio/stripedJpeg.h"

#include <QByteArray>
#include <QImage>
#include <csetjmp>
#include <cstdlib>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

namespace {

// Smooth colour ramps with a little texture: every stripe has content.
std::vector<uint8_t> testPicture(int width, int height)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &rgb[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(x * 255 / std::max(1, width - 1));
            p[1] = uint8_t(y * 255 / std::max(1, height - 1));
            p[2] = uint8_t(128 + ((x / 5 + y / 7) % 2) * 40);
        }
    return rgb;
}

jpegRowSource_t rowsOf(const std::vector<uint8_t> &rgb, int width)
{
    return [&rgb, width](int y, uint8_t *out) {
        std::copy_n(rgb.data() + size_t(y) * width * 3, size_t(width) * 3, out);
    };
}

// Every task on a thread of its own.
void threadRunner(int count, const std::function<void(int)> &task)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back(task, i);
    for (std::thread &t : threads)
        t.join();
}

struct plainError {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void plainErrorExit(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<plainError *>(cinfo->err)->jump, 1);
}

// The reference: one libjpeg encoder over the whole picture.
QByteArray plainEncode(const std::vector<uint8_t> &rgb, int width, int height, int quality, int dpi)
{
    jpeg_compress_struct cinfo;
    plainError err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = plainErrorExit;
    unsigned char *data = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(data);
        return QByteArray();
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &data, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.restart_in_rows = 1;
    if (dpi > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = UINT16(dpi);
        cinfo.Y_density = UINT16(dpi);
    }
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(y) * width * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char *>(data), int(size));
    std::free(data);
    return out;
}

// Decodes with libjpeg; warnings counts corrupt-data and restart warnings.
bool libjpegDecode(const QByteArray &jpeg, int *width, int *height, long *warnings)
{
    jpeg_decompress_struct cinfo;
    plainError err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = plainErrorExit;
    err.base.emit_message = [](j_common_ptr c, int level) {
        if (level < 0)
            c->err->num_warnings++;
    };
    std::vector<uint8_t> row;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(jpeg.constData()), (unsigned long)jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    row.resize(size_t(cinfo.output_width) * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&cinfo, &r, 1);
    }
    *width = int(cinfo.output_width);
    *height = int(cinfo.output_height);
    jpeg_finish_decompress(&cinfo);
    *warnings = cinfo.err->num_warnings;
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

TEST(stripedJpeg, joinedStripesAreTheStreamOfOnePlainEncoder)
{
    // Heights below, at and across stripe borders (128 rows and more a
    // stripe), widths not a multiple of the MCU, a one-pixel image.
    const struct {
        int width, height, tasks, quality, dpi;
        bool threads;
    } cases[] = {
        {200, 300, 3, 95, 240, true},  {64, 17, 4, 90, 0, false},   {33, 1000, 8, 100, 300, true},
        {1, 1, 2, 70, 72, false},      {250, 129, 2, 95, 0, true},  {160, 2048, 5, 85, 96, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " tasks " << c.tasks);
        const std::vector<uint8_t> rgb = testPicture(c.width, c.height);
        stripedJpegOptions_t o;
        o.quality = c.quality;
        o.dpi = c.dpi;
        o.taskCount = c.tasks;
        if (c.threads)
            o.runParallel = threadRunner;
        QByteArray striped;
        QString why;
        ASSERT_TRUE(encodeStripedJpeg(c.width, c.height, rowsOf(rgb, c.width), o, &striped, &why))
            << why.toStdString();
        const QByteArray plain = plainEncode(rgb, c.width, c.height, c.quality, c.dpi);
        ASSERT_FALSE(plain.isEmpty());
        EXPECT_EQ(striped.size(), plain.size());
        EXPECT_TRUE(striped == plain) << "the joined stream differs from the plain encoder's";

        int w = 0, h = 0;
        long warnings = -1;
        ASSERT_TRUE(libjpegDecode(striped, &w, &h, &warnings));
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(warnings, 0);
    }
}

TEST(stripedJpeg, qtReadsThePictureBack)
{
    const int width = 300, height = 700;
    const std::vector<uint8_t> rgb = testPicture(width, height);
    stripedJpegOptions_t o;
    o.quality = 95;
    o.taskCount = 4;
    o.runParallel = threadRunner;
    QByteArray jpeg;
    ASSERT_TRUE(encodeStripedJpeg(width, height, rowsOf(rgb, width), o, &jpeg));
    QImage image;
    ASSERT_TRUE(image.loadFromData(jpeg, "JPEG"));
    ASSERT_EQ(image.size(), QSize(width, height));
    // Mean error per sample small everywhere, also at the stripe borders
    // (128-row stripes here); the fine blue pattern costs some chroma.
    for (int y0 : {0, 120, 250, 380, 500, 680}) {
        double sum = 0;
        int n = 0;
        for (int y = y0; y < y0 + 16; ++y)
            for (int x = 0; x < width; ++x) {
                const QRgb q = image.pixel(x, y);
                const uint8_t *p = &rgb[(size_t(y) * width + x) * 3];
                sum += std::abs(qRed(q) - p[0]) + std::abs(qGreen(q) - p[1]) + std::abs(qBlue(q) - p[2]);
                n += 3;
            }
        EXPECT_LT(sum / n, 5.0) << "rows from " << y0;
    }
}

TEST(stripedJpeg, impossibleSizesAreRefused)
{
    const std::vector<uint8_t> rgb = testPicture(4, 4);
    QByteArray out;
    QString why;
    for (const QSize s : {QSize(0, 4), QSize(4, 0), QSize(70000, 4), QSize(4, -1)}) {
        EXPECT_FALSE(encodeStripedJpeg(s.width(), s.height(), rowsOf(rgb, 4), stripedJpegOptions_t(), &out, &why));
        EXPECT_FALSE(why.isEmpty());
    }
}
