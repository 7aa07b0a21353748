#ifndef TASKRESULT_H
#define TASKRESULT_H

// The result of one task of a parallel kernel and of the driver that ran the
// tasks (see project/parallelRanges.h). A kernel that sees a stop flag
// (breakFlag, hdrBreakFlag, abortBackgroundFlag) returns cancelled like any
// other result; the driver passes the worst result of its tasks up.

enum class taskResult_t : int {
    done = 0,
    cancelled = 1, // a stop flag was seen; the output is incomplete
    failed = 2,    // the task could not do its work (memory, bad input)
};

// The result of a run of tasks: failed over cancelled over done.
inline taskResult_t worseResult(taskResult_t a, taskResult_t b)
{
    return int(a) >= int(b) ? a : b;
}

inline const char *taskResultName(taskResult_t r)
{
    switch (r) {
    case taskResult_t::done:
        return "done";
    case taskResult_t::cancelled:
        return "cancelled";
    case taskResult_t::failed:
        return "failed";
    }
    return "?";
}

#endif // TASKRESULT_H
