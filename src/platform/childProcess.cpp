#include "platform/childProcess.h"

#include "platform/debugLog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

extern char **environ;

namespace {

// Keeps the encoded strings alive and offers the char* array execve wants.
struct cStringArray
{
    std::vector<QByteArray> storage;
    std::vector<char *> pointers;
    void add(const QByteArray &s) { storage.push_back(s); }
    char **data()
    {
        pointers.clear();
        for (QByteArray &s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

// Milliseconds left of a limit; -1 stays "no limit".
int remainingMs(const QElapsedTimer &clock, int timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    const qint64 left = timeoutMs - clock.elapsed();
    return left > 0 ? int(left) : 0;
}

// Everything the forked child needs, prepared before the fork: after it the
// child may only make async-signal-safe calls.
struct spawnRequest
{
    const char *path = nullptr;
    char **argv = nullptr;
    char **envp = nullptr;
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1; // -1: /dev/null
    pid_t pid = -1;
    int error = 0; // errno of a failed fork or exec
    bool done = false;
};

// Makes fd the child's descriptor target, open across exec.
bool moveFd(int fd, int target)
{
    if (fd == target)
        return fcntl(fd, F_SETFD, 0) == 0;
    return dup2(fd, target) == target;
}

// In the child between fork and exec. The kernel kills the child when the
// thread that forked it ends (see spawner() below: that thread ends only with
// the program), so a child never outlives a program killed with SIGKILL; an
// exiftool left in its stay-open loop would otherwise run under init for ever.
[[noreturn]] void execChild(const spawnRequest &req, pid_t parent, int reportFd)
{
    int err = 0;
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        err = ESRCH; // the program ended while we were starting
    } else {
        int errTarget = req.stderrFd;
        if (errTarget < 0)
            errTarget = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (errTarget < 0 || !moveFd(req.stdinFd, STDIN_FILENO) || !moveFd(req.stdoutFd, STDOUT_FILENO)
            || !moveFd(errTarget, STDERR_FILENO)) {
            err = errno ? errno : EBADF;
        } else {
            // Default handling and an empty mask, whatever the program had set up.
            struct sigaction dfl;
            memset(&dfl, 0, sizeof(dfl));
            dfl.sa_handler = SIG_DFL;
            for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGCHLD, SIGHUP, SIGQUIT})
                sigaction(sig, &dfl, nullptr);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execve(req.path, req.argv, req.envp);
            err = errno;
        }
    }
    ssize_t ignored = ::write(reportFd, &err, sizeof(err));
    (void)ignored;
    _exit(127);
}

void spawnNow(spawnRequest &req)
{
    // The exec result comes back through a pipe that exec closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        req.error = errno;
        return;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(report[0]);
        execChild(req, parent, report[1]);
    }
    ::close(report[1]);
    if (pid < 0) {
        req.error = errno;
        ::close(report[0]);
        return;
    }
    int childErr = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &childErr, sizeof(childErr));
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == ssize_t(sizeof(childErr))) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        req.error = childErr ? childErr : ECHILD;
        return;
    }
    req.pid = pid;
}

// Children are forked by one thread that lives as long as the program: the
// kernel's "parent died" signal follows the forking thread, and the threads
// that call start() (pool workers among them) may end at any time.
struct spawnerState
{
    std::mutex callers; // one request at a time
    std::mutex lock;
    std::condition_variable wake;
    spawnRequest *pending = nullptr;
};

spawnerState &spawner()
{
    // Never destroyed: the thread may still wait on it while the program exits.
    static spawnerState *state = [] {
        auto *st = new spawnerState;
        std::thread([st] {
            for (;;) {
                std::unique_lock<std::mutex> hold(st->lock);
                st->wake.wait(hold, [st] { return st->pending != nullptr; });
                spawnRequest *req = st->pending;
                hold.unlock();
                spawnNow(*req);
                hold.lock();
                req->done = true;
                st->pending = nullptr;
                st->wake.notify_all();
            }
        }).detach();
        return st;
    }();
    return *state;
}

void runOnSpawnerThread(spawnRequest &req)
{
    spawnerState &st = spawner();
    std::lock_guard<std::mutex> one(st.callers);
    std::unique_lock<std::mutex> hold(st.lock);
    st.pending = &req;
    st.wake.notify_all();
    st.wake.wait(hold, [&req] { return req.done; });
}

} // namespace

childProcess::~childProcess()
{
    if (childPid > 0)
        kill();
    closeFds();
}

bool childProcess::start(const QString &program, const QStringList &args,
                         const QStringList &environment, stderrMode errMode)
{
    if (childPid > 0 && isRunning()) {
        debugLog("%s: a child is already running\n", "childProcess::start");
        return false;
    }
    closeFds();
    outBuffer.clear();
    errBuffer.clear();
    outEof = false;
    lastExitCode = -1;
    childPid = -1;

    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    auto closeAll = [&]() {
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            if (fd >= 0)
                ::close(fd);
    };
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0
        || (errMode == stderrMode::capture && pipe2(errPipe, O_CLOEXEC) != 0)) {
        debugLog("%s: pipe() failed (%s)\n", "childProcess::start", strerror(errno));
        closeAll();
        return false;
    }

    cStringArray argv, envp;
    const QByteArray programPath = QFile::encodeName(program);
    argv.add(programPath);
    for (const QString &a : args)
        argv.add(a.toUtf8());
    for (const QString &e : environment)
        envp.add(e.toUtf8());

    spawnRequest req;
    req.path = programPath.constData();
    req.argv = argv.data();
    req.envp = environment.isEmpty() ? environ : envp.data();
    req.stdinFd = inPipe[0];
    req.stdoutFd = outPipe[1];
    req.stderrFd = errMode == stderrMode::capture ? errPipe[1] : errMode == stderrMode::merge ? outPipe[1] : -1;
    runOnSpawnerThread(req);
    if (req.error != 0) {
        debugLog("%s: cannot start '%s' (%s)\n", "childProcess::start", programPath.constData(),
                 strerror(req.error));
        closeAll();
        return false;
    }
    const pid_t pid = req.pid;

    // Keep our ends, close the child's.
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (errPipe[1] >= 0)
        ::close(errPipe[1]);
    inFd = inPipe[1];
    outFd = outPipe[0];
    errFd = errPipe[0];
    childPid = pid;
    return true;
}

bool childProcess::reap(bool block)
{
    if (childPid <= 0)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(childPid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    if (r == childPid)
        lastExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    childPid = -1;
    return true;
}

bool childProcess::isRunning()
{
    if (childPid <= 0)
        return false;
    return !reap(false);
}

bool childProcess::write(const QByteArray &data)
{
    if (inFd < 0)
        return false;
    // A child that closed its input would raise SIGPIPE: block it on this
    // thread for the write and consume a pending one afterwards.
    sigset_t pipeSet, oldSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    const bool wasPending = sigismember(&pendingBefore, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);

    const char *p = data.constData();
    qint64 left = data.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(inFd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            if (errno == EPIPE && !wasPending) {
                const timespec zero = {0, 0};
                while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
            break;
        }
        p += n;
        left -= n;
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
    return ok;
}

void childProcess::closeWrite()
{
    if (inFd >= 0) {
        ::close(inFd);
        inFd = -1;
    }
}

void childProcess::drainStderr()
{
    if (errFd < 0)
        return;
    char buf[4096];
    for (;;) {
        pollfd p = {errFd, POLLIN, 0};
        const int r = poll(&p, 1, 0);
        if (r <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        const ssize_t n = ::read(errFd, buf, sizeof(buf));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            ::close(errFd);
            errFd = -1;
            return;
        }
        // Keep the last megabyte at most: error text is for diagnostics only.
        errBuffer.append(buf, int(n));
        if (errBuffer.size() > (1 << 20))
            errBuffer.remove(0, errBuffer.size() - (1 << 20));
    }
}

childProcess::fillResult childProcess::fillBuffer(int timeoutMs)
{
    if (outFd < 0)
        return fillResult::endOfStream;
    QElapsedTimer clock;
    clock.start();
    char buf[65536];
    for (;;) {
        pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        const int count = errFd >= 0 ? 2 : 1;
        const int r = poll(fds, nfds_t(count), remainingMs(clock, timeoutMs));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return fillResult::endOfStream;
        }
        if (r == 0)
            return fillResult::timedOut;
        if (count == 2 && fds[1].revents)
            drainStderr();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(outFd, buf, sizeof(buf));
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                ::close(outFd);
                outFd = -1;
                outEof = true;
                return fillResult::endOfStream;
            }
            outBuffer.append(buf, int(n));
            return fillResult::data;
        }
        if (timeoutMs >= 0 && clock.elapsed() >= timeoutMs)
            return fillResult::timedOut;
    }
}

bool childProcess::canReadLine()
{
    if (outBuffer.contains('\n'))
        return true;
    while (fillBuffer(0) == fillResult::data) {
        if (outBuffer.contains('\n'))
            return true;
    }
    return false;
}

childProcess::readStatus childProcess::readLine(QByteArray *line, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int nl = outBuffer.indexOf('\n');
        if (nl >= 0) {
            QByteArray l = outBuffer.left(nl);
            outBuffer.remove(0, nl + 1);
            if (l.endsWith('\r'))
                l.chop(1);
            if (line)
                *line = l;
            return readStatus::lineReady;
        }
        const fillResult r = fillBuffer(remainingMs(clock, timeoutMs));
        if (r == fillResult::endOfStream) {
            // A last line without its line end still counts as a line.
            if (!outBuffer.isEmpty()) {
                if (line)
                    *line = outBuffer;
                outBuffer.clear();
                return readStatus::lineReady;
            }
            return readStatus::endOfStream;
        }
        if (r == fillResult::timedOut)
            return readStatus::timedOut;
    }
}

QByteArray childProcess::readAvailable()
{
    while (fillBuffer(0) == fillResult::data) {
    }
    QByteArray all;
    all.swap(outBuffer);
    return all;
}

QByteArray childProcess::readAll(int timeoutMs, bool *timedOut)
{
    QElapsedTimer clock;
    clock.start();
    bool late = false;
    for (;;) {
        const fillResult r = fillBuffer(remainingMs(clock, timeoutMs));
        if (r == fillResult::endOfStream)
            break;
        if (r == fillResult::timedOut) {
            late = true;
            break;
        }
    }
    if (timedOut)
        *timedOut = late;
    QByteArray all;
    all.swap(outBuffer);
    return all;
}

QByteArray childProcess::takeStderr()
{
    drainStderr();
    QByteArray e;
    e.swap(errBuffer);
    return e;
}

bool childProcess::waitForFinished(int timeoutMs)
{
    if (childPid <= 0)
        return true;
    if (timeoutMs < 0)
        return reap(true);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        // Keep the pipes flowing so a child blocked on a full pipe can end.
        drainStderr();
        fillBuffer(0);
        if (reap(false))
            return true;
        if (clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(5);
    }
}

void childProcess::kill()
{
    if (childPid <= 0)
        return;
    ::kill(childPid, SIGKILL);
    reap(true);
    lastExitCode = -1;
}

void childProcess::closeFds()
{
    for (int *fd : {&inFd, &outFd, &errFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}
