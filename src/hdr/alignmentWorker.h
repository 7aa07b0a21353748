#ifndef ALIGNMENTWORKER_H
#define ALIGNMENTWORKER_H

// The alignment worker: finds, for every photo, the transform that maps base
// positions onto the photo (automatically or from pins) and resamples every
// photo onto the base grid. The HDR stage runs it synchronously on its own
// thread; the manual alignment dialog moves it to a QThread and starts
// doAutoAlign or doApplyAlignment.
//
// The worker reaches the photos through a geometryPass_t (their records,
// session folder, sizes and preview divisor) that the project fills; the
// project's own bookkeeping after a pass (new size, display buffer,
// thumbnails, layer pyramids) runs in the afterResize callback.

#include "hdr/autoAlign.h"
#include "hdr/geometryPhotoFiles.h"
#include "hdr/transformFitting.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class processingProject;

constexpr int ALIGN_MAX_PHOTOS = 100;

struct alignmentParams_t {
    int baseIndex = 0;
    int toAlign = -1; // -1: every photo but the base
    QList<int> photoList;
    int method = ALIGN_METHOD_PERSPECTIVE;
    bool cropAutomatically = true;
};

class alignmentWorker : public QObject
{
    Q_OBJECT
public:
    // pass: the photos; ev: their exposure values; baseIndex: the
    // middle-exposure photo.
    alignmentWorker(const geometryPass_t &pass, const std::vector<double> &ev, int baseIndex,
                    QObject *parent = nullptr);
    // On the project's photos, with the middle-exposure photo as the base and
    // the project's bookkeeping after applying.
    explicit alignmentWorker(processingProject *project, QObject *parent = nullptr);
    ~alignmentWorker() override;

    void setParams(const alignmentParams_t &params);
    bool autoAlignEx();
    void transformFromPins(int photo, const alignPin_t *basePins, const alignPin_t *photoPins);
    // Warps, crops and stores every photo; false (every photo unchanged) when
    // any photo could not be read or written.
    bool applyAlignment();

    // Optional: grey histogram-matching tables for a photo pair.
    std::function<bool(int photo, int base, double *photoTable, double *baseTable)> histogramMatch;
    // Optional: the project's bookkeeping after a successful pass with the new size.
    std::function<void(int newWidth, int newHeight)> afterResize;

    alignCrop_t cropRect;
    alignTransform_t transforms[ALIGN_MAX_PHOTOS];
    alignPin_t basePins[ALIGN_MAX_PHOTOS][4] = {};
    alignPin_t photoPins[ALIGN_MAX_PHOTOS][4] = {};
    bool result = false;
    bool applied = false;
    QString errorText; // why the last operation failed

    int baseIndex() const { return params.baseIndex; }
    int photoToAlign() const { return params.toAlign; }

signals:
    void finished();
    void incProgress(int inc);

public slots:
    void doAutoAlign();
    void doApplyAlignment();

private:
    geometryPass_t pass;
    std::vector<double> ev;
    alignmentParams_t params;
};

#endif // ALIGNMENTWORKER_H
