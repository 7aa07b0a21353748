#ifndef VIEWMATHS_H
#define VIEWMATHS_H

// The arithmetic of the main image view as plain functions: fit zoom, scroll
// ranges, zoom at a point, wheel scrolling, the image origin, the pyramid
// level for a zoom, crop-rectangle editing, sampling weights, guidelines,
// layer compositing and the clipping warnings.
//
// Units: "device" pixels are logical widget pixels x the device-pixel ratio
// (buffers and scroll values); image coordinates are level-0 pixels of the
// picture on display; zoom s is device pixels per level-0 pixel (1 = 100 %).

#include <QMetaType>
#include <QVector>
#include <cstdint>
#include <vector>

// The crop rectangle carried by the crop signals: level-0 pixels, width =
// right - left, height = bottom - top.
struct cropRect {
    int32_t left = 0;
    int32_t right = 0;
    int32_t top = 0;
    int32_t bottom = 0;
    int32_t width = 0;
    int32_t height = 0;
};
Q_DECLARE_METATYPE(cropRect)

bool operator==(const cropRect &a, const cropRect &b);

// The eight background entries of the image views: lowest byte checker tone A,
// middle byte checker tone B, highest byte the flat tone (no image).
extern const uint32_t VIEW_BACKGROUND_COLORS[8];
constexpr int VIEW_BACKGROUND_DEFAULT = 2;

// A stored background index brought into 0..7 (negative values too).
int backgroundIndex(int stored);

// --- workspace ---

// Zoom in percent that fits a w x h image into a canvas of W x H logical
// pixels with a 10-pixel margin; 100 for an empty image.
double fitZoomPercent(int w, int h, int canvasW, int canvasH, double dpr);


struct scrollLimits_t {
    int minX = 0, maxX = 0, minY = 0, maxY = 0;
};
// Scroll limits of the canvas for zoom s, centre (cx, cy), image w x h and a
// canvas of W x H logical pixels.
scrollLimits_t scrollLimits(double s, int cx, int cy, int w, int h, int canvasW, int canvasH, double dpr);

// Scroll-bar range for one axis: [lo - 20, hi + 20] when lo < hi, else [0, 0].
void scrollBarRange(int lo, int hi, int &minimum, int &maximum);

// New scroll position after a zoom from s0 to s that keeps image point p
// (centre coordinate c) under the mouse.
double zoomAtPointPosition(double position, double s0, double s, int centre, int point);

// New scroll-bar value of one wheel step: value - sign(dir) * (max - min) / 20 / s * L / 1000.
int wheelScrollValue(int value, int dir, int minimum, int maximum, double s, int length);

// Device-pixel position of level-0 pixel 0 on the canvas.
double imageOriginX(int deviceWidth, int cx, double s, int scrollX);

// --- rendering ---

// The pyramid level to draw for zoom s: levelOut and its factor (2^level).
// ready[k] tells whether level k may be read.
void pyramidLevelFor(double s, const bool *ready, int levelCount, int &levelOut, int &factorOut);

// Rows [first, end) of stripe i of n over height rows.
void stripeRows(int height, int n, int i, int &first, int &end);

// Checkerboard tone at a device pixel: tone B on even squares, A on odd ones;
// squares of 16 device pixels at DPR <= 1, 32 above.
uint8_t checkerTone(int row, int column, double dpr, uint8_t toneA, uint8_t toneB);

// Guideline count for an extent: 2 normally; dense: clamp(extent / 80, 2, 20).
int guidelineCount(int extent, bool dense);
// Position of guideline i (1-based) of n between start and end.
int guidelinePosition(int start, int end, int i, int n);

// The tone-mapped base pixel composited with the layers above it: weights
// w_l = mask_l x opacity_l (0..255); where no layer covers the pixel the base
// is returned unchanged.
void compositeLayers(const uint8_t base[3], int layerCount, const uint8_t *const *layerRgb,
                     const double *weights, uint8_t out[3]);

// Clipping warning colour for a pixel: 1 = red (mean > 252 with the highlight
// warning), 2 = blue (mean <= 2 with the shadow warning), 0 = unchanged.
int clippingWarning(int r, int g, int b, bool shadowWarning, bool highlightWarning);

// Mask overlay tint: colour mode 1..3 (red, green, blue) over value v of
// channel `channel` (0 r, 1 g, 2 b), strength mask / 255 x 0.5.
uint8_t overlayTint(uint8_t value, int channel, int mode, uint8_t mask);

// --- interaction ---

// Sampling window radius for zoom s: int(s x 7), 2 when that is <= 1, at most 25.
int samplingRadius(double s);
// Gaussian weights over the (2r + 1)^2 window, row-major.
std::vector<double> samplingWeights(int r);

// Crop handle under device point (x, y): 1..8 (corners and, without an aspect
// value, edge midpoints), 0 for none. Rect in device pixels.
int cropHandleAt(int x, int y, int left, int top, int right, int bottom, bool edges, double tolerance);

// What a crop drag is doing.
enum cropDragKind_t { CROP_DRAG_CREATE, CROP_DRAG_MOVE, CROP_DRAG_HANDLE };

struct cropDrag_t {
    cropDragKind_t kind = CROP_DRAG_CREATE;
    int handle = 0;            // for CROP_DRAG_HANDLE
    int startX = 0, startY = 0; // for CROP_DRAG_CREATE
    int offsetX = 0, offsetY = 0; // for CROP_DRAG_MOVE
};

// Applies one mouse position of a crop drag (image coordinates) to the
// rectangle, with the picture size W x H and an aspect value (0 = free).
cropRect updateCropRect(cropRect rect, const cropDrag_t &drag, int mouseX, int mouseY, int W, int H,
                        double aspect);

// The rotation angle of a Shift drag, in [0, 360).
double cropRotationAngle(double startAngle, int startX, int startY, int mouseX, int mouseY, int W, int H);
// Distortion or perspective value after a drag over `delta` of `extent` pixels.
double cropDragValue(double startValue, int delta, int extent);

// --- workspace slots' small rules ---

// Rectangle centre offset for a viewport request: (((a + b) / 2) - centre) x s.
int viewportOffset(int a, int b, int centre, double s);

#endif // VIEWMATHS_H
