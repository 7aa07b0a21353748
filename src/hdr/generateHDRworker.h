#ifndef GENERATEHDRWORKER_H
#define GENERATEHDRWORKER_H

// The HDR generation worker: turns the project's checked photos into one float
// HDR image (or, for LDR enhancement, one photo into the float image). The HDR
// dialog moves it to its own thread and calls one stage slot at a time; each
// stage runs to its end and emits finished(bool) exactly once (false = failed
// or stopped by hdrBreakFlag).
//
// Stage order of the dialog: generateHDR_preLensCorrection,
// generateHDR_preAutoAlign, generateHDR_prepare, generateHDR_function; or
// generateLDR_function alone.

#include "hdr/transformFitting.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>


class processingProject;
struct photoInfo_t;

struct generateHDRoptions_t {
    processingProject *project = nullptr;
    bool hdrFileInput = false;
    bool noiseFilter = false;
    int noiseFilterStrength = 0;
    int noiseFilterSoftness = 1;
    int method = 0;                 // 0 True HDR, 1 Smart Merge, 2 plain average
    int selectivity = 0;            // 0..3; above 3 leaves the weight tables untouched
    int smartMergeStrength = 5;
    bool ghostRemoval = false;
    bool notBatch = true;
    bool ghostRemovalRepair = false;
    int ghostRemovalSmoothness = 5; // 1..10
    bool saveHDR = false;
    QString outputPath;
    // An existing read-only HDR file is replaced only when the user agreed
    // (checkedSaveFile::targetIsReadOnly() tells beforehand); the automatic
    // run leaves this off and the save fails with the reason in saveError.
    bool replaceReadOnly = false;
    bool preview = false;
    double exposureReference = 0.0;
    // Stored settings the worker needs, copied on the GUI thread before it
    // starts (takeStoredSettings): the worker never reads the settings record.
    bool recoverResponse = true;    // off: merge with the standard response curve
    bool normalizeHdrFile = false;  // scale the saved HDR file to 0..1
    bool deflateHdrTiff = false;    // Deflate compression of a saved float TIFF
    bool rawNoiseFilterOn = false;  // RAW photos were decoded with their noise filter
};

class programOptionsSettings;
// Copies the stored settings the HDR worker reads into its options. Call on the
// GUI thread, before the worker starts.
void takeStoredSettings(generateHDRoptions_t &options, const programOptionsSettings &settings);

class generateHDRworker : public QObject
{
    Q_OBJECT

public:
    explicit generateHDRworker(const generateHDRoptions_t &options);
    ~generateHDRworker() override = default;

    QString outputPath() const;
    void setLensExif(const QString &camera, const QString &lens, double focalLength);
    QString statusText() const { return status; }

    // Stage bodies (also called directly: the ghost dialog's preview merge and
    // the loading of a single HDR image). Each returns false on failure or break.
    bool generateHDR_core();
    bool recoverResponseCurve();
    bool hdrPreprocess();
    bool ldrPreprocess();
    bool noiseFiltering();
    bool smartMergeMask(quint16 *mask, int photoIndex);
    // Saves the merged image to outputPath (format by suffix); false when it
    // could not be written completely.
    bool saveHdrFile();

    bool saved = false;               // result of saving the HDR file
    QString saveError;                // why the save failed ("" when it did not)
    bool noiseWeighting = true;       // use the photos' confidence tables in masked pixels
    // The photos' work tables 4-6 hold confidence tables (filled by the ghost
    // removal dialog). Until someone says so they are not read: masked pixels
    // are then merged with neutral tables.
    bool confidenceTablesValid = false;
    double minHDR = 0.0, maxHDR = 0.0;
    // After the alignment stage: the base photo and every photo's transform
    // (base position to photo position, full-size pixels before the crop).
    int alignBase = -1;
    std::vector<alignTransform_t> alignTransforms;

public slots:
    void generateHDR_preLensCorrection();
    void generateHDR_preAutoAlign();
    void generateHDR_prepare();
    void generateHDR_function();
    void generateLDR_function();

signals:
    void finished(bool success);

private:
    // Steps of generateHDR_core.
    bool buildSmartMasks(std::vector<std::unique_ptr<quint16[]>> &smartMasks, int photoCount, qint64 n);
    void markWithoutResult();
    int taskCount() const;
    bool batchRun() const;

    generateHDRoptions_t opt;
    QString exifCamera, exifLens;
    double exifFocalLength = -1.0;
    QString status;
};

#endif // GENERATEHDRWORKER_H
