// EXIF reader: real camera files against exiftool's numeric values, and
// hand-built directories for the rules and the damaged-input cases.
#include "imageio/exifReader.h"

#include "testSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct exifScope {
    exifScope() { exifSetQuiet(true); std::memset(&info, 0, sizeof info); }
    ~exifScope() { exifFreeStripTables(&info); exifSetQuiet(false); }
    exifInfo_t info;
};

// One exiftool run for all files: numeric values, tags named by group.
QMap<QString, QJsonObject> exiftoolValues(const QStringList &paths)
{
    QProcess p;
    p.start("exiftool", QStringList{"-n", "-j", "-G1", "-a"} + paths);
    QMap<QString, QJsonObject> result;
    if (!p.waitForFinished(120000))
        return result;
    const QJsonArray a = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    for (const QJsonValue &v : a)
        result.insert(v.toObject().value("SourceFile").toString(), v.toObject());
    return result;
}

double num(const QJsonObject &o, const char *key)
{
    return o.value(key).toDouble(0);
}

// Little-endian TIFF directory builder for hand-made EXIF blocks.
struct tiffBuilder {
    std::vector<uint8_t> bytes{'I', 'I', 42, 0, 8, 0, 0, 0};
    void put16(size_t at, unsigned v) { bytes[at] = uint8_t(v); bytes[at + 1] = uint8_t(v >> 8); }
    void put32(size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i)); }
    struct entry { unsigned tag, format; uint32_t count, value; };
    // Appends a directory at the end; returns its offset.
    size_t directory(const std::vector<entry> &entries, uint32_t next = 0)
    {
        const size_t at = bytes.size();
        bytes.resize(at + 2 + 12 * entries.size() + 4);
        put16(at, unsigned(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            const size_t e = at + 2 + 12 * i;
            put16(e, entries[i].tag);
            put16(e + 2, entries[i].format);
            put32(e + 4, entries[i].count);
            put32(e + 8, entries[i].value);
        }
        put32(at + 2 + 12 * entries.size(), next);
        return at;
    }
    size_t rational(uint32_t n, uint32_t d)
    {
        const size_t at = bytes.size();
        bytes.resize(at + 8);
        put32(at, n);
        put32(at + 4, d);
        return at;
    }
};

// Wraps TIFF bytes into a minimal JPEG: SOI, APP1 "Exif", SOS.
QByteArray jpegWith(const std::vector<uint8_t> &tiff)
{
    QByteArray j("\xFF\xD8\xFF\xE1", 4);
    const int len = int(tiff.size()) + 8;
    j.append(char(len >> 8)).append(char(len & 0xff)).append("Exif\0\0", 6);
    j.append(reinterpret_cast<const char *>(tiff.data()), int(tiff.size()));
    j.append("\xFF\xDA\x00\x02", 4);
    return j;
}

} // namespace

TEST(exifReader, realFilesMatchExiftool)
{
    LUMIDRA_REQUIRE_TESTDATA();
    QStringList files;
    for (const char *folder : {"exif_jpeg", "brackets"}) {
        QDirIterator it(testSupport::testDataDir() + "/" + folder, {"*.jpg", "*.JPG"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    ASSERT_GE(files.size(), 28);
    const QMap<QString, QJsonObject> all = exiftoolValues(files);
    for (const QString &path : files) {
        SCOPED_TRACE(path.toStdString());
        const QJsonObject e = all.value(path);
        ASSERT_FALSE(e.isEmpty());
        exifScope s;
        exifInfo_t &x = s.info;
        ASSERT_TRUE(exifReadFile(path, &x));

        // exiftool drops trailing blanks; the record keeps the stored text.
        EXPECT_EQ(QString(x.make).trimmed(), e.value("IFD0:Make").toString().left(31).trimmed());
        EXPECT_EQ(QString(x.model).trimmed(), e.value("IFD0:Model").toString().left(39).trimmed());
        QString date = e.value("IFD0:ModifyDate").toString();
        if (date.isEmpty())
            date = e.value("ExifIFD:DateTimeOriginal").toString();
        EXPECT_EQ(QString(x.dateTime), date.left(19));
        double fNumber = num(e, "ExifIFD:FNumber");
        if (e.contains("ExifIFD:FNumber") && fNumber == 0)
            fNumber = 1;
        if (fNumber == 0)
            fNumber = e.contains("ExifIFD:ApertureValue") ? num(e, "ExifIFD:ApertureValue") : num(e, "ExifIFD:MaxApertureValue");
        EXPECT_NEAR(x.fNumber, fNumber, 1e-3 * fNumber);
        EXPECT_NEAR(x.focalLength, num(e, "ExifIFD:FocalLength"), 1e-4);
        double exposure = num(e, "ExifIFD:ExposureTime");
        if (exposure == 0)
            exposure = num(e, "ExifIFD:ShutterSpeedValue");
        EXPECT_NEAR(x.exposureTime, exposure, 1e-4 * exposure + 1e-9);
        EXPECT_NEAR(x.exposureBias, num(e, "ExifIFD:ExposureCompensation"), 1e-4);
        EXPECT_EQ(x.orientation, int(num(e, "IFD0:Orientation")));
        EXPECT_EQ(x.whiteBalance, int(num(e, "ExifIFD:WhiteBalance")));
        EXPECT_EQ(x.exposureMode, int(num(e, "ExifIFD:ExposureMode")));
        EXPECT_EQ(x.meteringMode, int(num(e, "ExifIFD:MeteringMode")));
        EXPECT_EQ(x.lightSource, int(num(e, "ExifIFD:LightSource")));
        EXPECT_EQ(x.exposureProgram, int(num(e, "ExifIFD:ExposureProgram")));
        int iso = int(num(e, "ExifIFD:ISO"));
        if (iso < 50)
            iso *= 200;
        if (iso == 0)
            iso = int(num(e, "ExifIFD:ExposureIndex"));
        EXPECT_EQ(x.iso, iso);
        EXPECT_EQ(x.exifImageWidth,
                  int(std::max(num(e, "ExifIFD:ExifImageWidth"), num(e, "ExifIFD:ExifImageHeight"))));
        EXPECT_NEAR(x.focalPlaneXResolution, num(e, "ExifIFD:FocalPlaneXResolution"), 1e-3);
        double f35 = num(e, "ExifIFD:FocalLengthIn35mmFormat");
        if (f35 == 0 && x.ccdWidth > 0 && x.focalLength != 0)
            f35 = x.focalLength / x.ccdWidth * 36 + 0.5;
        EXPECT_NEAR(x.focalLength35, f35, 1e-3);
        EXPECT_EQ(x.motorola, e.value("File:ExifByteOrder").toString() == "MM" ? 1 : 0);
    }
}

TEST(exifReader, directoryRules)
{
    tiffBuilder t;
    const size_t fnum = t.rational(0, 1);
    const size_t res = t.rational(1000, 1);
    const size_t focal = t.rational(50, 1);
    // IFD0 at 8 with an EXIF sub-directory.
    t.bytes.resize(64, 0);
    const uint32_t sub = 200;
    t.bytes.resize(sub, 0);
    t.directory({
        {0x829D, 5, 1, uint32_t(fnum)},   // FNumber 0/1 -> 1.0
        {0x8827, 3, 1, 2},                // ISO 2 -> 400
        {0x920A, 5, 1, uint32_t(focal)},
        {0xA002, 4, 1, 4000},
        {0xA003, 4, 1, 3000},
        {0xA20E, 5, 1, uint32_t(res)},    // 1000 per cm
        {0xA210, 3, 1, 3},
    });
    const size_t ifd0 = t.bytes.size();
    t.directory({{0x0112, 3, 1, 6}, {0x8769, 4, 1, sub}});
    t.put32(4, uint32_t(ifd0));
    exifScope s;
    exifProcessHeader(t.bytes.data(), unsigned(t.bytes.size()), &s.info);
    EXPECT_FLOAT_EQ(s.info.fNumber, 1.0f);
    EXPECT_EQ(s.info.iso, 400);
    EXPECT_EQ(s.info.orientation, 6);
    EXPECT_EQ(s.info.exifImageWidth, 4000);
    EXPECT_FLOAT_EQ(s.info.ccdWidth, 40.0f);
    EXPECT_FLOAT_EQ(s.info.focalLength35, 50.0f / 40.0f * 36 + 0.5f);

    // ApertureValue 4 alone gives f/4; ShutterSpeedValue 6 gives 1/64 s.
    tiffBuilder a;
    const size_t av = a.rational(4, 1);
    const size_t tv = a.rational(6, 1);
    a.put32(4, uint32_t(a.bytes.size()));
    a.directory({{0x9201, 10, 1, uint32_t(tv)}, {0x9202, 5, 1, uint32_t(av)}, {0x0112, 3, 1, 11}});
    a.bytes.resize(a.bytes.size() + 16, 0);
    exifScope s2;
    exifProcessHeader(a.bytes.data(), unsigned(a.bytes.size()), &s2.info);
    EXPECT_FLOAT_EQ(s2.info.fNumber, 4.0f);
    EXPECT_FLOAT_EQ(s2.info.exposureTime, 1.0f / 64);
    EXPECT_EQ(s2.info.orientation, 0); // 11 is undefined
}

TEST(exifReader, nestingLimitKeepsWhatWasRead)
{
    // A chain of directories each linking to the next: the walk stops at the
    // nesting limit, keeping the values read so far.
    tiffBuilder t;
    std::vector<size_t> dirs;
    for (int i = 0; i < 8; ++i)
        dirs.push_back(t.directory({{0x8827, 3, 1, uint32_t(100 + i)}}, 0));
    for (size_t i = 0; i + 1 < dirs.size(); ++i)
        t.put32(dirs[i] + 2 + 12, uint32_t(dirs[i + 1]));
    t.bytes.resize(t.bytes.size() + 16, 0);
    exifScope s;
    exifProcessHeader(t.bytes.data(), unsigned(t.bytes.size()), &s.info);
    EXPECT_EQ(s.info.iso, 104); // levels 0..4 were read

    // A directory linking to itself ends as well.
    tiffBuilder loop;
    const size_t at = loop.directory({{0x8827, 3, 1, 100}, {0x8769, 4, 1, 8}}, 8);
    loop.bytes.resize(loop.bytes.size() + 16, 0);
    ASSERT_EQ(at, 8u);
    exifScope s2;
    exifProcessHeader(loop.bytes.data(), unsigned(loop.bytes.size()), &s2.info);
    EXPECT_EQ(s2.info.iso, 100);
}

TEST(exifReader, damagedInputStaysInBounds)
{
    // Every case runs on an exact-size heap copy so ASan sees any overread.
    auto run = [](const std::vector<uint8_t> &bytes) {
        exifScope s;
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
        if (!bytes.empty())
            std::memcpy(exact.get(), bytes.data(), bytes.size());
        exifProcessHeader(exact.get(), unsigned(bytes.size()), &s.info);
        return s.info.iso;
    };
    tiffBuilder base;
    base.directory({{0x8827, 3, 1, 100}});
    // Offset + count that wraps in 32 bits.
    tiffBuilder wrap;
    wrap.directory({{0x010F, 2, 0x100, 0xFFFFFF80u}, {0x8827, 3, 1, 100}});
    wrap.bytes.resize(wrap.bytes.size() + 8, 0);
    // A rational with count 0 as the last entry, right at the data end.
    tiffBuilder zero;
    zero.directory({{0x829D, 5, 0, 0}});
    zero.bytes.resize(zero.bytes.size() - 4);
    // Entry count far beyond the data.
    tiffBuilder many;
    many.directory({{0x8827, 3, 1, 100}});
    many.put16(8, 5000);
    // Sub-directory link at the very end of the data.
    tiffBuilder link;
    link.directory({{0x8769, 4, 1, 0}});
    link.put32(8 + 2 + 8, uint32_t(link.bytes.size()));
    // First IFD offset near 2^32.
    tiffBuilder first;
    first.put32(4, 0xFFFFFFF0u);
    first.bytes.resize(64, 0);

    EXPECT_EQ(run(base.bytes), 100);
    EXPECT_EQ(run(wrap.bytes), 100);
    run(zero.bytes);
    EXPECT_EQ(run(many.bytes), 0);
    run(link.bytes);
    run(first.bytes);
    for (size_t n = 0; n < 16; ++n) // headers shorter than the checks assume
        run(std::vector<uint8_t>(base.bytes.begin(), base.bytes.begin() + long(std::min(n, base.bytes.size()))));
}

TEST(exifReader, jpegSectionScan)
{
    const QString dir = testSupport::freshDir();
    tiffBuilder t;
    t.directory({{0x8827, 3, 1, 800}});
    t.bytes.resize(t.bytes.size() + 16, 0);
    struct jpegCase {
        const char *name;
        QByteArray bytes;
        bool ok;
        int iso;
    };
    const QByteArray sos("\xFF\xDA\x00\x02", 4);
    const jpegCase cases[] = {
        {"exif", jpegWith(t.bytes), true, 800},
        {"no APP1", QByteArray("\xFF\xD8\xFF\xE0\x00\x04\x00\x00", 8) + sos, true, 0},
        {"not a JPEG", QByteArray("GIF89a"), false, 0},
        {"short APP1 (length 2..7)", QByteArray("\xFF\xD8\xFF\xE1\x00\x04" "Ex", 8) + sos, true, 0},
        {"APP1 of exactly 8", QByteArray("\xFF\xD8\xFF\xE1\x00\x08" "Exif\0\0", 12) + sos, true, 0},
        {"APP1 with 4 TIFF bytes", QByteArray("\xFF\xD8\xFF\xE1\x00\x0C" "Exif\0\0II*\0", 16) + sos, true, 0},
        {"invalid length", QByteArray("\xFF\xD8\xFF\xE1\x00\x01", 6), false, 0},
        {"truncated section", QByteArray("\xFF\xD8\xFF\xE1\x01\x00" "Exif", 10), false, 0},
        {"padding", QByteArray("\xFF\xD8") + QByteArray(12, '\xFF') + QByteArray("\xE1\x00\x02", 3), false, 0},
        {"end before scan", QByteArray("\xFF\xD8\xFF\xE0\x00\x02", 6), false, 0},
    };
    for (const jpegCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + "/f.jpg";
        ASSERT_TRUE(testSupport::writeFile(path, c.bytes));
        exifScope s;
        EXPECT_EQ(exifReadFile(path, &s.info), c.ok);
        EXPECT_EQ(s.info.iso, c.iso);
        if (c.ok) {
            EXPECT_EQ(s.info.orientation, 0);
        }
    }
    exifScope s;
    EXPECT_FALSE(exifReadFile(dir + "/missing.jpg", &s.info));
    EXPECT_STREQ(exifLightSourceName(11), "Shade");
    EXPECT_STREQ(exifLightSourceName(7), "?");
}
