#include "platform/debugLog.h"

#include "platform/platformSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

const int LOG_ON = 2;
const int LOG_OFF = 1;
const size_t MESSAGE_BUFFER_SIZE = 2048;

// 0 = not read yet; else the stored "LogToFile" value.
std::atomic<int> logMode{0};
QMutex modeMutex;  // serialises the first-use read
QMutex writeMutex; // serialises formatting and appending
QByteArray logFileName; // set before logMode becomes 2; read under writeMutex
QString logFilePath;

QMutex noticeMutex;
debugLogNotice_t noticeHandler;

// The user folder as stored ("Installer/UserFolder"); the settings record
// reads the same value, and the log sits below it so that every layer,
// the platform stand-ins included, can log.
QString userFolder()
{
    auto settings = platformSettings();
    return settings->value("Installer/UserFolder", QDir::homePath() + "/Lumidra 3").toString();
}

void showNotice(const QString &path)
{
    debugLogNotice_t notice;
    {
        QMutexLocker lock(&noticeMutex);
        notice = noticeHandler;
    }
    if (!notice)
        return;
    const QString text =
        QCoreApplication::translate("debugLog",
                                    "Logging to: %1. Press \"Yes\" to continue, or \"No\" to disable "
                                    "logging permanently.\n")
            .arg(QDir::toNativeSeparators(path));
    const int NO = 8;
    if (notice(text) == NO)
        toggleLogToFileSetting(false); // later runs; this run keeps logging
}

thread_local bool readingMode = false;

int readMode()
{
    // A line logged while the mode is being read (a Qt warning routed here
    // from inside QSettings) is dropped instead of deadlocking.
    if (readingMode)
        return LOG_OFF;
    readingMode = true;
    struct clearFlag_t {
        ~clearFlag_t() { readingMode = false; }
    } clearFlag;
    QMutexLocker lock(&modeMutex);
    int mode = logMode.load();
    if (mode != 0)
        return mode;

    {
        auto settings = platformSettings();
        mode = settings->value("LogToFile", LOG_OFF).toInt();
    }
    if (mode == 0)
        mode = LOG_OFF; // an unreadable value counts as off
    if (mode == LOG_ON) {
        const QString folder = userFolder();
        QDir().mkpath(folder);
        const QString path = QDir(folder).absoluteFilePath("Lumidra3_debug_log.txt");
        {
            QMutexLocker writeLock(&writeMutex);
            logFilePath = path;
            logFileName = QFile::encodeName(path);
            // A new file for every run with logging on.
            if (FILE *f = std::fopen(logFileName.constData(), "wb"))
                std::fclose(f);
        }
        // The notice is a widget: it must be created on the GUI thread, and
        // a worker that logged first must not wait for a person. Queue it to
        // the application's thread; it runs once the event loop does.
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [path] { showNotice(path); }, Qt::QueuedConnection);
    }
    logMode.store(mode);
    return mode;
}

} // namespace

void debugLog(const char *format, ...)
{
    int mode = logMode.load(std::memory_order_acquire);
    if (mode == 0)
        mode = readMode();
    if (mode != LOG_ON)
        return;

    QMutexLocker lock(&writeMutex);
    char buffer[MESSAGE_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n < 0)
        return;
    buffer[sizeof(buffer) - 1] = 0;
    const size_t length = std::min(size_t(n), sizeof(buffer) - 1);
    // Open, append, close: nothing is lost when the process dies.
    if (FILE *f = std::fopen(logFileName.constData(), "ab")) {
        std::fwrite(buffer, 1, length, f);
        std::fclose(f);
    }
}

void toggleLogToFileSetting(bool forceOn)
{
    auto settings = platformSettings();
    const int stored = settings->value("LogToFile", LOG_OFF).toInt();
    settings->setValue("LogToFile", (stored != LOG_ON || forceOn) ? LOG_ON : LOG_OFF);
}

void setDebugLogNotice(debugLogNotice_t notice)
{
    QMutexLocker lock(&noticeMutex);
    noticeHandler = std::move(notice);
}

QString debugLogFilePath()
{
    QMutexLocker lock(&writeMutex);
    return logFilePath;
}

void debugLogReset()
{
    QMutexLocker lock(&modeMutex);
    QMutexLocker writeLock(&writeMutex);
    logMode.store(0);
    logFilePath.clear();
    logFileName.clear();
}
