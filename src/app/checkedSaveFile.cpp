#include "app/checkedSaveFile.h"

#include "app/debugLog.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(strerror(error ? error : EIO));
}

// Unique within the process by the counter, between processes by the id.
QString temporaryPathFor(const QString &target)
{
    static std::atomic<int> counter {0};
    const QFileInfo info(target);
    return info.absoluteDir().filePath(QStringLiteral(".%1.%2_%3.tmp")
                                           .arg(info.fileName())
                                           .arg(qint64(getpid()))
                                           .arg(++counter));
}

} // namespace

checkedSaveFile::checkedSaveFile(const QString &targetPath) : target(targetPath)
{
}

checkedSaveFile::~checkedSaveFile()
{
    if (temporaryExists)
        discard();
}

bool checkedSaveFile::open(OpenMode mode)
{
    if (!(mode & QIODevice::WriteOnly) || (mode & (QIODevice::Append | QIODevice::ReadOnly))) {
        lastError = QStringLiteral("only a new file can be written");
        return false;
    }
    libraryWrites = false;
    return createTemporary(QIODevice::WriteOnly);
}

bool checkedSaveFile::openForLibrary()
{
    libraryWrites = true;
    return createTemporary(QIODevice::ReadWrite);
}

bool checkedSaveFile::targetIsReadOnly(const QString &path)
{
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) != 0)
        return false;
    return (st.st_mode & 0222) == 0 || ::access(name.constData(), W_OK) != 0;
}

int checkedSaveFile::removeLeftovers(const QString &target)
{
    const QFileInfo info(target);
    // Our own temporary names, and the one an older Radiance writer used.
    const QRegularExpression pattern(QStringLiteral("^(\\.%1|%1~?)\\.(\\d+)_\\d+\\.tmp$")
                                         .arg(QRegularExpression::escape(info.fileName())));
    const QDir dir = info.absoluteDir();
    int removed = 0;
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const qint64 pid = m.captured(2).toLongLong(&ok);
        // A save of this process may be running now; another process that
        // still runs may be saving too.
        if (!ok || pid <= 0 || pid == qint64(getpid()) || pid > INT_MAX)
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        if (::unlink(QFile::encodeName(dir.filePath(name)).constData()) == 0) {
            debugLog("%s: removed %s left by an interrupted save\n", "checkedSaveFile::removeLeftovers",
                     qPrintable(dir.filePath(name)));
            ++removed;
        }
    }
    return removed;
}

bool checkedSaveFile::createTemporary(OpenMode mode)
{
    if (isOpen() || temporaryExists) {
        lastError = QStringLiteral("already open");
        return false;
    }
    failed = false;
    refusedReadOnly = false;
    endWritten = 0;
    lastError.clear();
    if (!replaceReadOnly && targetIsReadOnly(target)) {
        refusedReadOnly = true;
        lastError = QStringLiteral("%1 is read-only").arg(target);
        debugLog("%s: %s\n", "checkedSaveFile::open", qPrintable(lastError));
        return false;
    }
    removeLeftovers(target);
    // A few tries in case a leftover of an earlier run has the same name.
    for (int attempt = 0; attempt < 5; ++attempt) {
        setFileName(temporaryPathFor(target));
        if (QFile::open(mode | QIODevice::Unbuffered | QIODevice::NewOnly)) {
            temporaryExists = true;
            break;
        }
        if (QFileInfo::exists(fileName()))
            continue;
        break;
    }
    if (!temporaryExists) {
        lastError = QStringLiteral("cannot create a file in %1: %2")
                        .arg(QFileInfo(target).absolutePath(), errorString());
        debugLog("%s: %s\n", "checkedSaveFile::open", qPrintable(lastError));
        return false;
    }
    return true;
}

qint64 checkedSaveFile::writeData(const char *data, qint64 len)
{
    if (failed)
        return -1;
    const int fd = handle();
    const qint64 start = pos();
    qint64 done = 0;
    while (done < len) {
        const ssize_t n = ::write(fd, data + done, size_t(std::min<qint64>(len - done, qint64(1) << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            fail(QStringLiteral("write failed after %1 of %2 bytes: %3").arg(done).arg(len).arg(systemError(error)));
            return -1;
        }
        done += n;
    }
    endWritten = std::max(endWritten, start + done);
    return done;
}

void checkedSaveFile::fail(const QString &reason)
{
    if (!failed)
        lastError = reason;
    failed = true;
}

void checkedSaveFile::removeTemporary()
{
    if (isOpen())
        QFile::close();
    if (temporaryExists)
        ::unlink(QFile::encodeName(fileName()).constData());
    temporaryExists = false;
}

void checkedSaveFile::discard()
{
    removeTemporary();
}

bool checkedSaveFile::commit()
{
    if (!temporaryExists || !isOpen()) {
        if (lastError.isEmpty())
            lastError = QStringLiteral("not open");
        return false;
    }
    if (!failed && !QFile::flush())
        fail(QStringLiteral("flush failed: %1").arg(errorString()));
    const int fd = handle();
    struct stat st {};
    if (!failed) {
        if (::fstat(fd, &st) != 0)
            fail(QStringLiteral("cannot read the file size: %1").arg(systemError(errno)));
        else if (!libraryWrites && qint64(st.st_size) != endWritten)
            fail(QStringLiteral("file holds %1 bytes, %2 were written").arg(qint64(st.st_size)).arg(endWritten));
    }
    // A replaced file keeps its permissions (set only now: a library may
    // still have had to open the file by its name for writing).
    struct stat old {};
    if (!failed && ::stat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode)
        && ::fchmod(fd, old.st_mode & 07777) != 0)
        fail(QStringLiteral("cannot keep the file's permissions: %1").arg(systemError(errno)));
    if (!failed && ::fsync(fd) != 0)
        fail(QStringLiteral("sync failed: %1").arg(systemError(errno)));
    if (!failed) {
        unsetError();
        QFile::close();
        if (error() != QFileDevice::NoError)
            fail(QStringLiteral("close failed: %1").arg(errorString()));
    }
    if (!failed && ::rename(QFile::encodeName(fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        fail(QStringLiteral("cannot replace the file: %1").arg(systemError(errno)));
    if (failed) {
        debugLog("%s: %s: %s\n", "checkedSaveFile::commit", qPrintable(target), qPrintable(lastError));
        removeTemporary();
        return false;
    }
    temporaryExists = false;
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool checkedSaveFile::moveFinishedFile(const QString &finished, const QString &target, bool replaceReadOnly,
                                       QString *reason)
{
    const QByteArray from = QFile::encodeName(finished);
    const QByteArray to = QFile::encodeName(target);
    auto failWith = [&](const QString &why) {
        debugLog("%s: %s: %s\n", "checkedSaveFile::moveFinishedFile", qPrintable(target), qPrintable(why));
        ::unlink(from.constData());
        if (reason)
            *reason = why;
        return false;
    };
    if (finished.isEmpty() || target.isEmpty())
        return failWith(QStringLiteral("no file name"));
    if (!replaceReadOnly && targetIsReadOnly(target))
        return failWith(QStringLiteral("the file is read-only"));
    const int fd = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failWith(QStringLiteral("cannot open the finished file: %1").arg(systemError(errno)));
    struct stat old {};
    bool ok = true;
    QString why;
    if (::stat(to.constData(), &old) == 0 && S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & 07777) != 0) {
        ok = false;
        why = QStringLiteral("cannot keep the file's permissions: %1").arg(systemError(errno));
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        why = QStringLiteral("sync failed: %1").arg(systemError(errno));
    }
    ::close(fd);
    if (!ok)
        return failWith(why);
    if (::rename(from.constData(), to.constData()) != 0)
        return failWith(QStringLiteral("cannot replace the file: %1").arg(systemError(errno)));
    const int dir = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
