#ifndef GHOSTMATHS_H
#define GHOSTMATHS_H

// Ghost measures shared by the response-curve sampling, the merge of
// ghost-masked pixels and the automatic ghost detection. Everything here works
// on plain buffers; deghostWorker and generateHDRworker fill the records from
// the project.
//
// Conventions: arrays "per photo" are indexed by the photo's position in the
// project's list; samples are unsigned 16-bit (0..65535); tables hold 65536
// doubles indexed by a 16-bit sample.

#include <QtGlobal>

#include <vector>

constexpr int GHOST_MAX_PHOTOS = 100;

// What ghostDeviation needs besides the pixel's samples.
struct ghostDeviationTables_t {
    int photoCount = 0;
    const bool *included = nullptr;         // per photo: takes part
    const double *evLn = nullptr;           // per photo: natural-log exposure
    const double *responseR = nullptr;      // three response tables
    const double *responseG = nullptr;
    const double *responseB = nullptr;
    const double *ghostWeightTable = nullptr; // the project's ghost weight table
};

// How inconsistent the photos' samples of one pixel are, 0..1. r, g, b and
// exposure are per photo; exposure is the linear factor the samples are divided
// by before they are compared.
double ghostDeviation(const ghostDeviationTables_t &t, const quint16 *r, const quint16 *g,
                      const quint16 *b, const double *exposure);

// Spread of the soft masks by smoothness index 1..10 (out-of-range indices are
// clamped into the table).
double ghostSpread(int smoothness);

// Detection threshold of the automatic ghost mask for the ghost-removal
// strength (0..9, default 4) and the number of photos: 0.7 at strength 0,
// 0.4 at 4, 0.15 at 9 for up to three photos, raised for longer brackets.
double ghostThresholdForStrength(int strength, int photoCount);

// Blur radii of the preview masks for a preview whose longer side is
// previewLongSide; logs the raw and the limited values.
void ghostMaskRadii(int smoothness, int previewLongSide, int *expand, int *smooth);

// The 256-entry ramp that shapes a blurred mask: min(255, floor((i/255)^2 x 450)).
void ghostMaskRamp(quint8 *ramp256);

// Label a photo id stands for in the label mask (wraps at 100): id % 100 + 1.
inline int ghostLabelOf(int photoId) { return photoId % 100 + 1; }

// Every 255 byte of the label mask becomes label % 100 + 1.
void fillUnsetLabels(quint8 *labelMask, qint64 pixelCount, int label);

// Score of one photo for the pixels of the region being labelled (bytes 255)
// from pixel start to the end: bright-and-not-clipped pixels score high.
double ghostRegionScore(const quint8 *labelMask, qint64 pixelCount, qint64 start,
                        const quint16 *preview);

// One 4-connected region of detected pixels (value 128) of a label mask.
struct ghostRegion_t {
    qint64 seed = 0;              // its first pixel in scan order
    int left = 0, top = 0, right = 0, bottom = 0;   // bounding box, inclusive
};

// The regions of bytes equal to 128, in scan order of their first pixel. The
// mask is left as it was.
std::vector<ghostRegion_t> ghostRegions(const quint8 *labelMask, int width, int height);

// Groups the regions that belong to one moving subject: a subject that moves
// less than its own size between the photos agrees with itself where its
// positions overlap, so its ghost is found as several regions around an
// undetected core. Regions whose bounding boxes, each grown by a quarter of its
// longer side, overlap (directly or through others) form one subject. Returns
// per region the index of the first region of its subject.
std::vector<int> ghostSubjects(const std::vector<ghostRegion_t> &regions);

#endif // GHOSTMATHS_H
