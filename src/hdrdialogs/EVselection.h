#ifndef EVSELECTION_H
#define EVSELECTION_H

// One line that chooses where the photos' exposure values come from: a
// manual step between consecutive photos, the EXIF exposure data, the EXIF
// bracketing value or automatic estimation. Exactly one source stays
// selected; the widget only reports the choice, the project computes.

#include <QWidget>

class QLabel;
class QPushButton;
class myQComboBox;

class EVselection : public QWidget
{
    Q_OBJECT

public:
    explicit EVselection(QWidget *parent = nullptr);

    // The step of manual entry idx ("0.00" is entry 1); 0 for entry 0 ("-").
    static double manualStep(int idx);
    static QStringList manualEntries();

    // Back to "-" with no source button pressed, signals blocked.
    void reset();

    myQComboBox *manualCombo = nullptr;
    QPushButton *exifButton = nullptr;
    QPushButton *exifAEBbutton = nullptr;
    QPushButton *autoButton = nullptr;

signals:
    void EVmanualSelect(int idx);
    void EVsetFromExif();
    void EVsetFromExifAEB();
    void EVauto();

public slots:
    void setFromExifSlot(bool checked);
    void setFromExifAEBslot(bool checked);
    void manualSelectSlot(int index);
    void setAutoSlot(bool checked);

private:
    // Presses one source button (releasing the others and the manual
    // entry); false when it was already the only one and stays pressed.
    bool selectButton(QPushButton *button, bool checked);
};

#endif // EVSELECTION_H
