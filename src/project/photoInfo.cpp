#include "project/photoInfo.h"

#include <cstring>
#include <utility>

photoInfo_t::photoInfo_t()
{
    std::memset(&projectHeader, 0, sizeof(projectHeader));
    std::memset(&exif, 0, sizeof(exif));
    std::memset(&rawInfo, 0, sizeof(rawInfo));
    rawInfo.useLibraw = 1;
    rawInfo.scale = 1.0;
}

photoInfo_t::photoInfo_t(const photoInfo_t &other)
    : projectPath(other.projectPath), filePath(other.filePath), profilePath(other.profilePath),
      rawArguments(other.rawArguments)
{
    copyFields(other);
}

photoInfo_t &photoInfo_t::operator=(const photoInfo_t &other)
{
    if (this == &other)
        return *this;
    projectPath = other.projectPath;
    filePath = other.filePath;
    profilePath = other.profilePath;
    QStringList arguments(other.rawArguments);
    rawArguments.swap(arguments);
    copyFields(other);
    return *this;
}

// Strings are released by their own destructors; buffers and temp files
// belong to the project and are left alone on purpose.
photoInfo_t::~photoInfo_t() = default;

// Everything but the strings: plain values and shared pointers, the
// project header and the EXIF record as raw bytes.
void photoInfo_t::copyFields(const photoInfo_t &o)
{
    id = o.id;
    loadDivisor = o.loadDivisor;
    autoRotate = o.autoRotate;
    projectPhotoIndex = o.projectPhotoIndex;
    projectWidth = o.projectWidth;
    projectHeight = o.projectHeight;
    projectBitDepth = o.projectBitDepth;
    projectFlag = o.projectFlag;
    std::memcpy(&projectHeader, &o.projectHeader, sizeof(projectHeader));
    std::memcpy(&exif, &o.exif, sizeof(exif));
    thumbnail = o.thumbnail;
    meanBrightness = o.meanBrightness;
    brightnessRank = o.brightnessRank;
    preview = o.preview;
    isRaw = o.isRaw;
    isFloat = o.isFloat;
    evExif = o.evExif;
    exifBias = o.exifBias;
    ev = o.ev;
    evLn = o.evLn;
    evlFix = o.evlFix;
    evManual = o.evManual;
    evAuto = o.evAuto;
    included = o.included;
    for (int i = 0; i < PHOTO_WORK_TABLES; ++i)
        workTables[i] = o.workTables[i];
    std::memcpy(&rawInfo, &o.rawInfo, sizeof(rawInfo));
    hdrChoices = o.hdrChoices;
    mergeBuffer = o.mergeBuffer;
    lowLevel = o.lowLevel;
    highLevel = o.highLevel;
    mask = o.mask;
    itemColour = o.itemColour;
    bitDepth = o.bitDepth;
    for (int i = 0; i < PHOTO_TEMP_SLOTS; ++i)
        tempFiles[i] = o.tempFiles[i];
}
