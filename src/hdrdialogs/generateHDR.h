#ifndef GENERATEHDR_H
#define GENERATEHDR_H

// The Generate HDR dialog: gathers the lens-correction, alignment and merge
// options, then runs the HDR worker stage by stage (lens correction,
// automatic alignment, preparation, merge; or LDR enhancement of a single
// photo), each stage with a new worker on a new thread, and decides after
// each stage what follows. Accepted once the merged image exists; a failed
// preparation or merge is reported and never accepted. In the automatic run
// and in a batch it starts by itself, shows no box and never waits.

#include "widgets/styledDialog.h"

#include <QString>
#include <cstdint>
#include <functional>

class QCheckBox;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;
class genHDR_denoise;
class genHDR_options;
class generateHDRworker;
class processingProject;
struct generateHDRoptions_t;

// The stages of one run, in their order.
enum hdrStage_t { hdrStageLens = 0, hdrStageAlign = 1, hdrStagePrepare = 2, hdrStageMerge = 3 };

// What decides whether a stage applies.
struct hdrStageConditions_t {
    bool autoLens = false;      // lens "Automatic" checked
    bool autoAlign = false;     // alignment "Automatic" checked
    bool lensCorrected = false;
    bool aligned = false;
    bool ldr = false;           // enhancing one photo
};
// The first stage at or after `from` that applies (the merge always does).
int nextHdrStage(int from, const hdrStageConditions_t &c);

// Progress maxima (counted in rows of the working image, 64-bit).
uint64_t hdrRunProgressMax(int n, int width, int height, bool batchLensCorrection);
uint64_t ldrRunProgressMax(int width, int height, bool noiseFilter);
uint64_t mergeProgressMax(int n, int width, int height, bool smartMerge, bool ghostRemoval, bool noiseFilter,
                          bool saveHdr);
// Bar value in percent: counter * 100 / maximum (0 counts as 1), at most 100.
int hdrProgressPercent(uint64_t counter, uint64_t maximum);

class generateHDR : public styledDialog
{
    Q_OBJECT

public:
    generateHDR(QWidget *parent, processingProject *project);
    ~generateHDR() override;

    // Tests answer the dialog in place of a person: while a hook is set, the
    // main window calls it instead of exec() and takes its result.
    using execHook_t = std::function<int(generateHDR *dialog)>;
    static void setExecHook(execHook_t hook);
    static execHook_t execHook();

    // Set by the main window before it shows the dialog right after loading.
    bool openedAfterLoading = false;
    // The HDR output path proposed by the main window.
    void proposeHdrPath(const QString &path);

    // How the run ended: empty after success or a break, else the reason
    // (the automatic run prints it).
    QString failureText() const { return lastFailure; }
    bool running() const { return thread != nullptr || runActive; }
    int stageIndex() const { return stage; }
    // The path of the HDR file written by the last run ("" when none).
    QString savedHdrPath() const { return lastSavedHdr; }

    // Hooks into the main window (the dialog does not know it): refresh of the
    // photo list and view after lens correction or alignment, and the full
    // refresh after the photos changed (new size, thumbnails, EV labels).
    std::function<void()> refreshAfterStage;
    std::function<void()> refreshWindow;
    // A batch log line (HTML); when empty, batch lines go to the debug log.
    std::function<void(const QString &html)> batchLog;

    // Widgets (tests drive them).
    QGroupBox *lensGroup = nullptr;
    QPushButton *lensManualButton = nullptr;
    QPushButton *lensUndoButton = nullptr;
    QCheckBox *lensAutoCheck = nullptr;
    QGroupBox *alignGroup = nullptr;
    QPushButton *alignManualButton = nullptr;
    QPushButton *alignUndoButton = nullptr;
    QCheckBox *alignAutoCheck = nullptr;
    genHDR_options *options = nullptr;
    genHDR_denoise *ldrDenoise = nullptr;
    QCheckBox *panoramaCheck = nullptr;
    QPushButton *generateButton = nullptr;
    QPushButton *ldrButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QProgressBar *progressBar = nullptr;
    QPushButton *breakButton = nullptr;
    QTimer *progressTimer = nullptr;

    void initFromProject();
    void refreshAfterChange();
    void setControlsEnabled(bool b);
    // Escape, the title bar's close button and Cancel; refused while a stage runs.
    void reject() override;
    // The worker's options for the next stage, as the controls say.
    generateHDRoptions_t workerOptions() const;

public slots:
    void enhanceLDRslot();
    void generateHDRslot();
    void startProgress(uint64_t max, bool useBreak);
    void finishProgress();
    void generateHDRrun();
    void generateHDRfinished(bool status);
    void doLensCorrectionSlot();
    void doLensCorrectionUndoSlot();
    void autoLensCorrectionToggled(bool state);
    void storeLastSettings();
    void doManualAlignSlot();
    void doAlignUndoSlot(bool ask);
    void doAlignUndoSlot();
    void updateProgress();
    void breakSlot();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool unattended() const;
    bool batchRunning() const;
    void log(const QString &text, const char *colour);
    void warn(const QString &title, const QString &text);
    void stopOnFailure(const QString &text);
    void breakEnding();
    void prepareAutomaticGhostMasks();
    void startStage3();
    void acceptRun();

    processingProject *project = nullptr;
    generateHDRworker *worker = nullptr;
    QThread *thread = nullptr;
    bool ldr = false;
    bool runActive = false;
    // The photos' tones were matched to a preview merge for the ghost-masked
    // merge of this run (the merge may read their tone tables).
    bool ghostTonesMatched = false;
    int stage = 0;
    uint64_t progressMax = 1;
    QString lastFailure;
    QString lastSavedHdr;
};

#endif // GENERATEHDR_H
