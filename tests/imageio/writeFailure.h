#ifndef WRITEFAILURE_H
#define WRITEFAILURE_H

// Ways to make a file write fail in a test: a folder nobody can create files
// in (also for root), and a file-size limit that cuts a write short as a full
// disk would.

#include <QDir>
#include <QFile>
#include <QString>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace writeFailure {

// A folder in which creating a file fails. A 0555 folder stops ordinary
// users; root ignores its mode, so root gets a folder under /proc instead.
inline QString readOnlyFolder(const QString &scratch)
{
    if (geteuid() == 0)
        return QStringLiteral("/proc/self");
    QDir().mkpath(scratch);
    QFile::setPermissions(scratch, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return scratch;
}

// While alive, no file of this process can grow beyond maxBytes: a write past
// it fails with EFBIG (SIGXFSZ is ignored meanwhile).
class fileSizeLimit
{
public:
    explicit fileSizeLimit(rlim_t maxBytes)
    {
        getrlimit(RLIMIT_FSIZE, &old);
        oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old;
        lim.rlim_cur = maxBytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~fileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldHandler);
    }

private:
    rlimit old {};
    void (*oldHandler)(int) = nullptr;
};

} // namespace writeFailure

#endif // WRITEFAILURE_H
