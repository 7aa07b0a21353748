#include "app/checkedSaveFile.h"

#include "app/debugLog.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
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
    if (isOpen() || temporaryExists) {
        lastError = QStringLiteral("already open");
        return false;
    }
    if (!(mode & QIODevice::WriteOnly) || (mode & (QIODevice::Append | QIODevice::ReadOnly))) {
        lastError = QStringLiteral("only a new file can be written");
        return false;
    }
    failed = false;
    endWritten = 0;
    lastError.clear();
    // A few tries in case a leftover of an earlier run has the same name.
    for (int attempt = 0; attempt < 5; ++attempt) {
        setFileName(temporaryPathFor(target));
        if (QFile::open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::NewOnly)) {
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
    // A replaced file keeps its permissions.
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(handle(), old.st_mode & 07777);
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
        else if (qint64(st.st_size) != endWritten)
            fail(QStringLiteral("file holds %1 bytes, %2 were written").arg(qint64(st.st_size)).arg(endWritten));
    }
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
