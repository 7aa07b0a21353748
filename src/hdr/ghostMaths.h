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
// from pixel start to the end: how well exposed the photo is there, the sum
// over the pixels of exp(-(l - 0.5)^2 / (2 s^2)), l the mean of the pixel's
// three samples (0..1) and s GHOST_EXPOSEDNESS_SPREAD. Middle tones score 1,
// clipped and near-black pixels almost nothing, so the region takes the photo
// that shows most of it with detail: a few clipped highlights do not hand a
// subject to a photo that renders all the rest near black (that photo's few
// 8-bit levels and its tone, which the fitted response of a JPEG camera does
// not bring exactly to the merge's, show as a patch).
constexpr double GHOST_EXPOSEDNESS_SPREAD = 0.2;
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

// Tone matching of ghost-masked pixels: a photo that replaces the merge inside
// a ghost region must show the tones the merge shows around it. Tables have
// GHOST_TONE_BINS entries; the bin of a radiance x (a response value over the
// photo's exposure factor, or an HDR value) is floor(4095 x sqrt(x x
// invScale)), invScale the smallest exposure factor over the top response
// value, as the merge indexes the photos' per-channel tone tables.
constexpr int GHOST_TONE_BINS = 4096;

int ghostToneBin(double radiance, double invScale);

// Cumulative histograms (R, G, B and the mean of the three bins) of one
// photo's 16-bit RGB preview through the response tables, its radiance
// divided by its exposure factor: each divided by the pixel count and
// smoothed. cumulative holds four tables of GHOST_TONE_BINS doubles.
void ghostPhotoCumulative(const quint16 *preview, qint64 pixelCount, const double *const response[3],
                          double exposureFactor, double invScale, double *const cumulative[4]);

// The same four cumulative histograms of a float RGB HDR image.
void ghostHdrCumulative(const float *hdr, qint64 pixelCount, double invScale, double *const cumulative[4]);

// Histogram-matching gains of one channel: the photo's radiance at bin i
// brought to the merge's at bin j, j the first bin with photo[i] <= hdr[j]
// (the last bin when none); the bins stand for square roots, so the gain is
// ((j + 0.5) / (i + 0.5))^2.
void ghostToneGains(const double *photoCumulative, const double *hdrCumulative, double *gain);

// Tone matching pixel by pixel where nothing moved. Histograms are a poor
// guide for a moving subject's own tones: where the subject is the only
// thing of its tone, the merge's histogram holds its translucent ghosts
// there instead, and the gains pull the subject towards the background.
// The photo and the merge of the same preview pixels are compared instead:
// each still pixel adds, in the bin of the photo's radiance (as in
// ghostToneBin), the log of merge / photo; the bins of a channel are then
// averaged over a window of neighbours (a twentieth of the bin either side,
// at least GHOST_TONE_MIN_WINDOW bins), bins without enough pixels
// interpolated between their neighbours (the end values carried outwards),
// and the result kept rising (a brighter sample never comes out darker).
// Samples outside GHOST_TONE_LOW_SAMPLE..GHOST_TONE_HIGH_SAMPLE (near black
// or clipped) say nothing of the photo's tone and are left out.
// preview is the photo's 16-bit RGB preview, hdr the merge's float RGB of
// the same size, still one byte per pixel (not 0 = use); the photo's radiance
// is response over exposureFactor. Tables 0-2 are R, G, B, table 3 the mean
// of the three bins and of their ratios (pixels whose three samples are all
// usable). count gets the still pixels per bin, gain the gains (GHOST_TONE_BINS
// each; 1 everywhere when a table has no usable pixel).
// The still pixels must be at least a GHOST_TONE_MIN_STILL_SHARE-th of the
// preview for the pixel-by-pixel matching (else whole histograms are matched).
constexpr int GHOST_TONE_MIN_STILL_SHARE = 20;
constexpr int GHOST_TONE_LOW_SAMPLE = 5 * 257;
constexpr int GHOST_TONE_HIGH_SAMPLE = 250 * 257;
constexpr int GHOST_TONE_MIN_WINDOW = 8;
void ghostStillToneGains(const quint16 *preview, const float *hdr, const quint8 *still, qint64 pixelCount,
                         const double *const response[3], double exposureFactor, double invScale,
                         double *const count[4], double *const gain[4]);

#endif // GHOSTMATHS_H
