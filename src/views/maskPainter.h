#ifndef MASKPAINTER_H
#define MASKPAINTER_H

// Layer-mask painting of the main image view: the 32 brush presets, the soft
// round and square stamps (one for the full-resolution mask, one for the view
// mask), the "intelligent" colour weight, the stamp kernel that runs in column
// strips on the thread pool, segments, fill and the linear gradient with its
// movable middle.
//
// Masks are 8-bit, one channel (0 = layer absent, 255 = fully applied); the
// colours weighed by intelligent painting are float RGB triples of the same
// size as the mask. maskPainter itself holds the tool state and the stamps;
// the canvas decides what to paint where.

#include <QCursor>
#include <QIcon>
#include <QPoint>
#include <cstdint>
#include <vector>

class processingProject;

struct brushPreset_t {
    int radius = 22;       // view pixels
    double hardness = 0.8;
    double softness = 0.06;
    bool square = false;
};

constexpr int BRUSH_PRESET_COUNT = 32;
constexpr int BRUSH_DEFAULT_PRESET = 2;

// The presets, index = style x 4 + size index (sizes 56, 40, 22, 8; styles 0-3
// round, 4-7 square with falling hardness and rising softness).
std::vector<brushPreset_t> brushPresets();

struct brushStamp_t {
    std::vector<uint8_t> data; // stride x stride
    int radius = 0;
    int stride = 1;
};

// Builds the view stamp (radius = preset radius) and the full-resolution
// stamp (radius / zoom) from one falloff table.
void buildStamps(const brushPreset_t &brush, double zoom, brushStamp_t &view, brushStamp_t &full);

// Similarity weight of a colour against the reference, 0..1. Colours below
// 30 % similarity get 0 whatever the threshold.
double intelligentWeight(double r, double g, double b, double refR, double refG, double refB, int threshold);

// The stamp kernel's response to the old mask value: 1 - v / 255.
void maskResponseTable(double table[256]);

struct _drawFilledSmoothCircle_threadParams_t {
    int32_t firstColumn = 0, endColumn = 0; // stamp columns of this task (end exclusive)
    uint8_t *mask = nullptr;
    const float *image = nullptr;           // RGB triples of the mask's size, or null
    int32_t maskWidth = 0, maskHeight = 0;
    int32_t centreX = 0, centreY = 0;
    const uint8_t *stamp = nullptr;
    int32_t radius = 0, stride = 1;
    const double *response = nullptr;       // 256 entries
    double refR = 0, refG = 0, refB = 0;
    double refLum = 0;
    uint8_t erase = 0;
    double opacity = 1.0;
    int32_t threshold = 6;
};

// One strip of one stamp.
void drawFilledSmoothCircle(const _drawFilledSmoothCircle_threadParams_t &p);

// Stamp centres of a segment: along the longer axis from the smaller to the
// larger coordinate every `spacing` pixels; a zero-length segment gives its
// one point.
std::vector<QPoint> segmentStampPositions(QPoint a, QPoint b, int spacing);

// What one segment paints into.
struct maskTarget_t {
    uint8_t *mask = nullptr;
    int32_t width = 0, height = 0;
    const float *image = nullptr; // null when not intelligent
};

// Stamps the segment a-b into the target. The tasks share the mask by bands
// of columns; each lays every stamp of the segment, in order, into its band.
void paintSegment(const maskTarget_t &target, const brushStamp_t &stamp, QPoint a, QPoint b, bool erase,
                  double opacity, const double ref[3], int threshold, int taskCount);

// Fill: without image every value becomes 255 (0 when erasing); with image
// every value moves toward the pixel's weight x 255.
void fillMaskValues(const maskTarget_t &target, bool erase, const double ref[3], int threshold);

// Gradient value 0..1 of point (x, y) for a gradient from p1 (1) to p2 (0)
// whose value is 0.5 at fraction m of the length measured from p2.
double gradientValue(double x, double y, QPointF p1, QPointF p2, double m);

// Middle position m for a handle dragged to p3.
double gradientMiddle(QPoint p1, QPoint p2, QPoint p3);
// The handle's point for middle position m.
QPoint gradientHandlePoint(QPoint p1, QPoint p2, double m);

// Adds the gradient (times the colour weight when image is given) to a mask:
// dst = min(255, src + I x 255) (src may be dst).
void gradientIntoMask(uint8_t *dst, const uint8_t *src, int32_t width, int32_t height, QPointF p1, QPointF p2,
                      double m, const float *image, const double ref[3], int threshold, int taskCount);

class maskPainter
{
public:
    enum mode_t { MODE_FILL = 0, MODE_BRUSH = 1, MODE_ERASER = 2, MODE_GRADIENT = 3 };

    maskPainter();

    void selectBrush(int preset, double opacity);
    void rebuildStamps(double zoom);
    QCursor outlineCursor() const;
    QIcon brushIcon(int preset) const;

    const std::vector<brushPreset_t> &presets() const { return presetList; }
    const brushPreset_t &brush() const { return current; }
    const brushStamp_t &viewStamp() const { return viewStampData; }
    const brushStamp_t &fullStamp() const { return fullStampData; }
    double stampZoom() const { return zoom; }

    QCursor brushCursor, eraserCursor, gradientCursor, fillCursor;
    bool intelligent = false;
    int overlayColor = 0; // 0 none, 1 red, 2 green, 3 blue, 4 mask only
    int mode = MODE_BRUSH;
    double opacity = 1.0;
    int threshold = 6;

private:
    std::vector<brushPreset_t> presetList;
    brushPreset_t current;
    brushStamp_t viewStampData, fullStampData;
    double zoom = 1.0;
};

#endif // MASKPAINTER_H
