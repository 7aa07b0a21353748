#include "bracketProject.h"

#include "documents/settingsFile.h"
#include "hdr/generateHDRworker.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"

#include <QDir>
#include <QFileInfo>
#include <memory>
#include <thread>
#include <vector>

bool loadBracket(processingProject &project, const QStringList &files, QString *error)
{
    project.quiet = true;
    struct job_t
    {
        std::unique_ptr<pyramid> image;
        std::unique_ptr<loadPhotoWorker> worker;
        int status = -1;
    };
    std::vector<job_t> jobs;
    for (const QString &f : files) {
        photoInfo_t photo;
        photo.filePath = f;
        photo.loadDivisor = 1;
        if (project.loadPhotoPrepare(photo, int(jobs.size()), files.size(), false) != 0) {
            *error = f + ": " + project.lastErrorMessage;
            return false;
        }
        job_t job;
        job.image.reset(new pyramid);
        job.worker.reset(new loadPhotoWorker(&project, photo, *job.image, int(jobs.size())));
        jobs.push_back(std::move(job));
    }
    for (job_t &j : jobs)
        if (!j.image->makePyramid(project.width, project.height, 1, 2, 3, true)) {
            *error = "Not enough memory!";
            return false;
        }
    std::vector<std::thread> running;
    for (job_t &j : jobs)
        running.emplace_back([&j] { j.status = j.worker->loadPhoto(); });
    for (std::thread &t : running)
        t.join();
    for (job_t &j : jobs) {
        project.photos.append(j.worker->photo);
        if (j.status != 0) {
            *error = j.worker->photo.filePath + ": failed to load";
            return false;
        }
        j.image.reset();
    }
    project.sortPhotosByEV();
    if (!project.evFromExif && !project.biasDistinct)
        for (photoInfo_t &p : project.photos)
            p.ev = p.evAuto;
    project.evRange();

    generateHDRoptions_t o;
    o.project = &project;
    o.selectivity = 1;
    generateHDRworker merge(o);
    merge.generateHDR_prepare();
    if (!merge.generateHDR_core()) {
        *error = "merge failed";
        return false;
    }
    merge.hdrPreprocess();
    // The preview levels follow the merged image, as at the end of the
    // program's HDR generation.
    project.hdrImage.buildLevelsFrom(0);
    project.maskReady = project.localContrastReady = false;
    toneMappingPreprocessWorker maps(&project);
    maps.doIt();
    if (!maps.mapsReady()) {
        *error = "tone-mapping preparation failed";
        return false;
    }
    return true;
}

QString builtInPresetFolder(const QString &programFolder, const QString &scratch)
{
    const QString shipped = programFolder + "/built-in presets";
    if (!QDir(shipped).entryList({"*.lmsx"}, QDir::Files).isEmpty())
        return shipped;
    const QString folder = scratch + "/built-in presets";
    QDir().mkpath(folder);
    struct look_t
    {
        const char *name;
        double compression, gamma, strength, saturation, temperature, vignette;
    } looks[] = {
        {"default", 1.4, 0.9, 0.3, 1.1, 1.0, 0.0},   {"none", 1.0, 1.0, 0.0, 1.0, 1.0, 0.0},
        {"Natural", 1.6, 0.9, 0.4, 1.0, 1.0, 0.0},   {"Vivid", 1.8, 0.8, 0.6, 1.5, 1.05, -0.2},
        {"Warm evening", 1.5, 0.9, 0.4, 1.2, 1.4, -0.3}, {"Cool morning", 1.5, 0.95, 0.4, 1.0, 0.7, 0.0},
        {"Muted", 1.3, 1.1, 0.2, 0.6, 1.0, 0.0},     {"Black and white", 1.6, 0.9, 0.5, 0.0, 1.0, -0.3},
    };
    for (const look_t &l : looks) {
        processingParams_t p;
        p.compression = l.compression;
        p.gamma = l.gamma;
        p.lcEnabled = l.strength > 0;
        p.lcStrength = l.strength;
        p.lcRange = 0.5;
        p.saturation = l.saturation;
        p.temperature = l.temperature;
        p.vignetteAmount = l.vignette;
        p.vignetteSmoothness = p.vignetteSize = 1.0;
        p.autoClipping = true;
        p.blackPoint = 0.1;
        p.whitePoint = 0.2;
        saveSettingsFile(folder + "/" + l.name + ".lmsx", p);
    }
    return folder;
}
