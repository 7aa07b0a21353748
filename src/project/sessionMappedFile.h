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

} // namespace sessionMappedFile

#endif // SESSIONMAPPEDFILE_H
