#ifndef TONEMAPPINGPREVIEWWORKER_H
#define TONEMAPPINGPREVIEWWORKER_H

// One preview tone-mapping pass of the main window on its own thread: the
// project's preview tone mapping of one layer, or of every enabled layer in
// order 0..9. Everything it needs is copied into it on the GUI thread before
// the thread starts; it reads no widget and no setting. A pass stopped by
// abortBackgroundFlag ends early and still emits finished().

#include "project/tableSizes.h"

#include <QObject>
#include <QPointer>

class processingProject;

class toneMappingPreviewWorker : public QObject
{
    Q_OBJECT

public:
    toneMappingPreviewWorker(processingProject *project, int layer, int currentLayer, QObject *trueSender,
                             bool keepPreset, bool updateLevels);

    bool keepPreset = false;   // the request came with preset or visibility set
    bool updateLevels = false; // the sender is not the levels panel
    QPointer<QObject> trueSender;
    processingProject *project = nullptr;
    int layer = -1;            // the layer to render, -1 for every enabled layer
    int currentLayer = 0;      // the current layer when the request came
    // Snapshot of the layers to render (-1: the enabled ones at request time).
    bool renderLayer[LAYER_COUNT] = {};

public slots:
    void doIt();

signals:
    void finished();
};

#endif // TONEMAPPINGPREVIEWWORKER_H
