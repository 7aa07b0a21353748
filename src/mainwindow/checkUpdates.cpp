#include "mainwindow/checkUpdates.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>

namespace {

const char *const UPDATE_SERVICE_PATH = "/vercheck/index3.php";
const char *const DOWNLOAD_PATH = "/download/";
const char *const VERSION_HISTORY_PATH = "/version/";
const int REPLY_MIN_CHARS = 16;
const int REPLY_MAX_CHARS = 4096;
// A UTF-8 character takes at most four bytes: more than this cannot be a
// valid reply, so nothing beyond it is read.
const qint64 REPLY_MAX_BYTES = qint64(REPLY_MAX_CHARS) * 4 + 1;
const int REQUEST_TIMEOUT_MS = 20000;
const char *const LINK_COLOR = "#a8f0a8";

// The reply is released on every path, also when a slot returns early.
struct replyReleaser_t {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

QString linkRow(const QString &caption, const QString &address)
{
    return QString("%1: <a style=\"color: %2;\" href=\"%3\">%4</a>")
        .arg(caption.toHtmlEscaped(), LINK_COLOR, address.toHtmlEscaped(), address.toHtmlEscaped());
}

QLabel *linkLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    return label;
}

QString trimmedAddress(const QString &address)
{
    QString a = address.trimmed();
    while (a.endsWith('/'))
        a.chop(1);
    return a;
}

} // namespace

int parseVersion(const QString &version)
{
    const QStringList parts = version.split('.', Qt::SkipEmptyParts);
    if (parts.size() < 2 || parts.size() > 3)
        return 0;
    int result = parts[0].toInt() * 10000 + parts[1].toInt() * 100;
    if (parts.size() == 3)
        result += parts[2].toInt();
    return result;
}

updateReply_t parseUpdateReply(const QByteArray &utf8)
{
    updateReply_t r;
    const QString text = QString::fromUtf8(utf8);
    if (text.size() < REPLY_MIN_CHARS || text.size() > REPLY_MAX_CHARS)
        return r;
    const QStringList parts = text.split('#', Qt::SkipEmptyParts);
    if (parts.size() != 5)
        return r;
    r.valid = true;
    r.version = parts[1].trimmed();
    r.releaseDate = parts[2].trimmed();
    r.notes = parts[3].trimmed();
    return r;
}

QUrl updateRequestUrl(const QString &serviceAddress, const QString &programVersion)
{
    QUrl url(trimmedAddress(serviceAddress) + UPDATE_SERVICE_PATH, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare("https", Qt::CaseInsensitive) != 0 || url.host().isEmpty())
        return QUrl();
    // The service expects the key; no address of the user ever goes out.
    url.setQuery("email=&ver=" + QString::fromLatin1(QUrl::toPercentEncoding(programVersion)));
    return url;
}

// --- the dialog ---

checkUpdatesDialog::checkUpdatesDialog(QWidget *parent, const QString &serviceAddress)
    : styledDialog(parent)
{
    setModal(true);
    const QString title = tr("Check for updates");
    titleLabel()->setText(title);
    setWindowTitle(title);

    auto *layout = new QVBoxLayout(this);
    const int margin = widgetSupport::scaled(12);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(widgetSupport::scaled(6));

    headerLabel = new QLabel("<html><font size='4'><b>" +
                                 tr("There is a new version of Lumidra available for download") + "</b></font></html>",
                             this);
    noUpdatesLabel = new QLabel(
        tr("Currently there are no updates available. You have the most recent version installed."), this);
    noUpdatesLabel->setWordWrap(true);
    releaseLabel = new QLabel(this);
    releaseLabel->setTextFormat(Qt::RichText);
    notesLabel = new QLabel(this);
    notesLabel->setTextFormat(Qt::RichText);
    notesLabel->setWordWrap(true);

    const QString address = trimmedAddress(serviceAddress);
    downloadRow = linkLabel(linkRow(tr("Download"), address + DOWNLOAD_PATH), this);
    historyRow = linkLabel(linkRow(tr("Version history"), address + VERSION_HISTORY_PATH), this);

    autoCheckBox = new QCheckBox(tr("Check automatically"), this);
    autoCheckBox->setChecked(optionsInstance ? optionsInstance->misc.autoCheckUpdates : true);

    auto *closeButton = new QPushButton(tr("Close"), this);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout();
    buttons->addWidget(autoCheckBox);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);

    for (QLabel *label : {headerLabel, noUpdatesLabel, releaseLabel, notesLabel, downloadRow, historyRow})
        layout->addWidget(label);
    layout->addSpacing(widgetSupport::scaled(8));
    layout->addLayout(buttons);
    closeButton->setDefault(true);
    closeButton->setFocus();
    // Closing by the button, the title bar or Escape all end here.
    connect(this, &QDialog::finished, this, &checkUpdatesDialog::storeAutoCheck);
}

void checkUpdatesDialog::setReleaseEntry(const QString &version, const QString &releaseDate, const QString &notes)
{
    // Everything that came over the network is shown as text, never as markup.
    releaseLabel->setText("<font size='5'><b>" + version.toHtmlEscaped() +
                          "</b></font> &nbsp; <font color='#666666'>(" + tr("Release date") + ": " +
                          releaseDate.toHtmlEscaped() + ")</font><br>");
    QString notesHtml = notes.toHtmlEscaped();
    notesHtml.replace('\n', "<br>");
    notesLabel->setText("<i>" + notesHtml + "</i><br>");

    const bool same = version == QString::fromLatin1(PROGRAM_VERSION);
    headerLabel->setVisible(!same);
    downloadRow->setVisible(!same);
    historyRow->setVisible(!same);
    noUpdatesLabel->setVisible(same);
    notesLabel->setVisible(!notes.isEmpty() && !same);
    adjustSize();
}

void checkUpdatesDialog::storeAutoCheck()
{
    if (optionsInstance)
        optionsInstance->misc.autoCheckUpdates = autoCheckBox->isChecked();
}

// --- the check ---

checkUpdates::checkUpdates(QWidget *window)
    : QObject(window)
    , window(window)
    , manager(new QNetworkAccessManager(this))
{
    connect(manager, &QNetworkAccessManager::finished, this, &checkUpdates::finishedSlot);
}

checkUpdates::~checkUpdates()
{
    // Deleting the manager aborts a request still on its way and frees its
    // reply.
    delete manager;
    delete dialog.data();
}

bool checkUpdates::silentCheckAllowed(bool autoCheckSetting, bool automaticRun)
{
    return autoCheckSetting && !automaticRun && qEnvironmentVariableIsEmpty("LUMIDRA_TEST_MODE");
}

void checkUpdates::doCheck(bool force)
{
    if (pending) {
        // One request at a time; a forced check made during a silent one
        // makes that one report.
        forceShow = forceShow || force;
        return;
    }
    forceShow = force;
    serviceAddress = optionsInstance ? optionsInstance->misc.updateCheckAddress : QString("https://lumidra.org");
    const QUrl url = updateRequestUrl(serviceAddress, QString::fromLatin1(PROGRAM_VERSION));
    if (!url.isValid()) {
        debugLog("checkUpdates::doCheck: refused address '%s' (https only)\n", qPrintable(serviceAddress));
        if (forceShow)
            reportFailure(tr("Cannot check for updates due to network connection or server problem."));
        emit checkFinished();
        return;
    }
    QNetworkRequest request(url);
    // A redirect may never lead from https to plain http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(REQUEST_TIMEOUT_MS);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString("Lumidra/") + PROGRAM_VERSION);
    pending = manager->get(request);
}

void checkUpdates::reportFailure(const QString &text)
{
    styledMessageBox::show(window, styledMessageBox::Error, text);
}

void checkUpdates::finishedSlot(QNetworkReply *networkReply)
{
    std::unique_ptr<QNetworkReply, replyReleaser_t> reply(networkReply);
    if (pending == networkReply)
        pending = nullptr;
    const bool force = forceShow;

    if (reply->error() != QNetworkReply::NoError) {
        debugLog("checkUpdates::finishedSlot: %s\n", qPrintable(reply->errorString()));
        if (force)
            reportFailure(tr("Cannot check for updates due to network connection or server problem."));
        emit checkFinished();
        return;
    }

    const updateReply_t answer = parseUpdateReply(reply->read(REPLY_MAX_BYTES));
    if (!answer.valid) {
        debugLog("checkUpdates::finishedSlot: malformed reply\n");
        if (force)
            reportFailure(tr("Unable to check for updates."));
        emit checkFinished();
        return;
    }

    const int newest = parseVersion(answer.version);
    const int current = parseVersion(QString::fromLatin1(PROGRAM_VERSION));
    debugLog("VERSION      = %d\n", newest);
    debugLog("THIS_VERSION = %d\n", current);
    if (current >= newest && !force) {
        emit checkFinished();
        return;
    }

    // One dialog at a time: a new answer replaces the one still open.
    delete dialog.data();
    dialog = new checkUpdatesDialog(window, serviceAddress);
    connect(dialog.data(), &QDialog::finished, dialog.data(), &QObject::deleteLater);
    dialog->setReleaseEntry(answer.version, answer.releaseDate, answer.notes);
    // Modal, but without a nested event loop: the window keeps painting and
    // the check object stays free to be deleted.
    dialog->show();
    emit checkFinished();
}
