// Process liveness from kill(pid, 0) and the start time the kernel keeps in
// /proc/<pid>/stat (clock ticks after boot; the boot time is in /proc/stat).

#include "platform/processAlive.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(64 * 1024);
}

qint64 bootTimeSeconds()
{
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/stat"));
    for (const QByteArray &line : stat.split('\n'))
        if (line.startsWith("btime "))
            return line.mid(6).trimmed().toLongLong();
    return 0;
}

} // namespace

QDateTime processStartTime(qint64 pid)
{
    if (pid <= 0)
        return QDateTime();
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    // The command name (field 2) is in parentheses and may hold spaces: the
    // fields are counted from the last ')'.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return QDateTime();
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    // After ')' come field 3 (state) onwards; the start time is field 22.
    const int index = 22 - 3;
    if (fields.size() <= index)
        return QDateTime();
    bool ok = false;
    const qint64 ticks = fields[index].toLongLong(&ok);
    const long hz = sysconf(_SC_CLK_TCK);
    const qint64 boot = bootTimeSeconds();
    if (!ok || hz <= 0 || boot <= 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(boot * 1000 + ticks * 1000 / hz);
}

bool processAlive(qint64 pid, const QDateTime &notAfter)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    if (kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    if (!notAfter.isValid())
        return true;
    const QDateTime started = processStartTime(pid);
    // Unknown start time: the process exists, so it is taken as the owner.
    // The boot time is whole seconds: a second of slack.
    return !started.isValid() || started <= notAfter.addSecs(1);
}
