// Saving a project into a project file; reading its ghost mask, HDR image
// and layers back.

#include "documents/projectFileWorkers.h"

#include "app/debugLog.h"
#include "app/rawFileIO.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "imageio/exiftoolDaemon.h"
#include "project/parallelRanges.h"
#include "project/processingProject.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace
{
QString tr(const char *text) { return QCoreApplication::translate("saveProjectWorker", text); }

// The slot name of a photo: its file name, without the marker a photo that
// came from a project carries.
// Reads n bytes at offset `at` of a file, whatever the file position.
bool readFully(int fd, uint64_t at, size_t n, uint8_t *into)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, into + done, n - done, off_t(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

QString slotName(const photoInfo_t &photo)
{
    QString name = QFileInfo(photo.filePath).fileName();
    if (name.endsWith(QLatin1String("-lmpx")))
        name.chop(5);
    return name;
}

// Makes the EXIF carriers of a save one after the other on a thread of its
// own (exiftool runs one command at a time anyway) while the photos'
// pixels are compressed; the save takes photo j's carrier when its pixels
// are written. Carriers left over when the save ends (a failed or stopped
// save) are removed, and the thread is waited for.
class carrierMaker
{
public:
    carrierMaker(const projectSaveJob_t &job, const std::atomic<bool> *stop)
        : jobs(job.carrierJobs), state(job.carrierJobs.size(), pending)
    {
        if (!job.exiftool || jobs.empty()) {
            std::fill(state.begin(), state.end(), none);
            return;
        }
        thread = std::thread([this, exiftool = job.exiftool, stop]() {
            for (size_t j = 0; j < jobs.size(); ++j) {
                const bool made = !cancelled && !(stop && stop->load()) && makeExifCarrier(exiftool, jobs[j]);
                std::lock_guard<std::mutex> lock(mutex);
                state[j] = made ? ready : none;
                changed.notify_all();
            }
        });
    }
    ~carrierMaker()
    {
        cancelled = true;
        if (thread.joinable())
            thread.join();
        for (const exifCarrierJob_t &c : jobs)
            if (!c.carrier.isEmpty())
                QFile::remove(c.carrier);
    }
    carrierMaker(const carrierMaker &) = delete;
    carrierMaker &operator=(const carrierMaker &) = delete;

    // Photo j's carrier once it is made; empty when there is none.
    QString take(int j)
    {
        if (j < 0 || size_t(j) >= jobs.size())
            return QString();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&]() { return state[size_t(j)] != pending; });
        return state[size_t(j)] == ready ? jobs[size_t(j)].carrier : QString();
    }

private:
    enum state_t { pending, ready, none };
    const std::vector<exifCarrierJob_t> &jobs;
    std::vector<state_t> state;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
};
} // namespace

bool makeExifCarrier(exiftoolDaemon *exiftool, const exifCarrierJob_t &job)
{
    if (!exiftool || job.carrier.isEmpty())
        return false;
    QImage dummy(10, 10, QImage::Format_RGB888);
    dummy.fill(Qt::black);
    bool made = false;
    if (dummy.save(job.carrier, "JPEG")) {
        debugLog("Loading EXIF data from: '%s'\n", job.source.toLocal8Bit().constData());
        if (QFileInfo::exists(job.source)) {
            made = job.writeTags ? exiftool->writeTags(job.carrier, &job.tags, false)
                                 : exiftool->transferExif(job.carrier, job.source, QString(), false, 300, true, true,
                                                          false);
            if (made && !job.iccProfile.isEmpty() && QFileInfo::exists(job.iccProfile))
                exiftool->writeIccProfile(job.carrier, job.iccProfile);
        }
    }
    if (!made) {
        debugLog("%s: Exif transfer failed\n", "saveProjectWorker::doSaveProject");
        QFile::remove(job.carrier);
    }
    return made;
}

bool saveProjectFile(processingProject *project, const projectSaveJob_t &job, QString *error,
                     std::atomic<uint64_t> *progress, const std::atomic<bool> *stop)
{
    const char *fn = "saveProjectWorker::doSaveProject";
    auto failWith = [&](const QString &text, const char *log) {
        if (log)
            debugLog(log, fn);
        if (error)
            *error = text;
        return false;
    };
    const int w = project->width, h = project->height;
    if (w <= 0 || h <= 0)
        return failWith(tr("There is nothing to save."), nullptr);
    if (project->photos.size() > PROJECT_FILE_PHOTO_SLOTS)
        return failWith(tr("A project file holds at most %1 photos.").arg(PROJECT_FILE_PHOTO_SLOTS), nullptr);

    projectFileHeader_t header = job.options;
    header.width = w;
    header.height = h;
    header.ghostWidth = job.saveInputs ? project->previewWidth : 0;
    header.ghostHeight = job.saveInputs ? project->previewHeight : 0;
    header.photoConstant = 2;

    projectFileWriter writer(job.target);
    debugLog("Saving project: %s\n", qPrintable(job.target));
    if (!writer.begin())
        return failWith(writer.errorText(), nullptr);
    carrierMaker carriers(job, stop);

    const uint64_t photoBytes = uint64_t(w) * uint64_t(h) * 6;
    for (int j = 0; j < project->photos.size(); ++j) {
        photoInfo_t &photo = project->photos[j];
        header.photoNames[j] = slotName(photo);
        bool written = false;
        if (job.saveInputs && !photo.isFloat) {
            // The photo's session file is read block by block by the tasks
            // that compress the blocks (positioned reads, so they do not get
            // in each other's way), and its samples are masked there:
            // 8-bit sources keep their top 10 bits, 16-bit ones their top
            // 12; the noise below compresses badly and carries nothing.
            QTemporaryFile *session = photo.tempFiles[0];
            if (!session || !session->flush() || session->handle() < 0 || session->size() < qint64(photoBytes)) {
                writer.discard();
                return failWith(tr("Cannot read the photo's temporary file."), "%s: Cannot read temp file\n");
            }
            const int fd = session->handle();
            const uint8_t lowMask = photo.bitDepth >= 2 ? 0xF0 : 0xC0;
            std::atomic<bool> unreadable{false};
            written = writer.writeRun(
                photoBytes,
                [fd, lowMask, &unreadable](uint64_t at, size_t n, uint8_t *into) {
                    if (!readFully(fd, at, n, into)) {
                        unreadable = true;
                        return false;
                    }
                    // Samples are little-endian: the low byte of each sits
                    // at an even position of the run.
                    for (size_t k = at & 1; k < n; k += 2)
                        into[k] &= lowMask;
                    return true;
                },
                &header.pixelOffsets[j], progress, stop);
            if (!written && unreadable) {
                debugLog("%s: Cannot read temp file\n", fn);
                return failWith(tr("Cannot read the photo's temporary file."), nullptr);
            }
        } else {
            written = writer.writeZeroRun(photoBytes, &header.pixelOffsets[j], progress, stop);
        }
        if (!written) {
            debugLog("%s: Cannot write image data\n", fn);
            return failWith(writer.errorText(), nullptr);
        }
        const QString carrierPath =
            j < job.carrierPaths.size() && !job.carrierPaths[j].isEmpty() ? job.carrierPaths[j] : carriers.take(j);
        if (!carrierPath.isEmpty() && QFile::exists(carrierPath)) {
            QFile carrier(carrierPath);
            if (carrier.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = carrier.readAll();
                carrier.close();
                if (!writer.writeRawBlock(bytes, &header.exifOffsets[j]))
                    return failWith(writer.errorText(), "%s: Cannot write image data\n");
                QFile::remove(carrierPath);
            }
        }
        header.evs[j] = photo.ev;
        header.ghostLabels[j] = (photo.id % 100) + 1;
    }

    const pyramidLevel_t &ghost = project->ghostLabelMask.levels[0];
    if (job.options.deghost && job.saveInputs && ghost.data && ghost.width == header.ghostWidth &&
        ghost.height == header.ghostHeight) {
        if (!writer.writeRun(ghost.data, uint64_t(ghost.width) * uint64_t(ghost.height), &header.ghostMaskOffset,
                             nullptr, stop))
            return failWith(writer.errorText(), "%s: Cannot ghost mask data\n");
    }

    for (int i = 0; i < PROJECT_FILE_LAYER_SLOTS; ++i) {
        if (i > 0 && !job.layerPresent[i])
            continue;
        if (i > 0) {
            header.layerNames[i] = job.layerNames[i];
            const pyramidLevel_t &mask = project->layerMasks[i].levels[0];
            const uint64_t maskBytes = uint64_t(w) * uint64_t(h);
            const bool written = mask.data && mask.width == w && mask.height == h
                                     ? writer.writeRun(mask.data, maskBytes, &header.layerMaskOffsets[i], nullptr, stop)
                                     : writer.writeZeroRun(maskBytes, &header.layerMaskOffsets[i], nullptr, stop);
            if (!written)
                return failWith(writer.errorText(), "%s: Cannot write layer data\n");
        }
        header.layerOpacity[i] = std::clamp(job.layerOpacity[i], 0.0, 1.0);
        if (job.layerSettings[i].isEmpty() || job.layerSettings[i].size() > PROJECT_FILE_MAX_SETTINGS_BYTES) {
            writer.discard();
            return failWith(tr("Cannot save tone mapping settings."), "%s: Cannot save tone mapping settings\n");
        }
        if (!writer.writeRawBlock(job.layerSettings[i], &header.layerSettingsOffsets[i]))
            return failWith(writer.errorText(), "%s: Cannot write layer data\n");
    }

    header.hdrEncoding = 0;
    header.hdrOffset = 0;
    header.hdrPreprocess[0] = header.hdrPreprocess[1] = 0;
    const pyramidLevel_t &hdr = project->hdrImage.levels[0];
    if (job.saveHdr && hdr.data && hdr.width == w && hdr.height == h) {
        if (!writer.writeRun(hdr.data, uint64_t(w) * uint64_t(h) * 12, &header.hdrOffset, progress, stop))
            return failWith(writer.errorText(), "%s: Cannot write HDR image data\n");
        header.hdrPreprocess[0] = project->hdrState.hdrMedian;
        header.hdrPreprocess[1] = project->hdrState.lcCorrection;
    }
    if (!writer.finish(header))
        return failWith(writer.errorText(), nullptr);
    return true;
}

bool readProjectExtras(processingProject *project, const QString &path, const projectFileHeader_t &header,
                       const std::vector<int> &photoIds, projectLoadResult_t &result)
{
    const char *fn = "loadProjectWorker::doLoadProject";
    result = projectLoadResult_t();
    std::unique_ptr<FILE, int (*)(FILE *)> f(openFileWide(path, "rb"), fclose);
    if (!f) {
        result.problems << QStringLiteral("cannot open the file");
        return false;
    }
    fseeko(f.get(), 0, SEEK_END);
    const int64_t fileSize = ftello(f.get());
    bool ok = true;

    if (header.ghostMaskOffset) {
        if (header.ghostWidth != project->previewWidth || header.ghostHeight != project->previewHeight) {
            debugLog("%s: Bad sub size (%dx%d / %dx%d).\n", fn, header.ghostWidth, header.ghostHeight,
                     project->previewWidth, project->previewHeight);
        } else {
            pyramid &mask = project->ghostLabelMask;
            if (!mask.levels[0].data || mask.levels[0].width != header.ghostWidth ||
                mask.levels[0].height != header.ghostHeight) {
                mask.freeAll();
                mask.makePyramid(header.ghostWidth, header.ghostHeight, 1, 1, 1, true);
            }
            if (!mask.levels[0].data || !readProjectRun(f.get(), fileSize, header.ghostMaskOffset, mask.levels[0].data,
                                                        header.ghostMaskBytes(), header.blockSize)) {
                debugLog("%s: Failed while loading ghost mask #2.\n", fn);
                result.problems << QStringLiteral("ghost mask");
                ok = false;
            } else {
                remapGhostLabels(static_cast<uint8_t *>(mask.levels[0].data), header.ghostMaskBytes(), header,
                                 photoIds.data(), int(photoIds.size()));
                result.ghostMaskRead = true;
            }
        }
    }

    if (header.hdrOffset && header.hdrEncoding == 0) {
        const pyramidLevel_t &hdr = project->hdrImage.levels[0];
        if (!hdr.data || hdr.width != header.width || hdr.height != header.height ||
            !readProjectRun(f.get(), fileSize, header.hdrOffset, hdr.data, header.hdrBytes(), header.blockSize)) {
            debugLog("%s: Failed while loading HDR image #2.\n", fn);
            result.problems << QStringLiteral("HDR image");
            ok = false;
        } else {
            result.hdrImageRead = true;
        }
    }

    for (int slot = 0; slot < header.layerSlots; ++slot) {
        if (slot > 0 && header.layerMaskOffsets[slot] == 0)
            continue;
        projectLoadResult_t::layer_t layer;
        layer.slot = slot;
        layer.name = header.layerNames[slot];
        layer.opacity = header.layerOpacity[slot];
        if (slot > 0) {
            layer.mask.resize(size_t(header.maskBytes()));
            if (!readProjectRun(f.get(), fileSize, header.layerMaskOffsets[slot], layer.mask.data(),
                                header.maskBytes(), header.blockSize)) {
                debugLog("%s: Failed while loading layer %d #2.\n", "mainWindow::loadProjectFinished", slot);
                layer.mask.assign(layer.mask.size(), 0);
                layer.ok = false;
            }
        }
        if (header.layerSettingsOffsets[slot] &&
            !readProjectRawBlock(f.get(), fileSize, header.layerSettingsOffsets[slot], PROJECT_FILE_MAX_SETTINGS_BYTES,
                                 layer.settings)) {
            debugLog("%s: Failed while loading tone mapping settings %d #2.\n", "mainWindow::loadProjectFinished",
                     slot);
            layer.ok = false;
        }
        if (!layer.ok) {
            result.problems << QStringLiteral("layer %1").arg(slot);
            ok = false;
        }
        result.layers.push_back(std::move(layer));
    }
    return ok;
}

loadProjectWorker::loadProjectWorker(processingProject *p, QString path, projectFileHeader_t header,
                                     std::vector<int> ids)
    : project(p), filePath(std::move(path)), fileHeader(std::move(header)), photoIds(std::move(ids))
{
}

void loadProjectWorker::doLoadProject()
{
    success = readProjectExtras(project, filePath, fileHeader, photoIds, result);
    emit finished();
}

saveProjectWorker::saveProjectWorker(processingProject *p, projectSaveJob_t job)
    : project(p), saveJob(std::move(job))
{
}

void saveProjectWorker::doSaveProject()
{
    success = saveProjectFile(project, saveJob, &errorText, &progressCounter, &breakFlag);
    emit finished();
}
