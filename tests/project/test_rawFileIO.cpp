// Compressed block files: round trips, block layout, and refusal of
// truncated or forged files; the histogram smoothing.
#include "app/rawFileIO.h"

#include "testSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>
#include <zlib.h>

namespace {

struct fileCloser {
    void operator()(FILE *f) const { if (f) std::fclose(f); }
};
using filePtr = std::unique_ptr<FILE, fileCloser>;

std::vector<uint8_t> makeData(size_t n, bool random)
{
    std::vector<uint8_t> d(n);
    std::mt19937 rng(12345);
    for (size_t i = 0; i < n; ++i)
        d[i] = random ? uint8_t(rng()) : uint8_t((i / 1000) & 0xff);
    return d;
}

QByteArray writeBlocks(const std::vector<uint8_t> &data, uint64_t *written = nullptr)
{
    const QString path = testSupport::freshDir("w") + "/blocks";
    uint64_t count = 99;
    {
        filePtr f(openFileWide(path, "wb"));
        EXPECT_TRUE(f);
        EXPECT_TRUE(writeRawFile(f.get(), data.data(), data.size(), &count));
    }
    if (written)
        *written = count;
    return testSupport::readFile(path);
}

// Reads bytes into a destination of exactly n bytes (ASan sees any overrun).
bool readBlocks(const QByteArray &bytes, size_t n, std::vector<uint8_t> *out,
                uint32_t blockSize = RAW_FILE_BLOCK_SIZE)
{
    const QString path = testSupport::freshDir("r") + "/blocks";
    EXPECT_TRUE(testSupport::writeFile(path, bytes));
    filePtr f(openFileWide(path, "rb"));
    EXPECT_TRUE(f);
    out->assign(n, 0);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[n ? n : 1]);
    const bool ok = readRawFile(f.get(), exact.get(), n, blockSize);
    std::memcpy(out->data(), exact.get(), n);
    return ok;
}

uint32_t le32(const QByteArray &b, qint64 at)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(b.constData()) + at;
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

void setLe32(QByteArray &b, qint64 at, uint32_t v)
{
    for (int i = 0; i < 4; ++i, v >>= 8)
        b[int(at + i)] = char(v & 0xff);
}

} // namespace

TEST(rawFileIO, roundTrips)
{
    const struct {
        const char *name;
        size_t size;
        bool random;
        int blocks;
    } cases[] = {
        {"empty", 0, false, 0},
        {"one byte", 1, false, 1},
        {"exactly one block", 1000000, false, 1},
        {"two and a half blocks", 2500000, false, 3},
        {"random incompressible", 2300001, true, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = makeData(c.size, c.random);
        uint64_t written = 0;
        const QByteArray file = writeBlocks(data, &written);
        EXPECT_EQ(written, uint64_t(file.size()));
        // Walk the block headers: lengths, zero high halves, count.
        int blocks = 0;
        qint64 at = 0;
        while (at < file.size()) {
            ASSERT_LE(at + 8, file.size());
            const uint32_t length = le32(file, at);
            EXPECT_EQ(le32(file, at + 4), 0u);
            if (c.random) {
                EXPECT_GT(length, std::min<size_t>(1000000, c.size - size_t(blocks) * 1000000));
            }
            at += 8 + length;
            ++blocks;
        }
        EXPECT_EQ(at, file.size());
        EXPECT_EQ(blocks, c.blocks);
        if (c.size == 0)
            continue;
        std::vector<uint8_t> back;
        ASSERT_TRUE(readBlocks(file, c.size, &back));
        EXPECT_TRUE(back == data);
    }
}

TEST(rawFileIO, progressCountsUncompressedBytes)
{
    const std::vector<uint8_t> data = makeData(2500000, false);
    const QString path = testSupport::freshDir() + "/p";
    filePtr f(openFileWide(path, "wb"));
    std::atomic<uint64_t> progress{5};
    uint64_t written = 0;
    ASSERT_TRUE(writeRawFile(f.get(), data.data(), data.size(), &written, &progress));
    EXPECT_EQ(progress.load(), 5u + 2500000u);
}

TEST(rawFileIO, refusesTruncatedAndForgedFiles)
{
    const size_t n = 2500000;
    const std::vector<uint8_t> data = makeData(n, true);
    const QByteArray good = writeBlocks(data);
    const uint32_t first = le32(good, 0);
    const qint64 second = 8 + first;

    QByteArray hugeLength = good;
    setLe32(hugeLength, 0, 0xfffffff0u);
    QByteArray highHalf = good;
    setLe32(highHalf, 4, 1);
    QByteArray zeroHeader = good;
    setLe32(zeroHeader, second, 0);
    QByteArray lengthIntoNextBlock = good; // reads part of the next header as data
    setLe32(lengthIntoNextBlock, 0, first + 8);
    // A last block that inflates to a whole 1,000,000 bytes where 500,000 are left.
    const std::vector<uint8_t> bigLast = makeData(3000000, true);
    const QByteArray tooLong = writeBlocks(bigLast);
    // A middle block that is short: 2,500,000 bytes written in 500,000-byte blocks.
    QByteArray shortBlocks;
    {
        for (size_t off = 0; off < n; off += 500000) {
            std::vector<uint8_t> chunk(data.begin() + off, data.begin() + off + 500000);
            shortBlocks += writeBlocks(chunk);
        }
    }
    QByteArray corrupt = good;
    corrupt[int(second + 8 + 100)] = char(corrupt[int(second + 8 + 100)] ^ 0xff);

    const struct {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"empty file", QByteArray()},
        {"header only", good.left(8)},
        {"truncated in a block", good.left(good.size() - 1)},
        {"missing last block", good.left(int(second))},
        {"huge stored length", hugeLength},
        {"non-zero high half", highHalf},
        {"zero header", zeroHeader},
        {"length overlapping the next block", lengthIntoNextBlock},
        {"last block longer than what is left", tooLong},
        {"short middle blocks", shortBlocks},
        {"corrupt zlib stream", corrupt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> back;
        EXPECT_FALSE(readBlocks(c.bytes, n, &back));
    }
    std::vector<uint8_t> back;
    EXPECT_FALSE(readBlocks(good, n, &back, 0));
    EXPECT_FALSE(readBlocks(good, n, &back, RAW_FILE_MAX_BLOCK_SIZE + 1));
    EXPECT_TRUE(readBlocks(good, n, &back));
}

TEST(rawFileIO, openFileWideLimits)
{
    const QString dir = testSupport::freshDir();
    filePtr f(openFileWide(dir + QString::fromUtf8("/\xc3\xa9t\xc3\xa9 \xe2\x82\xac.bin"), "wb"));
    EXPECT_TRUE(f);
    EXPECT_EQ(openFileWide(dir + "/" + QString(2100, 'a'), "wb"), nullptr);
    EXPECT_EQ(openFileWide(dir + "/x", "wbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"), nullptr);
    EXPECT_EQ(openFileWide(dir + "/missing", "rb"), nullptr);
}

TEST(rawFileIO, histogramSmoothing)
{
    std::vector<double> h(4096, 0.0);
    h[2000] = 1.0;
    gaussianSmoothHistogram4096(h.data());
    double sum = 0;
    for (int j = 0; j <= 64; ++j)
        sum += std::exp(-double((j - 32) * (j - 32)) / 512.0);
    EXPECT_NEAR(h[2000], 1.0 / sum, 1e-12);
    EXPECT_NEAR(h[2016] / h[2000], std::exp(-256.0 / 512.0), 1e-12); // sigma 16
    EXPECT_EQ(h[2033], 0.0);

    // Near bin 0 the weights are renormalised over the taps inside.
    std::vector<double> e(4096, 0.0);
    e[0] = 1.0;
    gaussianSmoothHistogram4096(e.data());
    double inside = 0;
    for (int j = 32; j <= 64; ++j)
        inside += std::exp(-double((j - 32) * (j - 32)) / 512.0);
    EXPECT_NEAR(e[0], 1.0 / inside, 1e-12);

    std::vector<double> flat(4096, 3.0);
    gaussianSmoothHistogram4096(flat.data());
    EXPECT_NEAR(flat[0], 3.0, 1e-12);
    EXPECT_NEAR(flat[4095], 3.0, 1e-12);
}

// The fast block codec writes and reads plain zlib streams: what it stores
// inflates with zlib, what zlib stored inflates with it, and a stream that
// inflates to more or fewer bytes than asked for is refused without writing
// past the bytes asked for.
TEST(rawFileIO, fastBlockCodecSpeaksZlib)
{
    std::mt19937 rng(7);
    struct caseRow {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> smooth(300000), noise(200000), one(1, 42);
    for (size_t i = 0; i < smooth.size(); ++i)
        smooth[i] = uint8_t((i / 97) & 0xff);
    for (uint8_t &b : noise)
        b = uint8_t(rng());
    const caseRow rows[] = {{"smooth", smooth}, {"noise", noise}, {"one byte", one}};
    for (const caseRow &row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<uint8_t> &in = row.bytes;
        std::vector<uint8_t> packed(compressBlockBound(in.size()));
        const size_t length = compressBlockFast(in.data(), in.size(), packed.data(), packed.size());
        ASSERT_GT(length, 0u);
        std::vector<uint8_t> back(in.size() + 16, 0xee);
        uLongf produced = uLongf(in.size());
        ASSERT_EQ(uncompress(back.data(), &produced, packed.data(), uLong(length)), Z_OK);
        EXPECT_EQ(produced, in.size());
        EXPECT_TRUE(std::equal(in.begin(), in.end(), back.begin()));

        uLongf zlength = compressBound(uLong(in.size()));
        std::vector<uint8_t> zpacked(zlength);
        ASSERT_EQ(compress(zpacked.data(), &zlength, in.data(), uLong(in.size())), Z_OK);
        std::fill(back.begin(), back.end(), 0xee);
        ASSERT_TRUE(inflateBlock(zpacked.data(), size_t(zlength), back.data(), in.size()));
        EXPECT_TRUE(std::equal(in.begin(), in.end(), back.begin()));
        EXPECT_EQ(back[in.size()], 0xee);

        // Asked for one byte less or more than the stream holds: refused,
        // and nothing lands past the bytes asked for.
        std::fill(back.begin(), back.end(), 0xee);
        if (in.size() > 1) {
            EXPECT_FALSE(inflateBlock(zpacked.data(), size_t(zlength), back.data(), in.size() - 1));
            EXPECT_EQ(back[in.size() - 1], 0xee);
        }
        EXPECT_FALSE(inflateBlock(zpacked.data(), size_t(zlength), back.data(), in.size() + 1));
        // A damaged stream.
        std::vector<uint8_t> broken(zpacked.begin(), zpacked.begin() + zlength);
        broken[broken.size() / 2] ^= 0x5a;
        broken.back() ^= 0xff;
        EXPECT_FALSE(inflateBlock(broken.data(), broken.size(), back.data(), in.size()));
    }
    EXPECT_FALSE(inflateBlock(nullptr, 0, one.data(), 1));
}
