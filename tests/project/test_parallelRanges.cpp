// The task runner every parallel driver uses: its ranges and its results.
#include "project/parallelRanges.h"

#include <gtest/gtest.h>
#include <atomic>
#include <set>
#include <vector>

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
                       covered += r.end - r.first;
                       ++calls;
                   });
    // Everything has run when parallelRanges returns.
    EXPECT_EQ(covered.load(), 1000);
    EXPECT_EQ(calls.load(), 6);
}

TEST(parallelRanges, taskRangeIsTheSplitsRangeByIndex)
{
    for (const int64_t total : {int64_t(0), int64_t(1), int64_t(7), int64_t(100), int64_t(101)}) {
        for (const int tasks : {1, 3, 8, 200}) {
            const std::vector<range_t> split = splitRanges(total, tasks);
            for (int i = 0; i < tasks + 2; ++i) {
                SCOPED_TRACE(testing::Message() << total << " over " << tasks << ", task " << i);
                const range_t r = taskRange(total, tasks, i);
                if (size_t(i) < split.size()) {
                    EXPECT_EQ(r.first, split[size_t(i)].first);
                    EXPECT_EQ(r.end, split[size_t(i)].end);
                } else {
                    EXPECT_EQ(r.first, r.end); // past the last range: nothing to do
                }
            }
        }
    }
}

TEST(parallelRanges, theRunReportsTheWorstTaskResult)
{
    using R = taskResult_t;
    const struct {
        std::vector<R> tasks;
        R expected;
    } cases[] = {
        {{}, R::done},
        {{R::done}, R::done},
        {{R::cancelled}, R::cancelled},
        {{R::done, R::done, R::done}, R::done},
        {{R::done, R::cancelled, R::done}, R::cancelled},
        {{R::cancelled, R::failed, R::done}, R::failed},
        {{R::failed, R::cancelled}, R::failed},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.tasks.size() << " tasks, expected "
                                        << taskResultName(c.expected));
        std::vector<R> perTask;
        const R byIndex = runTasks(int(c.tasks.size()), [&](int i) { return c.tasks[size_t(i)]; }, &perTask);
        EXPECT_EQ(byIndex, c.expected);
        EXPECT_EQ(perTask, c.tasks); // every task's own result, in task order
        EXPECT_EQ(runThreadRecords(c.tasks, [](const R &r) { return r; }), c.expected);
    }
}

TEST(parallelRanges, aKernelWithoutResultCountsAsDone)
{
    std::atomic<int> calls{0};
    EXPECT_EQ(runTasks(5, [&](int) { ++calls; }), taskResult_t::done);
    EXPECT_EQ(calls.load(), 5);
    // runRanges gives each task its range and index.
    std::vector<int64_t> perTask(4, -1);
    EXPECT_EQ(runRanges(10, 4,
                        [&](const range_t &r, int i) {
                            perTask[size_t(i)] = r.end - r.first;
                            return i == 2 ? taskResult_t::cancelled : taskResult_t::done;
                        }),
              taskResult_t::cancelled);
    EXPECT_EQ(perTask, (std::vector<int64_t>{2, 2, 2, 4}));
}
