#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

// A child program with pipes on its standard input, output and error.
//
// Started from an argument list (never through a shell) by fork and exec on
// one long-lived thread, so it is safe to start from any thread of a
// multi-threaded program. The child ends with the program, even when the
// program is killed (SIGKILL, a file-size limit): no orphan is ever left. The object
// is not a QObject and has no thread affinity: any thread may use it, one
// thread at a time (callers that share one instance serialise with their own
// lock). The destructor kills a child that is still running and always reaps
// it, so no zombie is ever left behind.
//
// Standard error is either discarded, merged into standard output, or
// captured into a buffer of its own (drained whenever standard output is
// polled, so a chatty child never blocks on a full error pipe).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

class childProcess
{
public:
    enum class stderrMode { discard, merge, capture };
    enum class readStatus { lineReady, timedOut, endOfStream };

    childProcess() = default;
    ~childProcess();
    childProcess(const childProcess &) = delete;
    childProcess &operator=(const childProcess &) = delete;

    // Starts program with args. environment: "NAME=value" entries; empty = the
    // current environment. The program must be a path (no PATH search).
    // False when a child is already running or the program cannot be started.
    bool start(const QString &program, const QStringList &args,
               const QStringList &environment = QStringList(),
               stderrMode errMode = stderrMode::capture);

    // The child was started and has not ended (reaps it when it has).
    bool isRunning();
    pid_t pid() const { return childPid; }
    // Exit code after the child ended normally; -1 when killed or unknown.
    int exitCode() const { return lastExitCode; }

    // Writes all bytes to the child's standard input (blocks until written or
    // the child closed its end). Never raises SIGPIPE.
    bool write(const QByteArray &data);
    // Closes the child's standard input (it then sees end of file).
    void closeWrite();

    // One line of standard output without its line end ("\n" or "\r\n").
    // Waits up to timeoutMs (0 = only what is already there, -1 = no limit).
    readStatus readLine(QByteArray *line, int timeoutMs);
    // A whole line is already buffered or readable without waiting.
    bool canReadLine();
    // Everything readable now, without waiting (buffered partial lines too).
    QByteArray readAvailable();
    // Everything until the child closes its output, or timeoutMs passes
    // (-1 = no limit). timedOut, when given, tells which of the two happened.
    QByteArray readAll(int timeoutMs = -1, bool *timedOut = nullptr);
    // Captured standard error so far (emptied by the call).
    QByteArray takeStderr();

    // Waits up to timeoutMs (-1 = no limit) for the child to end; true when
    // it ended (and was reaped).
    bool waitForFinished(int timeoutMs);
    // Sends SIGKILL and reaps the child.
    void kill();

private:
    enum class fillResult { data, timedOut, endOfStream };
    fillResult fillBuffer(int timeoutMs);
    void drainStderr();
    void closeFds();
    bool reap(bool block);

    pid_t childPid = -1;
    int lastExitCode = -1;
    int inFd = -1;
    int outFd = -1;
    int errFd = -1;
    bool outEof = false;
    QByteArray outBuffer;
    QByteArray errBuffer;
};

#endif // CHILDPROCESS_H
