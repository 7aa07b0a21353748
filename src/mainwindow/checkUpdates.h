#ifndef CHECKUPDATES_H
#define CHECKUPDATES_H

// Asking the update service for the newest version of the program.
//
// The request is an HTTPS GET of "<address>/vercheck/index3.php?email=&ver=3.11.1"
// (the address is "Misc/UpdateCheckAddress"; an address that is not https is
// refused, and no e-mail address is ever sent). The answer is UTF-8 text of
// 16 to 4096 characters that splits at '#' into exactly five parts: unused,
// newest version, release date, release notes, unused. The notes are shown as
// plain text, never interpreted as markup.
//
// A forced check (the "Check for updates" command) always reports: an error
// box, or the dialog with the newest version or "no updates". A silent check
// (at start, when "Misc/AutoCheckUpdates" is set) shows the dialog only when a
// newer version exists and never shows an error.

#include "widgets/styledDialog.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QCheckBox;
class QLabel;
class QNetworkAccessManager;
class QWidget;

// "3.12" -> 31200, "3.11.1" -> 31101; any other number of parts -> 0.
int parseVersion(const QString &version);

struct updateReply_t {
    bool valid = false;
    QString version;
    QString releaseDate;
    QString notes;
};

// Checks length and shape of a reply; valid only when both hold.
updateReply_t parseUpdateReply(const QByteArray &utf8);

// The request address for a service address, or an invalid QUrl when the
// address is not an absolute https address.
QUrl updateRequestUrl(const QString &serviceAddress, const QString &programVersion);

class checkUpdatesDialog : public styledDialog
{
    Q_OBJECT

public:
    // serviceAddress gives the hosts of the download and version-history links.
    checkUpdatesDialog(QWidget *parent, const QString &serviceAddress);

    void setReleaseEntry(const QString &version, const QString &releaseDate, const QString &notes);

    // Widgets, for tests.
    QLabel *headerLabel = nullptr;
    QLabel *noUpdatesLabel = nullptr;
    QLabel *releaseLabel = nullptr;
    QLabel *notesLabel = nullptr;
    QLabel *downloadRow = nullptr;
    QLabel *historyRow = nullptr;
    QCheckBox *autoCheckBox = nullptr;

private slots:
    // "Check automatically" reaches the settings record when the dialog closes.
    void storeAutoCheck();
};

class checkUpdates : public QObject
{
    Q_OBJECT

public:
    explicit checkUpdates(QWidget *window);
    ~checkUpdates() override;

    // Whether the silent start-up check may run: it is switched on, and this
    // is neither the automatic command-line run nor a test run
    // (LUMIDRA_TEST_MODE set).
    static bool silentCheckAllowed(bool autoCheckSetting, bool automaticRun);

    // True while a request is on its way.
    bool busy() const { return pending != nullptr; }
    // The dialog of the last answer while it is open (tests).
    checkUpdatesDialog *lastDialog() const { return dialog; }

public slots:
    void doCheck(bool forceShow);
    void doCheck() { doCheck(true); }

signals:
    // Emitted when an answer (or failure) has been handled.
    void checkFinished();

private slots:
    void finishedSlot(QNetworkReply *reply);

private:
    void reportFailure(const QString &text);

    QWidget *window = nullptr;
    QNetworkAccessManager *manager = nullptr;
    QPointer<QNetworkReply> pending;
    QPointer<checkUpdatesDialog> dialog;
    QString serviceAddress;
    bool forceShow = false;
};

#endif // CHECKUPDATES_H
