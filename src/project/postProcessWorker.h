#ifndef POSTPROCESSWORKER_H
#define POSTPROCESSWORKER_H

// Runs the full-size tone mapping for the post-processing tab, or one filter
// on its result, on a worker thread. The main window captures the filter
// panel's settings into a postProcessParams_t on the GUI thread before the
// thread starts; the worker reads only that record and the project.

#include "project/postProcessing.h"

#include <QObject>

class processingProject;

class postProcessWorker : public QObject
{
    Q_OBJECT

public:
    postProcessWorker(processingProject *project, const postProcessParams_t &params,
                      QObject *parent = nullptr);

    // True once the slot that ran produced a complete result.
    bool success() const { return succeeded; }

public slots:
    void prepareForPostProcessing();
    void gaussianBlur();
    void sharpen();
    void medianFilter();
    void bilateralFilter();
    void sampleTargetBalance();

signals:
    void finished();

private:
    void runFilter(int filter);

    processingProject *project;
    postProcessParams_t params;
    bool succeeded = false;
};

#endif // POSTPROCESSWORKER_H
