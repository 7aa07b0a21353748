#include "widgets/pathEdit.h"

#include "app/programOptionsSettings.h"
#include "widgets/styledMessageBox.h"
#include "app/utils.h"
#include "widgets/fileDialogs.h"
#include "widgets/widgetSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Resets a flag when the scope ends, whatever way it is left.
struct flagGuard {
    bool &flag;
    explicit flagGuard(bool &f) : flag(f) { flag = true; }
    ~flagGuard() { flag = false; }
};

} // namespace

pathEdit::pathEdit(bool directoryMode_, bool openMode_, int kind_, const QString &specialFolder_)
    : QWidget(nullptr), directoryMode(directoryMode_), openMode(openMode_), kind(kind_),
      specialFolder(specialFolder_)
{
    initWidgetResources();
    filterExr = "OpenEXR (*.exr)";
    filterHdr = "Radiance RGBE (*.hdr)";
    filterTif = "32-bit TIFF (*.tif)";
    filterSettings = tr("Lumidra settings") + " (*.lmsx)";
    if (kind == SettingsFile) {
        allowedSuffixes << "lmsx";
        filter = filterSettings;
    } else if (kind == HdrImageFile) {
        allowedSuffixes << "exr" << "hdr" << "tif";
        filter = filterExr + ";;" + filterHdr + ";;" + filterTif;
    }

    edit = new QLineEdit(this);
    auto *browseButton = new QPushButton("...", this);
    browseButton->setMaximumWidth(static_cast<int>(3.5 * browseButton->fontMetrics().horizontalAdvance("...")));
    browseButton->setFixedHeight(edit->sizeHint().height());

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit);
    layout->addWidget(browseButton);
    if (kind == SettingsFile && !specialFolder.isEmpty()) {
        auto *userButton = new QPushButton(QString(), this);
        userButton->setIcon(makeColoredIcon(":/resources/user.png"));
        userButton->setFixedSize(24, edit->sizeHint().height());
        userButton->setToolTip(tr("User presets"));
        layout->addWidget(userButton);
        connect(userButton, &QPushButton::clicked, this, &pathEdit::browseSpecial);
    }

    // The check itself reports an accepted path with changed().
    connect(edit, &QLineEdit::editingFinished, this, &pathEdit::editingDone);
    connect(browseButton, &QPushButton::clicked, this, [this]() { browse(false); });
    setError(true);
}

pathEdit::~pathEdit()
{
    // Destroying a focused line edit ends its editing: that must not reach
    // the half-destroyed editor.
    edit->blockSignals(true);
}

QString pathEdit::path() const
{
    const QString t = edit->text();
    if (t.isEmpty())
        return QString();
    return QDir::toNativeSeparators(QFileInfo(t).absoluteFilePath());
}

bool pathEdit::hasError() const
{
    return edit->property("error").toBool();
}

void pathEdit::setError(bool on)
{
    edit->setProperty("error", on);
    widgetSupport::repolish(edit);
}

void pathEdit::editingDone()
{
    // editingFinished also comes with every focus loss, including the one a
    // message box of the check causes: check only text the user changed.
    if (checking || !edit->isModified())
        return;
    edit->setModified(false);
    check(edit->text(), false);
}

bool pathEdit::validatePath(bool dontCheck)
{
    return check(edit->text(), dontCheck);
}

bool pathEdit::validatePath(const QString &text, bool dontCheck)
{
    return check(text, dontCheck);
}

QString pathEdit::validPath(bool dontCheck)
{
    return check(edit->text(), dontCheck) ? path() : QString();
}

bool pathEdit::check(const QString &p, bool dontCheck)
{
    if (checking)
        return false;
    const flagGuard guard(checking);

    edit->setText(QDir::toNativeSeparators(p));
    setError(p.isEmpty());
    if (p.isEmpty()) {
        edit->clear();
        return false;
    }
    if (dontCheck) {
        emit changed();
        return true;
    }

    setError(true);
    const QFileInfo info(p);
    const QString absolute = info.absoluteFilePath();

    const QString folder = directoryMode ? absolute : info.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        if (openMode)
            return false;
        if (styledMessageBox::show(this, styledMessageBox::Confirmation,
                                   tr("The directory doesn't exist! Do you want to create it?"),
                                   styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes)
            return false;
        if (!QDir().mkpath(folder)) {
            styledMessageBox::show(this, styledMessageBox::Error, tr("The directory cannot be created!"));
            return false;
        }
    }

    if (!directoryMode) {
        // A path ending in a separator has no file name; in the settings and
        // HDR kinds the suffix must be one of theirs.
        const bool suffixAllowed = allowedSuffixes.contains(info.suffix(), Qt::CaseInsensitive);
        if (info.fileName().isEmpty() || p.endsWith('/') || p.endsWith(QDir::separator()) ||
            (!suffixAllowed && kind != AnyFile)) {
            styledMessageBox::show(this, styledMessageBox::Error, tr("Not a valid file name or file type."));
            return false;
        }
        if (openMode) {
            if (!info.exists()) {
                styledMessageBox::show(this, styledMessageBox::Error, tr("File does not exist."));
                return false;
            }
        } else if (info.exists()) {
            // Closing the box counts as No.
            if (styledMessageBox::show(this, styledMessageBox::Confirmation,
                                       tr("File already exists. Do you want to replace it?"),
                                       styledMessageBox::Yes | styledMessageBox::No) != styledMessageBox::Yes)
                return false;
        }
    }

    if (info.isRelative())
        edit->setText(QDir::toNativeSeparators(absolute));
    setError(false);
    emit changed();
    return true;
}

void pathEdit::browseSpecial()
{
    browse(true);
}

void pathEdit::browse(bool useSpecial)
{
    const QString current = edit->text();
    const QString suffix = QFileInfo(current).suffix().toLower();
    QString selected;
    if (suffix == "exr")
        selected = filterExr;
    else if (suffix == "hdr")
        selected = filterHdr;
    else if (suffix == "tif")
        selected = filterTif;
    else if (suffix == "lmsx")
        selected = filterSettings;

    const QString start = useSpecial ? specialFolder : current.isEmpty() ? startFolder : current;
    const int dialog = directoryMode ? 0 : openMode ? 1 : 2;
    const QString title = directoryMode ? tr("Select directory") : tr("Select file");

    QString chosen;
    if (dialog == 0)
        chosen = fileDialogs::existingDirectory(nullptr, title, start);
    else if (dialog == 1)
        chosen = fileDialogs::openFileName(nullptr, title, start, filter, &selected);
    else
        chosen = fileDialogs::saveFileName(nullptr, title, start, filter, &selected);
    if (chosen.isEmpty())
        return;
    edit->setText(QDir::toNativeSeparators(chosen));
    check(chosen, false);
}
