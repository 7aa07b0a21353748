#ifndef DEGHOSTWORKER_H
#define DEGHOSTWORKER_H

// Ghost detection and the anti-ghost masks. The project keeps one label mask at
// preview size (ghostLabelMask: 0 = no ghost, k + 1 = take the pixel from the
// photo whose id % 100 is k); this worker fills it automatically and turns it
// into one soft mask per photo: at preview size (photo.mask) and, for the final
// merge, at full size in the photo's temp-file slot 3.

#include <QObject>
#include <QtGlobal>

class processingProject;
struct generateHDRoptions_t;

struct _ghostDetectVarianceFull_threadParams_t {
    qint64 first = 0, end = 0;         // preview pixels
    processingProject *project = nullptr;
};

// Writes min(255, floor(deviation / 0.2 x 255)) of every pixel of the range into
// the label mask.
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
    // every included photo's histogram matched to it. Work tables 0-3 get the
    // photo's cumulative histograms (R, G, B, mean), 4-7 the gains that bring
    // its tones to the merge's, which the ghost-masked merge reads as its
    // confidence tables (set generateHDRworker::confidenceTablesValid when this
    // returns true). False when the preview merge fails or a photo lacks its
    // preview or tables.
    bool matchTonesToMerge(const generateHDRoptions_t &merge);

private:
    // Gives every moving subject among the detected (128) regions the one
    // photo that scores best over all of its regions.
    void labelSubjects(quint8 *labels, int w, int h);

    processingProject *project;
    int smoothness;
};

#endif // DEGHOSTWORKER_H
