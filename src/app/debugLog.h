#ifndef DEBUGLOG_H
#define DEBUGLOG_H

// The program's one diagnostic channel. printf style; by convention the first
// argument is the literal "Class::method" of the caller:
//     debugLog("%s: failed to allocate memory\n", "processingProject::allocate");
// Callable from any thread. Writes only when the stored "LogToFile" value is 2.
void debugLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Flips the stored "LogToFile" value (2 = on, 1 = off); forceOn always stores 2.
// Takes effect at the next start.
void toggleLogToFileSetting(bool forceOn);

#endif // DEBUGLOG_H
