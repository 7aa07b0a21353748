#ifndef AUTOALIGN_H
#define AUTOALIGN_H

// Automatic alignment of bracketed exposures: brightness-normalised 8-bit
// grey pyramids, FAST-9 corners of the base photo found chunk by chunk, a
// coarse global shift from the pyramid tops, a tile around every corner
// tracked into each photo level by level, and a randomised consensus search
// over quadruples of tracked corners that fits a perspective transform.
//
// The functions here work on plain buffers; alignmentWorker feeds them the
// project's photos.

#include "hdr/transformFitting.h"
#include "hdr/cornerDetection.h"
#include "project/pyramid.h"

#include <cstdint>
#include <functional>
#include <array>
#include <QString>
#include <vector>

// A corner of the base photo in full-resolution pixels; weight = the FAST
// threshold at which its chunk was accepted.
struct corner {
    int32_t x;
    int32_t y;
    int32_t weight;
};

// Tile sample strides of levels 0, 1, 2 (row-major: (row + r) * stride + column + r).
constexpr int ALIGN_TILE_STRIDE0 = 97;
constexpr int ALIGN_TILE_STRIDE1 = 49;
constexpr int ALIGN_TILE_STRIDE2 = 25;

// Neighbourhood of one corner in one photo at three levels, and its match.
struct alignTile {
    uint8_t level0[ALIGN_TILE_STRIDE0 * ALIGN_TILE_STRIDE0];
    uint8_t level1[ALIGN_TILE_STRIDE1 * ALIGN_TILE_STRIDE1];
    uint8_t level2[ALIGN_TILE_STRIDE2 * ALIGN_TILE_STRIDE2];
    int32_t matchX; // the photo point (x - matchX, y - matchY) shows the base corner (x, y)
    int32_t matchY;
    uint8_t valid;
};

// What the consensus search keeps of a matched tile.
struct alignMatch_t {
    int32_t matchX = 0;
    int32_t matchY = 0;
    bool valid = false;
};

struct alignSizes_t {
    int depth = 0;         // D: pyramid levels
    int matchDepth = 0;    // M = min(D, 3)
    int tileRadius = 0;    // R
    int cornerLevel = 0;   // M - 1
    int topMatchLevel = 0; // first level of the tile search
};
alignSizes_t alignmentSizes(int width, int height);

// Grey conversion and brightness normalisation of one photo into level 0 of
// an 8-bit pyramid, lower levels rebuilt, zeros raised to 1. The 16-bit RGB
// image is only read. For the base photo (isBase) the
// median and the scale are computed and returned; a photo uses them.
struct matchLevelsState_t {
    double baseMedian = 1.0 / 65536;
    double baseScale = 1.0;
};
void matchLevels(const uint16_t *rgb, int width, int height, bool isBase, double maxEvGap,
                 matchLevelsState_t &state, pyramid &target, const double *photoGreyTable,
                 const double *baseGreyTable, int photoIndex, int threadCount = 1);

// Corners of one chunk with a falling threshold (135, 130, ... 60, 58, ... 20,
// 19, ... 15) until more than 20 survive suppression; returns them in chunk
// coordinates and the threshold used.
std::vector<fastXY_t> detectChunkCorners(const uint8_t *chunk, int width, int height,
                                         int stride, int &threshold);

// Corners of a pyramid level, chunk by chunk, in level-0 coordinates.
std::vector<corner> findCornersInChunks(const pyramid &p, int level);

// Global shift between the photo pyramid P and the base pyramid Q from level
// depth - 1 down to 1; a photo point (x - ox, y - oy) shows base point (x, y).
void coarseOffset(const pyramid &photo, const pyramid &base, int depth, int &ox, int &oy,
                  int threadCount = 1);

struct _extractTile_threadParams_t {
    int firstCorner;
    int endCorner;
    const pyramid *photo;
    alignTile *tiles; // indexed from firstCorner - batchStart
    int batchStart;
    int tileRadius;
    const corner *corners;
    int ox;
    int oy;
};
void extractTileThread(const _extractTile_threadParams_t &p);

struct _matchTile_threadParams_t {
    int firstTile;
    int endTile;
    const pyramid *base;
    int topLevel;
    alignTile *tiles;
    int batchStart;
    int tileRadius;
    const corner *corners;
    int searchRadius;
    int ox;
    int oy;
};
void matchTileThread(const _matchTile_threadParams_t &p);

// Consensus search for one photo: 200 passes of 400 jittered four-pin fits,
// each scored by the weight of the corners it agrees with.
constexpr int CONSENSUS_PASSES = 200;
constexpr int MAX_FAILED_DRAWS = 10000;
constexpr int CONSENSUS_SLOTS = 10;

struct _findTransform_threadParams_t {
    int shortSide;
    int photoIndex;
    const alignMatch_t *matches;
    const corner *corners;
    int cornerCount;
    alignPin_t *basePins;  // 4
    alignPin_t *photoPins; // 4
    alignTransform_t *transform;
    uint32_t seed = 0;     // 0: from the time
    int part = 0;          // which share of the photo's passes
    int passes = CONSENSUS_PASSES;
    int failedDrawLimit = MAX_FAILED_DRAWS;
};

// Outcome of one share of the passes.
enum { CONSENSUS_RAN = 0, CONSENSUS_NO_SPREAD = 1, CONSENSUS_DRAWS_EXHAUSTED = 2 };

struct consensusPart_t {
    int status = CONSENSUS_RAN;
    bool fitted = false;
    int64_t bestScore = -1;
    alignPin_t basePins[4] = {};
    alignPin_t photoPins[4] = {};
    struct slot_t {
        int64_t score = 0;
        double error = 0;
        alignTransform_t t;
    } results[CONSENSUS_SLOTS];
};
void consensusPassesThread(const _findTransform_threadParams_t &p, consensusPart_t &out);
// Merges the shares of one photo into its transform and pins; false (and
// identity) when no good enough transform was found.
bool finishTransform(const _findTransform_threadParams_t &p, const consensusPart_t *parts,
                     int partCount);
// All passes in one task.
bool findTransformThread(const _findTransform_threadParams_t &p);

// Four spread corners for a fit; false after 15,000 attempts.
bool pickPins(std::function<uint32_t()> &rng, const corner *corners, int count, int shortSide,
              int picked[4], int &centreX, int &centreY);
bool pinsSpreadCheck(const int x[4], const int y[4], int &centreX, int &centreY);
void sortPinsByQuadrant(int picked[4], const corner *corners, int centreX, int centreY);

// The photos an alignment works on.
struct autoAlignSource_t {
    int width = 0;
    int height = 0;
    int photoCount = 0;
    std::vector<double> ev; // exposure value per photo
    // Fills rgb (width x height x 3 samples) with photo k's full-size image.
    std::function<bool(int k, uint16_t *rgb)> readPhoto;
    // Optional: grey histogram-matching tables (4096 entries) of the photo
    // and of the base photo; a grey value g becomes g * photo[g >> 4] /
    // base[g >> 4], which brings the photo's tones to the base photo's.
    // When absent only the medians are matched.
    std::function<bool(int photo, int base, double *photoTable, double *baseTable)> histogramMatch;
    // Optional: told the rows of work done (the worker's incProgress).
    std::function<void(int)> progress;
    int threadCount = 1;
    uint32_t seed = 0; // 0: seeded from the time
    uint16_t *workBuffer = nullptr; // optional width x height x 3 scratch
};

struct autoAlignResult_t {
    std::vector<alignTransform_t> transforms;
    std::vector<std::array<alignPin_t, 4>> basePins;
    std::vector<std::array<alignPin_t, 4>> photoPins;
    std::vector<bool> aligned; // per photo: ok (base and unselected photos too)
    QString error;             // why the whole alignment failed
};

// The automatic search: for every selected photo (toAlign -1: every photo
// except the base) a transform mapping base positions onto the photo. False
// when nothing could be aligned at all (too small, out of memory, too few
// corners); a photo that fails alone keeps identity and aligned = false.
bool autoAlignPhotos(const autoAlignSource_t &source, int baseIndex, int toAlign,
                     autoAlignResult_t &result);

#endif // AUTOALIGN_H
