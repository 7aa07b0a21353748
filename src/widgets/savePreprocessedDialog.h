#ifndef SAVEPREPROCESSEDDIALOG_H
#define SAVEPREPROCESSEDDIALOG_H

// Asks where and how the preprocessed (lens-corrected, aligned) photos are
// written: the folder, a text put before ("Prefix") or after ("Suffix") each
// photo's name, the format and the format's options (the JPEG and TIFF
// panels of the result's save dialog, without the metadata check boxes:
// the metadata is always carried over here).

#include "widgets/styledDialog.h"

#include <functional>

class QComboBox;
class QLineEdit;
class QRadioButton;
class pathEdit;
class processingProject;
class saveOptsJpeg;
class saveOptsTiff;

class savePreprocessedDialog : public styledDialog
{
    Q_OBJECT

public:
    savePreprocessedDialog(QWidget *parent, processingProject *project, const QString &folder);

    // Tests and screenshots answer the dialog instead of a person: while a
    // hook is set, run() returns its answer without showing the dialog.
    using execHook_t = std::function<int(savePreprocessedDialog *dialog)>;
    static void setExecHook(execHook_t hook);
    // exec(), or the hook's answer.
    int run();

    // The folder as typed (absolute, native separators).
    QString folder() const;

    processingProject *project = nullptr;
    pathEdit *folderEdit = nullptr;
    QRadioButton *suffixButton = nullptr;
    QRadioButton *prefixButton = nullptr;
    QLineEdit *text = nullptr;
    QComboBox *formatBox = nullptr;
    saveOptsJpeg *jpegPanel = nullptr;
    saveOptsTiff *tiffPanel = nullptr;

public slots:
    void typeChanged(int t);
    void doAccept();

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool shownOnce = false;
};

#endif // SAVEPREPROCESSEDDIALOG_H
