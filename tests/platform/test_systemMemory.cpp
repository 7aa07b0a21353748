#include "platform/systemMemory.h"
#include "testSupport.h"

#include <QFile>
#include <QList>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t MIB = size_t(1) << 20;

// Whether the mapping holding address p carries the kernel's huge-page advice
// ("hg" among the VmFlags of /proc/self/smaps).
bool advisedInSmaps(const void *p)
{
    QFile smaps("/proc/self/smaps");
    if (!smaps.open(QIODevice::ReadOnly))
        return false;
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    bool inside = false;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const int dash = line.indexOf('-');
        const int space = line.indexOf(' ');
        if (dash > 0 && space > dash && !line.startsWith("VmFlags")) {
            bool okBegin = false, okEnd = false;
            const uintptr_t begin = line.left(dash).toULongLong(&okBegin, 16);
            const uintptr_t end = line.mid(dash + 1, space - dash - 1).toULongLong(&okEnd, 16);
            if (okBegin && okEnd) {
                inside = at >= begin && at < end;
                continue;
            }
        }
        if (inside && line.startsWith("VmFlags:"))
            return line.split(' ').contains("hg");
    }
    return false;
}

bool hugePagesOnAdvice()
{
    QFile f("/sys/kernel/mm/transparent_hugepage/enabled");
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray mode = f.readAll();
    return mode.contains("[madvise]") || mode.contains("[always]");
}

} // namespace

// Only whole 2 MiB pages inside the buffer are marked, large buffers only,
// and the content stays as it was, whether the buffer was written before or not.
TEST(systemMemory, hugePageAdviceStaysInsideTheBuffer)
{
    struct row_t {
        size_t bytes;
        size_t offset; // the buffer starts this far into the allocation (not aligned)
        bool large;
    } rows[] = {
        {0, 0, false},
        {MIB, 16, false},
        {4 * MIB - 1, 16, false},
        {4 * MIB, 0, true},
        {10 * MIB + 123, 4096 + 16, true},
        {64 * MIB, 48, true},
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(r.bytes);
        auto *block = static_cast<unsigned char *>(std::malloc(r.bytes + r.offset + 1));
        ASSERT_NE(block, nullptr);
        unsigned char *data = block + r.offset;
        for (size_t i = 0; i < r.bytes; i += 4093)
            data[i] = static_cast<unsigned char>(i * 7 + 1);
        const size_t marked = adviseHugePages(data, r.bytes);
        if (!r.large) {
            EXPECT_EQ(marked, 0u);
        } else {
            // Refused by the system (no huge pages) or whole pages inside.
            EXPECT_EQ(marked % (2 * MIB), 0u);
            EXPECT_LE(marked, r.bytes);
            if (marked) {
                EXPECT_GE(marked + 4 * MIB, r.bytes);
            }
        }
        for (size_t i = 0; i < r.bytes; i += 4093)
            ASSERT_EQ(data[i], static_cast<unsigned char>(i * 7 + 1)) << i;
        std::free(block);
    }
    EXPECT_EQ(adviseHugePages(nullptr, 64 * MIB), 0u);
}

// Where the system gives huge pages on request, a large buffer is marked: a
// mistake in the alignment would make the request fail quietly every time.
TEST(systemMemory, largeBufferGetsTheAdvice)
{
    if (!hugePagesOnAdvice())
        GTEST_SKIP() << "transparent huge pages are switched off on this system";
    const size_t bytes = 32 * MIB + 4096;
    auto *data = static_cast<unsigned char *>(std::calloc(bytes, 1));
    ASSERT_NE(data, nullptr);
    const size_t marked = adviseHugePages(data, bytes);
    EXPECT_GE(marked, 28 * MIB);
    // A byte in the middle lies in a marked page.
    EXPECT_TRUE(advisedInSmaps(data + bytes / 2));
    std::free(data);
}
