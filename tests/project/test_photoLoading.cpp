#include "project/photoLoading.h"

#include "app/rawFileIO.h"
#include "testSupport.h"

#include <QImage>
#include <QRandomGenerator>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A project file: header, one EXIF carrier, one photo's pixels as blocks.
struct fakeProject {
    QString path;
    projectHeader_t header;
    std::vector<uint16_t> pixels;
    QByteArray carrier = QByteArray("\xff\xd8 carrier bytes \xff\xd9", 20);
};

fakeProject makeProject(int w, int h, int entry, uint32_t blockSize)
{
    fakeProject p;
    p.path = testSupport::freshDir() + "/p.lmpx";
    memset(&p.header, 0, sizeof p.header);
    p.header.setBlockSize(int32_t(blockSize));
    p.pixels.resize(size_t(w) * h * 3);
    QRandomGenerator rng(42); // noise: zlib cannot shrink it
    for (uint16_t &v : p.pixels)
        v = uint16_t(rng.generate());
    FILE *f = fopen(p.path.toLocal8Bit().constData(), "wb");
    EXPECT_TRUE(f);
    fwrite(p.header.bytes, 1, sizeof p.header.bytes, f);
    const int64_t carrierAt = ftell(f);
    uint64_t len = uint64_t(p.carrier.size());
    uint8_t lenBytes[8];
    for (int i = 0; i < 8; ++i)
        lenBytes[i] = uint8_t(len >> (8 * i));
    fwrite(lenBytes, 1, 8, f);
    fwrite(p.carrier.constData(), 1, size_t(p.carrier.size()), f);
    const int64_t pixelsAt = ftell(f);
    uint64_t written = 0;
    EXPECT_TRUE(writeRawFile(f, p.pixels.data(), p.pixels.size() * 2, &written));
    // The real header, offsets filled in.
    p.header.setExifCarrierOffset(entry, carrierAt);
    p.header.setPixelDataOffset(entry, pixelsAt);
    fseek(f, 0, SEEK_SET);
    fwrite(p.header.bytes, 1, sizeof p.header.bytes, f);
    fclose(f);
    return p;
}

} // namespace

TEST(photoLoading, stripesAndOrientationModes)
{
    EXPECT_EQ(photoLoading::stripeCount(640, 427), 1);
    EXPECT_EQ(photoLoading::stripeCount(5000, 4000), 2);
    EXPECT_EQ(photoLoading::stripeCount(8660, 5774), 3); // 50 megapixels
    const int modes[9] = {-1, -1, -1, 1, -1, -1, 2, -1, 0};
    for (int o = 0; o < 9; ++o)
        EXPECT_EQ(photoLoading::orientationMode(o), modes[o]) << o;
}

TEST(photoLoading, rotation)
{
    // 3 x 2 image, sample value = 10 y + x in every channel.
    std::vector<uint16_t> src(3 * 2 * 3), dst(src.size());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                src[(y * 3 + x) * 3 + c] = uint16_t(10 * y + x);
    struct { int mode; int w; std::vector<int> expect; } cases[] = {
        {2, 2, {10, 0, 11, 1, 12, 2}},   // clockwise: new 2 x 3
        {0, 2, {2, 12, 1, 11, 0, 10}},   // counter-clockwise
        {1, 3, {12, 11, 10, 2, 1, 0}},   // half turn
        {-1, 3, {0, 1, 2, 10, 11, 12}},
    };
    for (const auto &c : cases) {
        photoLoading::rotateImage16(src.data(), 3, 2, c.mode, dst.data());
        for (size_t i = 0; i < c.expect.size(); ++i)
            EXPECT_EQ(dst[i * 3 + 1], c.expect[i]) << "mode " << c.mode << " pixel " << i;
    }
}

TEST(photoLoading, standardImages)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString jpeg = testSupport::testDataFile("brackets/room_7exp/stack_room_exp_3.jpg");
    QImage ref(jpeg);
    ref = ref.convertToFormat(QImage::Format_RGB32);
    std::vector<uint16_t> rgb(size_t(640) * 427 * 3);
    int stripes = 0;
    ASSERT_TRUE(photoLoading::loadStandardImage(jpeg, 640, 427, 1, rgb.data(), &stripes));
    EXPECT_EQ(stripes, 1);
    for (int y = 0; y < 427; y += 53)
        for (int x = 0; x < 640; x += 71) {
            const QRgb p = ref.pixel(x, y);
            EXPECT_EQ(rgb[(size_t(y) * 640 + x) * 3], qRed(p) * 257);
            EXPECT_EQ(rgb[(size_t(y) * 640 + x) * 3 + 2], qBlue(p) * 257);
        }
    // Divisor 2: the reader scales to the project's size.
    std::vector<uint16_t> half(size_t(320) * 213 * 3, 1);
    ASSERT_TRUE(photoLoading::loadStandardImage(jpeg, 320, 213, 2, half.data()));
    // A size other than the file's fails.
    EXPECT_FALSE(photoLoading::loadStandardImage(jpeg, 600, 427, 1, rgb.data()));

    // Grey, palette and 16-bit PNGs, and a BMP.
    const QString dir = testSupport::freshDir();
    QImage grey(130, 129, QImage::Format_Grayscale8);
    grey.fill(100);
    ASSERT_TRUE(grey.save(dir + "/g.png"));
    QImage pal = grey.convertToFormat(QImage::Format_Indexed8);
    ASSERT_TRUE(pal.save(dir + "/p.png"));
    QImage deep(130, 129, QImage::Format_RGBX64);
    deep.fill(QColor::fromRgba64(qRgba64(0x1234, 0x5678, 0x9abc, 0xffff)));
    ASSERT_TRUE(deep.save(dir + "/d.png"));
    ASSERT_TRUE(grey.convertToFormat(QImage::Format_RGB888).save(dir + "/b.bmp"));
    struct { const char *file; uint16_t r, b; } cases[] = {
        {"g.png", 25700, 25700}, {"p.png", 25700, 25700}, {"d.png", 0x1234, 0x9abc}, {"b.bmp", 25700, 25700}};
    for (const auto &c : cases) {
        std::vector<uint16_t> out(size_t(130) * 129 * 3);
        ASSERT_TRUE(photoLoading::loadStandardImage(dir + "/" + c.file, 130, 129, 1, out.data())) << c.file;
        EXPECT_EQ(out[0], c.r) << c.file;
        EXPECT_EQ(out[out.size() - 1], c.b) << c.file;
    }
    // Not an image at all.
    ASSERT_TRUE(testSupport::writeFile(dir + "/x.jpg", QByteArray(1000, 'x')));
    EXPECT_FALSE(photoLoading::loadStandardImage(dir + "/x.jpg", 130, 129, 1, rgb.data()));
}

TEST(photoLoading, projectPhotoBlocksAndCarrier)
{
    // Incompressible pixels are stored as blocks larger than the block size:
    // they must still read back exactly.
    const int w = 600, h = 400, entry = 5; // two blocks
    fakeProject p = makeProject(w, h, entry, RAW_FILE_BLOCK_SIZE);
    std::vector<uint16_t> rgb(size_t(w) * h * 3, 0);
    bool decoded = false;
    ASSERT_TRUE(photoLoading::readProjectPhoto(p.path, p.header, entry, w, h, rgb.data(), &decoded));
    EXPECT_TRUE(decoded);
    EXPECT_EQ(rgb, p.pixels);

    const QString carrier = testSupport::freshDir("c") + "/lmpx_exif_5.jpg";
    bool written = false;
    ASSERT_TRUE(photoLoading::extractExifCarrier(p.path, p.header, entry, carrier, &written));
    EXPECT_TRUE(written);
    EXPECT_EQ(testSupport::readFile(carrier), p.carrier);

    // An entry without data: nothing read, nothing written, no failure.
    ASSERT_TRUE(photoLoading::readProjectPhoto(p.path, p.header, 6, w, h, rgb.data(), &decoded));
    EXPECT_FALSE(decoded);
    ASSERT_TRUE(photoLoading::extractExifCarrier(p.path, p.header, 6, carrier + "x", &written));
    EXPECT_FALSE(written);

    // Entries outside the header's tables are refused.
    for (int bad : {-1, PROJECT_MAX_PHOTO_ENTRIES, 100000}) {
        EXPECT_FALSE(photoLoading::readProjectPhoto(p.path, p.header, bad, w, h, rgb.data())) << bad;
        EXPECT_FALSE(photoLoading::extractExifCarrier(p.path, p.header, bad, carrier, nullptr)) << bad;
    }

    // Forged headers: carrier length beyond the file, offsets beyond the
    // file, a zero block size, and a truncated file.
    projectHeader_t forged = p.header;
    QByteArray bytes = testSupport::readFile(p.path);
    const int64_t carrierAt = p.header.exifCarrierOffset(entry);
    QByteArray longLength = bytes;
    for (int i = 0; i < 8; ++i)
        longLength[int(carrierAt) + i] = char(i < 4 ? 0xff : 0x00);
    const QString forgedPath = testSupport::freshDir("f") + "/f.lmpx";
    ASSERT_TRUE(testSupport::writeFile(forgedPath, longLength));
    EXPECT_FALSE(photoLoading::extractExifCarrier(forgedPath, p.header, entry, carrier, nullptr));

    forged.setPixelDataOffset(entry, int64_t(bytes.size()) + 10);
    forged.setExifCarrierOffset(entry, int64_t(bytes.size()) - 4);
    EXPECT_FALSE(photoLoading::readProjectPhoto(p.path, forged, entry, w, h, rgb.data()));
    EXPECT_FALSE(photoLoading::extractExifCarrier(p.path, forged, entry, carrier, nullptr));
    forged = p.header;
    forged.setBlockSize(0);
    EXPECT_FALSE(photoLoading::readProjectPhoto(p.path, forged, entry, w, h, rgb.data()));

    const QString cutPath = testSupport::freshDir("t") + "/t.lmpx";
    ASSERT_TRUE(testSupport::writeFile(cutPath, bytes.left(bytes.size() - 1000)));
    EXPECT_FALSE(photoLoading::readProjectPhoto(cutPath, p.header, entry, w, h, rgb.data()));
    // A photo larger than what was stored is not filled from thin air.
    std::vector<uint16_t> bigger(size_t(w) * (h + 10) * 3);
    EXPECT_FALSE(photoLoading::readProjectPhoto(p.path, p.header, entry, w, h + 10, bigger.data()));
}

TEST(photoLoading, previewFromRowBatchesEqualsWholeImageReduction)
{
    // Rows handed over in batches (as the decoder writes them out) give the
    // preview reduceToPreview makes of the whole image, to the last bit:
    // clipped blocks at the right and bottom, preview rows and columns with no
    // source pixels, batches that split a block.
    struct {
        int width, height, divisor, batch;
    } cases[] = {
        {64, 48, 4, 16}, {61, 37, 4, 5}, {61, 37, 3, 1}, {17, 29, 8, 7}, {10, 10, 1, 3}, {9, 7, 16, 2},
    };
    for (const auto &c : cases) {
        const int pw = (c.width + c.divisor - 1) / c.divisor + 1;   // one column and row more than needed
        const int ph = (c.height + c.divisor - 1) / c.divisor + 1;
        std::vector<uint16_t> image(size_t(c.width) * c.height * 3);
        uint32_t state = 12345;
        for (uint16_t &v : image) {
            state = state * 1664525u + 1013904223u;
            v = uint16_t(state >> 16);
        }
        std::vector<uint16_t> whole(size_t(pw) * ph * 3, 9), rows(size_t(pw) * ph * 3, 9);
        photoLoading::reduceToPreview(image.data(), c.width, c.height, c.divisor, whole.data(), pw, ph);
        photoLoading::previewRowReducer reducer(c.width, c.height, c.divisor, rows.data(), pw, ph);
        for (int y = 0; y < c.height; y += c.batch)
            reducer.addRows(y, std::min(c.batch, c.height - y), image.data() + size_t(y) * c.width * 3);
        EXPECT_TRUE(rows == whole) << c.width << "x" << c.height << " / " << c.divisor << " batch " << c.batch;
    }
}
