#include "panels/postProcessingControl.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "panels/filterGroup.h"
#include "project/postProcessWorker.h"
#include "project/processingProject.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QThread>

#include <algorithm>

postProcessingControl::postProcessingControl(processingProject *project, QObject *parent)
    : QObject(parent), project(project)
{
}

postProcessingControl::~postProcessingControl()
{
    waitForWorker();
    if (cursorSet)
        QApplication::restoreOverrideCursor();
}

void postProcessingControl::addPanel(filterGroup *panel)
{
    panels << panel;
    connect(panel, &filterGroup::apply, this, &postProcessingControl::applyPostProcessing);
    connect(panel, &filterGroup::undo, this, &postProcessingControl::undoPostProcessing);
    panel->undoButton->setEnabled(undoState->available());
}

void postProcessingControl::setUndoButtonsEnabled(bool enabled)
{
    for (const QPointer<filterGroup> &p : panels)
        if (p)
            p->undoButton->setEnabled(enabled);
}

void postProcessingControl::applyPostProcessing()
{
    applyPostProcessingFor(qobject_cast<filterGroup *>(sender()));
}

void postProcessingControl::applyPostProcessingFor(filterGroup *panel)
{
    if (!panel || isRunning())
        return;
    const pyramid &image = project->outputImage;
    const bool haveImage = image.levelCount > 0 && image.levels[0].data;
    const int w = haveImage ? image.levels[0].width : 0;
    const int h = haveImage ? image.levels[0].height : 0;

    emit windowLocked(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorSet = true;
    progressCounter = 0;
    emit progressStarted(postProcessProgressRange(panel->filter(), w, h), panel->headerButton()->text());

    // The values are taken now, on this thread; later changes in the panel
    // belong to the next pass.
    const postProcessParams_t params = panel->parameters();

    // The image as it is goes into a new undo file; the one of the previous
    // filter is kept until this pass has succeeded, so a failed pass leaves
    // the last undo step usable.
    if (!haveImage || !pendingUndo->save(image, project->sessionDirPath())) {
        if (!haveImage)
            debugLog("postProcessingControl::applyPostProcessingFor: no result image\n");
        endPass(false);
        return;
    }

    void (postProcessWorker::*slot)() = nullptr;
    switch (panel->filter()) {
    case POSTPROCESS_GAUSSIAN_BLUR:
        slot = &postProcessWorker::gaussianBlur;
        break;
    case POSTPROCESS_SHARPEN:
        slot = &postProcessWorker::sharpen;
        break;
    case POSTPROCESS_MEDIAN:
        slot = &postProcessWorker::medianFilter;
        break;
    case POSTPROCESS_BILATERAL:
        slot = &postProcessWorker::bilateralFilter;
        break;
    default:
        slot = &postProcessWorker::sampleTargetBalance;
        break;
    }
    preparing = false;
    startWorker(params, slot);
}

void postProcessingControl::preparePostProcessing()
{
    if (isRunning())
        return;
    emit windowLocked(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorSet = true;
    progressCounter = 0;
    // The full-size pass counts its pixels.
    emit progressStarted(std::max<qint64>(1, qint64(project->width) * project->height), tr("Tone mapping"));
    preparing = true;
    startWorker(postProcessParams_t(), &postProcessWorker::prepareForPostProcessing);
}

void postProcessingControl::startWorker(const postProcessParams_t &params, void (postProcessWorker::*slot)())
{
    worker = new postProcessWorker(project, params);
    thread = new QThread;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, slot);
    connect(worker, &postProcessWorker::finished, this, &postProcessingControl::postProcessingFinished,
            Qt::QueuedConnection);
    thread->start(QThread::InheritPriority);
}

void postProcessingControl::postProcessingFinished()
{
    if (!thread)
        return;
    const bool success = worker->success();
    thread->quit();
    thread->wait();
    delete worker;
    worker = nullptr;
    delete thread;
    thread = nullptr;
    if (preparing) {
        // The result was rewritten (completely or not): the undo step
        // belonged to the one it replaces.
        preparing = false;
        dropUndo();
        if (success)
            emit imageChanged();
        finishLocked(success);
        return;
    }
    if (success)
        project->outputImage.buildLevelsFrom(0, project->taskCount());
    endPass(success);
}

void postProcessingControl::endPass(bool success)
{
    if (success) {
        // The undo step now is the image before this filter.
        std::swap(undoState, pendingUndo);
        pendingUndo->drop();
        emit imageChanged();
    } else {
        pendingUndo->drop();
    }
    finishLocked(success);
}

void postProcessingControl::finishLocked(bool success)
{
    emit progressFinished();
    if (cursorSet) {
        QApplication::restoreOverrideCursor();
        cursorSet = false;
    }
    emit windowLocked(false);
    if (success && undoState->available())
        setUndoButtonsEnabled(true);
    if (!success)
        showError();
    emit finished(success);
}

void postProcessingControl::showError()
{
    debugLog("postProcessingControl::endPass: the filter failed\n");
    if (project->quiet)
        return;
    QWidget *parent = nullptr;
    for (const QPointer<filterGroup> &p : panels)
        if (p && !parent)
            parent = p->window();
    styledMessageBox::show(parent, styledMessageBox::Error, tr("The filter could not be applied."),
                           styledMessageBox::Ok, tr("Error!"));
}

void postProcessingControl::undoPostProcessing()
{
    if (isRunning())
        return;
    emit windowLocked(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (undoState->available()) {
        // A failed read leaves the image as it was (and is logged); the undo
        // step is used up either way.
        if (undoState->restore(project->outputImage)) {
            project->outputImage.buildLevelsFrom(0, project->taskCount());
            emit imageChanged();
        }
    }
    undoState->drop();
    QApplication::restoreOverrideCursor();
    emit windowLocked(false);
    setUndoButtonsEnabled(false);
}

void postProcessingControl::dropUndo()
{
    undoState->drop();
    setUndoButtonsEnabled(false);
}

void postProcessingControl::waitForWorker()
{
    if (!thread)
        return;
    thread->quit();
    thread->wait();
    delete worker;
    worker = nullptr;
    delete thread;
    thread = nullptr;
}
