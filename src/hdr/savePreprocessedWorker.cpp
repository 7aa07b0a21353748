#include "hdr/savePreprocessedWorker.h"

#include "app/debugLog.h"
#include "app/utils.h"
#include "hdr/geometryPhotoFiles.h"
#include "imageio/resultImageWriter.h"
#include "project/parallelRanges.h"
#include "project/processingProject.h"

#include <QFileInfo>
#include <new>
#include <vector>

namespace {

QString oneNamePart(QString part)
{
    part.replace(QLatin1Char('/'), QLatin1Char('_'));
    part.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return part;
}

} // namespace

QString savePreprocessedWorker::extensionOf(int format)
{
    return format == 1 ? QStringLiteral(".tif") : format == 2 ? QStringLiteral(".png") : QStringLiteral(".jpg");
}

QString savePreprocessedWorker::freeName(const QString &folder, const QString &prefix, const QString &baseName,
                                         const QString &suffix, const QString &extension)
{
    QString stem = oneNamePart(prefix + baseName + suffix);
    if (stem.isEmpty() || stem == QLatin1String(".") || stem == QLatin1String(".."))
        stem = QStringLiteral("photo") + stem;
    const QString start = folder + QLatin1Char('/') + stem;
    QString name = start + extension;
    for (int counter = 1; fileExists(name); ++counter)
        name = start + QStringLiteral("_%1").arg(counter) + extension;
    return name;
}

void savePreprocessedWorker::doSavePreprocessed()
{
    const QString extension = extensionOf(format);
    debugLog("Saving aligned photos...\n");
    savedFiles.clear();
    failedFile.clear();
    allSaved = false;
    if (!project) {
        emit finished();
        return;
    }
    const int width = project->width, height = project->height;
    resultSaveOptions_t options;
    options.format = format == 1 ? resultTiff : format == 2 ? resultPng : resultJpeg;
    options.jpegQuality = jpegQuality;
    options.tiffCompression = tiffCompression;
    options.tiffBitDepth = tiffBitDepth;
    options.dpi = dpi;   // also written by the metadata step; none for PNG
    options.resize = false;
    options.taskCount = project->taskCount();
    options.runParallel = [](int n, const std::function<void(int)> &task) { runTasks(n, task); };

    std::vector<uint16_t> pixels;
    bool haveBuffer = width > 0 && height > 0;
    if (haveBuffer) {
        try {
            pixels.resize(size_t(width) * size_t(height) * 3);
        } catch (const std::bad_alloc &) {
            debugLog("%s: failed to allocate memory\n", "savePreprocessedWorker::doSavePreprocessed");
            haveBuffer = false;
        }
    }
    const int count = int(project->photos.size());
    for (int i = 0; i < count; ++i) {
        const photoInfo_t &photo = project->photos[i];
        const QString baseName = QFileInfo(fileNameOf(photo.filePath)).completeBaseName();
        const QString name = freeName(folder, prefix, baseName, suffix, extension);
        debugLog("- %s\n", qPrintable(name));
        // A photo whose data cannot be read is not written: a stale buffer
        // would be saved under its name.
        const int64_t bytes = int64_t(pixels.size()) * 2;
        if (!haveBuffer || !readPhotoImage(photo, pixels.data(), bytes)) {
            debugLog("%s: the photo's data could not be read\n", "savePreprocessedWorker::doSavePreprocessed");
            if (failedFile.isEmpty())
                failedFile = name;
            continue;
        }
        QString reason;
        if (writeResultImage(name, width, height, pixels.data(), options, false, &reason))
            savedFiles << name;
        else if (failedFile.isEmpty())
            failedFile = name;
    }
    allSaved = count > 0 && savedFiles.size() == count;
    emit finished();
}
