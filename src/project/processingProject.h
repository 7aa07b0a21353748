#ifndef PROCESSINGPROJECT_H
#define PROCESSINGPROJECT_H

// The central model of the engine: the loaded photos, the merged HDR image and
// what is derived from it at full and preview size, the ten tone-mapping
// layers with their settings and tables, the HDR merge tables, the session
// directory with the photos' temporary files, the colour transforms, and the
// long-lived services loading and saving need (exiftool daemon, lens
// database). It shows no window: the load-option questions go to the
// installed loadOptionsPrompt, and messages are returned (lastErrorMessage)
// and handed to the installed messageHandler.
//
// Built, reset (cleanup) and destroyed on the GUI thread; workers read and
// write its fields while they run, and cleanup / the destructor must not run
// while a worker uses it.
//
// Colour transforms: workers use them only through doTransform() (or while
// holding a transformReadLocker), which holds a read lock; rebuilding and
// deleting them takes the write lock, so no worker ever runs a deleted
// transform.

#include "project/hdrGenerationState.h"
#include "project/photoInfo.h"
#include "project/processingParams.h"
#include "project/pyramid.h"
#include "project/tableSizes.h"
#include "project/toneMapping.h"

#include <QColor>
#include <QFuture>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <cstdint>
#include <functional>
#include <lcms2.h>
#include <memory>

class QWidget;
class exiftoolDaemon;
class lensfunDb;
class loadOptionsPrompt;

// A message of the project for the person (the text of a failed load, a
// colour-profile warning). The project keeps it in lastErrorMessage and hands
// it to the installed handler, which knows whether the run is interactive,
// automatic or a batch and shows, logs or records it.
enum class projectMessage_t { error, warning };
using projectMessageHandler_t = std::function<void(projectMessage_t kind, const QString &text)>;

constexpr int PROJECT_LC_PYRAMIDS = 4;
constexpr int PREVIEW_MAX_SIDE = 1400;          // long side of the preview, at most
constexpr int PREVIEW_MIN_LEVEL_SIDE = 64;      // preview levels stop at this short side
constexpr int FULL_PYRAMID_SMALLEST_SIDE = 300; // x device-pixel ratio
constexpr const char *SESSION_PREFIX = "~lumidratmp";
constexpr int SESSION_MAX_AGE_HOURS = 168;

// Size rules of the project (pure functions; sizes in pixels).
struct previewGeometry_t {
    int32_t divisor = 1;
    int32_t width = 0;
    int32_t height = 0;
    int32_t levels = 1;
};
previewGeometry_t previewGeometry(int32_t width, int32_t height);
// Full-size pyramid depth before the limit of 16 (callers take min(n, 16)).
int32_t fullPyramidLevels(int32_t width, int32_t height, double devicePixelRatio);
// Entries of a layer's vignette profile: ten per pixel of the half-diagonal, plus ten.
int32_t vignetteProfileCount(int32_t width, int32_t height);

// Session directories: cleans the session folder `name` of the scratch-pad
// folder when it is at least maxAgeHours old (0 = always); removeFolder also
// removes the emptied folder.
void cleanupSessions(const QString &name, int maxAgeHours, bool removeFolder);
// Age in hours of a session folder name ("~lumidratmp" + "yyyyMMddhhmmss...");
// 0 when the stamp cannot be read.
double sessionAgeHours(const QString &name);

// Weighting tables of 65,536 doubles indexed by a 16-bit sample value.
void hdrWeightTable(double *table, double low, double high, int mode);
void rampTable(double *table, int peak, double low, double high, double scale);
void gaussWeightTable(double *table, bool underExposed);

// A camera response as a polynomial in the normalised sample value.
constexpr int RESPONSE_MAX_COEFFICIENTS = 20;
struct responseRecord {
    double coefficients[RESPONSE_MAX_COEFFICIENTS] = {};
    int32_t count = 0;
};

// The RGB <-> YCbCr range bodies of the float image conversions.
void rgbToYCbCrRange(float *pixels, int64_t start, int64_t end, bool squareRoot);
void yCbCrToRgbRange(float *pixels, int64_t start, int64_t end, bool square);

// Description of a profile (at most 63 characters); html, when given,
// receives description, manufacturer, model and copyright as HTML.
QString profileDescription(cmsHPROFILE profile, QString *html);

class processingProject : public QObject
{
    Q_OBJECT

public:
    // The five colour transforms (see colour management).
    enum colorTransform_t {
        TRANSFORM_TO_MONITOR_8,
        TRANSFORM_TO_MONITOR_BGRA,
        TRANSFORM_FROM_MONITOR_8,
        TRANSFORM_TO_SRGB_8,
        TRANSFORM_TO_SRGB_16,
        TRANSFORM_COUNT
    };

    // parent: the window that dialogs and message boxes about the project
    // belong to (null in tests and tools).
    explicit processingProject(QWidget *parent);
    ~processingProject() override;

    void cleanup();

    // --- session directory and temporary files ---
    QString sessionDirPath() const { return sessionPath; }
    bool sessionDirExists() const;
    bool writeToTempFile(photoInfo_t &photo, int slot, const pyramid &source, qint64 byteCount = 0);
    bool readFromTempFile(photoInfo_t &photo, int slot, pyramid &target, qint64 byteCount = 0);
    void closeTempFiles(photoInfo_t &photo, int slot);
    // The scratch-pad folder in use (settings), else the system temp folder.
    static QString scratchPadPath();

    // --- image sizes and buffers ---
    bool allocatePreview(int32_t width = 0, int32_t height = 0);
    bool resizePreviews(int32_t newWidth, int32_t newHeight);
    bool allocatePyramids();
    uint8_t *allocateDisplayBuffer();

    // --- image transformation (processingProject_transform.cpp) ---
    bool transformImage(int mode, int x1, int y1, int x2, int y2, double angle, double distortion,
                        double perspectiveX, double perspectiveY);

    // --- photos, thumbnails, tables ---
    void makePhotoThumbnail(photoInfo_t &photo);
    bool removePhoto(int id);
    int getImageInfoIdx(int id) const;
    void defaultResponse(responseRecord *out);
    void toYCbCrParallel();
    void fromYCbCrParallel();
    bool reallocateLevelBuffer();

    // --- colour management ---
    int createInputProfile(photoInfo_t &photo, int fileType);
    int checkInputProfile(photoInfo_t &photo, int photosInProject, int position);
    bool setInputProfile(const QString &path, cmsHPROFILE *handle, bool useGivenFile);
    bool setOutputProfile(cmsHPROFILE *display, cmsHPROFILE *srgb, QString *error);
    bool createProfileTransform(cmsHPROFILE input, cmsHPROFILE display, cmsHPROFILE srgb);
    bool setMonitorProfile(const photoInfo_t &photo);
    void deleteProfileTransform();
    QString exifTempPath(int n) const;
    // Runs one transform under the read lock; false (nothing written) when
    // the transforms are not valid.
    bool doTransform(colorTransform_t which, const void *in, void *out, uint32_t pixels) const;
    bool transformsAreValid() const;
    // Stock profile file of a choice code of the tables (application folder +
    // "/color profiles/..."); input column, display column, RAW/HDR column.
    static QString stockProfilePath(const QString &fileName);
    static QString inputProfileFile(int code, const QString &photoProfile);
    static QString rawHdrProfileFile(int code);

    // --- tone mapping, local contrast, layer tables (processingProject_toneMapping.cpp) ---
    // Renders one layer for the screen (statistics pass, then the view window).
    void doToneMapping(processingParams_t *settings, uint8_t *externalBuffer, bool skipStatistics,
                       bool fullQuality);
    // Renders and merges every used layer into level 0 of outputImage; true
    // only for a complete image.
    bool doToneMappingFull();
    // The local-contrast maps and the mask luminance use separate planes of
    // level 0 of outputImage as scratch, so the two may run at the same time.
    bool localContrast();  // true when every pass finished
    bool computeMask();    // true when both passes finished
    void generateTMtable(processingParams_t *settings);
    void toneCurveTable(processingParams_t *settings);
    void vignetteProfile(processingParams_t *settings);
    QColor transformColor(const QColor &color) const;
    void prepareHistogramMatch(const photoInfo_t &a, const photoInfo_t &b, double *tablesA[4],
                               double *tablesB[4], bool *aIsDarker);
    int enabledLayerCount() const;
    bool isProjectInput() const;
    void removeLayerUndoFiles();
    int taskCount() const; // tasks of a parallel pass (batch setting while a batch runs)

    // Holds the transforms for reading while a caller uses several of them.
    class transformReadLocker
    {
    public:
        explicit transformReadLocker(const processingProject *p) : lock(&p->transformLock) {}
        QReadLocker lock;
    };

    // --- photo loading and exposure values (processingProject_load.cpp) ---
    // Result of preparing a photo: ready for its loadPhotoWorker; not a photo
    // this program reads (logged, nothing shown); refused with a message
    // (lastErrorMessage; shown unless quiet) or cancelled by the user.
    enum loadPrepareResult_t { LOAD_PREPARED = 0, LOAD_UNREADABLE = 1, LOAD_REFUSED = 2 };
    // RAW photos without rawArguments get the switches of the stored RAW load
    // options; the decode choices and the HDR load choices are copied into the
    // record here, so the worker reads no settings.
    loadPrepareResult_t loadPhotoPrepare(photoInfo_t &photo, int indexInBatch, int batchCount, bool hdrPresent);
    void postLoadPhoto(double minValue, double maxValue, photoInfo_t &photo);
    // The steps of loadPhotoPrepare (processingProject_load.cpp).
    loadPrepareResult_t probePhoto(photoInfo_t &photo, int type, int &w, int &h);
    QString acceptPhotoSize(const photoInfo_t &photo, int position, bool hdrPresent, int w, int h);
    loadPrepareResult_t preparePhotoProfile(photoInfo_t &photo, int type, int indexInBatch);
    void sortPhotosByEV();
    double computeAutoEV(const photoInfo_t &a, const photoInfo_t &b);
    void evRange();
    bool aebEVdiff();
    bool minEVdiff();

signals:
    void disableAutoClipping();

public:
    // services
    loadOptionsPrompt *loadOptions = nullptr;       // not owned; none without a main window
    exiftoolDaemon *exiftool = nullptr;             // owned
    lensfunDb *lensDb = nullptr;                    // owned; its files are read in the background
    QFuture<bool> lensDbLoad;                       // that read (ends before lensDatabase() returns)
    // The lens database once its background read has ended (waits for it).
    lensfunDb *lensDatabase();
    QWidget *parentWidget = nullptr;                // not owned

    // sizes
    int32_t width = 0;
    int32_t height = 0;
    int32_t previewWidth = 0;
    int32_t previewHeight = 0;
    int32_t previewDivisor = 1;
    int32_t previewLevels = 0;

    // photos
    QList<photoInfo_t> photos;

    // image
    uint16_t *preview16 = nullptr;
    pyramid hdrImage;                      // float, 3 channels, full size
    pyramid outputImage;                   // 16-bit, 3 channels, full size
    pyramid lcPyramids[PROJECT_LC_PYRAMIDS]; // 16-bit, 1 channel
    pyramid ghostLabelMask;                // 8-bit, 1 channel, preview size
    uint8_t *displayBuffer = nullptr;      // 8-bit RGB, smallest hdrImage level
    uint8_t *levelBuffer = nullptr;        // 8-bit RGB of the selected preview level
    int32_t selectedPreviewLevel = 0;

    // merge tables (SAMPLE_TABLE_SIZE doubles each)
    double *responseR = nullptr;
    double *responseG = nullptr;
    double *responseB = nullptr;
    double *defaultResponseTable = nullptr; // the project's standard response
    double *ghostWeightTable = nullptr;
    double *exposurePenaltyLow = nullptr;
    double *exposurePenaltyHigh = nullptr;

    // layers
    bool layersOn = false;
    int32_t currentLayer = 0;      // the layer the panels edit, 0..LAYER_COUNT-1
    uint8_t layerExists[LAYER_COUNT] = {};
    uint8_t layerEnabled[LAYER_COUNT] = {};
    pyramid layerMasks[LAYER_COUNT];
    processingParams_t layerSettings[LAYER_COUNT];
    processingParams_t thumbSettings;

    // exposure values (see exposureValues.h)
    bool evFromExif = false;
    bool biasDistinct = false;
    double evMin = 0, evMax = 0, evMean = 0;
    double evMinLn = 0, evMaxLn = 0, evMeanLn = 0;
    int32_t idxMid = 0, idxMin = 0, idxMax = 0;

    // orientation of the photos (under orientationMutex, with width and height)
    bool orientationKnown = false;
    int32_t orientationMode = -1;
    // HDR load choices of the running batch task (used while quiet)
    int32_t batchHdrColorSpace = 1;
    bool batchHdrNoiseFilter = false;
    int32_t batchHdrNoiseStrength = 2;
    int32_t batchHdrNoiseSoftness = 2;
    bool batchHdrPanorama = false;

    // locks
    QMutex orientationMutex;
    QMutex profileMutex;

    // session
    QString sessionName;
    QString sessionPath;

    // state
    bool constructionFailed = false;
    hdrGenerationState_t hdrState;    // written by HDR generation
    bool quiet = false;            // no messages for the person (batch runs)
    QString lastErrorMessage;
    projectMessageHandler_t messageHandler; // none: messages are only kept and logged
    // Keeps text in lastErrorMessage, logs it and hands it to messageHandler.
    void reportMessage(projectMessage_t kind, const QString &text);
    int32_t photoIdCounter = 0;

    // tone mapping (preparation state, view window); the HDR preprocessing
    // results it reads (hdrMedian, lcCorrection) are kept in hdrState
    bool panoramaMode = false;      // wrap filters around horizontally
    bool batchRunning = false;      // a batch task runs (thread limit of batches)
    int32_t batchOutputType = 0;
    bool localContrastReady = false;
    bool maskReady = false;
    bool prepared = false;
    bool smallPreview = false;      // render the statistics pass into displayBuffer
    bool previewOutputReady = false;
    int32_t layerUndoCount[LAYER_COUNT] = {};
    previewWindow_t view;           // the image view's window and its buffers

    // colour management
    double radiancePrimaries[8] = {}; // red x, y, green x, y, blue x, y, white x, y
    bool radiancePrimariesSet = false;
    // Colour-space codes of the RAW and HDR load-option dialogs (the RAW
    // dialog's index + 1, the HDR dialog's index), taken from the dialogs on
    // the GUI thread when a photo is prepared; workers never read widgets.
    int rawColorSpaceCode = 0;
    int hdrColorSpaceCode = 0;
    QString inputProfileDescription;  // of the first photo
    QString inputProfileHtml;         // of the transforms' input profile
    QString outputProfileHtml;        // of the transforms' display profile
    cmsHTRANSFORM transformToMonitor8 = nullptr;
    cmsHTRANSFORM transformToMonitorBgra = nullptr;
    cmsHTRANSFORM transformFromMonitor8 = nullptr;
    cmsHTRANSFORM transformToSrgb8 = nullptr;
    cmsHTRANSFORM transformToSrgb16 = nullptr;

private:
    void freeMergeTables();
    void freePhotoBuffers(photoInfo_t &photo);
    void deleteTransformsLocked();
    void showProjectError(const QString &text, bool always);

    processingTables_t layerTables[LAYER_COUNT];
    processingTables_t thumbTables;
    bool transformsValid = false;
    mutable QReadWriteLock transformLock;
};

#endif // PROCESSINGPROJECT_H
