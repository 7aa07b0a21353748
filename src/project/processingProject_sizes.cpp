// processingProject: image sizes and the buffers that depend on them.
//
// The preview is at most PREVIEW_MAX_SIDE pixels on the long side; its
// pyramid stops when the short side would drop to 64 or below. Full-size
// pyramids stop when the long side reaches about 300 x device-pixel ratio.
// Every size is computed in 64 bits.

#include "project/processingProject.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"

#include <algorithm>
#include <cmath>
#include <new>

previewGeometry_t previewGeometry(int32_t width, int32_t height)
{
    previewGeometry_t g;
    const int64_t longSide = std::max<int64_t>(width, height);
    g.divisor = int32_t(longSide / PREVIEW_MAX_SIDE + 1);
    g.width = int32_t((int64_t(width) + g.divisor - 1) / g.divisor);
    g.height = int32_t((int64_t(height) + g.divisor - 1) / g.divisor);
    int32_t m = std::min(g.width, g.height);
    int32_t halvings = 0;
    while (m > PREVIEW_MIN_LEVEL_SIDE && halvings < PYRAMID_MAX_LEVELS) {
        m /= 2;
        ++halvings;
    }
    g.levels = std::max(halvings, 1);
    return g;
}

int32_t fullPyramidLevels(int32_t width, int32_t height, double devicePixelRatio)
{
    int32_t n = 1;
    int64_t c = std::max<int64_t>(width, height) / 2;
    const double limit = FULL_PYRAMID_SMALLEST_SIDE * devicePixelRatio;
    while (limit < double(c)) {
        c /= 2;
        ++n;
    }
    return n;
}

int32_t vignetteProfileCount(int32_t width, int32_t height)
{
    const int64_t w = width, h = height;
    const double halfDiagonal = std::sqrt(double(w * w / 4 + h * h / 4));
    return int32_t(std::floor((halfDiagonal + 1.0) * 10.0));
}

namespace {

double devicePixelRatioSetting()
{
    return optionsInstance && optionsInstance->devicePixelRatio > 0 ? optionsInstance->devicePixelRatio
                                                                     : 1.0;
}

template <typename T>
T *allocateArray(int64_t count)
{
    if (count <= 0)
        return nullptr;
    return new (std::nothrow) T[size_t(count)];
}

} // namespace

bool processingProject::allocatePreview(int32_t w, int32_t h)
{
    if (w == 0 || h == 0) {
        w = width;
        h = height;
    }
    const previewGeometry_t g = previewGeometry(w, h);
    previewDivisor = g.divisor;
    previewWidth = g.width;
    previewHeight = g.height;
    previewLevels = g.levels;

    delete[] preview16;
    preview16 = allocateArray<uint16_t>(int64_t(previewWidth) * previewHeight * 3);
    if (!preview16)
        return false;
    ghostLabelMask.freeAll();
    return ghostLabelMask.makePyramid(previewWidth, previewHeight, 1, 1, 1, true);
}

bool processingProject::resizePreviews(int32_t newWidth, int32_t newHeight)
{
    const int64_t oldPixels = int64_t(previewWidth) * previewHeight;
    const previewGeometry_t g = previewGeometry(newWidth, newHeight);
    previewDivisor = g.divisor;
    previewWidth = g.width;
    previewHeight = g.height;
    previewLevels = g.levels;
    const int64_t newPixels = int64_t(previewWidth) * previewHeight;
    if (newPixels <= oldPixels)
        return true; // the buffers are large enough
    if (!allocatePreview(newWidth, newHeight))
        return false;
    for (photoInfo_t &p : photos) {
        uint16_t *oldPreview = p.preview;
        uint8_t *oldMask = p.mask;
        delete[] oldPreview;
        delete[] oldMask;
        p.preview = allocateArray<uint16_t>(newPixels * 3);
        p.mask = allocateArray<uint8_t>(newPixels);
        if (!p.preview || !p.mask)
            return false;
    }
    return true;
}

uint8_t *processingProject::allocateDisplayBuffer()
{
    outputImage.setLevelSizes(width, height);
    hdrImage.setLevelSizes(width, height);
    for (pyramid &p : lcPyramids)
        p.setLevelSizes(width, height);
    for (int i = 1; i < LAYER_COUNT; ++i) {
        if (layerExists[i])
            layerMasks[i].setLevelSizes(width, height);
    }
    delete[] displayBuffer;
    displayBuffer = nullptr;
    if (hdrImage.levelCount > 0) {
        const pyramidLevel_t &smallest = hdrImage.levels[hdrImage.levelCount - 1];
        displayBuffer = allocateArray<uint8_t>(int64_t(smallest.width) * smallest.height * 3);
    }
    return displayBuffer;
}

bool processingProject::allocatePyramids()
{
    const int32_t n = fullPyramidLevels(width, height, devicePixelRatioSetting());
    debugLog("levelCnt=%d\n", n);
    const int32_t levels = std::min(n, PYRAMID_MAX_LEVELS);

    hdrImage.freeAll();
    if (!hdrImage.makePyramid(width, height, levels, 4, 3, true))
        return false;
    outputImage.freeAll();
    if (!outputImage.makePyramid(width, height, levels, 2, 3, true))
        return false;
    for (pyramid &p : lcPyramids) {
        p.freeAll();
        if (!p.makePyramid(width, height, levels, 2, 1, true))
            return false;
    }

    delete[] displayBuffer;
    const pyramidLevel_t &smallest = hdrImage.levels[hdrImage.levelCount - 1];
    displayBuffer = allocateArray<uint8_t>(int64_t(smallest.width) * smallest.height * 3);
    if (!displayBuffer)
        return false;

    freeMergeTables();
    for (double **t : {&responseR, &responseG, &responseB, &defaultResponseTable, &ghostWeightTable,
                       &exposurePenaltyLow, &exposurePenaltyHigh}) {
        *t = allocateArray<double>(SAMPLE_TABLE_SIZE);
        if (!*t)
            return false;
    }

    const int32_t count = vignetteProfileCount(width, height);
    for (int i = 0; i < LAYER_COUNT; ++i) {
        if (!layerTables[i].allocateVignetteProfile(count))
            return false;
        layerTables[i].attach(&layerSettings[i]);
    }
    if (!thumbTables.allocateVignetteProfile(count))
        return false;
    thumbTables.attach(&thumbSettings);

    defaultResponse(nullptr);
    hdrWeightTable(ghostWeightTable, 0, 0, 2);
    gaussWeightTable(exposurePenaltyLow, false);
    gaussWeightTable(exposurePenaltyHigh, true);
    return true;
}
