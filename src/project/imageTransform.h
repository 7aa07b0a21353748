#ifndef IMAGETRANSFORM_H
#define IMAGETRANSFORM_H

// The geometric operations applied to every full-size buffer of the project:
// 90-degree rotations, a half turn, mirroring, cropping, a combined warp
// (radial distortion, free rotation, perspective) with a crop, and a shift.
// One kernel serves every sample type (8-bit masks, 16-bit maps, 16-bit RGB
// photos, float HDR data) with any number of interleaved channels.

#include <cstdint>

enum transformMode_t {
    TRANSFORM_ROTATE_CCW = 0, // out(x, y) = in(W - 1 - y, x), H x W
    TRANSFORM_ROTATE_180 = 1, // out(x, y) = in(W - 1 - x, H - 1 - y)
    TRANSFORM_ROTATE_CW = 2,  // out(x, y) = in(y, H - 1 - x), H x W
    TRANSFORM_MIRROR_LR = 3,  // out(x, y) = in(W - 1 - x, y)
    TRANSFORM_MIRROR_TB = 4,  // out(x, y) = in(x, H - 1 - y)
    TRANSFORM_CROP = 5,       // out(x, y) = in(x + x1, y + y1), (x2 - x1) x (y2 - y1)
    TRANSFORM_WARP = 6,       // warp, then crop as mode 5
    TRANSFORM_SHIFT = 7,      // out(x, y) = in(x - x1, y - y1); outside sources keep the output
};

struct transformKernelParams_t {
    int mode = 0;
    int outWidth = 0;
    int outHeight = 0;
    int srcWidth = 0;
    int srcHeight = 0;
    int x1 = 0; // crop offset (modes 5, 6) or shift (mode 7)
    int y1 = 0;
    double sine = 0;
    double cosine = 1;
    double distortion = 0; // k
    double perspectiveX = 0;
    double perspectiveY = 0;
    double normalisation = 0; // 2 / (min(W, H) - 1) of the source
    int centreX = 0;          // W / 2, H / 2 of the source
    int centreY = 0;
};

// Checks the mode and, for crops, that 0 <= x1 < x2 <= W and 0 <= y1 < y2 <= H;
// gives the output size. False for anything else.
bool transformOutputSize(int mode, int width, int height, int x1, int y1, int x2, int y2,
                         int &outWidth, int &outHeight);

// Kernel parameters for a source of width x height; angle in degrees.
transformKernelParams_t makeTransformParams(int mode, int width, int height, int x1, int y1,
                                            int x2, int y2, double angle, double distortion,
                                            double perspectiveX, double perspectiveY);

// Output rows [firstRow, endRow) of the operation; integer samples of the warp
// are truncated, float samples are not rounded.
template <typename T>
void transformKernelRows(const transformKernelParams_t &p, const T *source, T *destination,
                         int channels, int firstRow, int endRow);

// Transforms a buffer in place (through a scratch copy); the buffer keeps its
// allocation, so the output must not have more pixels than the source.
// False (buffer untouched) when the parameters are refused or the scratch
// cannot be allocated.
template <typename T>
bool transformBuffer(T *buffer, int width, int height, int channels, int mode, int x1, int y1,
                     int x2, int y2, double angle, double distortion, double perspectiveX,
                     double perspectiveY);

#endif // IMAGETRANSFORM_H
