#include "imageio/fitsReader.h"

#include "testSupport.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

QByteArray card(const QByteArray &text)
{
    return text.leftJustified(80, ' ', true);
}

// A FITS file from header cards (END added) and big-endian samples.
QByteArray fitsFile(const QList<QByteArray> &cards, const QByteArray &data, bool end = true)
{
    QByteArray bytes;
    for (const QByteArray &c : cards)
        bytes += card(c);
    if (end)
        bytes += card("END");
    while (bytes.size() % 2880)
        bytes += ' ';
    bytes += data;
    while (bytes.size() % 2880)
        bytes += '\0';
    return bytes;
}

QByteArray samples16(const std::vector<int> &v)
{
    QByteArray b;
    for (int s : v) {
        b += char((s >> 8) & 0xff);
        b += char(s & 0xff);
    }
    return b;
}

QByteArray samplesFloat(const std::vector<float> &v)
{
    QByteArray b;
    for (float f : v) {
        uint32_t u;
        memcpy(&u, &f, 4);
        for (int i = 3; i >= 0; --i)
            b += char((u >> (8 * i)) & 0xff);
    }
    return b;
}

QList<QByteArray> basicCards(int bitpix, int w, int h, int planes = 0)
{
    QList<QByteArray> c = {"SIMPLE  =                    T", "BITPIX  = " + QByteArray::number(bitpix),
                           "NAXIS   = " + QByteArray::number(planes ? 3 : 2), "NAXIS1  = " + QByteArray::number(w),
                           "NAXIS2  = " + QByteArray::number(h)};
    if (planes)
        c << "NAXIS3  = " + QByteArray::number(planes);
    return c;
}

struct decoded_t {
    bool ok = false;
    int w = 0, h = 0;
    std::vector<uint16_t> rgb;
    exifInfo_t exif {};
};

decoded_t decode(const QString &path, uint16_t fill = 0xbeef)
{
    decoded_t d;
    if (!imageLoader::getFITSinfo(path, &d.w, &d.h, nullptr, nullptr, nullptr, nullptr))
        return d;
    d.rgb.assign(size_t(d.w) * d.h * 3, fill);
    d.ok = imageLoader::loadFITS(path, d.w, d.h, d.rgb.data(), &d.exif);
    return d;
}

decoded_t decodeBytes(const QByteArray &bytes)
{
    const QString path = testSupport::freshDir() + "/x.fits";
    EXPECT_TRUE(testSupport::writeFile(path, bytes));
    return decode(path);
}

} // namespace

TEST(fitsReader, realFiles)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct { const char *file; bool accepted; int w, h; } cases[] = {
        {"fits/allsky_rosat.fits", true, 480, 240}, // 32-bit float, blank pixels
        {"fits/gc_2mass_k.fits", true, 721, 720},   // 16-bit integers
        {"fits/gc_msx_e.fits", false, 149, 149},    // 64-bit float: not read (wrong data format)
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const decoded_t d = decode(testSupport::testDataFile(c.file));
        EXPECT_EQ(d.ok, c.accepted);
        if (!c.accepted)
            continue;
        EXPECT_EQ(d.w, c.w);
        EXPECT_EQ(d.h, c.h);
        // Every sample is written: a decode into a differently filled buffer
        // gives the same image.
        EXPECT_EQ(decode(testSupport::testDataFile(c.file), 0x1234).rgb, d.rgb);
        uint16_t lo = 65535, hi = 0;
        for (size_t i = 0; i < d.rgb.size(); i += 3) {
            EXPECT_EQ(d.rgb[i], d.rgb[i + 1]);
            EXPECT_EQ(d.rgb[i], d.rgb[i + 2]);
            lo = std::min(lo, d.rgb[i]);
            hi = std::max(hi, d.rgb[i]);
        }
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 65535);
        EXPECT_FLOAT_EQ(d.exif.iso, 100);
    }
}

TEST(fitsReader, stretchFlipAndChannels)
{
    // 3 x 2 grey image: file rows run bottom-up.
    const decoded_t grey = decodeBytes(fitsFile(basicCards(16, 3, 2), samples16({0, 50, 100, 100, 100, 100})));
    ASSERT_TRUE(grey.ok);
    const uint16_t mid = uint16_t(std::trunc((1.5385 * std::pow(0.5, 0.6) - 0.5385 * std::pow(0.5, 1.3)) * 65535));
    EXPECT_EQ(mid, 52187);
    const uint16_t bottom[3] = {0, mid, 65535};
    for (int x = 0; x < 3; ++x) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(grey.rgb[(3 + x) * 3 + c], bottom[x]); // output row 1 = first file row
            EXPECT_EQ(grey.rgb[x * 3 + c], 65535);
        }
    }

    // Three planes give colour, planes in file order R, G, B; 32-bit integers.
    QByteArray data;
    for (int v : {-7, 9, 1, 1}) // R plane (2 x 2): rows bottom-up
        data += QByteArray::fromHex(QByteArray::number(uint32_t(v), 16).rightJustified(8, '0'));
    for (int v : {9, 9, 9, 9})
        data += QByteArray::fromHex(QByteArray::number(uint32_t(v), 16).rightJustified(8, '0'));
    for (int v : {-7, -7, -7, -7})
        data += QByteArray::fromHex(QByteArray::number(uint32_t(v), 16).rightJustified(8, '0'));
    const decoded_t colour = decodeBytes(fitsFile(basicCards(32, 2, 2, 3), data));
    ASSERT_TRUE(colour.ok);
    // Bottom-left pixel: R = -7 (min), G = 9 (max), B = -7.
    EXPECT_EQ(colour.rgb[(2 + 0) * 3 + 0], 0);
    EXPECT_EQ(colour.rgb[(2 + 0) * 3 + 1], 65535);
    EXPECT_EQ(colour.rgb[(2 + 0) * 3 + 2], 0);
    // Bottom-right pixel: R = 9.
    EXPECT_EQ(colour.rgb[(2 + 1) * 3 + 0], 65535);
}

TEST(fitsReader, headerRules)
{
    // END as the 36th card fills the first block exactly: data at 2880. The
    // first sample's bytes are blanks (0x2020) and must stay part of the data.
    QList<QByteArray> cards = basicCards(16, 2, 1);
    while (cards.size() < 35)
        cards << "COMMENT filler";
    QByteArray file = fitsFile(cards, samples16({0x2020, 0x3000}));
    ASSERT_EQ(file.indexOf(card("END")), 35 * 80);
    int64_t offset = 0;
    int channels = 0, bitpix = 0;
    const QString path = testSupport::freshDir() + "/block.fits";
    ASSERT_TRUE(testSupport::writeFile(path, file));
    ASSERT_TRUE(imageLoader::getFITSinfo(path, nullptr, nullptr, &offset, &channels, &bitpix, nullptr));
    EXPECT_EQ(offset, 2880);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(bitpix, 16);
    const decoded_t d = decode(path);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.rgb[0], 0);
    EXPECT_EQ(d.rgb[3], 65535);

    QList<QByteArray> manyComments = basicCards(16, 2, 2);
    for (int i = 0; i < 300; ++i)
        manyComments << "COMMENT x";
    struct { const char *name; QByteArray bytes; } refused[] = {
        {"bitpix8", fitsFile(basicCards(8, 2, 2), QByteArray(4, 1))},
        {"bitpix-64", fitsFile(basicCards(-64, 2, 2), QByteArray(32, 1))},
        {"twoPlanes", fitsFile(basicCards(16, 2, 2, 2), QByteArray(16, 1))},
        {"fourAxes", fitsFile(basicCards(16, 2, 2) << "NAXIS   = 4", QByteArray(8, 1))},
        {"noEnd", fitsFile(manyComments, QByteArray(8, 1), false)},
        {"emptyImage", fitsFile(basicCards(16, 0, 2), QByteArray())},
        {"shortData", fitsFile(basicCards(16, 100, 100), QByteArray()).left(2880 + 100)},
        {"hugeImage", fitsFile(basicCards(-32, 1000000, 1000000), QByteArray(100, 0))},
        {"headerOnly", card("SIMPLE  =                    T")},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(decodeBytes(r.bytes).ok);
    }
}

TEST(fitsReader, flatAndBlankImages)
{
    // Every sample equal: no range to stretch, the image is black.
    const decoded_t flat = decodeBytes(fitsFile(basicCards(16, 2, 2), samples16({5, 5, 5, 5})));
    ASSERT_TRUE(flat.ok);
    for (uint16_t v : flat.rgb)
        EXPECT_EQ(v, 0);
    // Blank (NaN) float pixels stay out of the range and become black.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const decoded_t blank = decodeBytes(fitsFile(basicCards(-32, 2, 2), samplesFloat({nan, 1.0f, 3.0f, 2.0f})));
    ASSERT_TRUE(blank.ok);
    // File row 0 (NaN, 1) is the bottom row.
    EXPECT_EQ(blank.rgb[6], 0);
    EXPECT_EQ(blank.rgb[9], 0);
    EXPECT_EQ(blank.rgb[0], 65535);
    EXPECT_EQ(blank.rgb[3], 52187);
}

TEST(fitsReader, shootingData)
{
    QList<QByteArray> cards = basicCards(16, 1, 1);
    cards << "EXPTIME =                120.0 / total" << "SNAPSHOT=                    4"
          << "FOCALLEN=                 1000" << "APTDIA  =                  200"
          << "DATE-OBS= '2017-05-03'" << "TIME-OBS= '21:30:00'"
          << "TELESCOP= 'Big scope / north dome'" << "INSTRUME= \"CCD-1\"";
    const decoded_t d = decodeBytes(fitsFile(cards, samples16({7})));
    ASSERT_TRUE(d.ok);
    EXPECT_FLOAT_EQ(d.exif.exposureTime, 30.0f);
    EXPECT_FLOAT_EQ(d.exif.fNumber, 5.0f);
    EXPECT_FLOAT_EQ(d.exif.focalLength, 1000.0f);
    EXPECT_EQ(d.exif.iso, 100);
    EXPECT_STREQ(d.exif.dateTime, "2017:05:03 21:30:00");
    EXPECT_STREQ(d.exif.make, "Big scope");
    EXPECT_STREQ(d.exif.model, "CCD-1");

    // SNAPSHOT 0 and APTDIA 0 leave exposure time and f-number as they were.
    QList<QByteArray> zero = basicCards(16, 1, 1);
    zero << "SNAPSHOT= 0" << "APTDIA  = 0";
    const QString path = testSupport::freshDir() + "/z.fits";
    ASSERT_TRUE(testSupport::writeFile(path, fitsFile(zero, samples16({7}))));
    exifInfo_t exif {};
    exif.exposureTime = 0.5f;
    exif.fNumber = 8.0f;
    ASSERT_TRUE(imageLoader::getFITSinfo(path, nullptr, nullptr, nullptr, nullptr, nullptr, &exif));
    EXPECT_FLOAT_EQ(exif.exposureTime, 0.5f);
    EXPECT_FLOAT_EQ(exif.fNumber, 8.0f);
}

TEST(fitsReader, longHeadersAndReasons)
{
    // A header of 262 cards (more than seven blocks) is read to its END card;
    // the data start at the next block boundary.
    QList<QByteArray> cards = basicCards(16, 2, 1);
    while (cards.size() < 261)
        cards << "HISTORY a long processing history";
    const QString path = testSupport::freshDir() + "/long.fits";
    ASSERT_TRUE(testSupport::writeFile(path, fitsFile(cards, samples16({0x1000, 0x3000}))));
    int w = 0, h = 0, channels = 0, bitpix = 0;
    int64_t offset = 0;
    QString reason;
    ASSERT_TRUE(imageLoader::getFITSinfo(path, &w, &h, &offset, &channels, &bitpix, nullptr, &reason))
        << qPrintable(reason);
    EXPECT_EQ(offset, 8 * 2880);
    EXPECT_EQ(w, 2);
    const decoded_t d = decode(path);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.rgb[0], 0);
    EXPECT_EQ(d.rgb[3], 65535);

    struct { const char *name; QByteArray bytes; const char *reason; } refused[] = {
        {"noEnd", fitsFile(basicCards(16, 2, 2), QByteArray(), false), "Header seems to be incorrect"},
        {"bitpix8", fitsFile(basicCards(8, 2, 2), QByteArray(4, 1)), "Wrong data format (8)"},
        {"twoPlanes", fitsFile(basicCards(16, 2, 2, 2), QByteArray(16, 1)), "Wrong number of channels (2)"},
        {"hugeImage", fitsFile(basicCards(-32, 20000, 20000), QByteArray(64, 0)), "File too short"},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.name);
        const QString p = testSupport::freshDir() + "/" + r.name + ".fits";
        ASSERT_TRUE(testSupport::writeFile(p, r.bytes));
        reason.clear();
        EXPECT_FALSE(imageLoader::getFITSinfo(p, &w, &h, nullptr, nullptr, nullptr, nullptr, &reason));
        EXPECT_TRUE(reason.contains(QLatin1String(r.reason))) << qPrintable(reason);
    }
}
