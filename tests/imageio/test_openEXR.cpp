#include "imageio/openEXR.h"

#include "testSupport.h"
#include "writeFailure.h"

#include <OpenEXR/ImfCRgbaFile.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Writes a small half RGBA file straight through the library, with the given
// data window origin; pixel (x, y) gets R = x, G = y, B = value(x, y).
QString writeWindowedFile(const QString &path, int x0, int y0, int w, int h, float special = 0.0f)
{
    ImfHeader *hdr = ImfNewHeader();
    ImfHeaderSetDataWindow(hdr, x0, y0, x0 + w - 1, y0 + h - 1);
    ImfHeaderSetDisplayWindow(hdr, 0, 0, x0 + w - 1, y0 + h - 1);
    ImfHeaderSetCompression(hdr, IMF_ZIP_COMPRESSION);
    ImfOutputFile *out = ImfOpenOutputFile(QFile::encodeName(path).constData(), hdr, IMF_WRITE_RGBA);
    ImfDeleteHeader(hdr);
    EXPECT_TRUE(out);
    if (!out)
        return path;
    std::vector<ImfRgba> px(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            ImfRgba &p = px[size_t(y) * w + x];
            ImfFloatToHalf(float(x), &p.r);
            ImfFloatToHalf(float(y), &p.g);
            ImfFloatToHalf(x == 1 && y == 1 ? special : 0.5f, &p.b);
            ImfFloatToHalf(0.25f, &p.a);
        }
    }
    const ImfRgba *base = px.data() - x0 - ptrdiff_t(y0) * w;
    EXPECT_TRUE(ImfOutputSetFrameBuffer(out, base, 1, size_t(w)));
    EXPECT_TRUE(ImfOutputWritePixels(out, h));
    EXPECT_TRUE(ImfCloseOutputFile(out));
    return path;
}

bool loadWhole(const QString &path, int &w, int &h, std::vector<float> &rgb, float &mn, float &mx)
{
    if (!imageLoader::getOpenEXRinfo(path, w, h))
        return false;
    rgb.assign(size_t(w) * h * 3, -1.0f);
    return imageLoader::loadOpenEXR(path, w, h, rgb.data(), mn, mx);
}

} // namespace

TEST(openEXR, realFilesOfEveryCompression)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct { const char *file; int w, h; } cases[] = {
        {"openexr/comp_zip.exr", 587, 675},
        {"openexr/comp_piz.exr", 587, 675},
        {"openexr/GammaChart.exr", 800, 800},             // PXR24, no alpha
        {"openexr/test.exr", 10, 20},                     // 32-bit float channels
        {"openexr/overexposed_gradient_float_piz.exr", 20, 12}, // float, values above 1
    };
    std::vector<std::vector<float>> images;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        int w = 0, h = 0;
        std::vector<float> rgb;
        float mn = 0, mx = 0;
        ASSERT_TRUE(loadWhole(testSupport::testDataFile(c.file), w, h, rgb, mn, mx));
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        EXPECT_LE(mn, mx);
        EXPECT_LE(mx, 65504.0f);
        size_t untouched = 0;
        for (float v : rgb)
            untouched += v == -1.0f;
        EXPECT_EQ(untouched, 0u);
        images.push_back(rgb);
        if (QString(c.file).contains("overexposed")) {
            EXPECT_GT(mx, 1.0f);
        }
    }
    // The ZIP and PIZ files hold the same picture.
    EXPECT_EQ(images[0], images[1]);
}

TEST(openEXR, dataWindowOriginAndInfinity)
{
    const QString path =
        writeWindowedFile(testSupport::freshDir() + "/win.exr", 10, 20, 6, 4, std::numeric_limits<float>::infinity());
    int w = 0, h = 0;
    std::vector<float> rgb;
    float mn = 0, mx = 0;
    ASSERT_TRUE(loadWhole(path, w, h, rgb, mn, mx));
    ASSERT_EQ(w, 6);
    ASSERT_EQ(h, 4);
    // Row 0 is file row 20, column 0 file column 10.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(rgb[(size_t(y) * w + x) * 3 + 0], float(x));
            EXPECT_EQ(rgb[(size_t(y) * w + x) * 3 + 1], float(y));
        }
    }
    EXPECT_EQ(rgb[(size_t(1) * w + 1) * 3 + 2], 65504.0f);
    EXPECT_EQ(mx, 65504.0f);
    EXPECT_EQ(mn, 0.0f);
    // A size other than the window's is refused.
    EXPECT_FALSE(imageLoader::loadOpenEXR(path, 5, 4, rgb.data(), mn, mx));
}

TEST(openEXR, writeThenRead)
{
    const int w = 33, h = 17;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = float(i % 97) * 3.7f + 0.01f;
    for (bool normalise : {false, true}) {
        SCOPED_TRACE(normalise);
        const QString path = testSupport::freshDir() + "/rt.exr";
        const double lo = 0.01, hi = 96 * 3.7 + 0.01;
        ASSERT_TRUE(imageSaver::saveOpenEXR(path, w, h, rgb.data(), normalise, lo, hi));
        EXPECT_FALSE(QFileInfo::exists(path + "~"));

        // PIZ, equal windows, alpha 1 everywhere.
        ImfInputFile *in = ImfOpenInputFile(QFile::encodeName(path).constData());
        ASSERT_TRUE(in);
        const ImfHeader *hdr = ImfInputHeader(in);
        EXPECT_EQ(ImfHeaderCompression(hdr), IMF_PIZ_COMPRESSION);
        int d[4], v[4];
        ImfHeaderDataWindow(hdr, &d[0], &d[1], &d[2], &d[3]);
        ImfHeaderDisplayWindow(hdr, &v[0], &v[1], &v[2], &v[3]);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d[i], v[i]);
        EXPECT_EQ(ImfInputChannels(in), IMF_WRITE_RGBA);
        std::vector<ImfRgba> px(size_t(w) * h);
        ASSERT_TRUE(ImfInputSetFrameBuffer(in, px.data(), 1, size_t(w)));
        ASSERT_TRUE(ImfInputReadPixels(in, 0, h - 1));
        ImfCloseInputFile(in);
        for (const ImfRgba &p : px)
            ASSERT_EQ(ImfHalfToFloat(p.a), 1.0f);

        int rw, rh;
        std::vector<float> back;
        float mn, mx;
        ASSERT_TRUE(loadWhole(path, rw, rh, back, mn, mx));
        ASSERT_EQ(rw, w);
        ASSERT_EQ(rh, h);
        for (size_t i = 0; i < rgb.size(); ++i) {
            const double expect = normalise ? (rgb[i] - lo) / (hi - lo) : rgb[i];
            ASSERT_NEAR(back[i], expect, std::fabs(expect) / 1024.0 + 1e-6) << i;
        }
    }
}

TEST(openEXR, failedWritesLeaveNoFile)
{
    const int w = 600, h = 400;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = float((i * 7919) % 10007) / 13.0f; // hard to compress

    const QString ro = writeFailure::readOnlyFolder(testSupport::freshDir("ro"));
    EXPECT_FALSE(imageSaver::saveOpenEXR(ro + "/x.exr", w, h, rgb.data(), false, 0, 1));
    EXPECT_FALSE(QFileInfo::exists(ro + "/x.exr"));

    for (rlim_t limit : {rlim_t(40 * 1024), rlim_t(900 * 1024)}) {
        SCOPED_TRACE(limit);
        const QString dir = testSupport::freshDir("full");
        const QString path = dir + "/x.exr";
        ASSERT_TRUE(testSupport::writeFile(path, "old contents"));
        {
            writeFailure::fileSizeLimit cut(limit);
            EXPECT_FALSE(imageSaver::saveOpenEXR(path, w, h, rgb.data(), false, 0, 1));
        }
        EXPECT_EQ(testSupport::readFile(path), QByteArray("old contents"));
        EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 1);
    }
}

TEST(openEXR, damagedFilesAreRefused)
{
    const QString dir = testSupport::freshDir();
    int w, h;
    std::vector<float> rgb;
    float mn, mx;
    EXPECT_FALSE(loadWhole(dir + "/missing.exr", w, h, rgb, mn, mx));
    ASSERT_TRUE(testSupport::writeFile(dir + "/junk.exr", QByteArray("v/1\x01 not an exr file at all")));
    EXPECT_FALSE(loadWhole(dir + "/junk.exr", w, h, rgb, mn, mx));
    LUMIDRA_REQUIRE_TESTDATA();
    const QByteArray real = testSupport::readFile(testSupport::testDataFile("openexr/comp_piz.exr"));
    ASSERT_TRUE(testSupport::writeFile(dir + "/cut.exr", real.left(real.size() / 2)));
    EXPECT_FALSE(loadWhole(dir + "/cut.exr", w, h, rgb, mn, mx));
}
