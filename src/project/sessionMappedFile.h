#ifndef SESSIONMAPPEDFILE_H
#define SESSIONMAPPEDFILE_H

// A photo's session temporary file written through a memory map: the loader
// decodes straight into the file, with no second full-size buffer and no
// copy through write().

#include "project/photoInfo.h"

#include <QString>
#include <QtGlobal>

namespace sessionMappedFile {

// A new temporary file of `bytes` in the session folder (sessionPath ends
// with a separator), put in the photo's empty `slot`, its space reserved on
// the disk first and then mapped for writing. Null, with the slot left empty
// and nothing left behind, where the folder's file system cannot reserve the
// space: the caller then writes a buffer with writeToTempFile.
uchar *begin(const QString &sessionPath, photoInfo_t &photo, int slot, qint64 bytes);

// Unmaps what begin returned; keeps the file in its slot, or removes it when
// keep is false (the record is the only holder of a file still being written).
void end(photoInfo_t &photo, int slot, uchar *mapping, bool keep);

// A new empty temporary file in the session folder, put in the photo's empty
// slot, for writeAt: rows written whole from a small buffer go into the page
// cache without the kernel first clearing the file's pages (as pages written
// through a map must be) and without a page fault each. Null when it cannot be
// created. end(photo, slot, nullptr, false) removes it again.
bool create(const QString &sessionPath, photoInfo_t &photo, int slot);

// Writes `bytes` at `offset` of the file in the photo's slot, all of it (short
// writes are continued); false on an error such as a full disk.
bool writeAt(photoInfo_t &photo, int slot, qint64 offset, const void *data, qint64 bytes);

} // namespace sessionMappedFile

#endif // SESSIONMAPPEDFILE_H
