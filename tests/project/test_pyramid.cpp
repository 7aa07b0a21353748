// Pyramid container: level sizes, the offset 2 x 2 averaging, mask undo
// files, image import/export and the temp-file swap.
#include "project/pyramid.h"
#include "project/photoInfo.h"

#include "testSupport.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryFile>
#include <QtEndian>
#include <cstring>
#include <random>
#include <zlib.h>

namespace {

// Reference for one target pixel of the averaging: the 2 x 2 block that ends
// at (2x, 2y), repeating column/row 2x/2y at the left and top edges.
template <typename T>
double referenceMean(const std::vector<T> &src, int srcW, int ch, int x, int y, int k)
{
    const int xs[2] = {2 * x, x == 0 ? 0 : 2 * x - 1};
    const int ys[2] = {2 * y, y == 0 ? 0 : 2 * y - 1};
    double sum = 0;
    for (int yy : ys)
        for (int xx : xs)
            sum += src[(size_t(yy) * srcW + xx) * ch + k];
    return sum;
}

template <typename T>
void fillLevel(pyramid &p, int level, unsigned seed, int maxValue)
{
    std::mt19937 rng(seed);
    T *d = static_cast<T *>(p.levels[level].data);
    const size_t n = p.levelBytes(level) / sizeof(T);
    for (size_t i = 0; i < n; ++i)
        d[i] = T(rng() % unsigned(maxValue + 1));
}

// Level 0 filled with random samples of the pyramid's own sample size.
void fillLevel0(pyramid &p, unsigned seed)
{
    if (p.bytesPerSample == 1)
        fillLevel<uint8_t>(p, 0, seed, 255);
    else if (p.bytesPerSample == 2)
        fillLevel<uint16_t>(p, 0, seed, 65535);
    else
        fillLevel<float>(p, 0, seed, 1000);
}

} // namespace

TEST(pyramid, levelSizesHalveWithTruncation)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(5, 3, 3, 2, 3, true));
    EXPECT_EQ(p.levels[1].width, 2);
    EXPECT_EQ(p.levels[1].height, 1);
    EXPECT_EQ(p.levels[2].width, 1);
    EXPECT_EQ(p.levels[2].height, 0);
    EXPECT_EQ(p.levels[3].data, nullptr);
    EXPECT_TRUE(p.levels[0].valid);
    EXPECT_FALSE(p.levels[1].valid);
    p.buildLevelsFrom(0); // the 1 x 0 level is skipped without reading
    p.freeAll();
    EXPECT_EQ(p.levelCount, 0);
    EXPECT_EQ(p.levels[0].data, nullptr);
}

TEST(pyramid, oneByOneWithThreeLevels)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(1, 1, 3, 1, 1, true));
    static_cast<uint8_t *>(p.levels[0].data)[0] = 77;
    p.buildLevelsFrom(0);
    EXPECT_EQ(p.levels[1].width, 0);
}

// Every combination of 1, 3, 4 channels with 1, 2, 4 bytes against the reference.
TEST(pyramid, averagingMatchesReferenceForEveryLayout)
{
    for (int ch : {1, 3, 4}) {
        for (int bps : {1, 2, 4}) {
            SCOPED_TRACE(testing::Message() << "channels " << ch << " bytes " << bps);
            pyramid p;
            ASSERT_TRUE(p.makePyramid(9, 7, 3, bps, ch, true));
            fillLevel0(p, 1);
            p.buildLevelsFrom(0);
            for (int t = 1; t < 3; ++t) {
                EXPECT_TRUE(p.levels[t].valid);
                const int sw = p.levels[t - 1].width;
                const size_t n = p.levelBytes(t - 1) / bps;
                for (int y = 0; y < p.levels[t].height; ++y)
                    for (int x = 0; x < p.levels[t].width; ++x)
                        for (int k = 0; k < ch; ++k) {
                            const size_t i = (size_t(y) * p.levels[t].width + x) * ch + k;
                            if (bps == 1) {
                                const uint8_t *s = static_cast<uint8_t *>(p.levels[t - 1].data);
                                std::vector<uint8_t> src(s, s + n);
                                EXPECT_EQ(static_cast<uint8_t *>(p.levels[t].data)[i],
                                          uint8_t(unsigned(referenceMean(src, sw, ch, x, y, k)) >> 2));
                            } else if (bps == 2) {
                                const uint16_t *s = static_cast<uint16_t *>(p.levels[t - 1].data);
                                std::vector<uint16_t> src(s, s + n);
                                EXPECT_EQ(static_cast<uint16_t *>(p.levels[t].data)[i],
                                          uint16_t(unsigned(referenceMean(src, sw, ch, x, y, k)) >> 2));
                            } else {
                                const float *s = static_cast<float *>(p.levels[t - 1].data);
                                std::vector<float> src(s, s + n);
                                EXPECT_FLOAT_EQ(static_cast<float *>(p.levels[t].data)[i],
                                                float(referenceMean(src, sw, ch, x, y, k) * 0.25));
                            }
                        }
            }
        }
    }
}

// Levels built on several tasks are byte for byte those built on one, on an
// odd size whose levels split into uneven row ranges (the small levels run on
// one task), for every sample size.
TEST(pyramid, levelsOnSeveralTasksMatchOneTask)
{
    struct layout_t {
        int bps;
        int ch;
    };
    const layout_t layouts[] = {{1, 1}, {1, 3}, {2, 3}, {2, 4}, {4, 1}, {4, 3}};
    for (const layout_t &l : layouts) {
        pyramid single;
        ASSERT_TRUE(single.makePyramid(601, 501, 6, l.bps, l.ch, true));
        fillLevel0(single, 7);
        single.buildLevelsFrom(0);
        for (int tasks : {1, 3, 16}) {
            SCOPED_TRACE(testing::Message() << "bytes " << l.bps << " channels " << l.ch << " tasks " << tasks);
            pyramid shared;
            ASSERT_TRUE(shared.makePyramid(601, 501, 6, l.bps, l.ch, true));
            std::memcpy(shared.levels[0].data, single.levels[0].data, single.levelBytes(0));
            shared.buildLevelsFrom(0, tasks);
            for (int t = 1; t < 6; ++t) {
                EXPECT_TRUE(shared.levels[t].valid) << "level " << t;
                ASSERT_EQ(shared.levelBytes(t), single.levelBytes(t));
                EXPECT_EQ(std::memcmp(shared.levels[t].data, single.levels[t].data, single.levelBytes(t)), 0)
                    << "level " << t;
            }
        }
    }
}

// Level 0 mapped from a file: the file's bytes, levels built from them as from
// an own buffer, writes that stay out of the file, the mapping handed on by a
// move and released by freeAll (the sanitizer build sees a mapping passed to
// free); a file shorter than the level leaves level 0 as it was.
TEST(pyramid, level0MappedFromFile)
{
    pyramid source;
    ASSERT_TRUE(source.makePyramid(601, 501, 4, 2, 3, true));
    fillLevel<uint16_t>(source, 0, 11, 65535);
    source.buildLevelsFrom(0);
    const QByteArray bytes(static_cast<const char *>(source.levels[0].data), int(source.levelBytes(0)));
    struct case_t {
        const char *what;
        int extraBytes; // negative: missing at the end
        bool ok;
    };
    const case_t cases[] = {
        {"file of the level's size", 0, true},
        {"longer file", 100, true},
        {"last byte missing", -1, false},
        {"half the file", -int(bytes.size() / 2), false},
    };
    for (const case_t &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        const QByteArray content = c.extraBytes >= 0 ? bytes + QByteArray(c.extraBytes, 'x')
                                                     : bytes.left(bytes.size() + c.extraBytes);
        ASSERT_EQ(file.write(content), content.size());
        ASSERT_TRUE(file.flush());
        pyramid target;
        ASSERT_TRUE(target.makePyramid(601, 501, 4, 2, 3, true));
        std::memset(target.levels[0].data, 0x5a, target.levelBytes(0));
        EXPECT_EQ(target.mapLevel0(file.handle()), c.ok);
        if (!c.ok) {
            EXPECT_EQ(static_cast<uint8_t *>(target.levels[0].data)[0], 0x5a);
            continue;
        }
        EXPECT_EQ(std::memcmp(target.levels[0].data, bytes.constData(), size_t(bytes.size())), 0);
        target.buildLevelsFrom(0, 3);
        for (int t = 1; t < 4; ++t)
            EXPECT_EQ(std::memcmp(target.levels[t].data, source.levels[t].data, source.levelBytes(t)), 0) << t;
        static_cast<uint16_t *>(target.levels[0].data)[0] = 7;
        ASSERT_TRUE(file.seek(0));
        EXPECT_EQ(file.read(2), bytes.left(2)) << "the write reached the file";
        pyramid moved(std::move(target));
        EXPECT_EQ(target.levels[0].data, nullptr);
        EXPECT_EQ(static_cast<uint16_t *>(moved.levels[0].data)[0], 7);
        if (c.extraBytes == 0) {
            moved.freeAll();
            EXPECT_EQ(moved.levels[0].data, nullptr);
        } // else the destructor releases the mapping
    }
    pyramid target;
    ASSERT_TRUE(target.makePyramid(601, 501, 1, 2, 3, true));
    EXPECT_FALSE(target.mapLevel0(-1));
    EXPECT_NE(target.levels[0].data, nullptr);
}

// The view's levels built from the session file's rows, read in strips by
// each task, equal the levels built from level 0 in memory: every sample size,
// odd sizes (the last source row and column unused), strip and task edges
// anywhere; level 0's own buffer is not touched. A file shorter than level 0,
// or a level 1 that cannot be built this way, is refused.
TEST(pyramid, levelsBuiltFromFileRowsMatchLevelsBuiltInMemory)
{
    struct case_t {
        int width, height, bytes, channels, tasks;
    };
    const case_t cases[] = {
        {601, 501, 2, 3, 3}, {601, 501, 2, 3, 1}, {1000, 67, 1, 1, 4}, {333, 99, 4, 3, 2},
        {97, 1003, 2, 4, 5}, {4, 2, 2, 3, 8},
    };
    for (const case_t &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ", " << c.bytes << " bytes, " << c.channels
                                        << " channels, " << c.tasks << " tasks");
        const int levels = 4;
        pyramid reference;
        ASSERT_TRUE(reference.makePyramid(c.width, c.height, levels, c.bytes, c.channels, true));
        fillLevel0(reference, 5);
        reference.buildLevelsFrom(0);
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        const qint64 size = qint64(reference.levelBytes(0));
        ASSERT_EQ(file.write(static_cast<const char *>(reference.levels[0].data), size), size);
        ASSERT_TRUE(file.flush());

        pyramid target;
        ASSERT_TRUE(target.makePyramid(c.width, c.height, levels, c.bytes, c.channels, true));
        std::memset(target.levels[0].data, 0x5a, target.levelBytes(0));
        ASSERT_TRUE(target.buildLevelsFromFile(file.handle(), c.tasks));
        for (int t = 1; t < target.levelCount; ++t) {
            if (!reference.levels[t].data)
                continue;
            EXPECT_TRUE(target.levels[t].valid) << t;
            EXPECT_EQ(std::memcmp(target.levels[t].data, reference.levels[t].data, reference.levelBytes(t)), 0) << t;
        }
        EXPECT_EQ(static_cast<const uint8_t *>(target.levels[0].data)[0], 0x5a);

        ASSERT_TRUE(file.resize(size - 1));
        pyramid shortFile;
        ASSERT_TRUE(shortFile.makePyramid(c.width, c.height, levels, c.bytes, c.channels, true));
        EXPECT_FALSE(shortFile.buildLevelsFromFile(file.handle(), c.tasks));
        EXPECT_FALSE(shortFile.levels[1].valid);
    }
    pyramid twoChannels;
    ASSERT_TRUE(twoChannels.makePyramid(64, 64, 2, 1, 2, true));
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.resize(qint64(twoChannels.levelBytes(0))));
    EXPECT_FALSE(twoChannels.buildLevelsFromFile(file.handle(), 2));
    EXPECT_FALSE(twoChannels.buildLevelsFromFile(-1, 2));
}

TEST(pyramid, cornerPixelsOfRebuiltLevel)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(4, 2, 2, 2, 1, true));
    uint16_t *s = static_cast<uint16_t *>(p.levels[0].data);
    const uint16_t row0[4] = {100, 200, 300, 400};
    std::memcpy(s, row0, sizeof(row0));
    p.buildLevelsFrom(0);
    const uint16_t *t = static_cast<uint16_t *>(p.levels[1].data);
    EXPECT_EQ(t[0], 100);               // target (0, 0) is the source pixel (0, 0)
    EXPECT_EQ(t[1], (300 + 200 + 300 + 200) / 4); // (2,0), (1,0) twice, row 0 repeated
}

TEST(pyramid, sixteenBitSumDoesNotOverflow)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(4, 4, 2, 2, 3, true));
    uint16_t *s = static_cast<uint16_t *>(p.levels[0].data);
    for (size_t i = 0; i < 48; ++i)
        s[i] = 65535;
    p.buildLevelsFrom(0);
    EXPECT_EQ(static_cast<uint16_t *>(p.levels[1].data)[5], 65535);
}

class pyramidMaskFile : public testing::TestWithParam<int>
{
};

// Empty, constant, random (incompressible) masks round-trip.
TEST_P(pyramidMaskFile, roundTrip)
{
    const int kind = GetParam();
    pyramid p;
    ASSERT_TRUE(p.makePyramid(97, 61, 1, 1, 1, true));
    uint8_t *d = static_cast<uint8_t *>(p.levels[0].data);
    std::mt19937 rng(kind);
    for (size_t i = 0; i < p.levelBytes(0); ++i)
        d[i] = kind == 0 ? 0 : kind == 1 ? 200 : uint8_t(rng());
    const QString path = testSupport::freshDir() + "/layerUndo_0_0";
    ASSERT_TRUE(p.writeMaskFile(path));
    EXPECT_FALSE(QFile::exists(path + "~"));
    std::vector<uint8_t> expected(d, d + p.levelBytes(0));
    p.clear();
    ASSERT_TRUE(p.readMaskFile(path));
    EXPECT_EQ(0, std::memcmp(expected.data(), p.levels[0].data, expected.size()));
}
INSTANTIATE_TEST_SUITE_P(kinds, pyramidMaskFile, testing::Values(0, 1, 2));

TEST(pyramid, maskFileRefusesDamagedOrForgedFiles)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(64, 32, 1, 1, 1, true));
    uint8_t *d = static_cast<uint8_t *>(p.levels[0].data);
    for (size_t i = 0; i < p.levelBytes(0); ++i)
        d[i] = uint8_t(i * 7);
    const QString dir = testSupport::freshDir();
    ASSERT_TRUE(p.writeMaskFile(dir + "/good"));
    const QByteArray good = testSupport::readFile(dir + "/good");

    QByteArray hugeLength = good;
    qToLittleEndian<quint32>(0xfffffff0u, reinterpret_cast<uchar *>(hugeLength.data()));
    QByteArray shortLength = good;
    qToLittleEndian<quint32>(quint32(good.size() - 4 - 10), reinterpret_cast<uchar *>(shortLength.data()));
    QByteArray flipped = good;
    flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x55);
    // A valid stream of the wrong size (the mask of another image).
    pyramid other;
    ASSERT_TRUE(other.makePyramid(10, 10, 1, 1, 1, true));
    ASSERT_TRUE(other.writeMaskFile(dir + "/other"));

    const struct {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"header only", good.left(4)},
        {"truncated", good.left(good.size() - 5)},
        {"huge length", hugeLength},
        {"short length", shortLength},
        {"flipped byte", flipped},
        {"other size", testSupport::readFile(dir + "/other")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(d, 0xAB, p.levelBytes(0));
        ASSERT_TRUE(testSupport::writeFile(dir + "/bad", c.bytes));
        EXPECT_FALSE(p.readMaskFile(dir + "/bad"));
        EXPECT_EQ(d[0], 0xAB); // level 0 untouched
        EXPECT_EQ(d[p.levelBytes(0) - 1], 0xAB);
    }
    EXPECT_FALSE(p.readMaskFile(dir + "/missing"));
}

TEST(pyramid, maskFileOnlyForOneByteOneChannel)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(8, 8, 1, 1, 3, true));
    const QString path = testSupport::freshDir() + "/m";
    EXPECT_FALSE(p.writeMaskFile(path));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(p.readMaskFile(path));
}

TEST(pyramid, imageExportAndImport)
{
    const QString dir = testSupport::freshDir();
    pyramid p;
    ASSERT_TRUE(p.makePyramid(6, 4, 1, 2, 3, true));
    uint16_t *d = static_cast<uint16_t *>(p.levels[0].data);
    for (int i = 0; i < 6 * 4 * 3; ++i)
        d[i] = uint16_t(i * 1000);
    ASSERT_TRUE(p.saveImage(dir + "/out.png"));
    QImage saved(dir + "/out.png");
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(qRed(saved.pixel(1, 0)), (3 * 1000) >> 8);
    EXPECT_EQ(qBlue(saved.pixel(1, 0)), (5 * 1000) >> 8);

    // Import the same file: 16-bit samples become the byte x 256.
    pyramid q;
    ASSERT_TRUE(q.makePyramid(6, 4, 1, 2, 3, true));
    EXPECT_EQ(q.readFromImage(dir + "/out.png"), 0);
    EXPECT_EQ(static_cast<uint16_t *>(q.levels[0].data)[3], ((3 * 1000) >> 8) * 256);

    // Another size is scaled to the level's size.
    pyramid m;
    ASSERT_TRUE(m.makePyramid(3, 2, 1, 1, 1, true));
    EXPECT_EQ(m.readFromImage(dir + "/out.png"), 1);

    // A fully transparent pixel imports as 0.
    QImage transparent(2, 2, QImage::Format_ARGB32);
    transparent.fill(qRgba(255, 255, 255, 0));
    ASSERT_TRUE(transparent.save(dir + "/t.png"));
    pyramid t;
    ASSERT_TRUE(t.makePyramid(2, 2, 1, 1, 3, true));
    std::memset(t.levels[0].data, 9, t.levelBytes(0));
    EXPECT_EQ(t.readFromImage(dir + "/t.png"), 0);
    EXPECT_EQ(static_cast<uint8_t *>(t.levels[0].data)[0], 0);

    EXPECT_EQ(t.readFromImage(dir + "/missing.png"), -1);
    pyramid f;
    ASSERT_TRUE(f.makePyramid(2, 2, 1, 4, 3, true));
    EXPECT_EQ(f.readFromImage(dir + "/t.png"), -1); // float buffers are refused
}

TEST(pyramid, tempFileSwap)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(5, 5, 2, 4, 3, true));
    float *d = static_cast<float *>(p.levels[0].data);
    for (int i = 0; i < 75; ++i)
        d[i] = i * 0.5f;
    QBuffer buffer;
    ASSERT_TRUE(buffer.open(QIODevice::ReadWrite));
    EXPECT_FALSE(p.writeToTempFile(nullptr));
    ASSERT_TRUE(p.writeToTempFile(&buffer));
    EXPECT_EQ(buffer.size(), 75 * 4);
    p.clear();
    ASSERT_TRUE(p.readFromTempFile(&buffer));
    EXPECT_FLOAT_EQ(d[74], 37.0f);
    buffer.buffer().chop(1);
    EXPECT_FALSE(p.readFromTempFile(&buffer));
}

TEST(pyramid, powIntByRepeatedSquaring)
{
    EXPECT_DOUBLE_EQ(powInt(2.0, 10), 1024.0);
    EXPECT_DOUBLE_EQ(powInt(2.0, -3), 0.125);
    EXPECT_DOUBLE_EQ(powInt(1.5, 0), 1.0);
    EXPECT_DOUBLE_EQ(powInt(-3.0, 3), -27.0);
}

TEST(photoInfo, copiesShareBuffersAndCopyBytes)
{
    photoInfo_t a;
    uint16_t preview[3] = {1, 2, 3};
    a.preview = preview;
    a.filePath = "/photos/a.jpg";
    a.rawArguments << "-w";
    a.exif.iso = 400;
    a.projectHeader.setBlockSize(1000000);
    a.projectHeader.setPixelDataOffset(2, 29192);
    photoInfo_t b(a);
    EXPECT_EQ(b.preview, preview);
    EXPECT_EQ(b.exif.iso, 400);
    EXPECT_EQ(b.projectHeader.blockSize(), 1000000);
    EXPECT_EQ(b.projectHeader.pixelDataOffset(2), 29192);
    EXPECT_EQ(b.projectHeader.pixelDataOffset(PROJECT_MAX_PHOTO_ENTRIES), 0);
    EXPECT_EQ(b.projectHeader.exifCarrierOffset(-1), 0);
    photoInfo_t c;
    c = b;
    EXPECT_EQ(c.rawArguments, QStringList{"-w"});
    EXPECT_EQ(c.filePath, a.filePath);
    { photoInfo_t d(c); } // destroying a copy frees nothing
    EXPECT_EQ(preview[2], 3);
}

TEST(pyramid, buildFromInnerLevelAndMissingBuffers)
{
    pyramid p;
    ASSERT_TRUE(p.makePyramid(16, 16, 4, 1, 1, true));
    std::memset(p.levels[0].data, 10, p.levelBytes(0));
    std::memset(p.levels[1].data, 80, p.levelBytes(1));
    p.buildLevelsFrom(1); // level 1 is the source, level 0 untouched
    EXPECT_EQ(static_cast<uint8_t *>(p.levels[1].data)[0], 80);
    EXPECT_EQ(static_cast<uint8_t *>(p.levels[3].data)[3], 80);
    EXPECT_FALSE(p.levels[1].valid);
    EXPECT_TRUE(p.levels[2].valid);

    // A pyramid described without buffers skips every level.
    pyramid d;
    ASSERT_TRUE(d.makePyramid(16, 16, 3, 2, 3, false));
    d.buildLevelsFrom(0);
    EXPECT_FALSE(d.levels[1].valid);
    d.reset(false);

    // Moving hands the buffers over.
    pyramid m(std::move(p));
    EXPECT_EQ(p.levels[0].data, nullptr);
    EXPECT_EQ(m.levelCount, 4);
    EXPECT_EQ(static_cast<uint8_t *>(m.levels[0].data)[5], 10);
}
