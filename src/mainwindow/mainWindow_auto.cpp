// mainWindow: the end of the automatic run (--auto). After the merge the
// result is tone-mapped with the start settings (--tm_settings, else the
// default look), written under "<name>~", given the base photo's metadata,
// renamed to its final name and read back. The program then ends: exit code
// 0 only when that check passed, otherwise a one-line reason on standard
// error and a non-zero code, with nothing left under the output name.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "documents/presetThumbWorker.h"
#include "documents/settingsFile.h"
#include "hdr/projectGeometry.h"
#include "imageio/exifReader.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/resultImageWriter.h"
#include "imageio/tiffReader.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryFile>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

// Exit codes of the automatic run.
constexpr int EXIT_BAD_START = 2;     // nothing to do or nowhere to write
constexpr int EXIT_NOT_WRITTEN = 4;   // tone mapping or writing the result failed

// The tone-mapping settings of the run: the --tm_settings file, else the
// default look the program options name, else the built-in one.
QString automaticSettingsPath()
{
    if (!startParams.settings.isEmpty())
        return startParams.settings;
    const QString chosen = optionsInstance ? optionsInstance->misc.defaultToneMappingSettings : QString();
    if (fileExists(chosen))
        return chosen;
    return QCoreApplication::applicationDirPath() + "/built-in presets/default.lmsx";
}

// How the result is written: the name's suffix decides the format; a name
// without a known suffix takes the one asked for on the command line.
resultSaveOptions_t automaticSaveOptions(const QString &name)
{
    resultSaveOptions_t o;
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == "jpg" || suffix == "jpeg" || suffix == "tif" || suffix == "tiff" || suffix == "png")
        o.format = resultFormatForName(name);
    else
        o.format = startParams.outputFormat == 1 ? resultTiff : resultJpeg;
    o.tiffBitDepth = startParams.tiffBitDepth == 2 ? 2 : 1;
    if (optionsInstance) {
        o.jpegQuality = optionsInstance->savingResult.jpegQuality;
        o.tiffCompression = optionsInstance->savingResult.tiffCompression;
        o.dpi = optionsInstance->savingResult.dpi;
    }
    return o;
}

// Reads the written result back whole: it must decode and have the result's
// size (and, for TIFF, the bit depth asked for).
bool resultReadsBack(const QString &path, const resultSaveOptions_t &options, int width, int height, QString *why)
{
    if (options.format == resultTiff) {
        int w = 0, h = 0, bits = 0;
        if (!imageLoader::getTIFFinfo(path, &w, &h, &bits, why))
            return false;
        if (w != width || h != height || bits != (options.tiffBitDepth == 2 ? 16 : 8)) {
            *why = QString("%1 x %2, %3 bits").arg(w).arg(h).arg(bits);
            return false;
        }
        std::unique_ptr<uint16_t[]> pixels(new (std::nothrow) uint16_t[size_t(w) * size_t(h) * 3]);
        if (!pixels) {
            *why = "Not enough memory!";
            return false;
        }
        exifInfo_t exif{};
        const bool loaded = imageLoader::loadTIFF(path, pixels.get(), nullptr, nullptr, nullptr, &exif, w, h, why);
        exifFreeStripTables(&exif);
        return loaded;
    }
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        *why = reader.errorString();
        return false;
    }
    if (image.size() != QSize(width, height)) {
        *why = QString("%1 x %2").arg(image.width()).arg(image.height());
        return false;
    }
    return true;
}

} // namespace

QString mainWindow::automaticRunProblem(const startParams_t &params)
{
    if (!params.autoProcess)
        return QString();
    if (params.inputPhoto.isEmpty())
        return tr("No photos given: the automatic run needs the photos to merge.");
    if (params.outputFn.trimmed().isEmpty())
        return tr("No output file given: the automatic run needs --output_fn=FILE.");
    if (!params.settings.isEmpty() && !fileExists(params.settings))
        return tr("Tone-mapping settings not found: %1").arg(params.settings);
    const QString folder = QFileInfo(params.outputFn).absolutePath();
    if (!dirExists(folder))
        return tr("The output folder does not exist: %1").arg(QDir::toNativeSeparators(folder));
    // A file that can be created there now tells more than the permission bits.
    QTemporaryFile probe(folder + "/.lumidra-probe-XXXXXX");
    if (!probe.open())
        return tr("Cannot write to the output folder: %1").arg(QDir::toNativeSeparators(folder));
    return QString();
}

QString mainWindow::automaticResultName() const
{
    if (!startParams.plugin)
        return startParams.outputFn;
    QStringList paths;
    for (const photoInfo_t &p : project->photos)
        paths << p.filePath;
    if (paths.isEmpty() || startParams.outputFn.isEmpty())
        return QString();
    const QString folder = completeDirPath(startParams.outputFn);
    const QString current = photoToDisplay >= 0 && photoToDisplay < paths.size() ? paths[photoToDisplay]
                                                                                 : paths[paths.size() / 2];
    const QString pattern = optionsInstance ? optionsInstance->savingResult.defaultOutputFileName : QString();
    const QString base = folder + "/" + joinFileNamesShortDefault(paths, current, pattern);
    const QString suffix = "." + fileSuffixOf(startParams.outputFn);
    QString name = base + suffix;
    for (int counter = 0; QFileInfo::exists(name); ++counter)
        name = base + "_" + QString::number(counter) + suffix;
    return name;
}

void mainWindow::startAutomaticFinish()
{
    if (automaticThread)
        return;
    resultFileName = automaticResultName();
    if (resultFileName.isEmpty()) {
        endRun(EXIT_BAD_START, tr("No output file given: the automatic run needs --output_fn=FILE."));
        return;
    }
    // The base layer's settings; they are read here, on the GUI thread.
    const QString settingsPath = automaticSettingsPath();
    QString error;
    processingParams_t *params = &project->layerSettings[0];
    if (loadSettingsFile(settingsPath, params, &error) != SETTINGS_LOADED) {
        endRun(EXIT_BAD_START, tr("Cannot read the tone-mapping settings %1: %2").arg(settingsPath, error));
        return;
    }
    preparePresetTables(project, params);

    automaticTempName = resultFileName + "~";
    QFile::remove(automaticTempName);
    const resultSaveOptions_t options = automaticSaveOptions(resultFileName);
    const QString temp = automaticTempName;
    auto outcome = std::make_shared<std::pair<bool, QString>>(false, QString());
    processingProject *p = project;
    debugLog("Automatic run: tone mapping and writing '%s'\n", resultFileName.toLocal8Bit().constData());
    startProgress(uint64_t(std::max(1, 4 * p->width + p->height)), false);
    automaticThread = QThread::create([p, params, options, temp, outcome] {
        toneMappingPreprocessWorker preparation(p);
        preparation.doIt();
        if (!preparation.mapsReady()) {
            outcome->second = QCoreApplication::translate("mainWindow", "Tone-mapping preparation failed.");
            return;
        }
        // The statistics pass over the smallest level, then the full size.
        const pyramidLevel_t &small = p->hdrImage.levels[p->hdrImage.levelCount - 1];
        std::vector<uint8_t> preview(size_t(small.width) * size_t(small.height) * 3);
        p->doToneMapping(params, preview.data(), false, false);
        if (!p->doToneMappingFull()) {
            outcome->second = QCoreApplication::translate("mainWindow", "Tone mapping failed.");
            return;
        }
        QString reason;
        outcome->first = writeResultImage(temp, p->width, p->height,
                                          static_cast<const uint16_t *>(p->outputImage.levels[0].data), options,
                                          false, &reason);
        outcome->second = reason;
    });
    connect(automaticThread, &QThread::finished, this, [this, outcome] {
        automaticThread->deleteLater();
        automaticThread = nullptr;
        automaticResultWritten(outcome->first, outcome->second);
    });
    automaticThread->start();
}

void mainWindow::automaticResultWritten(bool rendered, const QString &reason)
{
    finishProgress();
    const QString name = resultFileName;
    const QString native = QDir::toNativeSeparators(name);
    auto fail = [&](const QString &why) {
        QFile::remove(automaticTempName);
        resultFileName.clear();
        endRun(EXIT_NOT_WRITTEN, tr("Cannot write file: %1. %2").arg(native, why));
    };
    if (!rendered) {
        fail(reason.isEmpty() ? tr("You may not have the required permissions.") : reason);
        return;
    }

    // The base photo's metadata goes into the written file before it gets
    // its final name.
    if (optionsInstance && optionsInstance->savingResult.transferExif && project->exiftool &&
        !project->photos.isEmpty()) {
        const int base = std::clamp(projectBasePhoto(project), 0, int(project->photos.size()) - 1);
        const QString source = project->isProjectInput() ? project->exifTempPath(base)
                                                          : project->photos[base].filePath;
        QString method;
        if (project->photos.size() > 1)
            for (int i = 0; i < project->photos.size(); ++i)
                method += QString("[%1] ").arg(i + 1) + fileNameOf(project->photos[i].filePath) + ", ";
        debugLog("Exiftool...\n");
        if (!project->exiftool->transferExif(automaticTempName, source, method, false,
                                             optionsInstance->savingResult.dpi,
                                             optionsInstance->savingResult.transferExifGPS, false,
                                             optionsInstance->savingResult.hdrRemoveExpTime)) {
            const QString text = tr("EXIF transfer failed.");
            debugLog("%s\n", text.toLocal8Bit().constData());
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        }
    }

    // The finished file replaces an older one in one step.
    if (std::rename(QFile::encodeName(automaticTempName).constData(), QFile::encodeName(name).constData()) != 0) {
        fail(tr("You may not have the required permissions."));
        return;
    }
    QString why;
    if (!resultReadsBack(name, automaticSaveOptions(name), project->width, project->height, &why)) {
        QFile::remove(name);
        resultFileName.clear();
        endRun(EXIT_NOT_WRITTEN, tr("The written result %1 could not be read back (%2).").arg(native, why));
        return;
    }
    debugLog("Saved: %s\n", name.toLocal8Bit().constData());
    resultSaved = true;
    requestedExitCode = 0;
    close();
    QCoreApplication::exit(0);
}
