#ifndef PHOTOINFO_H
#define PHOTOINFO_H

// The record the project keeps for every input photo: where it came from,
// how it is decoded, its EXIF data and exposure values, its reduced copies
// and the session temporary files that hold its full-size pixels.
//
// Ownership: the record owns only its strings and its string list. Every
// heap buffer (thumbnail, preview, mask, mergeBuffer, workTables, the strip
// tables inside exif) and every temp-file slot belongs to the project:
// copies of a record share them, destroying a record releases none of them,
// and only processingProject::removePhoto frees them.

#include "imageio/exifReader.h"
#include "project/projectHeader.h"
#include "project/tableSizes.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <cstdint>

class QImage;
class QTemporaryFile;

constexpr int PHOTO_TEMP_SLOTS = 4;          // 0 full-size image, 1 uncorrected, 3 ghost mask
constexpr int PHOTO_WORK_TABLES = 8;
constexpr int PHOTO_WORK_TABLE_BYTES = 32768; // room for 4096 doubles

// What the RAW information call reports about a photo.
struct rawInfo_t {
    uint8_t flag;                  // cleared when the photo is prepared
    double daylightMultipliers[3]; // daylight white-balance multipliers
    double cameraMultipliers[3];   // camera (as shot) multipliers
    int32_t halfWidth;             // size of a half-size decode
    int32_t halfHeight;
    // The decode choices, copied from the settings on the GUI thread when the
    // photo is prepared: the engine ("LoadRAW/UseLibraw") and the scale
    // factor ("Contrast" with "Other options", else 1).
    uint8_t useLibraw;
    double scale;
};

// The HDR load choices (noise filter and panorama) copied into the record of
// a Radiance or OpenEXR photo when it is prepared.
struct hdrLoadChoices_t {
    bool noiseFilter = false;
    int noiseFilterStrength = 0;
    int noiseFilterSoftness = 0;
    bool panorama = false;
};

struct photoInfo_t {
    photoInfo_t();
    photoInfo_t(const photoInfo_t &other);
    photoInfo_t &operator=(const photoInfo_t &other);
    ~photoInfo_t();

    int32_t id = 0;              // unique within the project
    int32_t loadDivisor = 1;     // 1 = full size, else decode reduced
    uint8_t autoRotate = 0;      // turn upright by the EXIF orientation
    int32_t projectPhotoIndex = 0;
    int32_t projectWidth = 0;
    int32_t projectHeight = 0;
    int32_t projectBitDepth = 0; // same coding as bitDepth
    QString projectPath;         // project file the photo comes from, else empty
    uint8_t projectFlag = 0;
    projectHeader_t projectHeader; // byte copy of the project file's header
    QString filePath;
    QString profilePath;         // input colour profile in the session directory
    QStringList rawArguments;    // arguments for the RAW decoder
    hdrLoadChoices_t hdrChoices; // for a Radiance or OpenEXR photo
    exifInfo_t exif;
    QImage *thumbnail = nullptr; // 8-bit RGB, a quarter of the preview size
    double meanBrightness = 0;
    int32_t brightnessRank = 0;  // 0 = brightest
    uint16_t *preview = nullptr; // preview w x h x 3, interleaved RGB
    uint8_t isRaw = 0;
    uint8_t isFloat = 0;
    double evExif = 0;
    double exifBias = 0;
    double ev = 0;
    double evLn = 0;             // ev x ln 2
    double evlFix = 0;           // natural-log correction set by the HDR engine
    double evManual = 0;
    double evAuto = 0;
    uint8_t included = 0;
    double *workTables[PHOTO_WORK_TABLES] = {};
    rawInfo_t rawInfo;
    double *mergeBuffer = nullptr; // SAMPLE_TABLE_SIZE doubles
    uint16_t lowLevel = 0;
    uint16_t highLevel = 0;
    uint8_t *mask = nullptr;       // one byte per preview pixel
    QColor itemColour;
    int32_t bitDepth = 0;          // 1 = 8-bit source, 2 = 16-bit, 0 = Radiance/OpenEXR
    QTemporaryFile *tempFiles[PHOTO_TEMP_SLOTS] = {};

private:
    void copyFields(const photoInfo_t &other);
};

#endif // PHOTOINFO_H
