#ifndef SAVEPROJECTOPTS_H
#define SAVEPROJECTOPTS_H

// The small dialog shown before a project is saved: which heavy data goes
// into the file ("Input images", "Generated HDR image"). The caller may
// disable either box (nothing to embed, or photos that were never embedded)
// before running it; only enabled boxes store their state on "Save".

#include "widgets/styledDialog.h"

class QCheckBox;
class QPushButton;
class QShowEvent;

class saveProjectOpts : public styledDialog
{
    Q_OBJECT

public:
    explicit saveProjectOpts(QWidget *parent = nullptr);

    QCheckBox *hdrBox = nullptr;    // "Generated HDR image"
    QCheckBox *inputsBox = nullptr; // "Input images"
    QPushButton *saveButton = nullptr;
    QPushButton *cancelButton = nullptr;

public slots:
    void checkValid();
    void acceptSlot();

protected:
    void showEvent(QShowEvent *event) override;
};

#endif // SAVEPROJECTOPTS_H
