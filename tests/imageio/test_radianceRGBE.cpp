#include "imageio/radianceRGBE.h"

#include "testSupport.h"
#include "writeFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// A straightforward decoding of the published Radiance format, written
// independently of the reader: header up to the empty line, resolution line,
// then new-style run-length or flat scanlines. Values use the program's
// convention, 256 times the usual Radiance scale.
struct referenceImage {
    int width = 0, height = 0;
    std::vector<float> rgb;
};

bool referenceDecode(const QByteArray &file, referenceImage &img)
{
    const int headerEnd = file.indexOf("\n\n");
    if (headerEnd < 0)
        return false;
    int pos = headerEnd + 2;
    const int lineEnd = file.indexOf('\n', pos);
    const QList<QByteArray> res = file.mid(pos, lineEnd - pos).split(' ');
    if (res.size() != 4)
        return false;
    img.height = res[1].toInt();
    img.width = res[3].toInt();
    pos = lineEnd + 1;
    const int w = img.width;
    img.rgb.assign(size_t(w) * img.height * 3, 0.0f);
    auto byteAt = [&](int i) -> int { return i < file.size() ? uint8_t(file[i]) : -1; };
    std::vector<uint8_t> line(size_t(w) * 4);
    for (int y = 0; y < img.height; ++y) {
        const bool rle = w >= 8 && w < 32768 && byteAt(pos) == 2 && byteAt(pos + 1) == 2 && byteAt(pos + 2) < 128;
        if (rle) {
            pos += 4;
            for (int c = 0; c < 4; ++c) {
                for (int x = 0; x < w;) {
                    int n = byteAt(pos++);
                    if (n > 128) {
                        n -= 128;
                        const int v = byteAt(pos++);
                        while (n--)
                            line[size_t(x++) * 4 + c] = uint8_t(v);
                    } else {
                        while (n--)
                            line[size_t(x++) * 4 + c] = uint8_t(byteAt(pos++));
                    }
                }
            }
        } else {
            for (int i = 0; i < w * 4; ++i)
                line[i] = uint8_t(byteAt(pos++));
        }
        for (int x = 0; x < w; ++x) {
            const int e = line[size_t(x) * 4 + 3];
            // Values beyond the float range (large exponents at this scale)
            // are held at the largest float.
            for (int c = 0; c < 3; ++c)
                img.rgb[(size_t(y) * w + x) * 3 + c] = e == 0 ? 0.0f
                    : float(std::min(std::ldexp(double(line[size_t(x) * 4 + c]), e - 136) * 256.0,
                                     double(std::numeric_limits<float>::max())));
        }
    }
    return pos <= file.size();
}

QString writeBytes(const QString &name, const QByteArray &bytes)
{
    const QString path = testSupport::freshDir() + "/" + name;
    EXPECT_TRUE(testSupport::writeFile(path, bytes));
    return path;
}

QByteArray header(const char *extra, int w, int h)
{
    return QByteArray("#?RADIANCE\n") + extra + "\n\n" + QByteArray("-Y ") + QByteArray::number(h) + " +X " +
           QByteArray::number(w) + "\n";
}

} // namespace

TEST(radianceRGBE, realFilesMatchReferenceDecoding)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct { const char *file; int w, h; } cases[] = {
        {"radiance/image1.hdr", 128, 85},       // run-length scanlines
        {"radiance/scale.hdr", 256, 8},         // flat scanlines, whole exponent range
        {"radiance/rgbr4x4.hdr", 4, 4},         // flat, too narrow for run-length
        {"radiance/mpi_atrium_3.hdr", 1024, 676} // photograph, run-length, EXPOSURE line
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = testSupport::testDataFile(c.file);
        ASSERT_FALSE(path.isEmpty());
        int w = 0, h = 0;
        double prim[8];
        bool primPresent = true;
        ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(path, w, h, prim, primPresent));
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        EXPECT_FALSE(primPresent);
        std::vector<float> rgb(size_t(w) * h * 3, -1.0f);
        float mn = 0, mx = 0;
        ASSERT_TRUE(imageLoader::loadRadianceRGBE(path, w, h, rgb.data(), mn, mx));

        referenceImage ref;
        ASSERT_TRUE(referenceDecode(testSupport::readFile(path), ref));
        ASSERT_EQ(ref.rgb.size(), rgb.size());
        double refMin = 9e9, refMax = 0;
        size_t bad = 0;
        for (size_t i = 0; i < rgb.size(); ++i) {
            refMin = std::min(refMin, double(ref.rgb[i]));
            refMax = std::max(refMax, double(ref.rgb[i]));
            // Exponent 0 is black for the usual decoders and a tiny value here.
            if (std::fabs(rgb[i] - ref.rgb[i]) > 1e-30 + 1e-6 * std::fabs(ref.rgb[i]))
                ++bad;
        }
        EXPECT_EQ(bad, 0u);
        EXPECT_NEAR(mx, refMax, 1e-6 * refMax);
        EXPECT_NEAR(mn, refMin, 1e-30 + 1e-6 * refMin);
    }
}

TEST(radianceRGBE, pixelScaleAndOrientation)
{
    // A 2 x 2 flat file whose resolution line says +Y: the first scanline is
    // still the top row. Pixel (128, 64, 32, 129) is (256, 128, 64).
    QByteArray bytes = header("FORMAT=32-bit_rle_rgbe", 2, 2).replace("-Y", "+Y");
    const uint8_t px[] = {128, 64, 32, 129, 0, 0, 0, 0, 1, 1, 2, 128, 255, 0, 0, 130};
    bytes.append(reinterpret_cast<const char *>(px), sizeof px);
    const QString path = writeBytes("px.hdr", bytes);
    int w = 0, h = 0;
    double prim[8];
    bool present = false;
    ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(path, w, h, prim, present));
    ASSERT_EQ(w, 2);
    ASSERT_EQ(h, 2);
    float rgb[12];
    float mn, mx;
    ASSERT_TRUE(imageLoader::loadRadianceRGBE(path, 2, 2, rgb, mn, mx));
    EXPECT_FLOAT_EQ(rgb[0], 256.0f);
    EXPECT_FLOAT_EQ(rgb[1], 128.0f);
    EXPECT_FLOAT_EQ(rgb[2], 64.0f);
    EXPECT_FLOAT_EQ(rgb[6], 1.0f);
    EXPECT_FLOAT_EQ(rgb[9], 1020.0f);
    EXPECT_FLOAT_EQ(mx, 1020.0f);
    EXPECT_FLOAT_EQ(mn, 0.0f);
    // A size other than the one the info call gave is refused.
    EXPECT_FALSE(imageLoader::loadRadianceRGBE(path, 2, 3, rgb, mn, mx));
}

TEST(radianceRGBE, headerRules)
{
    const uint8_t px[4 * 4] = {};
    struct { const char *name; QByteArray headerLines; bool accepted; bool primaries; } cases[] = {
        {"noFormat", "# no format line", true, false},
        {"rgbe", "FORMAT=32-bit_rle_rgbe", true, false},
        {"xyze", "FORMAT=32-bit_rle_xyze", false, false},
        {"primaries", "FORMAT=32-bit_rle_rgbe\nPRIMARIES=0.64 0.33 0.3 0.6 0.15 0.06 0.3127 0.329", true, true},
        {"exposure", "EXPOSURE=2.5\nSOFTWARE=x", true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = header(c.headerLines.constData(), 2, 2);
        bytes.append(reinterpret_cast<const char *>(px), sizeof px);
        const QString path = writeBytes(QString(c.name) + ".hdr", bytes);
        int w = 0, h = 0;
        double prim[8] = {};
        bool present = false;
        EXPECT_EQ(imageLoader::getRadianceRGBEinfo(path, w, h, prim, present), c.accepted);
        EXPECT_EQ(present, c.primaries);
        if (c.primaries) {
            EXPECT_DOUBLE_EQ(prim[0], 0.64);
            EXPECT_DOUBLE_EQ(prim[7], 0.329);
        }
    }
}

TEST(radianceRGBE, headerLineIsCut)
{
    const QString path = writeBytes("long.txt", QByteArray(300, 'a') + "\nshort\n");
    FILE *f = fopen(QFile::encodeName(path).constData(), "rb");
    ASSERT_TRUE(f);
    char buf[imageLoader::RADIANCE_LINE_SIZE];
    EXPECT_EQ(imageLoader::readHeaderLine(f, buf), 254);
    EXPECT_EQ(imageLoader::readHeaderLine(f, buf), 45); // the rest of the long line
    EXPECT_EQ(imageLoader::readHeaderLine(f, buf), 5);
    EXPECT_STREQ(buf, "short");
    EXPECT_EQ(imageLoader::readHeaderLine(f, buf), 0);
    fclose(f);
}

TEST(radianceRGBE, damagedFilesAreRefused)
{
    // Run-length scanline of width 8 whose run overflows the row, a truncated
    // file, a length that differs from the width, and a header that promises a
    // huge image in a few bytes.
    QByteArray overflow = header("FORMAT=32-bit_rle_rgbe", 8, 1);
    overflow.append("\x02\x02\x00\x08", 4);
    overflow.append("\xff\x01", 2); // a run of 127 into 8 bytes
    overflow.append(QByteArray(64, '\x01'));
    QByteArray wrongLength = header("FORMAT=32-bit_rle_rgbe", 8, 1);
    wrongLength.append("\x02\x02\x00\x09", 4);
    wrongLength.append(QByteArray(64, '\x01'));
    QByteArray huge = header("FORMAT=32-bit_rle_rgbe", 30000, 30000);
    huge.append(QByteArray(64, '\x01'));
    struct { const char *name; QByteArray bytes; bool infoOk; } cases[] = {
        {"overflow", overflow, true},
        {"wrongLength", wrongLength, true},
        {"huge", huge, false},
        {"noResolution", QByteArray("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n"), false},
        {"negative", header("", -5, 4) + QByteArray(100, 0), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeBytes(QString(c.name) + ".hdr", c.bytes);
        int w = 0, h = 0;
        double prim[8];
        bool present;
        ASSERT_EQ(imageLoader::getRadianceRGBEinfo(path, w, h, prim, present), c.infoOk);
        if (c.infoOk) {
            std::vector<float> rgb(size_t(w) * h * 3);
            float mn, mx;
            EXPECT_FALSE(imageLoader::loadRadianceRGBE(path, w, h, rgb.data(), mn, mx));
        }
    }
    LUMIDRA_REQUIRE_TESTDATA();
    // A real file cut in the middle of its pixels.
    const QByteArray real = testSupport::readFile(testSupport::testDataFile("radiance/image1.hdr"));
    const QString cut = writeBytes("cut.hdr", real.left(real.size() / 2));
    int w = 0, h = 0;
    double prim[8];
    bool present;
    if (imageLoader::getRadianceRGBEinfo(cut, w, h, prim, present)) {
        std::vector<float> rgb(size_t(w) * h * 3);
        float mn, mx;
        EXPECT_FALSE(imageLoader::loadRadianceRGBE(cut, w, h, rgb.data(), mn, mx));
    }
}

TEST(radianceRGBE, writerBytes)
{
    struct { float r, g, b; uint8_t expect[4]; } cases[] = {
        {1.0f, 0.5f, 0.25f, {128, 64, 32, 129}},
        {0.0f, 0.0f, 0.0f, {0, 0, 0, 0}},
        {1e-39f, 2e-39f, 0.0f, {0, 0, 0, 0}},
        {-1.0f, 0.5f, 0.0f, {0, 128, 0, 128}},
    };
    for (const auto &c : cases) {
        uint8_t out[4];
        imageSaver::encodeRGBE(c.r, c.g, c.b, out);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(out[i], c.expect[i]) << c.r << " " << c.g << " " << c.b << " byte " << i;
    }

    // The header and the first pixel of a written file.
    const QString path = testSupport::freshDir() + "/one.hdr";
    const float px[3] = {1.0f, 0.5f, 0.25f};
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(path, 1, 1, px, false, 0, 1));
    const QByteArray bytes = testSupport::readFile(path);
    EXPECT_EQ(bytes, QByteArray("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nSOFTWARE=Lumidra " LUMIDRA_VERSION "\n\n-Y 1 +X 1\n") +
                         QByteArray("\x80\x40\x20\x81", 4));
}

TEST(radianceRGBE, writeThenReadRoundTrip)
{
    const int w = 37, h = 23;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = float(std::pow(2.0, double(i % 41) - 20.0) * (1.0 + (i % 7) / 10.0));
    for (bool normalise : {false, true}) {
        SCOPED_TRACE(normalise);
        const QString path = testSupport::freshDir() + "/rt.hdr";
        const double mn = 0.0, mx = 4096.0;
        ASSERT_TRUE(imageSaver::saveRadianceRGBE(path, w, h, rgb.data(), normalise, mn, mx));
        int rw = 0, rh = 0;
        double prim[8];
        bool present;
        ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(path, rw, rh, prim, present));
        ASSERT_EQ(rw, w);
        ASSERT_EQ(rh, h);
        std::vector<float> back(rgb.size());
        float rmin, rmax;
        ASSERT_TRUE(imageLoader::loadRadianceRGBE(path, w, h, back.data(), rmin, rmax));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const float *p = &rgb[(size_t(y) * w + x) * 3];
                const float *q = &back[(size_t(y) * w + x) * 3];
                const double m = std::max({p[0], p[1], p[2]}) / (normalise ? mx : 1.0);
                for (int c = 0; c < 3; ++c) {
                    const double expect = (normalise ? (p[c] - mn) / (mx - mn) : p[c]) * 256.0;
                    // Eight bits of mantissa shared by the pixel.
                    ASSERT_NEAR(q[c], expect, m * 256.0 / 128.0 + 1e-30) << x << "," << y << " c" << c;
                }
            }
        }
    }
}

TEST(radianceRGBE, failedWritesLeaveNoFile)
{
    const int w = 512, h = 256;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = float(i % 1000) / 7.0f;

    // A folder nobody may create files in.
    const QString ro = writeFailure::readOnlyFolder(testSupport::freshDir("ro"));
    EXPECT_FALSE(imageSaver::saveRadianceRGBE(ro + "/x.hdr", w, h, rgb.data(), false, 0, 1));
    EXPECT_FALSE(QFileInfo::exists(ro + "/x.hdr"));

    // A write cut short (as by a full disk): the old file stays as it was and
    // no temporary file is left.
    const QString dir = testSupport::freshDir("full");
    const QString path = dir + "/x.hdr";
    ASSERT_TRUE(testSupport::writeFile(path, "old contents"));
    {
        writeFailure::fileSizeLimit limit(64 * 1024);
        EXPECT_FALSE(imageSaver::saveRadianceRGBE(path, w, h, rgb.data(), false, 0, 1));
    }
    EXPECT_EQ(testSupport::readFile(path), QByteArray("old contents"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 1);
}

TEST(radianceRGBE, everyShortWriteFailsTheSave)
{
    // A small image whose header and scanlines are far below any write
    // buffer: a full disk cuts the file at every possible place, from inside
    // the header to the last byte of the last scanline.
    const int w = 40, h = 9;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = 0.01f + float(i % 97) / 13.0f;
    const QString dir = testSupport::freshDir("short");
    const QString path = dir + "/x.hdr";
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(path, w, h, rgb.data(), false, 0, 1));
    const qint64 total = QFileInfo(path).size();
    const qint64 header = total - qint64(w) * h * 4;
    ASSERT_GT(header, 20);

    const qint64 cuts[] = {0, 1, header - 1, header, header + 3, header + w * 4, total / 2, total - 4, total - 1};
    for (qint64 cut : cuts) {
        SCOPED_TRACE(cut);
        ASSERT_TRUE(testSupport::writeFile(path, "old contents"));
        {
            writeFailure::fileSizeLimit limit{rlim_t(cut)};
            EXPECT_FALSE(imageSaver::saveRadianceRGBE(path, w, h, rgb.data(), false, 0, 1));
        }
        EXPECT_EQ(testSupport::readFile(path), QByteArray("old contents"));
        EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
    // Exactly enough room: the save succeeds and reads back whole.
    {
        writeFailure::fileSizeLimit limit{rlim_t(total)};
        EXPECT_TRUE(imageSaver::saveRadianceRGBE(path, w, h, rgb.data(), false, 0, 1));
    }
    EXPECT_EQ(QFileInfo(path).size(), total);
    std::vector<float> back(rgb.size());
    float mn = 0, mx = 0;
    ASSERT_TRUE(imageLoader::loadRadianceRGBE(path, w, h, back.data(), mn, mx));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(radianceRGBE, olderRunLengthCoding)
{
    // Width 300, two rows. Row 0: pixel A = (256, 128, 64), then a run of 43 and a following
    // run pixel worth 1 << 8: 1 + 43 + 256 = 300. Row 1 starts with runs of
    // the last pixel of row 0 (44 + 256 = 300).
    QByteArray bytes = header("FORMAT=32-bit_rle_rgbe", 300, 2);
    const uint8_t data[] = {128, 64, 32, 129, 1, 1, 1, 43, 1, 1, 1, 1, 1, 1, 1, 44, 1, 1, 1, 1};
    bytes.append(reinterpret_cast<const char *>(data), sizeof data);
    const QString path = writeBytes("old.hdr", bytes);
    int w = 0, h = 0;
    double prim[8];
    bool present = false;
    QString reason;
    ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(path, w, h, prim, present, &reason)) << qPrintable(reason);
    ASSERT_EQ(w, 300);
    ASSERT_EQ(h, 2);
    std::vector<float> rgb(size_t(w) * h * 3, -1.0f);
    float mn, mx;
    ASSERT_TRUE(imageLoader::loadRadianceRGBE(path, w, h, rgb.data(), mn, mx));
    for (int i = 0; i < w * h; ++i) {
        ASSERT_FLOAT_EQ(rgb[size_t(i) * 3 + 0], 256.0f) << "pixel " << i;
        ASSERT_FLOAT_EQ(rgb[size_t(i) * 3 + 1], 128.0f) << "pixel " << i;
        ASSERT_FLOAT_EQ(rgb[size_t(i) * 3 + 2], 64.0f) << "pixel " << i;
    }

    // Runs mixed with flat pixels, in a width too narrow for the newer coding.
    QByteArray narrow = header("FORMAT=32-bit_rle_rgbe", 5, 1);
    const uint8_t px[] = {0, 0, 128, 130, 1, 1, 1, 2, 255, 0, 0, 129, 0, 0, 0, 0};
    narrow.append(reinterpret_cast<const char *>(px), sizeof px);
    const QString narrowPath = writeBytes("narrow.hdr", narrow);
    ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(narrowPath, w, h, prim, present));
    float line[15];
    ASSERT_TRUE(imageLoader::loadRadianceRGBE(narrowPath, 5, 1, line, mn, mx));
    const float expected[15] = {0, 0, 512, 0, 0, 512, 0, 0, 512, 510, 0, 0, 0, 0, 0};
    for (int i = 0; i < 15; ++i)
        EXPECT_FLOAT_EQ(line[i], expected[i]) << i;

    // A row ended by a run, followed by a flat row (pixel i of row 1 has red
    // 10 + i): the reader must not take row 1's pixels into row 0.
    QByteArray twoRows = header("FORMAT=32-bit_rle_rgbe", 8, 2);
    const uint8_t row0[] = {200, 0, 0, 128, 100, 0, 0, 128, 1, 1, 1, 6};
    twoRows.append(reinterpret_cast<const char *>(row0), sizeof row0);
    for (int i = 0; i < 8; ++i) {
        const uint8_t p[4] = {uint8_t(10 + i), 0, 0, 128};
        twoRows.append(reinterpret_cast<const char *>(p), 4);
    }
    const QString twoRowsPath = writeBytes("tworows.hdr", twoRows);
    ASSERT_TRUE(imageLoader::getRadianceRGBEinfo(twoRowsPath, w, h, prim, present));
    float both[8 * 2 * 3];
    ASSERT_TRUE(imageLoader::loadRadianceRGBE(twoRowsPath, 8, 2, both, mn, mx));
    EXPECT_FLOAT_EQ(both[0], 200.0f);
    for (int x = 1; x < 8; ++x)
        EXPECT_FLOAT_EQ(both[x * 3], 100.0f) << x;
    for (int x = 0; x < 8; ++x)
        EXPECT_FLOAT_EQ(both[(8 + x) * 3], float(10 + x)) << x;
}

TEST(radianceRGBE, refusalsSayWhy)
{
    // Every refusal of the info step carries a reason; files in the older
    // coding are checked to the end before the image could be allocated.
    auto withPixels = [](const char *format, int w, int h, std::initializer_list<uint8_t> px) {
        QByteArray b = header(format, w, h);
        for (uint8_t v : px)
            b.append(char(v));
        return b;
    };
    struct { const char *name; QByteArray bytes; const char *reason; } cases[] = {
        {"notRadiance", QByteArray("hello\n"), "header or size line"},
        {"xyze", withPixels("FORMAT=32-bit_rle_xyze", 1, 1, {1, 2, 3, 4}), "32-bit_rle_rgbe"},
        {"noPixels", header("FORMAT=32-bit_rle_rgbe", 4, 4), "no pixel data"},
        {"hugeNewStyle", withPixels("FORMAT=32-bit_rle_rgbe", 30000, 30000, {2, 2, 0x75, 0x30, 0x81, 0}), "too short"},
        // 20000 x 20000 in the older coding: one pixel and repeat runs per row
        // would need 20000 rows; the file holds two.
        {"hugeOldStyle", withPixels("FORMAT=32-bit_rle_rgbe", 20000, 20000, {9, 9, 9, 128, 1, 1, 1, 0x1f, 1, 1, 1, 0x4e,
                                                       1, 1, 1, 0x20, 1, 1, 1, 0x4e}), "too short"},
        {"runPastRowEnd", withPixels("FORMAT=32-bit_rle_rgbe", 4, 1, {9, 9, 9, 128, 1, 1, 1, 4}), "runs are damaged"},
        {"runWithoutPixel", withPixels("FORMAT=32-bit_rle_rgbe", 4, 1, {1, 1, 1, 4}), "runs are damaged"},
        {"oldStyleCut", withPixels("FORMAT=32-bit_rle_rgbe", 4, 2, {9, 9, 9, 128, 1, 1, 1, 3, 5, 5, 5}), "too short"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeBytes(QString(c.name) + ".hdr", c.bytes);
        int w = 0, h = 0;
        double prim[8];
        bool present = false;
        QString reason;
        EXPECT_FALSE(imageLoader::getRadianceRGBEinfo(path, w, h, prim, present, &reason));
        EXPECT_TRUE(reason.contains(QLatin1String(c.reason))) << qPrintable(reason);
    }
    QString reason;
    int w = 0, h = 0;
    double prim[8];
    bool present = false;
    EXPECT_FALSE(imageLoader::getRadianceRGBEinfo(testSupport::freshDir() + "/missing.hdr", w, h, prim, present,
                                                  &reason));
    EXPECT_TRUE(reason.contains(QLatin1String("Cannot open"))) << qPrintable(reason);
}
