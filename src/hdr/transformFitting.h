#ifndef TRANSFORMFITTING_H
#define TRANSFORMFITTING_H

// Geometry shared by automatic and manual alignment. A transform is eight
// doubles a0..a7 mapping a base-photo position (x, y) to the position in the
// photo that shows the same scene point:
//     X = (a0 x + a1 y + a2) / (a6 x + a7 y + 1)
//     Y = (a3 x + a4 y + a5) / (a6 x + a7 y + 1)
// evaluated by its model (the alignment method): 0 shift (x + a2, y + a5),
// 1 shift and rotation (the affine part), 3 shift, rotation and perspective
// (the full quotient). Identity: a0 = a4 = 1, the rest 0.

#include <cstdint>

enum alignMethod_t {
    ALIGN_METHOD_SHIFT = 0,
    ALIGN_METHOD_SHIFT_ROTATION = 1,
    ALIGN_METHOD_PERSPECTIVE = 3,
};

struct alignPin_t {
    float x;
    float y;
};

struct alignTransform_t {
    double a[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    void setIdentity();
    bool isIdentity() const;
};

// Maps a base-photo position through the transform by its model.
void applyTransform(int method, const alignTransform_t &t, double x, double y, double &X,
                    double &Y);

// Fits the transform that maps the base pins onto the photo pins; the model
// uses the first one (shift), two (shift and rotation) or four (perspective)
// pins of each side. Never fails: coincident pins give identity, collinear
// perspective pins whatever the guarded inversion gives.
void fitTransform(int method, const alignPin_t *photoPins, const alignPin_t *basePins,
                  alignTransform_t &out);

struct alignCrop_t {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;  // inclusive
    int32_t bottom = 0; // inclusive
};

// The rectangle of the base grid (width x height) that every photo covers
// after alignment; the whole image when the common area is inverted or
// narrower or lower than a fifth of the image.
alignCrop_t computeAlignedCrop(int width, int height, int baseIndex, int method,
                               const alignTransform_t *transforms, int photoCount);

// One warp task: output rows [firstRow, endRow) of the base grid sampled
// bilinearly from the photo through the transform. Both images are
// width x height interleaved 16-bit RGB.
struct _getTransformedImage_threadParams_t {
    int firstRow;
    int endRow;
    int width;
    int height;
    const alignTransform_t *transform;
    int method;
    const uint16_t *source;
    uint16_t *output;
};

void getTransformedImageRows(const _getTransformedImage_threadParams_t &p);

// Runs the warp tasks over the whole image (threadCount tasks of equal row
// bands, the last taking the rest) and waits for them.
void runGetTransformedImage(const uint16_t *source, uint16_t *output, int width, int height,
                            const alignTransform_t &transform, int method, int threadCount);

// Moves the crop rectangle of a width-pixel-wide RGB16 image to the start of
// the buffer, packed at (right - left + 1) pixels per row.
void packCropRect(uint16_t *image, int width, const alignCrop_t &crop);

#endif // TRANSFORMFITTING_H
