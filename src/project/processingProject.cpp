// processingProject: construction, reset (cleanup) and destruction.

#include "project/processingProject.h"
#include "project/sessionFolders.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "hdr/lensfunDb.h"
#include "imageio/exifReader.h"
#include "imageio/exiftoolDaemon.h"
#include "project/loadOptionsPrompt.h"

#include <QCoreApplication>
#include <QtConcurrent/QtConcurrentRun>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryFile>
#include <QThread>

namespace {

// The lens database folders: a copy beside the executable when there is one,
// else the system's lensfun data.
QString lensSystemFolder()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/lensfun/data/db");
    if (QDir(beside).exists())
        return beside;
    return QString::fromLatin1(LENSFUN_SYSTEM_FOLDER);
}

} // namespace

processingProject::processingProject(QWidget *parentWindow)
{
    debugLog("Preparing environment...\n");
    constructionFailed = false;
    parentWidget = parentWindow;

    for (int i = 0; i < LAYER_COUNT; ++i) {
        layerSettings[i].layerIndex = i;
        layerSettings[i].layerTag = PP_NO_PRESET;
    }
    thumbSettings.layerIndex = 0;
    thumbSettings.layerTag = PP_NO_PRESET;

    for (int i = 0; i < LAYER_COUNT; ++i) {
        if (!layerTables[i].allocate()) {
            debugLog("%s: Failed to allocate memory\n", "processingProject::processingProject");
            constructionFailed = true;
            continue;
        }
        layerTables[i].attach(&layerSettings[i]);
    }
    if (!thumbTables.allocate()) {
        debugLog("%s: Failed to allocate memory\n", "processingProject::processingProject");
        constructionFailed = true;
    } else {
        thumbTables.attach(&thumbSettings);
    }

    // Session directory: remove the sessions of ended processes, then
    // create this one.
    const QString scratch = scratchPadPath();
    cleanupStaleSessions(scratch);

    // The name carries the creation time to the millisecond; a folder of
    // that name that already exists belongs to another running project, so
    // the next free millisecond is taken instead of sharing it.
    QDateTime stamp = QDateTime::currentDateTime();
    bool created = false;
    for (int attempt = 0; attempt < 1000 && !created; ++attempt) {
        sessionName = sessionFolderName(stamp, QCoreApplication::applicationPid());
        sessionPath = scratch + QLatin1Char('/') + sessionName + QLatin1Char('/');
        if (QDir(scratch).exists(sessionName)) {
            stamp = stamp.addMSecs(1);
            continue;
        }
        created = QDir().mkpath(sessionPath);
        break;
    }
    if (!created) {
        constructionFailed = true;
        debugLog("%s: Failed to create session dir: '%s'\n", "processingProject::processingProject",
                 qUtf8Printable(sessionPath));
    }

    exiftool = new exiftoolDaemon;

    const QString userFolder =
        (optionsInstance ? optionsInstance->installer.userFolder : QString())
        + QString::fromLatin1(LENSFUN_USER_SUBFOLDER);
    // Parsing the lens files takes a while and only lens correction needs
    // them: they are read beside the rest of the start-up and the loading
    // of the photos.
    lensDb = new lensfunDb(lensSystemFolder(), userFolder);
    lensfunDb *db = lensDb;
    lensDbLoad = QtConcurrent::run([db] {
        const bool loaded = db->load();
        if (!loaded)
            debugLog("WARNING: failed to load Lensfun database!\n");
        return loaded;
    });

    cleanup();
    // exiftool's first writing command is slow (it loads its writing code):
    // one on a tiny file of the session runs now, beside the start-up.
    if (created)
        exiftool->startWarmUp(sessionPath + QStringLiteral("~exiftool_warmup"));
    debugLog("Environment ready.\n\n");
}

void processingProject::reportMessage(projectMessage_t kind, const QString &text)
{
    lastErrorMessage = text;
    debugLog("%s: %s: %s\n", "processingProject::reportMessage",
             kind == projectMessage_t::error ? "error" : "warning", qUtf8Printable(text));
    if (messageHandler)
        messageHandler(kind, text);
}

lensfunDb *processingProject::lensDatabase()
{
    lensDbLoad.waitForFinished();
    return lensDb;
}

processingProject::~processingProject()
{
    delete exiftool;
    exiftool = nullptr;
    lensDbLoad.waitForFinished();
    delete lensDb;
    lensDb = nullptr;
    loadOptions = nullptr; // owned by whoever installed it

    cleanup();
    cleanupSessions(sessionName, 0, true);
    debugLog("Project destroy #1\n");

    for (processingTables_t &t : layerTables)
        t.freeAll();
    thumbTables.freeAll();
    delete[] displayBuffer;
    displayBuffer = nullptr;
    delete[] levelBuffer;
    levelBuffer = nullptr;
    debugLog("Project destroy #2\n");
}

void processingProject::freePhotoBuffers(photoInfo_t &photo)
{
    delete photo.thumbnail;
    photo.thumbnail = nullptr;
    delete[] photo.preview;
    photo.preview = nullptr;
    delete[] photo.mask;
    photo.mask = nullptr;
    delete[] photo.mergeBuffer;
    photo.mergeBuffer = nullptr;
    exifFreeStripTables(&photo.exif);
    for (double *&t : photo.workTables) {
        delete[] t;
        t = nullptr;
    }
    for (int slot = 0; slot < PHOTO_TEMP_SLOTS; ++slot)
        closeTempFiles(photo, slot);
    if (!photo.profilePath.isEmpty() && QFile::exists(photo.profilePath))
        QFile::remove(photo.profilePath);
}

void processingProject::freeMergeTables()
{
    for (double **t : {&responseR, &responseG, &responseB, &defaultResponseTable, &ghostWeightTable,
                       &exposurePenaltyLow, &exposurePenaltyHigh}) {
        delete[] *t;
        *t = nullptr;
    }
}

void processingProject::cleanup()
{
    debugLog("Cleanup project...\n");
    width = height = 0;
    previewWidth = previewHeight = 0;
    previewDivisor = 1;
    previewLevels = 0;
    selectedPreviewLevel = 0;
    photoIdCounter = 0;
    layersOn = false;
    quiet = false;
    lastErrorMessage.clear();
    radiancePrimariesSet = false;
    std::fill(std::begin(radiancePrimaries), std::end(radiancePrimaries), 0.0);
    inputProfileDescription.clear();
    hdrState = hdrGenerationState_t();
    deleteProfileTransform();

    for (photoInfo_t &p : photos)
        freePhotoBuffers(p);
    photos.clear();

    delete[] preview16;
    preview16 = nullptr;
    delete[] levelBuffer;
    levelBuffer = nullptr;

    hdrImage.freeAll();
    outputImage.freeAll();
    for (pyramid &p : lcPyramids)
        p.freeAll();
    ghostLabelMask.freeAll();

    delete[] displayBuffer;
    displayBuffer = nullptr;
    if (hdrImage.levelCount > 0)
        allocateDisplayBuffer();

    for (int i = 0; i < LAYER_COUNT; ++i) {
        layerExists[i] = layerEnabled[i] = (i == 0);
        layerSettings[i].opacity = 1.0;
        layerMasks[i].freeAll();
    }

    freeMergeTables();
    for (int i = 0; i < LAYER_COUNT; ++i) {
        layerTables[i].freeVignetteProfile();
        layerSettings[i].vignetteProfile = nullptr;
        layerSettings[i].vignetteProfileCount = 0;
    }
    thumbTables.freeVignetteProfile();
    thumbSettings.vignetteProfile = nullptr;
    thumbSettings.vignetteProfileCount = 0;

    for (processingParams_t &s : layerSettings) {
        for (int c = 0; c < 4; ++c) {
            if (s.histograms[c])
                std::fill(s.histograms[c], s.histograms[c] + PP_HISTOGRAM_SIZE, 0u);
            if (s.cumulative[c])
                std::fill(s.cumulative[c], s.cumulative[c] + PP_HISTOGRAM_SIZE, 0.0);
        }
    }

    cleanupSessions(sessionName, 0, false);
}
