#ifndef HDRTASKS_H
#define HDRTASKS_H

// Runs n tasks of an HDR stage on the global thread pool and waits for all of
// them. The task body gets its index; ranges are cut with hdrTaskRange.

#include <QFuture>
#include <QVector>
#include <QtConcurrent/QtConcurrentRun>
#include <QtGlobal>

#include <algorithm>

// Range [first, end) of task i of n over total items: n equal parts, the last
// taking the remainder.
inline void hdrTaskRange(qint64 total, int n, int i, qint64 *first, qint64 *end)
{
    const qint64 part = total / n;
    *first = part * i;
    *end = i == n - 1 ? total : part * (i + 1);
}

template <typename F>
void hdrRunTasks(int n, F body)
{
    n = std::max(1, n);
    if (n == 1) {
        body(0);
        return;
    }
    QVector<QFuture<void>> futures;
    futures.reserve(n);
    for (int i = 0; i < n; i++)
        futures.append(QtConcurrent::run([&body, i]() { body(i); }));
    for (QFuture<void> &f : futures)
        f.waitForFinished();
}

#endif // HDRTASKS_H
