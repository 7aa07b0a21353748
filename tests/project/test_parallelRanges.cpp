// The range splitter every parallel driver uses.
#include "project/parallelRanges.h"

#include <gtest/gtest.h>
#include <atomic>
#include <set>
#include <thread>

TEST(parallelRanges, splitsIntoEqualRangesLastTakesRemainder)
{
    const struct {
        int64_t total;
        int tasks;
        std::vector<range_t> expected;
    } cases[] = {
        {10, 3, {{0, 3}, {3, 6}, {6, 10}}},
        {9, 3, {{0, 3}, {3, 6}, {6, 9}}},
        {2, 8, {{0, 1}, {1, 2}}},      // never more ranges than units
        {5, 0, {{0, 5}}},              // at least one task
        {0, 4, {}},
        {-3, 4, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.total << " over " << c.tasks);
        const std::vector<range_t> r = splitRanges(c.total, c.tasks);
        ASSERT_EQ(r.size(), c.expected.size());
        for (size_t i = 0; i < r.size(); ++i) {
            EXPECT_EQ(r[i].first, c.expected[i].first);
            EXPECT_EQ(r[i].end, c.expected[i].end);
        }
    }
    // 64-bit totals (a 400-megapixel image as pixel ranges).
    const std::vector<range_t> big = splitRanges(int64_t(20000) * 20000 * 3, 7);
    EXPECT_EQ(big.back().end, int64_t(20000) * 20000 * 3);
}

TEST(parallelRanges, runsEveryRecordOnceAndWaits)
{
    std::atomic<int64_t> covered{0};
    std::atomic<int> calls{0};
    parallelRanges(1000, 6, [](const range_t &r) { return r; },
                   [&](const range_t &r) {
                       std::this_thread::sleep_for(std::chrono::milliseconds(5));
                       covered += r.end - r.first;
                       ++calls;
                   });
    // Everything has run when parallelRanges returns.
    EXPECT_EQ(covered.load(), 1000);
    EXPECT_EQ(calls.load(), 6);
}
