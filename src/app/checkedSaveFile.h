#ifndef CHECKEDSAVEFILE_H
#define CHECKEDSAVEFILE_H

// Saves a file so that a failed save never replaces the old one.
//
// The bytes go to a new temporary file beside the target (same folder, so the
// final rename stays on one file system). Writes are unbuffered and each one
// is checked by itself: a write cut short (a full disk or a file-size limit
// can do that without an error) fails the save. commit() then checks the
// file's size against what was written, syncs it to disk, checks the close
// and only then renames it over the target. Any failure removes the
// temporary file, keeps the old target untouched and leaves a readable
// reason in errorText(). Destroying the object without commit() discards the
// temporary file.
//
// It is a QFile, so QImage::save(QIODevice*) and QImageWriter can write to it
// (seeking writers included). Libraries that open and write the file
// themselves (libtiff through a descriptor, OpenEXR through a path) use
// openForLibrary() instead: they write to temporaryPath() or descriptor() and
// commit() then syncs, closes and renames as above; their own write errors
// must fail the save (call discard() or simply do not commit).
//
// A replaced file keeps its permissions. A target that exists but is
// read-only is not replaced unless setReplaceReadOnly(true) was called:
// open() fails and readOnlyTarget() says so, so an interactive caller can ask
// the user first (targetIsReadOnly() answers before any save starts) and the
// automatic run refuses. Temporary files that a save killed midway left
// beside the same target (their process no longer runs) are removed when the
// next save of that target starts.

#include <QFile>
#include <QString>

class checkedSaveFile : public QFile
{
public:
    explicit checkedSaveFile(const QString &targetPath);
    ~checkedSaveFile() override;
    checkedSaveFile(const checkedSaveFile &) = delete;
    checkedSaveFile &operator=(const checkedSaveFile &) = delete;

    // Creates the temporary file. Only write modes are accepted; the file
    // is always opened unbuffered, new and empty.
    bool open(OpenMode mode = QIODevice::WriteOnly) override;

    // Creates the temporary file for a library that writes it by itself (see
    // above); opened for reading and writing, as libtiff needs.
    bool openForLibrary();
    QString temporaryPath() const { return temporaryExists ? fileName() : QString(); }
    int descriptor() const { return temporaryExists ? handle() : -1; }

    // Whether an existing read-only target may be replaced (default: no).
    void setReplaceReadOnly(bool replace) { replaceReadOnly = replace; }
    // open() failed because the target is read-only.
    bool readOnlyTarget() const { return refusedReadOnly; }
    // The file exists and may not be written (no write permission or no
    // write bit at all, which also holds for root).
    static bool targetIsReadOnly(const QString &path);

    // Removes temporary files of earlier saves of target whose process has
    // ended; returns how many were removed.
    static int removeLeftovers(const QString &target);

    // Finishes the save (see above); true only when the target now holds
    // exactly the bytes written.
    bool commit();

    // Moves a file that is already complete (written, then changed in place
    // by another program, e.g. to add metadata) over target in one step: it
    // is synced, takes the permissions of an existing target and replaces it
    // only by the rename, so a failure leaves the old target as it was. A
    // read-only target is refused unless replaceReadOnly. On failure the
    // finished file is removed and reason says why.
    static bool moveFinishedFile(const QString &finished, const QString &target, bool replaceReadOnly,
                                 QString *reason = nullptr);

    // Drops the temporary file; the target stays as it was.
    void discard();

    // The path the save goes to, and why the save failed ("" when it has not).
    QString targetPath() const { return target; }
    QString errorText() const { return lastError; }

protected:
    qint64 writeData(const char *data, qint64 len) override;

private:
    void fail(const QString &reason);
    void removeTemporary();
    bool createTemporary(OpenMode mode);

    QString target;
    QString lastError;
    qint64 endWritten = 0;   // highest end offset any write reached
    bool failed = false;     // a write failed; the save can only be discarded
    bool temporaryExists = false;
    bool libraryWrites = false; // a library wrote the file: no size check against writeData
    bool replaceReadOnly = false;
    bool refusedReadOnly = false;
};

#endif // CHECKEDSAVEFILE_H
