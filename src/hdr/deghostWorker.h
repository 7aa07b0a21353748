#ifndef DEGHOSTWORKER_H
#define DEGHOSTWORKER_H

// Ghost detection and the anti-ghost masks. The project keeps one label mask at
// preview size (ghostLabelMask: 0 = no ghost, k + 1 = take the pixel from the
// photo whose id % 100 is k); this worker fills it automatically and turns it
// into one soft mask per photo: at preview size (photo.mask) and, for the final
// merge, at full size in the photo's temp-file slot 3.

#include <QObject>
#include <QtGlobal>

#include <vector>

class processingProject;
struct generateHDRoptions_t;

struct _ghostDetectVarianceFull_threadParams_t {
    qint64 first = 0, end = 0;         // preview pixels
    processingProject *project = nullptr;
    quint8 *out = nullptr;             // one byte per preview pixel; nullptr: the label mask
};

// Writes min(255, floor(deviation / 0.2 x 255)) of every pixel of the range into
// the label mask (or into out).
void ghostDetectVarianceFull(const _ghostDetectVarianceFull_threadParams_t &p);

class deghostWorker : public QObject
{
    Q_OBJECT

public:
    deghostWorker(processingProject *project, int smoothness);

    // Detects ghosts into the label mask; photoIndex -1 lets every region take
    // its best photo, otherwise every region gets that photo.
    void autoAntiGhostMask(double threshold, int photoIndex);
    void fillUnsetMask(int label);
    void maskStatistics(qint64 start);
    // Builds the per-photo masks; with full also the full-size mask files.
    // False when a full-size mask could not be made (that photo then has no
    // mask file, and a ghost-masked merge refuses to run).
    bool makeAntiGhostMasks(bool full);
    // Prepares a ghost-masked merge as the ghost-removal dialog does when it
    // opens: a preview merge with the options of the merge to come but without
    // ghost masks (it leaves the preview-size result in the HDR image), then
    // every included photo's tones matched to it where nothing moved: the
    // pixels that the detection with this threshold leaves out (blurred
    // deviation below it, with a margin), and that carry no label (see
    // ghostStillToneGains). When fewer than a GHOST_TONE_MIN_STILL_SHARE-th of
    // the pixels are still, whole histograms are matched instead
    // (ghostToneGains). Work tables 0-3 get the still pixels per tone bin (R,
    // G, B, mean; the cumulative histograms when matched by histograms), 4-7
    // the gains that bring the photo's tones to the merge's, which the
    // ghost-masked merge reads as its confidence tables (set
    // generateHDRworker::confidenceTablesValid when this returns true). False
    // when the preview merge fails or a photo lacks its preview or tables.
    bool matchTonesToMerge(const generateHDRoptions_t &merge, double threshold);

private:
    // The detection's first pass, the deviation of every preview pixel, into
    // out (one byte per preview pixel; the label mask when nullptr).
    void deviationMap(quint8 *out);
    // Per preview pixel: 255 where nothing moved, else 0.
    std::vector<quint8> stillPixels(double threshold);

    // Gives every moving subject among the detected (128) regions the one
    // photo that scores best over all of its regions.
    void labelSubjects(quint8 *labels, int w, int h);

    processingProject *project;
    int smoothness;
};

#endif // DEGHOSTWORKER_H
