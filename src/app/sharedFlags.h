#ifndef SHAREDFLAGS_H
#define SHAREDFLAGS_H

// Flags and counters shared between the GUI thread and the workers. They are
// atomics: workers poll them between rows or steps, the GUI thread sets them.

#include <QMutex>
#include <atomic>
#include <cstdint>

extern std::atomic<bool> breakFlag;           // the main window's Break button
extern std::atomic<bool> hdrBreakFlag;        // the HDR dialog's Break button
extern std::atomic<bool> abortBackgroundFlag; // stops background tone mapping and thumbnails
extern std::atomic<bool> toneMappingRunning;  // one preview pass at a time
extern std::atomic<bool> imageBusyFlag;       // views wait while the image is being rewritten
extern std::atomic<uint64_t> progressCounter; // advanced by kernels, shown by the progress bars

// Held for the whole of every tone-mapping run and by the result writer.
extern QMutex toneMappingMutex;

#endif // SHAREDFLAGS_H
