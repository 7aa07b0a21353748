#ifndef TONEMAPPINGPREPROCESSWORKER_H
#define TONEMAPPINGPREPROCESSWORKER_H

// Computes the full-size mask and local-contrast maps of a new HDR image once,
// on a worker thread, before tone mapping can be shown and saved.
//
// The worker sets the project's readiness flags itself, from whether each
// pass ran to its end: a pass stopped by breakFlag or abortBackgroundFlag
// leaves its map not ready, so the next preparation computes it again. The
// completion slot reads them and must not set them.

#include <QObject>

class processingProject;

// Batch output types that produce no image: nothing is prepared for them.
bool batchOutputNeedsNoImage(int outputType);

class toneMappingPreprocessWorker : public QObject
{
    Q_OBJECT

public:
    explicit toneMappingPreprocessWorker(processingProject *project, QObject *parent = nullptr);

    // True when both maps are ready after doIt (also when nothing was needed).
    bool mapsReady() const { return ready; }

public slots:
    void doIt();

signals:
    void finished();

private:
    processingProject *project;
    bool ready = false;
};

#endif // TONEMAPPINGPREPROCESSWORKER_H
