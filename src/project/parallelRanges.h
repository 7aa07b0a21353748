#ifndef PARALLELRANGES_H
#define PARALLELRANGES_H

// The one place that splits work for the parallel kernels. A driver fills
// one _threadParams_t record per task (by value) and hands the records to
// runThreadRecords, which starts each through QtConcurrent::run on the
// global thread pool and waits for all of them.
//
//     const int n = idealThreadCount(batch);          // app/utils.h
//     std::vector<_median_threadParams_t> records;
//     for (const range_t &r : splitRanges(height, n)) {
//         _median_threadParams_t p = common;
//         p.firstRow = r.first;
//         p.lastRow = r.end;                          // half-open
//         records.push_back(p);
//     }
//     runThreadRecords(records, medianThread);
//
// or, in one call: parallelRanges(height, n, makeRecord, medianThread).
//
// Ranges are half-open [first, end): n equal ranges of total / n, the last
// taking the remainder. Fewer ranges than n are made when total < n, and
// none when total <= 0.

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdint>
#include <vector>

struct range_t {
    int64_t first;
    int64_t end; // one past the last
};

inline std::vector<range_t> splitRanges(int64_t total, int taskCount)
{
    std::vector<range_t> ranges;
    if (total <= 0)
        return ranges;
    int64_t n = taskCount < 1 ? 1 : taskCount;
    if (n > total)
        n = total;
    const int64_t step = total / n;
    ranges.reserve(size_t(n));
    for (int64_t k = 0; k < n; ++k)
        ranges.push_back({k * step, k == n - 1 ? total : (k + 1) * step});
    return ranges;
}

// Runs kernel(record) for every record, each as its own task, and waits for
// all of them. The records live in the caller's vector until every task has
// ended; a kernel takes its record by const reference.
template <typename Record, typename Kernel>
void runThreadRecords(const std::vector<Record> &records, Kernel kernel)
{
    if (records.size() == 1) {
        kernel(records[0]);
        return;
    }
    std::vector<QFuture<void>> futures;
    futures.reserve(records.size());
    for (const Record &r : records)
        futures.push_back(QtConcurrent::run([&kernel, &r]() { kernel(r); }));
    for (QFuture<void> &f : futures)
        f.waitForFinished();
}

// Splits [0, total) into taskCount ranges, builds one record per range with
// makeRecord(range_t) and runs them through runThreadRecords.
template <typename MakeRecord, typename Kernel>
void parallelRanges(int64_t total, int taskCount, MakeRecord makeRecord, Kernel kernel)
{
    using Record = decltype(makeRecord(range_t{0, 0}));
    std::vector<Record> records;
    for (const range_t &r : splitRanges(total, taskCount))
        records.push_back(makeRecord(r));
    runThreadRecords(records, kernel);
}

#endif // PARALLELRANGES_H
