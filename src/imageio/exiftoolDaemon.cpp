#include "imageio/exiftoolDaemon.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "platform/childProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QCursor>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// A reply's end marker "{ready<N>}" (anything may follow the closing brace).
// Returns the command number, or -1 when the line is not a marker; an
// unnumbered "{ready}" gives 0.
int readyMarkerNumber(const QString &line)
{
    if (!line.startsWith(QLatin1String("{ready")))
        return -1;
    const int close = line.indexOf(QLatin1Char('}'), 6);
    if (close < 0)
        return -1;
    if (close == 6)
        return 0;
    bool ok = false;
    const int n = line.mid(6, close - 6).toInt(&ok);
    return ok ? n : -1;
}

bool onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

exiftoolDaemon::exiftoolDaemon(const QString &program) : requestedProgram(program)
{
    checkTimer = new QTimer(this);
    checkTimer->setSingleShot(true);
    checkTimer->setInterval(VERSION_POLL_MS);
    connect(checkTimer, &QTimer::timeout, this, &exiftoolDaemon::checkExiftoolSlot);
    errorReported = false;

    running = start();
    if (!running) {
        debugLog("Error! Failed to start exiftool.\n");
        return;
    }
    // The version query holds the lock until it has its answer (released by
    // checkExiftoolSlot on this thread); other commands wait for it.
    mutex.lock();
    versionPending = true;
    versionRetries = 0;
    execute(QStringList{QStringLiteral("-ver")}, &versionLines, true, 1, false);
    checkTimer->start();
}

exiftoolDaemon::~exiftoolDaemon()
{
    waitsCancelled = true;
    warmUpRun.waitForFinished();
    checkTimer->stop();
    if (versionPending) {
        versionPending = false;
        mutex.unlock();
    }
    stop(false);
}

QString exiftoolDaemon::findExecutable()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/exiftool");
    const QFileInfo fi(beside);
    if (fi.isFile() && fi.isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("exiftool"));
}

QString exiftoolDaemon::scratchDir()
{
    QString dir;
    if (optionsInstance)
        dir = optionsInstance->scratchpad.pathCurrent;
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

QStringList exiftoolDaemon::processEnvironment(const QStringList &systemEnvironment,
                                               const QString &scratch)
{
    QString dir = scratch;
    if (dir.endsWith(QLatin1Char('\\')) || dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    static const char *const tempNames[] = {"TEMP", "TMP", "TMPDIR"};
    QStringList env;
    for (const QString &entry : systemEnvironment) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        bool isTemp = false;
        for (const char *t : tempNames)
            isTemp = isTemp || name == QLatin1String(t);
        if (!isTemp)
            env << entry;
    }
    if (!dir.isEmpty()) {
        for (const char *t : tempNames)
            env << QLatin1String(t) + QLatin1Char('=') + dir;
    }
    return env;
}

bool exiftoolDaemon::encodeArgument(const QString &arg, QByteArray *line)
{
    if (arg.contains(QLatin1Char('\n')) || arg.contains(QLatin1Char('\r'))
        || arg.contains(QChar(0)))
        return false;
    const QByteArray bytes = arg.toUtf8();
    // exiftool drops leading white space, ignores lines that start with "#"
    // and skips empty lines. Such arguments go as a C-string line ("#[CSTR]"),
    // which exiftool takes literally as long as it holds no escapes.
    const bool plain = !bytes.isEmpty() && !QChar(bytes.at(0)).isSpace() && bytes.at(0) != '#';
    if (plain) {
        *line = bytes;
        return true;
    }
    for (char c : bytes) {
        if (c == '\\' || c == '"' || c == '$' || c == '@')
            return false;
    }
    *line = QByteArrayLiteral("#[CSTR]") + bytes;
    return true;
}

bool exiftoolDaemon::start()
{
    processArgs = QStringList{QStringLiteral("-stay_open"), QStringLiteral("True"),
                              QStringLiteral("-@"), QStringLiteral("-")};
    debugLog("Starting exiftool...\n");
    process.reset(new childProcess);
    commandNumber = 0;
    answeredCommand = 0;

    const QStringList env =
        processEnvironment(QProcessEnvironment::systemEnvironment().toStringList(), scratchDir());
    exePath = requestedProgram.isEmpty() ? findExecutable() : requestedProgram;
    debugLog("Exiftool path: %s\n", qUtf8Printable(exePath));
    if (exePath.isEmpty())
        return false;
    return process->start(exePath, processArgs, env, childProcess::stderrMode::capture)
           && process->isRunning();
}

bool exiftoolDaemon::stop(bool takeLock)
{
    debugLog("Terminating exiftool...\n");
    if (!process)
        return false;
    if (!process->isRunning()) {
        process.reset();
        return false;
    }
    bool locked = false;
    if (takeLock) {
        if (versionPending && onGuiThread()) {
            // This thread already holds the lock for the version query.
            checkTimer->stop();
            versionPending = false;
        } else {
            mutex.lock();
        }
        locked = true;
    }
    process->readAvailable();
    process->write(QByteArrayLiteral("-stay_open\nFalse\n-execute\n"));
    process->closeWrite();
    const bool ended = process->waitForFinished(5000);
    if (!ended)
        process->kill(); // never leave it behind
    process.reset();
    if (locked)
        mutex.unlock();
    return ended;
}

QStringList exiftoolDaemon::listTempDirs()
{
    QStringList dirs;
    const QDir scratch(scratchDir());
    const QFileInfoList entries =
        scratch.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &fi : entries) {
        if (!fi.fileName().startsWith(QLatin1String("par-")))
            continue;
        debugLog("EXIFTOOL TEMP_%d: %s\n", int(dirs.size()), qUtf8Printable(fi.filePath()));
        dirs << QDir::toNativeSeparators(fi.absoluteFilePath());
    }
    return dirs;
}

bool exiftoolDaemon::restart()
{
    const QStringList dirs = listTempDirs();
    const bool cursor = onGuiThread() && qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (cursor)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    bool result = false;
    for (const QString &d : dirs) {
        if (!QFileInfo::exists(d) || !stop(true))
            continue;
        const bool removed = QDir(d).removeRecursively();
        debugLog("Restarting exiftool...\n");
        stop(false);
        running = start();
        result = result || removed;
        if (!running) {
            debugLog("Error! Failed to start exiftool.\n");
            reportErrorOnce();
        }
    }
    if (cursor)
        QGuiApplication::restoreOverrideCursor();
    return result;
}

void exiftoolDaemon::reportErrorOnce()
{
    if (!errorReported.exchange(true))
        emit showError();
}

bool exiftoolDaemon::lockWait()
{
    const bool gui = onGuiThread();
    for (int i = 0; i < LOCK_ATTEMPTS; ++i) {
        if (!gui) {
            // Short slices: a wait cancelled by the owner ends at once.
            for (int slice = 0; slice < 10; ++slice) {
                if (waitsCancelled.load())
                    break;
                if (mutex.tryLock(25)) {
                    debugLog("tryLock success i=%d!\n", i);
                    return true;
                }
            }
            if (waitsCancelled.load())
                break;
            continue;
        }
        // On the GUI thread the 250 ms attempt is cut into short slices so the
        // window keeps painting; user input stays queued until the call ends.
        for (int slice = 0; slice < 10; ++slice) {
            if (mutex.tryLock(25)) {
                debugLog("tryLock success i=%d!\n", i);
                return true;
            }
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    }
    debugLog("tryLock failed!\n");
    return false;
}

bool exiftoolDaemon::run(const QStringList &args, QStringList *out)
{
    return execute(args, out, false, DEFAULT_POLL_LIMIT, true);
}

bool exiftoolDaemon::execute(QStringList args, QStringList *out, bool noLock, int pollLimit,
                             bool reportError)
{
    // Encode first: a command with an argument that cannot be passed is
    // refused before anything is sent.
    QByteArray payload;
    for (const QString &a : args) {
        QByteArray line;
        if (!encodeArgument(a, &line)) {
            debugLog("%s: refused argument with a line break: '%s'\n", "exiftoolDaemon::execute",
                     qUtf8Printable(QString(a).replace(QLatin1Char('\n'), QLatin1String("\\n"))
                                        .replace(QLatin1Char('\r'), QLatin1String("\\r"))));
            return false;
        }
        payload += line + '\n';
    }

    bool locked = false;
    if (!noLock) {
        if (!lockWait())
            return false;
        locked = true;
    }
    auto unlock = [&]() {
        if (locked)
            mutex.unlock();
        locked = false;
    };

    if (!running || !process || !process->isRunning()) {
        debugLog("Exiftool is not running!\n");
        unlock();
        running = false;
        if (reportError)
            reportErrorOnce();
        return false;
    }

    if (!args.isEmpty()) {
        process->readAvailable(); // what an earlier command left behind
        const QByteArray errors = process->takeStderr();
        if (!errors.isEmpty())
            debugLog("exiftool stderr: %s\n", errors.trimmed().constData());
        for (const QString &a : args)
            debugLog("EX: %s\n", qUtf8Printable(a));
        ++commandNumber;
        payload += "-execute" + QByteArray::number(commandNumber) + '\n';
        process->write(payload); // a failed write shows as a dead process below
    } else if (answeredCommand == commandNumber) {
        // The current command was answered already: nothing pending.
        if (!noLock)
            unlock();
        return true;
    }
    const int current = commandNumber;

    const int outBase = out ? out->size() : 0;
    const int waitMs = noLock ? 0 : 100;
    int idlePolls = 0;
    int linesRead = 0;
    bool anyLine = false;
    bool ready = false;
    bool timedOut = false;
    for (;;) {
        if (idlePolls > (anyLine ? 4 * pollLimit : pollLimit)) {
            timedOut = true;
            break;
        }
        bool ended = false;
        int wait = waitMs;
        while (linesRead < MAX_REPLY_LINES) {
            QByteArray raw;
            const childProcess::readStatus st = process->readLine(&raw, wait);
            wait = 0;
            if (st == childProcess::readStatus::endOfStream) {
                ended = true;
                break;
            }
            if (st == childProcess::readStatus::timedOut)
                break;
            anyLine = true;
            QString line = QString::fromUtf8(raw);
            line.remove(QLatin1String("\r\n"));
            line.remove(QLatin1Char('\n'));
            debugLog("********* line='%s'\n", qUtf8Printable(line));
            const int marker = readyMarkerNumber(line);
            if (marker == current) {
                ready = true;
                answeredCommand = current;
                debugLog("exiftool exec command (done)\n");
                break;
            }
            if (marker >= 0) {
                // The late end of an earlier command: its lines are not ours.
                debugLog("%s: discarded a late reply (command %d, waiting for %d)\n",
                         "exiftoolDaemon::execute", marker, current);
                if (out)
                    out->erase(out->begin() + outBase, out->end());
                linesRead = 0;
                continue;
            }
            if (out)
                out->append(line);
            idlePolls = 0;
            ++linesRead;
        }
        if (ended) {
            // The child closed its output: it is ending. Reap it, so the next
            // command finds it dead rather than racing its exit.
            const bool gone = process->waitForFinished(1000);
            debugLog("Exiftool crashed. State = %d\n", gone ? 0 : 2);
            break;
        }
        if (!ready)
            debugLog("exiftool exec command (not ready yet: %d)\n", idlePolls);
        if (linesRead >= MAX_REPLY_LINES)
            break;
        ++idlePolls;
        if (ready)
            break;
    }

    if (noLock)
        return ready;
    if (timedOut)
        debugLog("Exiftool timeout!\n");
    unlock();
    return ready && !timedOut;
}

void exiftoolDaemon::checkExiftoolSlot()
{
    const bool ok = execute(QStringList(), &versionLines, true, 1, false);
    if (!ok && versionRetries < VERSION_RETRIES) {
        ++versionRetries;
        checkTimer->start();
        return;
    }
    if (versionPending) {
        versionPending = false;
        mutex.unlock();
    }
    if (!versionLines.isEmpty() && running) {
        version = versionLines.first();
        debugLog("Exiftool version: %s\n", qUtf8Printable(version));
    } else {
        version = QStringLiteral("?");
        debugLog("Exiftool version: [couldn't get it in time...]\n");
        running = false;
        reportErrorOnce();
    }
}
