#include "project/sessionMappedFile.h"

#include "app/debugLog.h"

#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace sessionMappedFile {

uchar *begin(const QString &sessionPath, photoInfo_t &photo, int slot, qint64 bytes)
{
    const char *fn = "sessionMappedFile::begin";
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS || photo.tempFiles[slot] || bytes <= 0 || sessionPath.isEmpty())
        return nullptr;
    auto file = std::make_unique<QTemporaryFile>(sessionPath + QStringLiteral("XXXXXX"));
    file->setAutoRemove(true);
    if (!file->open()) {
        debugLog("%s: open() failed (%s)\n", fn, qUtf8Printable(sessionPath));
        return nullptr;
    }
    // The blocks are reserved before the first page is written through the
    // map: a page that found the disk full there would end the program. A
    // file system that cannot reserve says so here, and the caller writes
    // its buffer the ordinary way, where a full disk is an error it reports.
    int result;
    do {
        result = fallocate(file->handle(), 0, 0, off_t(bytes));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        debugLog("%s: no space reserved (%s)\n", fn, strerror(errno));
        return nullptr;
    }
    uchar *mapping = file->map(0, bytes);
    if (!mapping) {
        debugLog("%s: map() failed (%s)\n", fn, qUtf8Printable(file->errorString()));
        return nullptr;
    }
    photo.tempFiles[slot] = file.release();
    return mapping;
}

void end(photoInfo_t &photo, int slot, uchar *mapping, bool keep)
{
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS || !photo.tempFiles[slot])
        return;
    QTemporaryFile *file = photo.tempFiles[slot];
    if (mapping)
        file->unmap(mapping);
    if (!keep) {
        // Only this record has held the file: no copy in a list to clear.
        photo.tempFiles[slot] = nullptr;
        delete file;
    }
}

bool create(const QString &sessionPath, photoInfo_t &photo, int slot)
{
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS || photo.tempFiles[slot] || sessionPath.isEmpty())
        return false;
    auto file = std::make_unique<QTemporaryFile>(sessionPath + QStringLiteral("XXXXXX"));
    file->setAutoRemove(true);
    if (!file->open()) {
        debugLog("%s: open() failed (%s)\n", "sessionMappedFile::create", qUtf8Printable(sessionPath));
        return false;
    }
    photo.tempFiles[slot] = file.release();
    return true;
}

bool writeAt(photoInfo_t &photo, int slot, qint64 offset, const void *data, qint64 bytes)
{
    if (slot < 0 || slot >= PHOTO_TEMP_SLOTS || !photo.tempFiles[slot] || offset < 0 || bytes < 0)
        return false;
    const int fd = photo.tempFiles[slot]->handle();
    const char *p = static_cast<const char *>(data);
    while (bytes > 0) {
        const ssize_t n = pwrite(fd, p, size_t(bytes), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            debugLog("%s: write() failed (%s)\n", "sessionMappedFile::writeAt", n < 0 ? strerror(errno) : "nothing written");
            return false;
        }
        p += n;
        offset += n;
        bytes -= n;
    }
    return true;
}

} // namespace sessionMappedFile
