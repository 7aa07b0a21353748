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
// (seeking writers included).

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

    // Finishes the save (see above); true only when the target now holds
    // exactly the bytes written.
    bool commit();

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

    QString target;
    QString lastError;
    qint64 endWritten = 0;   // highest end offset any write reached
    bool failed = false;     // a write failed; the save can only be discarded
    bool temporaryExists = false;
};

#endif // CHECKEDSAVEFILE_H
