// processingProject: the session directory and the photos' temporary files.
//
// A temporary file holds the raw bytes of one buffer (a pyramid's level 0 as
// it lies in memory), nothing else; the reader knows size and layout from the
// project. Files stay open in their slot and are deleted when it is closed.

#include "project/processingProject.h"
#include "project/sessionFolders.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "platform/processAlive.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

QString processingProject::scratchPadPath()
{
    QString dir;
    if (optionsInstance)
        dir = optionsInstance->scratchpad.pathCurrent;
    if (dir.isEmpty())
        dir = QDir::tempPath();
    while (dir.size() > 1 && (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\'))))
        dir.chop(1);
    return dir;
}

double sessionAgeHours(const QString &name)
{
    const QString prefix = QString::fromLatin1(SESSION_PREFIX);
    const int at = name.indexOf(prefix);
    if (at < 0)
        return 0.0;
    const QString stamp = name.mid(at + prefix.size(), 14);
    const QDateTime created = QDateTime::fromString(stamp, QStringLiteral("yyyyMMddhhmmss"));
    if (stamp.size() != 14 || !created.isValid())
        return 0.0;
    return double(created.secsTo(QDateTime::currentDateTime())) / 3600.0;
}

void cleanupSessions(const QString &name, int maxAgeHours, bool removeFolder)
{
    if (name.isEmpty())
        return;
    const QString folder = processingProject::scratchPadPath() + QLatin1Char('/') + name;
    const double age = sessionAgeHours(name);
    if (maxAgeHours != 0 && age < maxAgeHours) {
        debugLog("Found session: %s (no cleaning)\n", qUtf8Printable(folder));
        return;
    }
    debugLog("Cleaning up session: %s (delDir=%d)\n", qUtf8Printable(folder), int(removeFolder));
    // Every file of the folder and its sub-folders goes; the folders stay.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::remove(it.next());
    if (removeFolder)
        QDir().rmdir(folder); // fails, silently, while a sub-folder is left
}

QString sessionFolderName(const QDateTime &created, qint64 pid)
{
    return QString::fromLatin1(SESSION_PREFIX) + created.toString(QStringLiteral("yyyyMMddhhmmss_zzz")) +
           QStringLiteral("_p") + QString::number(pid);
}

qint64 sessionOwnerPid(const QString &name)
{
    static const QRegularExpression owner(QStringLiteral("_p(\\d{1,10})$"));
    const QRegularExpressionMatch m = owner.match(name);
    if (!m.hasMatch() || !name.startsWith(QLatin1String(SESSION_PREFIX)))
        return 0;
    return m.captured(1).toLongLong();
}

void cleanupStaleSessions(const QString &scratch)
{
    const QStringList names = QDir(scratch).entryList(
        QStringList{QString::fromLatin1(SESSION_PREFIX) + QLatin1Char('*')},
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted);
    for (const QString &name : names) {
        const qint64 pid = sessionOwnerPid(name);
        if (pid <= 0) {
            // A folder that names no owner: only its age tells.
            cleanupSessions(name, SESSION_MAX_AGE_HOURS, true);
            continue;
        }
        const QString folder = scratch + QLatin1Char('/') + name;
        const QString prefix = QString::fromLatin1(SESSION_PREFIX);
        const QDateTime created =
            QDateTime::fromString(name.mid(prefix.size(), 18), QStringLiteral("yyyyMMddhhmmss_zzz"));
        if (processAlive(pid, created)) {
            debugLog("Found session: %s (in use by process %lld)\n", qUtf8Printable(folder), (long long)pid);
            continue;
        }
        // Its program has ended (or was killed; a process started after the
        // folder only reuses the number): everything in it goes.
        debugLog("Removing session of an ended process: %s\n", qUtf8Printable(folder));
        QDir(folder).removeRecursively();
    }
}

bool processingProject::sessionDirExists() const
{
    return !sessionName.isEmpty() && QDir(scratchPadPath() + QLatin1Char('/') + sessionName).exists();
}

bool processingProject::writeToTempFile(photoInfo_t &photo, int slot, const pyramid &source,
                                        qint64 byteCount)
{
    const char *fn = "processingProject::writeToTempFile";
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS) {
        debugLog("%s: no such slot (sel=%d)\n", fn, slot);
        return false;
    }
    if (photo.tempFiles[slot]) {
        debugLog("%s: temp file already used (sel=%d)\n", fn, slot);
        return false;
    }
    const qint64 available = qint64(source.levelBytes(0));
    const qint64 expected = byteCount > 0 ? byteCount : available;
    if (!source.levels[0].data || expected > available || expected <= 0) {
        debugLog("%s: nothing to write (size=%lld/%lld)\n", fn, (long long)expected,
                 (long long)available);
        return false;
    }

    auto file = std::make_unique<QTemporaryFile>(sessionPath + QStringLiteral("XXXXXX"));
    file->setAutoRemove(true);
    if (!file->open()) {
        QString dir = sessionPath;
        dir.chop(1);
        debugLog("%s: open() failed (%s)\n", fn, qUtf8Printable(dir));
        return false;
    }
    const char *data = static_cast<const char *>(source.levels[0].data);
    qint64 written = 0;
    while (written < expected) {
        const qint64 n = file->write(data + written, expected - written);
        if (n <= 0)
            break;
        written += n;
    }
    if (written != expected || !file->flush()) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", fn, (long long)written, (long long)expected);
        return false; // the file is deleted with the object; the slot stays empty
    }
    photo.tempFiles[slot] = file.release();
    return true;
}

bool processingProject::readFromTempFile(photoInfo_t &photo, int slot, pyramid &target,
                                         qint64 byteCount)
{
    const char *fn = "processingProject::readFromTempFile";
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS || !photo.tempFiles[slot]) {
        debugLog("%s: file not open\n", fn);
        return false;
    }
    const qint64 available = qint64(target.levelBytes(0));
    const qint64 expected = byteCount > 0 ? byteCount : available;
    if (!target.levels[0].data || expected > available || expected <= 0) {
        debugLog("%s: read() failed (size=%lld/%lld)\n", fn, 0ll, (long long)expected);
        return false;
    }
    QTemporaryFile *file = photo.tempFiles[slot];
    char *data = static_cast<char *>(target.levels[0].data);
    qint64 done = 0;
    if (file->seek(0)) {
        while (done < expected) {
            const qint64 n = file->read(data + done, expected - done);
            if (n <= 0)
                break;
            done += n;
        }
    }
    if (done != expected) {
        debugLog("%s: read() failed (size=%lld/%lld)\n", fn, (long long)done, (long long)expected);
        return false;
    }
    return true;
}

void processingProject::closeTempFiles(photoInfo_t &photo, int slot)
{
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS || !photo.tempFiles[slot])
        return;
    QTemporaryFile *file = photo.tempFiles[slot];
    photo.tempFiles[slot] = nullptr;
    // Copies of the record in the list share the slot: clear it there too.
    for (photoInfo_t &p : photos) {
        if (p.tempFiles[slot] == file)
            p.tempFiles[slot] = nullptr;
    }
    delete file; // closes and removes the file
}
