#ifndef DEBUGLOG_H
#define DEBUGLOG_H

// The program's one diagnostic channel. printf style; by convention the first
// argument is the literal "Class::method" of the caller:
//     debugLog("%s: failed to allocate memory\n", "processingProject::allocate");
// Callable from any thread; each call is formatted (at most 2,047 characters,
// longer text is cut) and appended as a whole, so lines of different threads
// never interleave. Writes only when the stored "LogToFile" value is 2, to
// "Lumidra3_debug_log.txt" in the user folder ("Installer/UserFolder"); the
// value is read once per process, and the file is emptied by the first line.
// It lives in platform/, the lowest layer, so that every folder can log; it
// reads only the settings store, never the settings record.

#include <QString>
#include <functional>

void debugLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Stores "LogToFile" = 2 when the stored value is not 2 or forceOn is set,
// else 1. Takes effect at the next start.
void toggleLogToFileSetting(bool forceOn = false);

// The notice shown once per run when logging is on: it gets the text and
// returns the button pressed (4 Yes = keep logging, 8 No = switch logging off
// for later runs). main installs one that shows a message box. The notice is
// always run on the application's (GUI) thread through its event queue, never
// on the thread that logged, and a logging thread never waits for it.
using debugLogNotice_t = std::function<int(const QString &text)>;
void setDebugLogNotice(debugLogNotice_t notice);

// Absolute path of the log file (valid once a line was logged with logging on).
QString debugLogFilePath();

// Forgets the mode read on first use, so that the next line reads
// "LogToFile" again (for tests).
void debugLogReset();

#endif // DEBUGLOG_H
