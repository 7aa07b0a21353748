#ifndef PROJECTFILEWORKERS_H
#define PROJECTFILEWORKERS_H

// Saving a whole project into a project file and reading the parts of a
// project file that are not photos (ghost mask, HDR image, layers).
//
// The workers run on their own threads and touch no widget: everything the
// window shows (layer names and opacities, the settings texts of the layers,
// the HDR options of the Generate HDR dialog and the EV selector) is copied
// into the job on the GUI thread before the worker starts, and what the
// loader read is handed back in its result for the GUI thread to apply.

#include "documents/projectFile.h"
#include "imageio/exifReader.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <vector>

class exiftoolDaemon;
class processingProject;

// How the save makes the small JPEG that carries one photo's EXIF data (and
// colour profile) into the project file. Filled on the GUI thread from the
// photo record and the settings, so the worker reads neither.
struct exifCarrierJob_t {
    QString carrier;     // where the JPEG is made (the session folder); empty: no carrier
    QString source;      // the file whose tags are copied
    bool writeTags = false; // the tags below are written instead (FITS photos)
    exifInfo_t tags {};     // the photo's tags (its strip tables are not copied)
    QString iccProfile;     // profile embedded after the tags; empty: none
};

// The carrier for a photo: the dummy JPEG with the source's tags (and the
// profile). False, with nothing left at job.carrier, when any step failed.
bool makeExifCarrier(exiftoolDaemon *exiftool, const exifCarrierJob_t &job);

struct projectSaveJob_t {
    QString target;
    bool saveInputs = true; // the photos' pixels; zeros otherwise
    bool saveHdr = false;   // the merged HDR image
    // The option bytes (EV source, alignment, method, selectivity, Smart
    // Merge, ghost removal, noise filter, panorama, lens correction); the
    // other fields are filled by the save.
    projectFileHeader_t options;
    // Per photo in project order: a small JPEG that carries its EXIF data
    // (copied into the file, then removed); an empty or missing file: none.
    QStringList carrierPaths;
    // Per photo in project order: a carrier the save makes itself (used
    // where carrierPaths has none), through this exiftool. They are made on
    // a thread of their own while the pixels are compressed; a carrier that
    // cannot be made leaves its photo without EXIF data, as before.
    std::vector<exifCarrierJob_t> carrierJobs;
    exiftoolDaemon *exiftool = nullptr;
    // Per layer slot: present (the base always is), name, opacity and the
    // layer's settings file text.
    bool layerPresent[PROJECT_FILE_LAYER_SLOTS] = {true};
    QString layerNames[PROJECT_FILE_LAYER_SLOTS];
    double layerOpacity[PROJECT_FILE_LAYER_SLOTS] = {};
    QByteArray layerSettings[PROJECT_FILE_LAYER_SLOTS];
};

// Writes the project's photos (from their session files), ghost mask, layers
// and HDR image into job.target through the checked save. Progress goes to
// progress (bytes of pixel data), stop ends the save early. On failure the
// previous file under that name is untouched and error says why.
bool saveProjectFile(processingProject *project, const projectSaveJob_t &job, QString *error,
                     std::atomic<uint64_t> *progress = nullptr, const std::atomic<bool> *stop = nullptr);

// What the loader read besides the photos, for the GUI thread to apply.
struct projectLoadResult_t {
    bool ghostMaskRead = false;
    bool hdrImageRead = false;
    // Layers present in the file, in slot order (slot 0 first); masks at the
    // image size (empty for the base).
    struct layer_t {
        int slot = 0;
        QString name;
        double opacity = 1.0;
        std::vector<uint8_t> mask;
        QByteArray settings;
        bool ok = true; // false: mask or settings could not be read
    };
    std::vector<layer_t> layers;
    QStringList problems; // one line per part that could not be read
};

// Reads the ghost mask (when its size is the project's preview size; the
// labels are remapped to the photos' new ids, photoIds in slot order), the
// HDR image (into project->hdrImage level 0, which must be allocated at the
// header's size) and the layers. Returns false when any part failed; what
// was read stays in place.
bool readProjectExtras(processingProject *project, const QString &path, const projectFileHeader_t &header,
                       const std::vector<int> &photoIds, projectLoadResult_t &result);

// Reads the ghost mask, the HDR image and the layers of a project file once
// its photos are in the project (the window starts it after the photo
// loaders finished). The result is applied on the GUI thread.
class loadProjectWorker : public QObject
{
    Q_OBJECT

public:
    loadProjectWorker(processingProject *project, QString path, projectFileHeader_t header,
                      std::vector<int> photoIds);

    bool success = false;
    projectLoadResult_t result;
    const projectFileHeader_t &header() const { return fileHeader; }
    const QString &path() const { return filePath; }

public slots:
    void doLoadProject();

signals:
    void finished();

private:
    processingProject *project;
    QString filePath;
    projectFileHeader_t fileHeader;
    std::vector<int> photoIds;
};

class saveProjectWorker : public QObject
{
    Q_OBJECT

public:
    saveProjectWorker(processingProject *project, projectSaveJob_t job);

    bool success = false;
    QString errorText;
    const projectSaveJob_t &job() const { return saveJob; }

public slots:
    void doSaveProject();

signals:
    void finished();

private:
    processingProject *project;
    projectSaveJob_t saveJob;
};

#endif // PROJECTFILEWORKERS_H
