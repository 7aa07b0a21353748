#ifndef LOADOPTIONS_H
#define LOADOPTIONS_H

// The "Import options" dialog shown before photos are added when the person
// asked for it ("Show options when loading photos"): a reduced-size decode
// and automatic rotation. Opened by mainWindow::addImages; the caller stores
// the choices in the settings record.

#include "widgets/styledDialog.h"

class QCheckBox;
class QComboBox;
class QPushButton;

class loadOptions : public styledDialog
{
    Q_OBJECT

public:
    // forRaw: a camera RAW file is loaded (only full and half size offered).
    // resize: the code to select (1 full, 2 half, 3 a third, 4 a quarter,
    // 5 a fifth); autoRotation: the check box's state.
    loadOptions(QWidget *parent, bool forRaw, int resize, bool autoRotation);

    // For TIFF files: full resolution only, the combo disabled.
    void forceFullResolution();

    int resizeCode() const;
    bool autoRotation() const;

    QComboBox *resizeCombo() const { return resizeBox; }
    QCheckBox *rotateBox() const { return rotate; }
    QPushButton *okButton() const { return okBtn; }
    QPushButton *cancelButton() const { return cancelBtn; }

private:
    QComboBox *resizeBox = nullptr;
    QCheckBox *rotate = nullptr;
    QPushButton *okBtn = nullptr;
    QPushButton *cancelBtn = nullptr;
};

#endif // LOADOPTIONS_H
