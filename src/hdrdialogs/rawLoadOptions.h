#ifndef RAWLOADOPTIONS_H
#define RAWLOADOPTIONS_H

// The modal "Load RAW image" dialog shown before RAW photos are loaded: output
// colour space, white balance, noise filtering and brightness options, with a
// live preview decoded in the background by previewWorker. Its choices become
// the dcraw-style switch list both RAW engines consume, and are stored under
// the "LoadRAW/" settings.
//
// Result of exec(): Accepted (OK), Rejected (Cancel), or 100 + i when the user
// picked file i of the sequence in the file chooser.

#include "project/pyramid.h"
#include "widgets/styledDialog.h"

#include <QFuture>
#include <QObject>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QThread;
class rawLoadWorkspace;
class slider;
class zoomWidget;

// Decodes one preview on its own thread into an 8-bit buffer.
class previewWorker : public QObject
{
    Q_OBJECT

public:
    previewWorker(const QStringList &args, int width, int height, uint8_t *destination, bool onShow, double scale)
        : arguments(args), w(width), h(height), rgb8(destination), shownOnShow(onShow), scaleFactor(scale)
    {
    }
    bool onShow() const { return shownOnShow; }
    bool succeeded() const { return ok; }
    bool useLibraw = true; // the engine, chosen on the GUI thread

signals:
    void finished();

public slots:
    void doIt();

private:
    QStringList arguments; // switches, then the file path
    int w = 0, h = 0;
    uint8_t *rgb8 = nullptr;
    bool shownOnShow = false;
    double scaleFactor = 1.0;
    bool ok = false;
};

class rawLoadOptions : public styledDialog
{
    Q_OBJECT

public:
    enum whiteBalance_t { AsShot = 0, AutoWhole = 1, AutoSelection = 2, Manual = 3 };

    explicit rawLoadOptions(QWidget *parent = nullptr);
    ~rawLoadOptions() override;

    // Called before the dialog is shown for a file of the sequence.
    void prepareImage(const QStringList &files, const QString &currentPath, int previewWidth, int previewHeight,
                      bool colorSpaceEnabled, bool keepOrientation);
    // Sets the controls with signals blocked (colour space 1-based) and checks
    // "Use the same settings ...".
    void setOptions(int colorSpace, bool autoSelectionWhiteBalance, bool other, bool recoverHighlights,
                    bool autoBrighten, double brightness, double contrast, bool noiseFilter, int wavelet, int median,
                    bool keepOrientation);
    // Shows R/G, 1 and B/G in the manual multiplier boxes.
    void setWhiteBalance(double r, double g, double b);
    // The switch list (the caller appends the file path).
    QStringList getDcrawArguments(bool preview) const;
    // The scale factor handed to the decoders: "Contrast" when "Other options"
    // is checked, else 1.0.
    double scaleFactor() const;
    void saveSettings();

    QString librawVersionText() const { return librawVersion; }
    // Waits for the version probe started by the constructor (dcraw runs
    // beside the rest of the start-up).
    QString dcrawVersionText() const;
    static QString getLibrawVersion();
    static QString getDcrawVersion();
    // The dcraw version from the text dcraw prints when run without arguments;
    // "?" when it cannot be found.
    static QString dcrawVersionFromOutput(const QByteArray &output);

    bool useSameSettings() const;
    int currentFileIndex() const { return currentIndex; }
    QString currentFilePath() const { return currentPath; }
    const pyramid &previewPyramid() const { return preview; }
    rawLoadWorkspace *workspace() const { return view; }

    // Controls, for the callers that fill them and for tests.
    QComboBox *fileChooser() const { return fileCombo; }
    QGroupBox *colorSpaceGroup() const { return colorGroup; }
    QComboBox *colorSpaceCombo() const { return colorCombo; }
    QComboBox *whiteBalanceCombo() const { return wbCombo; }
    QDoubleSpinBox *multiplierBox(int i) const { return multipliers[i]; }
    QGroupBox *noiseGroup() const { return noiseBox; }
    slider *waveletSlider() const { return wavelet; }
    slider *medianSlider() const { return median; }
    QGroupBox *otherGroup() const { return otherBox; }
    QCheckBox *autoBrightenBox() const { return autoBrighten; }
    QCheckBox *recoverHighlightsBox() const { return recoverHighlights; }
    slider *brightnessSlider() const { return brightness; }
    slider *contrastSlider() const { return contrast; }
    QCheckBox *autoPreviewBox() const { return autoPreview; }
    QLabel *decoderNote() const { return decoderLabel; }
    QPushButton *okButton() const { return okBtn; }

signals:
    void eyedropperEnabled(bool);
    // Emitted when a preview decode has been shown.
    void previewShown();

public slots:
    void whiteBalanceToggled(int i);
    void previewSlot(bool onShow);
    void previewSlot();
    void previewFinished();
    void previewOnceSlot(bool onShow);
    void previewOnceSlot();
    void previewIfAutoSlot();
    void acceptLoad();
    void otherImageSelected(int index);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyWhiteBalance(int i, bool fromUser);
    // Waits for a preview decode still running and takes its result.
    void finishRunningPreview();
    void loadControls();
    void updateDecoderNote();

    bool keepOrientation = false;
    QStringList fileList;
    QString currentPath;
    int previewW = 0, previewH = 0;
    int currentIndex = -1;
    pyramid preview;
    previewWorker *worker = nullptr;
    QThread *workerThread = nullptr;
    QString librawVersion;
    QFuture<QString> dcrawProbe;
    mutable QString dcrawVersion; // empty until the probe has answered

    QComboBox *fileCombo = nullptr;
    QGroupBox *colorGroup = nullptr;
    QComboBox *colorCombo = nullptr;
    QComboBox *wbCombo = nullptr;
    QDoubleSpinBox *multipliers[3] = {};
    QLabel *multiplierLabels[3] = {};
    QCheckBox *rggb = nullptr;
    QGroupBox *noiseBox = nullptr;
    slider *wavelet = nullptr;
    slider *median = nullptr;
    QGroupBox *otherBox = nullptr;
    QCheckBox *autoBrighten = nullptr;
    QCheckBox *recoverHighlights = nullptr;
    slider *brightness = nullptr;
    slider *contrast = nullptr;
    QCheckBox *autoPreview = nullptr;
    QPushButton *previewBtn = nullptr;
    rawLoadWorkspace *view = nullptr;
    zoomWidget *zoom = nullptr;
    QLabel *decoderLabel = nullptr;
    QCheckBox *sameSettings = nullptr;
    QPushButton *okBtn = nullptr;
    QPushButton *cancelBtn = nullptr;
};

#endif // RAWLOADOPTIONS_H
