#include "documents/projectFile.h"
#include "documents/saveProjectOpts.h"

#include "app/programOptionsSettings.h"
#include "app/rawFileIO.h"

#include "../imageio/writeFailure.h"
#include "testSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace
{
using filePtr = std::unique_ptr<FILE, int (*)(FILE *)>;

uint64_t le(const uint8_t *b, int at, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | b[at + i];
    return v;
}

double leDouble(const uint8_t *b, int at)
{
    const uint64_t bits = le(b, at, 8);
    double d;
    memcpy(&d, &bits, 8);
    return d;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A small project as the save worker would write it: three photos, a ghost
// mask, layers 0, 1 and 3 with masks and settings, and the HDR image.
struct sample_t {
    int w = 40, h = 30;
    std::vector<std::vector<uint16_t>> photos;
    std::vector<uint8_t> ghost;
    std::vector<uint8_t> masks[PROJECT_FILE_LAYER_SLOTS];
    QByteArray settings[PROJECT_FILE_LAYER_SLOTS];
    QByteArray exif;
    std::vector<float> hdr;
    projectFileHeader_t header;
};

sample_t makeSample()
{
    sample_t s;
    std::mt19937 rng(7);
    for (int p = 0; p < 3; ++p) {
        std::vector<uint16_t> px(size_t(s.w) * s.h * 3);
        for (size_t i = 0; i < px.size(); ++i)
            px[i] = uint16_t((i * 37 + p * 9000 + rng() % 64) & 0xFFC0);
        s.photos.push_back(px);
    }
    s.ghost.assign(size_t(s.w) * s.h, 0);
    for (size_t i = 0; i < s.ghost.size(); ++i)
        s.ghost[i] = uint8_t(i % 4); // 0 = no photo, 1..3 the photos' labels
    for (int l : {1, 3}) {
        s.masks[l].resize(size_t(s.w) * s.h);
        for (size_t i = 0; i < s.masks[l].size(); ++i)
            s.masks[l][i] = uint8_t((i * l) & 0xff);
    }
    for (int l : {0, 1, 3})
        s.settings[l] = QByteArray("[Tone mapping]\nlayer=") + QByteArray::number(l) + "\n";
    s.exif = QByteArray("\xff\xd8 a small carrier \xff\xd9", 20);
    s.hdr.resize(size_t(s.w) * s.h * 3);
    for (size_t i = 0; i < s.hdr.size(); ++i)
        s.hdr[i] = float(i) * 0.01f + 0.5f;

    projectFileHeader_t &h = s.header;
    h.width = s.w;
    h.height = s.h;
    h.ghostWidth = s.w;
    h.ghostHeight = s.h;
    const char *names[3] = {"IMG_0001.JPG", "IMG_0002.JPG", "Übersicht–3.tif"};
    const double evs[3] = {-2.0, 0.0, 2.0};
    for (int p = 0; p < 3; ++p) {
        h.photoNames[p] = QString::fromUtf8(names[p]);
        h.evs[p] = evs[p];
        h.ghostLabels[p] = p + 1;
    }
    h.layerNames[1] = "sky";
    h.layerNames[3] = "foreground";
    h.layerOpacity[0] = 1.0;
    h.layerOpacity[1] = 0.5;
    h.layerOpacity[3] = 0.25;
    h.evSource = 2;
    h.autoAlign = 1;
    h.hdrMethod = 1;
    h.selectivity = 3;
    h.smartMerge = 7;
    h.deghost = 1;
    h.noiseFilter = 1;
    h.noiseStrength = 40;
    h.noiseSoftness = 12;
    h.panorama = 1;
    h.autoLens = 1;
    h.hdrPreprocess[0] = 0.125;
    h.hdrPreprocess[1] = 3.5;
    return s;
}

// Writes the sample in the payload order of a saved project.
bool writeSample(sample_t &s, const QString &path, int32_t blockSize = PROJECT_FILE_BLOCK_SIZE,
                 QString *error = nullptr)
{
    projectFileWriter w(path, blockSize);
    bool ok = w.begin();
    projectFileHeader_t &h = s.header;
    for (int p = 0; ok && p < 3; ++p) {
        ok = w.writeRun(s.photos[size_t(p)].data(), s.photos[size_t(p)].size() * 2, &h.pixelOffsets[p]);
        if (ok && p == 1)
            ok = w.writeRawBlock(s.exif, &h.exifOffsets[p]);
    }
    ok = ok && w.writeRun(s.ghost.data(), s.ghost.size(), &h.ghostMaskOffset);
    for (int l = 0; ok && l < PROJECT_FILE_LAYER_SLOTS; ++l) {
        if (s.settings[l].isEmpty())
            continue;
        if (l > 0)
            ok = w.writeRun(s.masks[l].data(), s.masks[l].size(), &h.layerMaskOffsets[l]);
        ok = ok && w.writeRawBlock(s.settings[l], &h.layerSettingsOffsets[l]);
    }
    ok = ok && w.writeRun(s.hdr.data(), s.hdr.size() * 4, &h.hdrOffset);
    ok = ok && w.finish(h);
    if (error)
        *error = w.errorText();
    return ok;
}

class projectFileTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testSupport::freshDir(); }
    QString dir;
};

} // namespace

// The header bytes sit where stored files put them.
TEST_F(projectFileTest, headerFieldsSitAtTheirOffsets)
{
    sample_t s = makeSample();
    s.header.pixelOffsets[0] = 65536;
    s.header.pixelOffsets[2] = 0x123456789LL;
    s.header.exifOffsets[1] = 70000;
    s.header.layerMaskOffsets[3] = 80000;
    s.header.layerSettingsOffsets[1] = 90000;
    s.header.ghostMaskOffset = 100000;
    s.header.hdrOffset = 110000;
    projectHeader_t raw;
    encodeProjectFileHeader(s.header, raw);
    const uint8_t *b = raw.bytes;

    EXPECT_STREQ(reinterpret_cast<const char *>(b), "Lumidra 3 project");
    struct field_t {
        int offset, size;
        uint64_t value;
    } fields[] = {
        {32, 4, 2},         {36, 4, 29192},     {40, 4, 1000000},  {44, 1, 100},      {45, 1, 10},
        {46, 2, 0},         {48, 4, 40},        {52, 4, 30},       {56, 4, 40},       {60, 4, 30},
        {64, 4, 2},         {25668, 4, 0},      {25672 + 8, 8, 70000}, {26472, 8, 0}, {26480, 8, 65536},
        {26480 + 16, 8, 0x123456789ULL},        {28080, 4, 1},     {28080 + 8, 4, 3}, {28480, 8, 0},
        {28480 + 24, 8, 80000},                 {28880 + 8, 8, 90000},                {29040, 1, 2},
        {29041, 1, 1},      {29042, 1, 1},      {29043, 1, 3},     {29044, 1, 7},     {29045, 1, 1},
        {29046, 1, 1},      {29047, 1, 0},      {29048, 8, 100000}, {29056, 1, 1},    {29057, 1, 40},
        {29058, 1, 12},     {29059, 1, 1},      {29060, 1, 1},     {29164, 4, 0},     {29168, 8, 110000},
    };
    for (const field_t &f : fields)
        EXPECT_EQ(le(b, f.offset, f.size), f.value) << "offset " << f.offset;
    EXPECT_EQ(leDouble(b, 27280), -2.0);
    EXPECT_EQ(leDouble(b, 27280 + 16), 2.0);
    EXPECT_EQ(leDouble(b, 28960 + 8), 0.5);
    EXPECT_EQ(leDouble(b, 29176), 0.125);
    EXPECT_EQ(leDouble(b, 29184), 3.5);
    EXPECT_STREQ(reinterpret_cast<const char *>(b + 68), "IMG_0001.JPG");
    EXPECT_STREQ(reinterpret_cast<const char *>(b + 68 + 512), "Übersicht–3.tif"); // UTF-8
    EXPECT_STREQ(reinterpret_cast<const char *>(b + 28560 + 32), "sky");
    for (int i = 29061; i < 29164; ++i)
        ASSERT_EQ(b[i], 0) << i;
}

// Names are cut to their field at a character boundary, never mid-character.
TEST(projectFileNames, longNamesAreCutAtACharacterBoundary)
{
    const QString layer = QString::fromUtf8("ééééééééééééééééé"); // 17 x 2 bytes
    const QByteArray cut = utf8Fitting(layer, 31);
    EXPECT_EQ(cut.size(), 30);
    EXPECT_EQ(QString::fromUtf8(cut), layer.left(15));
    const QString emoji = QString::fromUtf8("ab\xF0\x9F\x93\xB7"); // a 4-byte character
    EXPECT_EQ(utf8Fitting(emoji, 5), QByteArray("ab"));
    EXPECT_EQ(utf8Fitting(emoji, 6), emoji.toUtf8());

    projectFileHeader_t h;
    h.layerNames[2] = QString(40, QChar('x'));
    projectHeader_t raw;
    encodeProjectFileHeader(h, raw);
    EXPECT_EQ(decodeProjectFileHeader(raw).layerNames[2], QString(31, QChar('x')));
}

// Everything written comes back: header fields, runs, raw blocks, and the
// file is refused by nobody.
TEST_F(projectFileTest, aWrittenProjectReadsBackExactly)
{
    sample_t s = makeSample();
    const QString path = dir + "/three.lmpx";
    QString error;
    ASSERT_TRUE(writeSample(s, path, PROJECT_FILE_BLOCK_SIZE, &error)) << error.toStdString();

    projectHeader_t raw;
    projectFileHeader_t h;
    int64_t size = 0;
    QString reason;
    ASSERT_EQ(readProjectFileHeader(path, raw, h, &reason, &size), projectHeaderResult_t::ok) << reason.toStdString();
    EXPECT_EQ(size, QFileInfo(path).size());
    EXPECT_EQ(h.width, 40);
    EXPECT_EQ(h.photoNames[2], QString::fromUtf8("Übersicht–3.tif"));
    EXPECT_EQ(h.photoNames[3], QString());
    EXPECT_EQ(h.evs[0], -2.0);
    EXPECT_EQ(h.layerNames[3], "foreground");
    EXPECT_EQ(h.layerOpacity[3], 0.25);
    EXPECT_EQ(h.layerMaskOffsets[2], 0);
    EXPECT_EQ(h.smartMerge, 7);
    EXPECT_EQ(h.autoLens, 1);
    EXPECT_EQ(h.hdrPreprocess[1], 3.5);
    EXPECT_EQ(raw.pixelDataOffset(0), 65536); // the photo loader's view of the same header

    filePtr f(openFileWide(path, "rb"), fclose);
    ASSERT_TRUE(f);
    for (int p = 0; p < 3; ++p) {
        std::vector<uint16_t> px(s.photos[size_t(p)].size());
        ASSERT_TRUE(readProjectRun(f.get(), size, h.pixelOffsets[p], px.data(), px.size() * 2, h.blockSize));
        EXPECT_EQ(px, s.photos[size_t(p)]) << "photo " << p;
    }
    QByteArray block;
    ASSERT_TRUE(readProjectRawBlock(f.get(), size, h.exifOffsets[1], 1 << 20, block));
    EXPECT_EQ(block, s.exif);
    EXPECT_EQ(h.exifOffsets[0], 0);
    for (int l : {1, 3}) {
        std::vector<uint8_t> mask(s.masks[l].size());
        ASSERT_TRUE(readProjectRun(f.get(), size, h.layerMaskOffsets[l], mask.data(), mask.size(), h.blockSize));
        EXPECT_EQ(mask, s.masks[l]);
    }
    for (int l : {0, 1, 3}) {
        ASSERT_TRUE(readProjectRawBlock(f.get(), size, h.layerSettingsOffsets[l], PROJECT_FILE_MAX_SETTINGS_BYTES,
                                        block));
        EXPECT_EQ(block, s.settings[l]);
    }
    std::vector<float> hdr(s.hdr.size());
    ASSERT_TRUE(readProjectRun(f.get(), size, h.hdrOffset, hdr.data(), hdr.size() * 4, h.blockSize));
    EXPECT_EQ(hdr, s.hdr);
    // Nothing is left beside the project.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"three.lmpx"});
}

// A version-1 header (32 photos) is converted: tables moved, labels 1..32,
// lens correction off, version and size fields kept.
TEST(projectFileUpgrade, aVersionOneHeaderIsConverted)
{
    std::vector<uint8_t> v1(PROJECT_FILE_V1_HEADER_SIZE, 0);
    auto put = [&](int at, int n, uint64_t v) {
        for (int i = 0; i < n; ++i, v >>= 8)
            v1[size_t(at + i)] = uint8_t(v);
    };
    memcpy(v1.data(), "Lumidra 3 project", 17);
    put(32, 4, 1);
    put(36, 4, 9744);
    put(40, 4, 1000000);
    put(44, 4, 640);
    put(48, 4, 480);
    put(52, 4, 160);
    put(56, 4, 120);
    put(60, 4, 2);
    for (int i = 0; i < 32; ++i) {
        const QByteArray name = "photo" + QByteArray::number(i) + ".jpg";
        memcpy(v1.data() + 64 + 256 * i, name.constData(), size_t(name.size()));
        put(8520 + 8 * i, 8, 65536 + 1000 * uint64_t(i));
        double ev = i * 0.5 - 8;
        uint64_t bits;
        memcpy(&bits, &ev, 8);
        put(8776 + 8 * i, 8, bits);
    }
    put(9032 + 8, 8, 500000); // layer 1 mask
    memcpy(v1.data() + 9112 + 32, "layer one", 9);
    v1[9592 + 1] = 1; // automatic alignment
    v1[9608 + 3] = 1; // panorama
    put(9720, 8, 600000);

    projectHeader_t raw;
    upgradeProjectHeaderV1(v1.data(), raw);
    const projectFileHeader_t h = decodeProjectFileHeader(raw);
    EXPECT_EQ(h.version, 1);
    EXPECT_EQ(h.headerSize, 9744);
    EXPECT_EQ(h.photoSlots, 32);
    EXPECT_EQ(h.layerSlots, 10);
    EXPECT_EQ(h.width, 640);
    EXPECT_EQ(h.ghostHeight, 120);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(h.photoNames[i], QString("photo%1.jpg").arg(i));
        EXPECT_EQ(h.pixelOffsets[i], 65536 + 1000 * i);
        EXPECT_EQ(h.evs[i], i * 0.5 - 8);
        EXPECT_EQ(h.ghostLabels[i], i + 1);
    }
    EXPECT_EQ(h.photoNames[32], QString());
    EXPECT_EQ(h.layerMaskOffsets[1], 500000);
    EXPECT_EQ(h.layerNames[1], "layer one");
    EXPECT_EQ(h.autoAlign, 1);
    EXPECT_EQ(h.panorama, 1);
    EXPECT_EQ(h.autoLens, 0);
    EXPECT_EQ(h.hdrOffset, 600000);

    // Through the checks: a version-1 header is judged after conversion.
    std::vector<uint8_t> file(v1);
    projectFileHeader_t checked;
    QString reason;
    // The tables point past this short buffer: refused as damaged, not as a
    // bad version.
    EXPECT_EQ(checkProjectFileHeader(file.data(), int64_t(file.size()), int64_t(file.size()), raw, checked, &reason),
              projectHeaderResult_t::damaged);
}

// Hostile and damaged headers are refused with a reason, before anything
// is allocated for what they announce.
TEST_F(projectFileTest, damagedHeadersAreRefusedWithAReason)
{
    sample_t s = makeSample();
    const QString good = dir + "/good.lmpx";
    ASSERT_TRUE(writeSample(s, good));
    const QByteArray bytes = fileBytes(good);
    ASSERT_GT(bytes.size(), 65536);

    auto patched = [&](int at, int n, uint64_t v) {
        QByteArray b = bytes;
        for (int i = 0; i < n; ++i, v >>= 8)
            b[at + i] = char(v & 0xff);
        return b;
    };
    QByteArray unterminated = bytes;
    memset(unterminated.data() + 68 + 256, 'a', 256);
    QByteArray layerUnterminated = bytes;
    memset(layerUnterminated.data() + 28560 + 32, 'b', 32);
    double nan = std::nan("");
    uint64_t nanBits;
    memcpy(&nanBits, &nan, 8);

    struct case_t {
        const char *what;
        QByteArray file;
        projectHeaderResult_t expected;
    } cases[] = {
        {"interrupted save (zero header)", QByteArray(bytes).replace(0, 29192, QByteArray(29192, 0)),
         projectHeaderResult_t::unsupportedVersion},
        {"version 3", patched(32, 4, 3), projectHeaderResult_t::unsupportedVersion},
        {"wrong header size", patched(36, 4, 29000), projectHeaderResult_t::unsupportedVersion},
        {"shorter than 256 bytes", bytes.left(200), projectHeaderResult_t::unreadable},
        {"header cut short", bytes.left(20000), projectHeaderResult_t::unsupportedVersion},
        {"block size 0", patched(40, 4, 0), projectHeaderResult_t::damaged},
        {"block size huge", patched(40, 4, 0x7fffffff), projectHeaderResult_t::damaged},
        {"negative width", patched(48, 4, uint32_t(-5)), projectHeaderResult_t::damaged},
        {"width beyond any image", patched(48, 4, 1000000), projectHeaderResult_t::damaged},
        {"gigapixel image in a small file", patched(48, 4, 60000).replace(52, 4, QByteArray("\x60\xea\0\0", 4)),
         projectHeaderResult_t::damaged},
        {"ghost mask larger than the image", patched(56, 4, 41), projectHeaderResult_t::damaged},
        {"unterminated photo name", unterminated, projectHeaderResult_t::damaged},
        {"unterminated layer name", layerUnterminated, projectHeaderResult_t::damaged},
        {"pixel offset inside the header", patched(26480, 8, 100), projectHeaderResult_t::damaged},
        {"pixel offset past the end", patched(26480 + 8, 8, uint64_t(bytes.size()) + 10), projectHeaderResult_t::damaged},
        {"negative EXIF offset", patched(25672 + 8, 8, uint64_t(-70000)), projectHeaderResult_t::damaged},
        {"EV not a number", patched(27280, 8, nanBits), projectHeaderResult_t::damaged},
        {"opacity not a number", patched(28960 + 8, 8, nanBits), projectHeaderResult_t::damaged},
        {"settings past the end", patched(28880 + 24, 8, uint64_t(bytes.size()) - 4), projectHeaderResult_t::damaged},
        {"a mask for the base layer", patched(28480, 8, 65536), projectHeaderResult_t::damaged},
        {"HDR image past the end", patched(29168, 8, uint64_t(bytes.size()) + 1), projectHeaderResult_t::damaged},
        {"neither photos nor HDR image",
         QByteArray(bytes).replace(68, 3 * 256, QByteArray(3 * 256, 0)).replace(29168, 8, QByteArray(8, 0)),
         projectHeaderResult_t::damaged},
    };
    for (const case_t &c : cases) {
        const QString path = dir + "/case.lmpx";
        ASSERT_TRUE(writeBytes(path, c.file));
        projectHeader_t raw;
        projectFileHeader_t h;
        QString reason;
        EXPECT_EQ(readProjectFileHeader(path, raw, h, &reason), c.expected) << c.what;
        if (c.expected != projectHeaderResult_t::unreadable) {
            EXPECT_FALSE(reason.isEmpty()) << c.what;
        }
    }
    // A middle slot left empty is skipped; the later photo still counts.
    QByteArray gap = bytes;
    memset(gap.data() + 68 + 256, 0, 256);
    ASSERT_TRUE(writeBytes(dir + "/gap.lmpx", gap));
    projectHeader_t raw;
    projectFileHeader_t h;
    ASSERT_EQ(readProjectFileHeader(dir + "/gap.lmpx", raw, h), projectHeaderResult_t::ok);
    EXPECT_TRUE(h.photoNames[1].isEmpty());
    EXPECT_FALSE(h.photoNames[2].isEmpty());
}

// A file cut at any block boundary is refused at the header or when the
// cut run is read; nothing reads past the end or crashes.
TEST_F(projectFileTest, aTruncatedProjectIsRefusedAtEveryBlockBoundary)
{
    sample_t s = makeSample();
    const QString good = dir + "/good.lmpx";
    // Small blocks, so every run has several boundaries.
    ASSERT_TRUE(writeSample(s, good, 1024));
    const QByteArray bytes = fileBytes(good);

    // Collect the block boundaries of every run by walking the lengths.
    std::vector<int64_t> cuts;
    projectHeader_t raw;
    projectFileHeader_t h;
    ASSERT_EQ(readProjectFileHeader(good, raw, h), projectHeaderResult_t::ok);
    const uint8_t *b = reinterpret_cast<const uint8_t *>(bytes.constData());
    auto walk = [&](int64_t offset, uint64_t total) {
        uint64_t done = 0;
        while (done < total) {
            cuts.push_back(offset);
            offset += 8 + int64_t(le(b, int(offset), 8));
            done += std::min<uint64_t>(1024, total - done);
        }
        cuts.push_back(offset);
    };
    for (int p = 0; p < 3; ++p)
        walk(h.pixelOffsets[p], h.photoBytes());
    walk(h.ghostMaskOffset, h.ghostMaskBytes());
    walk(h.layerMaskOffsets[1], h.maskBytes());
    walk(h.layerMaskOffsets[3], h.maskBytes());
    walk(h.hdrOffset, h.hdrBytes());
    ASSERT_GT(cuts.size(), 50u);

    int refusedAtHeader = 0, refusedAtRead = 0;
    for (int64_t cut : cuts) {
        if (cut >= bytes.size())
            continue;
        const QString path = dir + "/cut.lmpx";
        ASSERT_TRUE(writeBytes(path, bytes.left(int(cut))));
        projectFileHeader_t c;
        int64_t size = 0;
        if (readProjectFileHeader(path, raw, c, nullptr, &size) != projectHeaderResult_t::ok) {
            ++refusedAtHeader;
            continue;
        }
        // Read everything the header announces; one read must fail.
        filePtr f(openFileWide(path, "rb"), fclose);
        bool all = true;
        std::vector<uint8_t> buffer(c.hdrBytes());
        for (int p = 0; p < 3; ++p)
            all = all && readProjectRun(f.get(), size, c.pixelOffsets[p], buffer.data(), c.photoBytes(), c.blockSize);
        all = all && readProjectRun(f.get(), size, c.ghostMaskOffset, buffer.data(), c.ghostMaskBytes(), c.blockSize);
        for (int l : {1, 3})
            all = all && readProjectRun(f.get(), size, c.layerMaskOffsets[l], buffer.data(), c.maskBytes(), c.blockSize);
        QByteArray block;
        for (int l : {0, 1, 3})
            all = all && readProjectRawBlock(f.get(), size, c.layerSettingsOffsets[l], PROJECT_FILE_MAX_SETTINGS_BYTES,
                                             block);
        all = all && readProjectRun(f.get(), size, c.hdrOffset, buffer.data(), c.hdrBytes(), c.blockSize);
        EXPECT_FALSE(all) << "cut at " << cut;
        ++refusedAtRead;
    }
    EXPECT_GT(refusedAtHeader, 0);
    EXPECT_GT(refusedAtRead, 0);
}

// Two photos whose ids swap labels (stored 2,1 -> new 1,2) keep their pixels
// apart; labels of no photo become 0.
TEST(projectFileGhostLabels, remappingIsOnePassThroughATable)
{
    projectFileHeader_t h;
    h.photoNames[0] = "a.jpg";
    h.photoNames[2] = "b.jpg"; // slot 1 empty
    h.ghostLabels[0] = 2;
    h.ghostLabels[2] = 1;
    const int newIds[2] = {0, 101}; // labels 1 and 2 (101 % 100 + 1)
    std::vector<uint8_t> mask = {0, 1, 2, 2, 1, 7, 255};
    remapGhostLabels(mask.data(), mask.size(), h, newIds, 2);
    EXPECT_EQ(mask, (std::vector<uint8_t>{0, 2, 1, 1, 2, 0, 0}));
}

// Saving over an existing project that fails (a block zlib cannot shrink,
// a full disk, an unwritable folder) leaves the old file exactly as it was
// and no temporary file behind.
TEST_F(projectFileTest, aFailedSaveLeavesTheOldProjectIntact)
{
    sample_t s = makeSample();
    const QString path = dir + "/keep.lmpx";
    ASSERT_TRUE(writeSample(s, path));
    const QByteArray before = fileBytes(path);

    {   // Noise does not compress below a small block size.
        projectFileWriter w(path, 4096);
        ASSERT_TRUE(w.begin());
        std::vector<uint8_t> noise(20000);
        std::mt19937 rng(3);
        for (uint8_t &v : noise)
            v = uint8_t(rng());
        int64_t offset = 0;
        EXPECT_FALSE(w.writeRun(noise.data(), noise.size(), &offset));
        EXPECT_TRUE(w.errorText().contains("block size")) << w.errorText().toStdString();
        EXPECT_FALSE(w.finish(s.header));
    }
    EXPECT_EQ(fileBytes(path), before);
    {   // A full disk part-way through the payload.
        writeFailure::fileSizeLimit limit(70000);
        sample_t again = makeSample();
        QString error;
        EXPECT_FALSE(writeSample(again, path, PROJECT_FILE_BLOCK_SIZE, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(fileBytes(path), before);
    {   // Stopped by the user.
        projectFileWriter w(path);
        ASSERT_TRUE(w.begin());
        std::atomic<bool> stop{true};
        int64_t offset = 0;
        EXPECT_FALSE(w.writeRun(s.hdr.data(), s.hdr.size() * 4, &offset, nullptr, &stop));
    }
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"keep.lmpx"});

    projectFileWriter w(writeFailure::readOnlyFolder(dir + "/ro") + "/new.lmpx");
    EXPECT_FALSE(w.begin());
    EXPECT_FALSE(w.errorText().isEmpty());
}

// Runs made block by block by a source, and runs of zeros, read back as the
// bytes they stand for, at block sizes that do not divide the run (odd ones
// included); a source that cannot give a block fails the save.
TEST_F(projectFileTest, runsFromASourceAndRunsOfZerosReadBack)
{
    struct caseRow {
        int32_t blockSize;
        uint64_t bytes;
    };
    const caseRow rows[] = {{4096, 20000}, {1001, 5005}, {999, 998}, {4096, 4096}, {4096, 1}};
    for (const caseRow &row : rows) {
        SCOPED_TRACE(testing::Message() << row.blockSize << " " << row.bytes);
        const QString path = dir + "/runs.lmpx";
        std::vector<uint8_t> expected(size_t(row.bytes));
        for (size_t i = 0; i < expected.size(); ++i)
            expected[i] = uint8_t((i * 7) % 13);
        std::atomic<uint64_t> progress{0};
        std::atomic<int> calls{0};
        projectFileWriter w(path, row.blockSize);
        ASSERT_TRUE(w.begin());
        int64_t sourced = 0, zeros = 0;
        ASSERT_TRUE(w.writeRun(
            row.bytes,
            [&](uint64_t at, size_t n, uint8_t *into) {
                ++calls;
                EXPECT_EQ(at % uint64_t(row.blockSize), 0u);
                EXPECT_EQ(n, size_t(std::min<uint64_t>(uint64_t(row.blockSize), row.bytes - at)));
                for (size_t k = 0; k < n; ++k)
                    into[k] = uint8_t(((at + k) * 7) % 13);
                return true;
            },
            &sourced, &progress));
        ASSERT_TRUE(w.writeZeroRun(row.bytes, &zeros, &progress));
        EXPECT_EQ(calls.load(), int((row.bytes + uint64_t(row.blockSize) - 1) / uint64_t(row.blockSize)));
        EXPECT_EQ(progress.load(), 2 * row.bytes);
        projectFileHeader_t h = makeSample().header;
        ASSERT_TRUE(w.finish(h));

        filePtr f(fopen(QFile::encodeName(path).constData(), "rb"), fclose);
        ASSERT_TRUE(f);
        const int64_t size = QFileInfo(path).size();
        std::vector<uint8_t> back(expected.size(), 0xAA);
        ASSERT_TRUE(readProjectRun(f.get(), size, sourced, back.data(), row.bytes, row.blockSize));
        EXPECT_EQ(back, expected);
        ASSERT_TRUE(readProjectRun(f.get(), size, zeros, back.data(), row.bytes, row.blockSize));
        EXPECT_EQ(std::count(back.begin(), back.end(), 0), long(back.size()));
    }

    const QString path = dir + "/kept.lmpx";
    sample_t s = makeSample();
    ASSERT_TRUE(writeSample(s, path));
    const QByteArray before = fileBytes(path);
    {
        projectFileWriter w(path, 4096);
        ASSERT_TRUE(w.begin());
        int64_t offset = 0;
        EXPECT_FALSE(w.writeRun(
            50000, [](uint64_t at, size_t, uint8_t *) { return at < 20000; }, &offset));
        EXPECT_FALSE(w.errorText().isEmpty());
        EXPECT_FALSE(w.finish(s.header));
    }
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(QDir(dir).entryList({"kept.lmpx*"}, QDir::Files | QDir::Hidden), QStringList{"kept.lmpx"});
}

// Long runs go through the ring of compressed blocks many times over: the
// blocks land in the file in order however the compressing tasks overtake
// each other (some blocks take longer), and a stop or a source failure far
// into the run ends the save without a hang and without touching the old
// file.
TEST_F(projectFileTest, longRunsKeepTheirBlockOrderAndStopCleanly)
{
    constexpr int32_t blockSize = 1000;
    // Each block says which one it is; the bytes inside vary a little.
    auto fill = [](uint64_t at, size_t n, uint8_t *into) {
        for (size_t k = 0; k < n; ++k)
            into[k] = (at + k) % 50 == 0 ? uint8_t((at + k) / blockSize) : uint8_t((at + k) % 7);
    };
    auto slowSome = [](uint64_t at) {
        // Every fifth block keeps its task a little longer.
        if ((at / blockSize) % 5 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    struct caseRow {
        const char *what;
        uint64_t bytes;
        int stopAtBlock;    // -1: never
        int failAtBlock;    // -1: never
    };
    const caseRow rows[] = {
        {"many ring turns", 300 * blockSize + 17, -1, -1},
        {"stopped far in", 300 * blockSize, 150, -1},
        {"source fails far in", 300 * blockSize, -1, 150},
    };
    const QString path = dir + "/order.lmpx";
    sample_t s = makeSample();
    ASSERT_TRUE(writeSample(s, path));
    for (const caseRow &row : rows) {
        SCOPED_TRACE(row.what);
        const QByteArray before = fileBytes(path);
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> progress{0};
        int64_t offset = 0;
        bool written = false;
        {
            projectFileWriter w(path, blockSize);
            ASSERT_TRUE(w.begin());
            written = w.writeRun(
                row.bytes,
                [&](uint64_t at, size_t n, uint8_t *into) {
                    const int block = int(at / blockSize);
                    if (block == row.stopAtBlock)
                        stop = true;
                    if (block == row.failAtBlock)
                        return false;
                    slowSome(at);
                    fill(at, n, into);
                    return true;
                },
                &offset, &progress, &stop);
            if (written)
                ASSERT_TRUE(w.finish(s.header));
            else
                EXPECT_FALSE(w.errorText().isEmpty());
        }
        const bool complete = row.stopAtBlock < 0 && row.failAtBlock < 0;
        EXPECT_EQ(written, complete);
        if (!complete) {
            EXPECT_LT(progress.load(), row.bytes);
            EXPECT_EQ(fileBytes(path), before);
            EXPECT_EQ(QDir(dir).entryList({"order.lmpx*"}, QDir::Files | QDir::Hidden), QStringList{"order.lmpx"});
            continue;
        }
        EXPECT_EQ(progress.load(), row.bytes);
        std::vector<uint8_t> expected(size_t(row.bytes)), back(size_t(row.bytes), 0xAA);
        fill(0, expected.size(), expected.data());
        filePtr f(fopen(QFile::encodeName(path).constData(), "rb"), fclose);
        ASSERT_TRUE(f);
        ASSERT_TRUE(readProjectRun(f.get(), QFileInfo(path).size(), offset, back.data(), row.bytes, blockSize));
        EXPECT_TRUE(back == expected);
    }
}

// The options dialog: Save needs a box, disabled boxes keep their setting,
// Cancel changes nothing.
TEST(saveProjectOpts, boxesAndTheirSettings)
{
    programOptionsSettings options;
    optionsInstance = &options;
    struct reset_t {
        ~reset_t() { optionsInstance = nullptr; }
    } reset;
    optionsInstance->misc.saveInputsInProject = true;
    optionsInstance->misc.saveHdrDataInProject = false;
    {
        saveProjectOpts d;
        EXPECT_TRUE(d.inputsBox->isChecked());
        EXPECT_FALSE(d.hdrBox->isChecked());
        EXPECT_TRUE(d.saveButton->isEnabled());
        d.inputsBox->click();
        EXPECT_FALSE(d.saveButton->isEnabled());
        d.hdrBox->click();
        EXPECT_TRUE(d.saveButton->isEnabled());
        d.cancelButton->click();
        EXPECT_EQ(d.result(), QDialog::Rejected);
    }
    EXPECT_TRUE(optionsInstance->misc.saveInputsInProject);
    EXPECT_FALSE(optionsInstance->misc.saveHdrDataInProject);
    {
        // The caller disables the HDR box (no HDR image) and sets it off.
        saveProjectOpts d;
        optionsInstance->misc.saveHdrDataInProject = true;
        d.hdrBox->setChecked(false);
        d.hdrBox->setEnabled(false);
        d.inputsBox->setChecked(false);
        d.show(); // a shown dialog re-checks what the caller set
        EXPECT_FALSE(d.saveButton->isEnabled());
        d.inputsBox->click();
        d.saveButton->click();
        EXPECT_EQ(d.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(optionsInstance->misc.saveHdrDataInProject); // disabled: left alone
    EXPECT_TRUE(optionsInstance->misc.saveInputsInProject);
}
