#ifndef POSTPROCESSINGCONTROL_H
#define POSTPROCESSINGCONTROL_H

// The window side of post-processing: runs the filter of a filter panel on
// the full-size result (level 0 of the project's outputImage) on a worker
// thread, with the window locked and the progress shown, and keeps one level
// of undo in a temporary file of the session directory.
//
// The window owns one of these, registers the five filter panels with
// addPanel (which connects their apply() and undo()), and connects:
//   windowLocked(bool)      -> disables the window (true) or recomputes the
//                              enabled state of its actions and panels (false)
//   progressStarted(qint64, QString) / progressFinished()
//                           -> its progress bar (progressCounter counts up to
//                              the total; reset to 0 here)
//   imageChanged()          -> re-render and repaint the main image area
// A failed pass shows the error box "Error!". preparePostProcessing runs the
// full-size tone mapping the filters work on.
//
// The filter's values are read from the panel on the GUI thread when Apply is
// pressed; the worker gets a copy and never reads a widget.

#include "project/postProcessing.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QThread;
class filterGroup;
class postProcessWorker;
class processingProject;

class postProcessingControl : public QObject
{
    Q_OBJECT

public:
    explicit postProcessingControl(processingProject *project, QObject *parent = nullptr);
    ~postProcessingControl() override;

    // Connects the panel's apply() and undo() and manages its Undo button.
    void addPanel(filterGroup *panel);

    bool isRunning() const { return thread != nullptr; }
    bool undoAvailable() const { return undoState->available(); }
    // Waits for a running pass to end (window closing).
    void waitForWorker();

public slots:
    // From a registered panel's apply(): runs that panel's filter.
    void applyPostProcessing();
    void applyPostProcessingFor(filterGroup *panel);
    // The full-size tone mapping the filters work on (when the window shows
    // the post-processing tab), on the worker, with the window locked; a new
    // result drops the undo step of the old one.
    void preparePostProcessing();
    // From a panel's undo(): brings back the image before the last filter.
    void undoPostProcessing();
    // Forgets the undo state and disables the Undo buttons (new project, a
    // new full-size result).
    void dropUndo();

signals:
    void windowLocked(bool locked);
    void progressStarted(qint64 total, QString text);
    void progressFinished();
    void imageChanged();
    // After every pass, with whether it changed the image.
    void finished(bool success);

private slots:
    void postProcessingFinished();

private:
    void setUndoButtonsEnabled(bool enabled);
    void startWorker(const postProcessParams_t &params, void (postProcessWorker::*slot)());
    void endPass(bool success);
    void finishLocked(bool success);
    void showError();

    processingProject *project;
    QList<QPointer<filterGroup>> panels;
    // The image before the last successful filter, and before the running one.
    std::unique_ptr<postProcessUndo> undoState{new postProcessUndo};
    std::unique_ptr<postProcessUndo> pendingUndo{new postProcessUndo};
    QThread *thread = nullptr;
    postProcessWorker *worker = nullptr;
    bool cursorSet = false;
    bool preparing = false;   // the running pass is the full-size tone mapping
};

#endif // POSTPROCESSINGCONTROL_H
