#ifndef RESULTIMAGEWRITER_H
#define RESULTIMAGEWRITER_H

// Writes the finished 16-bit RGB result as JPEG, PNG or TIFF (8 or 16 bits
// per sample). Every file goes through checkedSaveFile: a failed write (full
// disk, file-size limit, read-only folder) leaves no file under the final
// name and an existing file keeps its content.

#include "imageio/stripedJpeg.h"

#include <QString>
#include <cstdint>

enum resultFormat_t { resultJpeg = 0, resultTiff = 1, resultPng = 2 };

struct resultSaveOptions_t {
    int format = resultJpeg;
    int jpegQuality = 100;     // 70..100
    int tiffCompression = 0;   // 0 uncompressed, 1 LZW, 2 Deflate (ZIP)
    int tiffBitDepth = 1;      // 1 = 8 bits, 2 = 16 bits per sample
    int dpi = 300;             // 0 or less: no resolution written
    bool resize = false;       // JPEG only: scale to exactly resizeWidth x resizeHeight
    int resizeWidth = 0;
    int resizeHeight = 0;
    int taskCount = 1;         // JPEG: stripes encoded at the same time
    parallelRunner_t runParallel;   // JPEG: the program's task runner (none: one stripe after another)
};

// The format a file name asks for: "tif"/"tiff" TIFF, "jpg"/"jpeg" JPEG,
// anything else (no suffix included) PNG; the suffix test ignores case.
int resultFormatForName(const QString &fileName);

// Gives a name typed in the save dialog the suffix of the chosen filter
// (0 JPEG, 1 TIFF, 2 PNG) unless it already has a matching one.
QString repairResultSuffix(const QString &fileName, int filterFormat);

// rgb: width x height x 3 samples, top row first. reason (when given) says
// why a save failed. A read-only file is replaced only with replaceReadOnly.
bool writeResultImage(const QString &path, int width, int height, const uint16_t *rgb,
                      const resultSaveOptions_t &options, bool replaceReadOnly = false,
                      QString *reason = nullptr);

#endif // RESULTIMAGEWRITER_H
