#ifndef LENSCORRECTIONWORKER_H
#define LENSCORRECTIONWORKER_H

// Corrects every photo with one lens calibration (distortion and TCA) and,
// with crop on, keeps the covered rectangle. The HDR lens stage runs it
// synchronously; the lens-correction dialog moves it to a QThread.

#include "hdr/geometryPhotoFiles.h"
#include "hdr/lensCorrection.h"

#include <QObject>
#include <functional>

class processingProject;

class lensCorrectionWorker : public QObject
{
    Q_OBJECT
public:
    lensCorrectionWorker(const geometryPass_t &pass, const lensCalibData &calib, bool cropOn,
                         const lensCropRect_t &crop, double centreX, double centreY,
                         QObject *parent = nullptr);
    // On the project's photos, with the project's bookkeeping after the pass.
    lensCorrectionWorker(processingProject *project, const lensCalibData &calib, bool cropOn,
                         const lensCropRect_t &crop, double centreX, double centreY,
                         QObject *parent = nullptr);

    // False (every photo unchanged) when a photo could not be read or written.
    bool correct();

    // Optional: the project's bookkeeping after a successful pass with the new size.
    std::function<void(int newWidth, int newHeight)> afterResize;

    lensCropRect_t cropRect;
    bool cropOn;
    double centreX;
    double centreY;
    lensCalibData calib;
    bool result = false;

signals:
    void finished(bool ok);

public slots:
    void doCorrection();

private:
    geometryPass_t pass;
};

#endif // LENSCORRECTIONWORKER_H
