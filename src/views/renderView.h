#ifndef RENDERVIEW_H
#define RENDERVIEW_H

// The pixel work of the main image view, apart from the widget: the
// non-owning description of the picture on display, the per-stripe render
// record and kernel, the compositing pass (crop shading and guidelines) and
// the allocation of the project's view-window buffers.
//
// The pixel buffer holds one 32-bit value per device pixel, 0xMMRRGGBB: the
// top byte is a marker, 1 where the pixel shows picture content (sampling
// and crop shading look at it), 0 on the background.

#include "project/pyramid.h"

#include <cstdint>

class processingProject;
struct previewWindow_t;

// What the view keeps of a pyramid: sizes and data pointers per level, no
// ownership (the project keeps the buffers alive while the view shows them).
struct pyramidView_t {
    struct level_t {
        bool ready = false;
        int32_t width = 0;
        int32_t height = 0;
        const void *data = nullptr;
    };
    level_t levels[PYRAMID_MAX_LEVELS];
    int32_t levelCount = 0;
    int32_t bytesPerSample = 1;
    int32_t channels = 3;
};

// The descriptor of a pyramid (a level is ready when it holds data and is up to date).
pyramidView_t describePyramid(const pyramid &p);

// One render stripe (the canvas fills one per stripe and keeps them until
// every stripe has finished).
struct _viewDrawThreadParams_t {
    uint8_t toneMappedView = 0, resample = 0, showSource = 0;
    int32_t splitMode = 0, splitX = 0, splitY = 0; // split position in device pixels
    int32_t firstRow = 0, endRow = 0;
    processingProject *project = nullptr;
    const pyramidView_t *picture = nullptr;
    uint8_t hasImage = 0;
    uint32_t *pixels = nullptr;
    uint8_t cropMode = 0, maskPainting = 0;
    double cosAngle = 1, sinAngle = 0, distortion = 0, perspectiveX = 0, perspectiveY = 0;
    int32_t viewWidth = 0, viewHeight = 0;
    int32_t centreX = 0, centreY = 0, scrollX = 0, scrollY = 0;
    double zoom = 1.0;
    uint8_t checkerA = 0, checkerB = 0, flatTone = 0, smooth = 0, shadowWarning = 0, highlightWarning = 0;
    int32_t refreshLayer = 0;
    int32_t overlayMode = 0;
    // What the project does not hold itself: the current layer and the
    // layers' visible flags (kept by the main window), the device-pixel ratio.
    int32_t currentLayer = 0;
    const uint8_t *layerVisible = nullptr; // LAYER_COUNT entries
    double dpr = 1.0;
};

// Renders rows [firstRow, endRow) of the pixel buffer (and, when resampling,
// the same rows of the project's window buffers).
void renderViewStripe(const _viewDrawThreadParams_t &p);

// The compositing pass over rows [firstRow, endRow): copies the pixel buffer
// into a Format_RGB32 image's rows, shading outside the crop rectangle and
// inverting the guidelines inside it.
struct _viewComposite_threadParams_t {
    int32_t firstRow = 0, endRow = 0, width = 0, height = 0;
    uchar *target = nullptr;
    int64_t targetStride = 0;
    const uint32_t *source = nullptr;
    uint8_t cropMode = 0;
    int32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    uint8_t guidelines = 0, dense = 0;
};
void compositeViewRows(const _viewComposite_threadParams_t &p);

// (Re)allocates the project's view-window buffers for a window of
// width x height device pixels: float RGB, four 16-bit maps, the 16-bit
// detail buffer, per enabled layer the 8-bit RGB result (and for layers
// above the base the view mask), and the zeroed mask backup. The old buffers
// are freed first. On a failed allocation (or more than byteLimit bytes in
// all) every buffer is freed, the window size is 0 and false is returned.
bool allocateWindowBuffers(previewWindow_t &view, int width, int height, const uint8_t *layerEnabled,
                           int64_t byteLimit = INT64_MAX);
void freeWindowBuffers(previewWindow_t &view);

#endif // RENDERVIEW_H
