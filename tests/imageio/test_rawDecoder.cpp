#include "imageio/rawDecoder.h"

#include "app/programOptionsSettings.h"
#include "testSupport.h"

#include <QImage>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The switch list of the RAW dialog's defaults (full decode, 16 bits).
QStringList defaultSwitches(const QString &path)
{
    return {"-w", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0", path};
}

double mean(const std::vector<uint16_t> &v)
{
    double s = 0;
    for (uint16_t x : v)
        s += x;
    return v.empty() ? 0 : s / double(v.size());
}

QByteArray ppm(int w, int h, int depth, const std::vector<unsigned> &samples)
{
    QByteArray b = "P6\n" + QByteArray::number(w) + " " + QByteArray::number(h) + "\n" + QByteArray::number(depth) + "\n";
    for (unsigned s : samples) {
        if (depth > 255)
            b += char(s >> 8);
        b += char(s & 0xff);
    }
    return b;
}

} // namespace

TEST(rawDecoder, dngThroughBothEngines)
{
    LUMIDRA_REQUIRE_TESTDATA();
    ASSERT_FALSE(imageLoader::dcrawProgram().isEmpty()) << "dcraw is not installed";
    const QString path = testSupport::testDataFile("raw/colorchart.dng");

    int lw = 0, lh = 0, dw = 0, dh = 0, lhw = 0, lhh = 0, dhw = 0, dhh = 0;
    exifInfo_t lexif {}, dexif {};
    double lday[3] = {}, lcam[3] = {}, dday[3] = {}, dcam[3] = {};
    ASSERT_TRUE(imageLoader::getRAWinfo_LIBRAW(path, lw, lh, &lhw, &lhh, &lexif, lday, lcam, false, false));
    ASSERT_TRUE(imageLoader::getRAWinfo_DCRAW(path, dw, dh, &dhw, &dhh, &dexif, dday, dcam, false, false));
    EXPECT_EQ(lw, 1734);
    EXPECT_EQ(lh, 1156);
    EXPECT_EQ(dw, lw);
    EXPECT_EQ(dh, lh);
    EXPECT_EQ(lhw, 867);
    EXPECT_EQ(lhh, 578);
    EXPECT_EQ(dhw, lhw);
    EXPECT_EQ(dhh, lhh);
    EXPECT_STREQ(dexif.model, "Canon EOS Kiss X4");
    EXPECT_STREQ(lexif.model, "EOS Kiss X4");
    // No exposure data in this DNG: f/0 is stored as 1.0 by both.
    EXPECT_FLOAT_EQ(lexif.fNumber, 1.0f);
    EXPECT_FLOAT_EQ(dexif.fNumber, 1.0f);
    EXPECT_NEAR(dcam[1], 0.403714, 1e-6);
    EXPECT_NEAR(dday[0], 2.472901, 1e-6);

    std::vector<uint16_t> viaLibraw(size_t(lw) * lh * 3), viaDcraw(size_t(lw) * lh * 3);
    ASSERT_TRUE(imageLoader::loadRAW_LIBRAW(defaultSwitches(path), lw, lh, viaLibraw.data(), nullptr, 1.0));
    ASSERT_TRUE(imageLoader::loadRAW_DCRAW(defaultSwitches(path), lw, lh, viaDcraw.data(), nullptr, 1.0));
    const double ml = mean(viaLibraw), md = mean(viaDcraw);
    EXPECT_GT(ml, 1000.0);
    EXPECT_NEAR(md / ml, 1.0, 0.05) << "LibRaw mean " << ml << ", dcraw mean " << md;

    // Both keep all 16 bits of the samples: values are not all multiples of
    // 257 (what a high byte scaled up would give).
    for (const auto *img : {&viaLibraw, &viaDcraw}) {
        size_t fine = 0;
        for (uint16_t v : *img)
            fine += v % 257 != 0;
        EXPECT_GT(fine, img->size() / 2);
    }

    // A switch list for another size fails with either engine.
    std::vector<uint16_t> small(size_t(lhw) * lhh * 3);
    EXPECT_FALSE(imageLoader::loadRAW_LIBRAW(defaultSwitches(path), lhw, lhh, small.data(), nullptr, 1.0));
    EXPECT_FALSE(imageLoader::loadRAW_DCRAW(defaultSwitches(path), lhw, lhh, small.data(), nullptr, 1.0));

    // The 8-bit preview path (half size, as the RAW dialog asks for it).
    QStringList preview = {"-w", "-t", "0", "-W", "-h", "-c", "-q", "0", "-s", "0", path};
    std::vector<uint8_t> rgb8(size_t(lhw) * lhh * 3);
    for (bool libraw : {true, false}) {
        std::fill(rgb8.begin(), rgb8.end(), 0);
        ASSERT_TRUE(libraw ? imageLoader::loadRAW_LIBRAW(preview, lhw, lhh, nullptr, rgb8.data(), 1.0)
                           : imageLoader::loadRAW_DCRAW(preview, lhw, lhh, nullptr, rgb8.data(), 1.0));
        double s = 0;
        for (uint8_t v : rgb8)
            s += v;
        EXPECT_GT(s / rgb8.size(), 5.0) << libraw;
    }
}

TEST(rawDecoder, engineChosenByTheCallersSetting)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString path = testSupport::testDataFile("raw/colorchart.dng");
    for (bool libraw : {true, false}) {
        int w = 0, h = 0;
        exifInfo_t exif {};
        ASSERT_TRUE(imageLoader::getRAWinfo(path, w, h, nullptr, nullptr, &exif, nullptr, nullptr, false, false,
                                            libraw));
        EXPECT_EQ(w, 1734);
        // Only LibRaw fills the make.
        EXPECT_EQ(QString(exif.make).isEmpty(), !libraw);
    }
}

TEST(rawDecoder, damagedOrMissingFiles)
{
    const QString dir = testSupport::freshDir();
    ASSERT_TRUE(testSupport::writeFile(dir + "/junk.cr2", QByteArray(5000, 'x')));
    for (const QString &path : {dir + "/missing.nef", dir + "/junk.cr2"}) {
        int w = 7, h = 7;
        EXPECT_FALSE(imageLoader::getRAWinfo_LIBRAW(path, w, h, nullptr, nullptr, nullptr, nullptr, nullptr, false, false));
        EXPECT_FALSE(imageLoader::getRAWinfo_DCRAW(path, w, h, nullptr, nullptr, nullptr, nullptr, nullptr, false, false));
        std::vector<uint16_t> buf(300);
        EXPECT_FALSE(imageLoader::loadRAW_LIBRAW(defaultSwitches(path), 10, 10, buf.data(), nullptr, 1.0));
        EXPECT_FALSE(imageLoader::loadRAW_DCRAW(defaultSwitches(path), 10, 10, buf.data(), nullptr, 1.0));
    }
}

TEST(rawDecoder, ppmStream)
{
    // A warning line before the header; 8-bit samples.
    QByteArray data = "dcraw: warning: something odd\n" + ppm(2, 1, 255, {200, 0, 1, 255, 128, 10});
    uint16_t out16[6];
    uint8_t out8[6];
    ASSERT_TRUE(imageLoader::decodePPM(data, 2, 1, out16, nullptr, 1.0));
    EXPECT_EQ(out16[0], 51200);
    EXPECT_EQ(out16[3], 65280);
    ASSERT_TRUE(imageLoader::decodePPM(data, 2, 1, nullptr, out8, 1.0));
    EXPECT_EQ(out8[0], 200);
    // Scale 2 on the sample 200: 255 in 8-bit mode, 102400 held at 65535 in
    // 16-bit mode; the 16-bit buffer wins when both are given.
    ASSERT_TRUE(imageLoader::decodePPM(data, 2, 1, out16, out8, 2.0));
    EXPECT_EQ(out16[0], 65535);
    EXPECT_EQ(out16[4], 65535);
    EXPECT_EQ(out16[5], 5120);
    ASSERT_TRUE(imageLoader::decodePPM(data, 2, 1, nullptr, out8, 2.0));
    EXPECT_EQ(out8[0], 255);
    EXPECT_EQ(out8[5], 20);

    // 16-bit samples keep all their bits; 8-bit output takes the high byte.
    const QByteArray wide = ppm(1, 2, 65535, {0x1234, 0xfffe, 0x0001, 0x8000, 0x00ff, 0x0100});
    ASSERT_TRUE(imageLoader::decodePPM(wide, 1, 2, out16, nullptr, 1.0));
    const uint16_t expect[6] = {0x1234, 0xfffe, 0x0001, 0x8000, 0x00ff, 0x0100};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out16[i], expect[i]) << i;
    ASSERT_TRUE(imageLoader::decodePPM(wide, 1, 2, nullptr, out8, 1.0));
    EXPECT_EQ(out8[0], 0x12);
    EXPECT_EQ(out8[4], 0);
    EXPECT_EQ(out8[5], 1);

    struct { const char *name; QByteArray bytes; } bad[] = {
        {"otherSize", ppm(3, 1, 255, std::vector<unsigned>(9, 1))},
        {"truncated", ppm(2, 1, 255, {1, 2, 3, 4})},
        {"depthTooLarge", ppm(2, 1, 70000, std::vector<unsigned>(6, 1))},
        {"headerTooLate", QByteArray(300, 'w') + ppm(2, 1, 255, std::vector<unsigned>(6, 1))},
        {"noHeader", QByteArray("dcraw: cannot decode file\n")},
        {"empty", QByteArray()},
    };
    for (const auto &b : bad)
        EXPECT_FALSE(imageLoader::decodePPM(b.bytes, 2, 1, out16, nullptr, 1.0)) << b.name;
}

TEST(rawDecoder, dcrawInfoText)
{
    struct { const char *name; const char *text; float exposure; int num, den; float fNumber; } cases[] = {
        {"fraction", "Shutter: 1/250.0 sec\nAperture: f/5.6\n", 0.004f, 1, 250, 5.6f},
        {"seconds", "Shutter: 2.5 sec\nAperture: f/0.0\n", 2.5f, -1, -1, 1.0f},
        {"badAperture", "Aperture: f/180\n", 0.0f, -1, -1, 1.0f},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        exifInfo_t exif {};
        exif.exposureNumerator = exif.exposureDenominator = -1;
        imageLoader::parseDcrawInfo(c.text, &exif, nullptr, nullptr);
        EXPECT_NEAR(exif.exposureTime, c.exposure, 1e-6);
        EXPECT_EQ(exif.exposureNumerator, c.num);
        EXPECT_EQ(exif.exposureDenominator, c.den);
        EXPECT_FLOAT_EQ(exif.fNumber, c.fNumber);
    }
    // The later labels overwrite the earlier multipliers.
    double day[3] = {}, cam[3] = {};
    exifInfo_t exif {};
    imageLoader::parseDcrawInfo("Camera: Some Camera X\nISO speed: 400\nFocal length: 35.0 mm\n"
                                "Daylight multipliers: 2 1 1.5\nDerived D65 multipliers: 2.5 1 1.25\n"
                                "Camera multipliers: 3 1 2 0\nMakernotes 'As shot' multipliers: 4 1 3 1\n",
                                &exif, day, cam);
    EXPECT_STREQ(exif.model, "Some Camera X");
    EXPECT_EQ(exif.iso, 400);
    EXPECT_FLOAT_EQ(exif.focalLength, 35.0f);
    EXPECT_DOUBLE_EQ(day[0], 2.5);
    EXPECT_DOUBLE_EQ(day[2], 1.25);
    EXPECT_DOUBLE_EQ(cam[0], 4.0);
    EXPECT_DOUBLE_EQ(cam[2], 3.0);
}

TEST(rawDecoder, librawSwitches)
{
    libraw_output_params_t p;
    memset(&p, 0, sizeof p);
    imageLoader::applyDcrawSwitches({"-A", "10", "20", "30", "30", "-n", "105", "-m", "2", "-o", "3", "-b", "1.5",
                                     "-H", "2", "-g", "5", "7", "-t", "0", "-q", "2", "-6", "-W", "-r", "2", "1",
                                     "1.5", "1", "-c", "-s", "0", "/x.nef"},
                                    p);
    EXPECT_EQ(p.use_auto_wb, 1); // "-A" alone turns automatic white balance on
    EXPECT_EQ(p.greybox[0], 10u);
    EXPECT_EQ(p.greybox[3], 30u);
    EXPECT_FLOAT_EQ(p.threshold, 105.0f);
    EXPECT_EQ(p.med_passes, 2);
    EXPECT_EQ(p.output_color, 3);
    EXPECT_FLOAT_EQ(p.bright, 1.5f);
    EXPECT_EQ(p.highlight, 2);
    EXPECT_DOUBLE_EQ(p.gamm[0], 0.2);
    EXPECT_DOUBLE_EQ(p.gamm[1], 7.0);
    EXPECT_EQ(p.user_flip, 0);
    EXPECT_EQ(p.user_qual, 2);
    EXPECT_EQ(p.output_bps, 16);
    EXPECT_EQ(p.no_auto_bright, 1);
    EXPECT_FLOAT_EQ(p.user_mul[2], 1.5f);
    EXPECT_EQ(p.half_size, 0);
    // A switch whose values would run into the path is ignored.
    libraw_output_params_t q;
    memset(&q, 0, sizeof q);
    imageLoader::applyDcrawSwitches({"-h", "-q", "/x.nef"}, q);
    EXPECT_EQ(q.half_size, 1);
    EXPECT_EQ(q.user_qual, 0);
}

TEST(rawDecoder, thumbnails)
{
    LUMIDRA_REQUIRE_TESTDATA();
    QImage img;
    ASSERT_TRUE(imageLoader::getThumbFromRAW(testSupport::testDataFile("brackets/room_7exp/stack_room_exp_0.jpg"), 0,
                                             img, 100));
    EXPECT_EQ(img.height(), 100);
    EXPECT_EQ(img.width(), 149);
    EXPECT_FALSE(imageLoader::getThumbFromRAW(testSupport::testDataFile("fits/gc_msx_e.fits"), 5, img, 100));
    // The sample DNG carries no embedded thumbnail: a clean failure.
    if (!imageLoader::dcrawProgram().isEmpty()) {
        EXPECT_FALSE(imageLoader::getThumbFromRAW(testSupport::testDataFile("raw/colorchart.dng"), 4, img, 100));
    }
}
