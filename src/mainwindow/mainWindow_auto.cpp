// mainWindow: the end of the automatic run (--auto). After the merge the
// start settings (--tm_settings, else the default look) go to the base layer,
// the tone-mapping preparation runs as for any new HDR image, and the result
// is saved through the window's one save path, exactly as an interactive
// save (full-size tone mapping, "<name>~", EXIF and colour profile, checked
// rename). The written file is then read back. The program ends: exit code
// 0 only when that check passed, otherwise a one-line reason on standard
// error and a non-zero code, with nothing left under the output name.

#include "mainwindow/mainWindow.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "documents/presetThumbWorker.h"
#include "documents/settingsFile.h"
#include "imageio/exifReader.h"
#include "imageio/resultImageWriter.h"
#include "imageio/tiffReader.h"
#include "project/processingProject.h"
#include "widgets/saveDialogs.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>
#include <new>

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

// The format of a name without a known suffix: the one asked for on the
// command line.
bool knownResultSuffix(const QString &name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    return suffix == "jpg" || suffix == "jpeg" || suffix == "tif" || suffix == "tiff" || suffix == "png";
}

// Reads the written result back whole: it must decode and have the result's
// size (and, for TIFF, the bit depth asked for).
bool resultReadsBack(const QString &path, int format, int tiffBitDepth, int width, int height, QString *why)
{
    if (format == resultTiff) {
        int w = 0, h = 0, bits = 0;
        if (!imageLoader::getTIFFinfo(path, &w, &h, &bits, why))
            return false;
        if (w != width || h != height || bits != (tiffBitDepth == 2 ? 16 : 8)) {
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
    const QSize stored = reader.size();
    if (stored.isValid() && stored != QSize(width, height)) {
        *why = QString("%1 x %2").arg(stored.width()).arg(stored.height());
        return false;
    }
    // A JPEG is decoded at an eighth of its size: every coded block is
    // still read, only the full-size reconstruction is left out.
    const bool jpeg = format == resultJpeg && stored.isValid();
    if (jpeg)
        reader.setScaledSize(QSize(std::max(1, (width + 7) / 8), std::max(1, (height + 7) / 8)));
    const QImage image = reader.read();
    if (image.isNull()) {
        *why = reader.errorString();
        return false;
    }
    if (!jpeg && image.size() != QSize(width, height)) {
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
    if (automaticFinishing)
        return;
    resultFileName = automaticResultName();
    if (resultFileName.isEmpty()) {
        endRun(EXIT_BAD_START, tr("No output file given: the automatic run needs --output_fn=FILE."));
        return;
    }
    // The base layer takes the run's settings as a loaded preset would:
    // record and panels alike, so the passes render what the file says.
    const QString settingsPath = automaticSettingsPath();
    processingParams_t *params = &project->layerSettings[0];
    if (loadSettingsFile(settingsPath, false, params, false) != SETTINGS_LOADED) {
        endRun(EXIT_BAD_START, tr("Cannot read the tone-mapping settings %1: %2").arg(settingsPath, lastSettingsError));
        return;
    }
    preparePresetTables(project, params);

    automaticFinishing = true;
    debugLog("Automatic run: tone mapping and writing '%s'\n", resultFileName.toLocal8Bit().constData());
    automaticPrepared = connect(this, &mainWindow::toneMappingPrepared, this, [this](bool ready) {
        disconnect(automaticPrepared);
        if (!ready) {
            endRun(EXIT_NOT_WRITTEN, tr("Cannot write file: %1. %2")
                                         .arg(QDir::toNativeSeparators(resultFileName),
                                              tr("The tone-mapping preparation failed.")));
            return;
        }
        lastResultName = resultFileName;
        saveResultNoDialog();
    });
    toneMappingPrepare();
    if (!prepareThread && automaticPrepared) {
        // Nothing to prepare: there is no merged image.
        disconnect(automaticPrepared);
        endRun(EXIT_NOT_WRITTEN, tr("There is no result to save."));
    }
}

std::unique_ptr<saveResult> mainWindow::automaticSaveDialog(const QString &fileName)
{
    if (!startParams.autoProcess)
        return nullptr;
    // The options panel follows the format: by the name's suffix, else by
    // the command line (--jpeg, --tiff8, --tiff16).
    QString formatName = fileName;
    if (!knownResultSuffix(fileName))
        formatName = startParams.outputFormat == 1 ? QStringLiteral("result.tif") : QStringLiteral("result.jpg");
    auto dialog = std::make_unique<saveResult>(this, formatName);
    if (saveOptsTiff *t = dialog->tiffPanel)
        t->bitDepth->setCurrentIndex(startParams.tiffBitDepth == 2 ? 1 : 0);
    return dialog;
}

void mainWindow::automaticResultSaved(bool saved, const QString &fileName)
{
    if (!saved) {
        resultFileName.clear();
        endRun(EXIT_NOT_WRITTEN, lastSaveFailure.isEmpty() ? tr("Cannot write file.")
                                                           : QString(lastSaveFailure).replace('\n', ' '));
        return;
    }
    // The file under the final name must decode whole with the result's
    // size (and, for TIFF, the bit depth asked for).
    const std::unique_ptr<saveResult> options = automaticSaveDialog(fileName);
    const int format = options ? options->format : resultFormatForName(fileName);
    QString why;
    if (!resultReadsBack(fileName, format, startParams.tiffBitDepth, project->width, project->height, &why)) {
        QFile::remove(fileName);
        resultFileName.clear();
        endRun(EXIT_NOT_WRITTEN, tr("The written result %1 could not be read back (%2).")
                                     .arg(QDir::toNativeSeparators(fileName), why));
        return;
    }
    debugLog("Automatic run: '%s' written and read back\n", fileName.toLocal8Bit().constData());
    resultSaved = true;
    requestedExitCode = 0;
    close();
    QCoreApplication::exit(0);
}
