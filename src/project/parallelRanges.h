#ifndef PARALLELRANGES_H
#define PARALLELRANGES_H

// The one task runner of the program: every parallel kernel, in every folder,
// is split and run through it. A driver fills one _threadParams_t record per
// task (by value) and hands the records to runThreadRecords, which starts each
// through QtConcurrent::run on the global thread pool and waits for all of
// them.
//
//     const int n = idealThreadCount(batch);          // app/utils.h
//     std::vector<_median_threadParams_t> records;
//     for (const range_t &r : splitRanges(height, n)) {
//         _median_threadParams_t p = common;
//         p.firstRow = r.first;
//         p.lastRow = r.end;                          // half-open
//         records.push_back(p);
//     }
//     const taskResult_t result = runThreadRecords(records, medianThread);
//
// or, in one call: parallelRanges(height, n, makeRecord, medianThread), or by
// task index: runTasks(n, [&](int i) { ... taskRange(total, n, i) ... }).
//
// Ranges are half-open [first, end): n equal ranges of total / n, the last
// taking the remainder. Fewer ranges than n are made when total < n, and
// none when total <= 0.
//
// Every task has a result. A kernel returns taskResult_t (or nothing, which
// counts as done): a kernel that sees a stop flag returns
// taskResult_t::cancelled, one that cannot do its work returns
// taskResult_t::failed. The runner hands back the worst of the task results
// (failed over cancelled over done) and the driver passes it up; nobody
// learns of a stop by reading the flag a second time.

#include "project/taskResult.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdint>
#include <type_traits>
#include <vector>

struct range_t {
    int64_t first;
    int64_t end; // one past the last
};

// Task i of the split of [0, total) into taskCount ranges (the same ranges
// splitRanges gives); an empty range at total for an index past the last.
inline range_t taskRange(int64_t total, int taskCount, int index)
{
    if (total <= 0)
        return {0, 0};
    int64_t n = taskCount < 1 ? 1 : taskCount;
    if (n > total)
        n = total;
    if (index < 0 || index >= n)
        return {total, total};
    const int64_t step = total / n;
    return {index * step, index == n - 1 ? total : (index + 1) * step};
}

inline std::vector<range_t> splitRanges(int64_t total, int taskCount)
{
    std::vector<range_t> ranges;
    if (total <= 0)
        return ranges;
    const int64_t n = taskCount < 1 ? 1 : (taskCount > total ? total : taskCount);
    ranges.reserve(size_t(n));
    for (int64_t k = 0; k < n; ++k)
        ranges.push_back(taskRange(total, int(n), int(k)));
    return ranges;
}

namespace taskRunnerDetail {

// Calls f(args...) and turns its return value into a task result: nothing
// means done.
template <typename F, typename... Args>
taskResult_t resultOf(F &f, Args &&...args)
{
    using R = decltype(f(std::forward<Args>(args)...));
    static_assert(std::is_void<R>::value || std::is_same<R, taskResult_t>::value,
                  "a task returns nothing or a taskResult_t");
    if constexpr (std::is_void<R>::value) {
        f(std::forward<Args>(args)...);
        return taskResult_t::done;
    } else {
        return f(std::forward<Args>(args)...);
    }
}

inline taskResult_t worstOf(const std::vector<taskResult_t> &results)
{
    taskResult_t worst = taskResult_t::done;
    for (taskResult_t r : results)
        worst = worseResult(worst, r);
    return worst;
}

} // namespace taskRunnerDetail

// Runs body(i) for i in [0, taskCount), each as its own task (one task runs
// on the calling thread), waits for all of them and returns the worst result.
// When perTask is given it receives every task's own result.
template <typename Body>
taskResult_t runTasks(int taskCount, Body body, std::vector<taskResult_t> *perTask = nullptr)
{
    const int n = taskCount < 1 ? 0 : taskCount;
    std::vector<taskResult_t> results(size_t(n), taskResult_t::done);
    if (n == 1) {
        results[0] = taskRunnerDetail::resultOf(body, 0);
    } else if (n > 1) {
        std::vector<QFuture<void>> futures;
        futures.reserve(size_t(n));
        for (int i = 0; i < n; ++i)
            futures.push_back(QtConcurrent::run([&body, &results, i]() {
                results[size_t(i)] = taskRunnerDetail::resultOf(body, i);
            }));
        for (QFuture<void> &f : futures)
            f.waitForFinished();
    }
    const taskResult_t worst = taskRunnerDetail::worstOf(results);
    if (perTask)
        *perTask = std::move(results);
    return worst;
}

// Runs kernel(record) for every record, each as its own task, and waits for
// all of them. The records live in the caller's vector until every task has
// ended; a kernel takes its record by const reference.
template <typename Record, typename Kernel>
taskResult_t runThreadRecords(const std::vector<Record> &records, Kernel kernel,
                              std::vector<taskResult_t> *perTask = nullptr)
{
    return runTasks(
        int(records.size()), [&](int i) { return taskRunnerDetail::resultOf(kernel, records[size_t(i)]); },
        perTask);
}

// Splits [0, total) into taskCount ranges, builds one record per range with
// makeRecord(range_t) and runs them through runThreadRecords.
template <typename MakeRecord, typename Kernel>
taskResult_t parallelRanges(int64_t total, int taskCount, MakeRecord makeRecord, Kernel kernel)
{
    using Record = decltype(makeRecord(range_t{0, 0}));
    std::vector<Record> records;
    for (const range_t &r : splitRanges(total, taskCount))
        records.push_back(makeRecord(r));
    return runThreadRecords(records, kernel);
}

// Splits [0, total) into taskCount ranges and runs body(range, index) for
// each as its own task; for loops whose tasks fill their own slot of a
// per-task array (histograms, partial sums).
template <typename Body>
taskResult_t runRanges(int64_t total, int taskCount, Body body)
{
    const std::vector<range_t> ranges = splitRanges(total, taskCount);
    return runTasks(int(ranges.size()), [&](int i) {
        return taskRunnerDetail::resultOf(body, ranges[size_t(i)], i);
    });
}

#endif // PARALLELRANGES_H
