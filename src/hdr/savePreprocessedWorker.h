#ifndef SAVEPREPROCESSEDWORKER_H
#define SAVEPREPROCESSEDWORKER_H

// Writes every photo of the project as it is after lens correction and
// alignment (the photo's current full-size image in the session) into a
// folder, as JPEG, TIFF or PNG. The main window fills the fields on the GUI
// thread before the thread starts and adds the metadata once finished()
// arrived. Each photo is read into the worker's own buffer: the project's
// tone-mapped result stays as it is.

#include <QObject>
#include <QString>
#include <QStringList>

class processingProject;

class savePreprocessedWorker : public QObject
{
    Q_OBJECT

public:
    explicit savePreprocessedWorker(QObject *parent = nullptr) : QObject(parent) {}

    bool allSaved = false;    // every photo was written
    QString folder;           // target folder
    QString prefix;           // placed before the photo's base name (may be empty)
    QString suffix;           // placed after it (may be empty)
    int format = 0;           // 0 JPEG, 1 TIFF, 2 PNG
    int jpegQuality = 100;
    int tiffCompression = 0;  // 0 uncompressed, 1 LZW, 2 Deflate (ZIP)
    int tiffBitDepth = 1;     // 1 = 8 bits, 2 = 16 bits
    QStringList savedFiles;   // names written, in photo order
    int dpi = 0;              // resolution for the metadata step
    processingProject *project = nullptr;
    QObject *window = nullptr;
    QString failedFile;       // the first photo that could not be written

    // The file name for one photo: folder/prefix + base + suffix + counter +
    // extension, the counter empty at first, then "_1", "_2", ... until no
    // file of that name exists. Folder separators in the parts are replaced
    // so that the name stays inside folder.
    static QString freeName(const QString &folder, const QString &prefix, const QString &baseName,
                            const QString &suffix, const QString &extension);
    static QString extensionOf(int format);

public slots:
    void doSavePreprocessed();

signals:
    void finished();
};

#endif // SAVEPREPROCESSEDWORKER_H
