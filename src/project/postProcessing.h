#ifndef POSTPROCESSING_H
#define POSTPROCESSING_H

// Post-processing of the full-size 16-bit RGB result: the five filters and
// the one level of undo. The filter settings are captured on the GUI thread
// into a postProcessParams_t before the worker starts; the worker never reads
// a panel.

#include <QString>
#include <QtGlobal>
#include <memory>

class QTemporaryFile;
class pyramid;

enum postProcessFilter_t {
    POSTPROCESS_GAUSSIAN_BLUR = 0,
    POSTPROCESS_SHARPEN = 1,
    POSTPROCESS_MEDIAN = 2,
    POSTPROCESS_BILATERAL = 3,
    POSTPROCESS_SAMPLE_TARGET = 4,
};

// The panel settings a filter reads (only those of its own filter matter).
struct postProcessParams_t
{
    int filter = POSTPROCESS_GAUSSIAN_BLUR;
    double opacity = 1.0;    // blur, median, bilateral, sample/target balance
    double sigma = 1.0;      // blur, sharpen, bilateral
    double amount = 1.0;     // sharpen
    double threshold = 0.0;  // sharpen, median, bilateral
    int shape = 0;           // median shape 0..11
    // Sample/target balance colours, red, green, blue fractions 0..1, for
    // shadows, midtones and highlights: [channel][range]. 0 switches a range off.
    double sample[3][3] = {};
    double target[3][3] = {};
};

// Progress range of a filter for an image: height for the median, height +
// width for the others, at least 1.
qint64 postProcessProgressRange(int filter, int width, int height);

// Runs one filter on the interleaved 16-bit RGB image in place. False (image
// unchanged) when the filter is unknown or its scratch buffer can't be
// allocated.
bool applyPostProcessFilter(quint16 *image, int width, int height,
                            const postProcessParams_t &params, int threads);

// The one level of undo: the image as it was before the last filter, kept in
// a temporary file of the session directory.
class postProcessUndo
{
public:
    postProcessUndo();
    ~postProcessUndo();

    // Replaces any earlier undo state by level 0 of image. On failure (the
    // file can't be opened or written) it logs and keeps no undo state.
    bool save(const pyramid &image, const QString &sessionDir);
    // Restores level 0 of image from the undo file and drops the file. The
    // image is only changed when the whole file was read. False when there
    // was nothing to undo or the read failed.
    bool restore(pyramid &image);
    bool available() const;
    void drop();

private:
    std::unique_ptr<QTemporaryFile> file;
};

#endif // POSTPROCESSING_H
