#ifndef PROGRAMOPTIONS_H
#define PROGRAMOPTIONS_H

// The program options dialog: six tabs (appearance, scratch pad, performance,
// external editor, saving defaults, miscellaneous) that edit the settings
// record in place. Every show refills the controls from the record; OK
// checks the paths, copies the controls into the record and stores it;
// Cancel leaves the record as it was. "Reset all settings" ends the dialog
// with resetDialogResult after the reset was scheduled.

#include "widgets/styledDialog.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class exiftoolDaemon;
class pathEdit;

class programOptions : public styledDialog
{
    Q_OBJECT

public:
    static const int resetDialogResult = 100;

    // exiftool: the daemon whose temporary folders the dialog clears (may be null).
    programOptions(QWidget *parent, exiftoolDaemon *exiftool);

    // The free-space text for x MB (negative: unknown).
    static QString freeSpaceText(double megabytes);

    QTabWidget *tabs = nullptr;
    // 0 Appearance
    QComboBox *skin = nullptr, *scale = nullptr;
    QCheckBox *highDpi = nullptr;
    // 1 Scratch pad
    QRadioButton *systemTemp = nullptr, *userDir = nullptr;
    QLabel *tempPathLabel = nullptr, *freeSpaceLabel = nullptr;
    pathEdit *scratchPath = nullptr;
    // 2 Performance
    QComboBox *coreCount = nullptr, *coreCountBatch = nullptr, *resample = nullptr;
    QLabel *resampleLabel = nullptr;
    QCheckBox *liveAntiAliasing = nullptr, *liveToneMapping = nullptr, *liveWhileZooming = nullptr;
    // 3 External editor
    QCheckBox *editorEnabled = nullptr, *editorExif = nullptr, *editorGps = nullptr, *editorSrgb = nullptr;
    pathEdit *editorPath = nullptr;
    QLabel *editorPathLabel = nullptr, *compressionLabel = nullptr, *bitDepthLabel = nullptr, *dpiLabel = nullptr;
    QLineEdit *editorArgs = nullptr;
    QComboBox *editorCompression = nullptr, *editorBitDepth = nullptr;
    QSpinBox *editorDpi = nullptr;
    // 4 Saving result
    QLineEdit *outputName = nullptr;
    QComboBox *hdrFormat = nullptr;
    QCheckBox *hdrNormalize = nullptr, *hdrDeflate = nullptr, *saveToSourceDir = nullptr, *removeExpTime = nullptr;
    // 5 Miscellaneous
    QComboBox *rawDecoder = nullptr;
    QCheckBox *resetColorAdjustment = nullptr, *showFileOpen = nullptr, *autoLdr = nullptr, *zoomWithCtrl = nullptr,
              *nativeDialogs = nullptr;
    QPushButton *clearExiftoolButton = nullptr, *resetButton = nullptr, *okButton = nullptr,
                *cancelButton = nullptr;

    // Fills the controls from the settings record (what every show does).
    void loadFromSettings();

public slots:
    void writeSettingsAndClose();
    void scheduleReset();
    void externalEditorToggle(int state);
    void transferExifToggle(int);
    void scratchpadToggle();
    void liveToneMappingChanged(int state);
    void updateFreeSpace();
    void toggleHdrFormat();
    void clearExiftoolTempSlot();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString measuredPath() const;
    exiftoolDaemon *exiftool = nullptr;
};

#endif // PROGRAMOPTIONS_H
