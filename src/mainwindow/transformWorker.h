#ifndef TRANSFORMWORKER_H
#define TRANSFORMWORKER_H

// Runs one rotation, flip or crop of the whole project on its own thread.
// The window fills the fields on the GUI thread before the thread starts and
// reads `success` in its completion slot; the worker touches no widget.

#include <QObject>
#include <atomic>

class processingProject;

class transformWorker : public QObject
{
    Q_OBJECT

public:
    explicit transformWorker(processingProject *p) : project(p) {}

    processingProject *project = nullptr;
    int mode = 0;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0; // crop rectangle (modes 5 and 6)
    double angle = 0, distortion = 0, perspectiveX = 0, perspectiveY = 0; // mode 6 only
    std::atomic<bool> success{false};

signals:
    void finished();

public slots:
    void transformImage();
};

#endif // TRANSFORMWORKER_H
