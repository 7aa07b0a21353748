#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

// The About dialog (logo, version line, credits, translators, the versions of
// the libraries and programs found at run time) and the dialog with Qt's
// licence text. The main window makes both once and keeps them.

#include "widgets/styledDialog.h"

#include <QString>

class QLabel;
class QPushButton;
class QShortcut;
class QTextEdit;
class mainWindow;
class processingProject;

// Little CMS's encoded version as "major.minor.patch" (2080 -> "2.8.0",
// 2140 -> "2.14.0").
QString lcmsVersionText(int encoded);
// The run-time version of the OpenEXR library ("3.1.5").
QString openExrVersionText();

class about : public styledDialog
{
    Q_OBJECT

public:
    about(mainWindow *window, processingProject *project);

    // The versions text as last built by showEvent (tests).
    QString versionsText() const;

    QPushButton *licenseButton = nullptr;
    QPushButton *qtButton = nullptr;
    QPushButton *closeButton = nullptr;
    QShortcut *loggingShortcut = nullptr;

public slots:
    void showAboutQt();

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void loggingKey();

private:
    QString buildVersionsText() const;

    mainWindow *window = nullptr;
    processingProject *project = nullptr;
    QLabel *versionsLabel = nullptr;
};

class qtLicense : public styledDialog
{
    Q_OBJECT

public:
    explicit qtLicense(QWidget *parent);

    QTextEdit *textArea = nullptr;
    QPushButton *okButton = nullptr;
};

#endif // ABOUTDIALOG_H
