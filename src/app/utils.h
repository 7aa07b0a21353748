#ifndef UTILS_H
#define UTILS_H

// File, path and system helpers shared by the whole program.

// Number of tasks a parallel kernel runs: min(ideal thread count, 64, the
// "Performance/CoreCount" setting, or "Performance/CoreCountBatch" when batch).
int idealThreadCount(bool batch);

#endif // UTILS_H
