#ifndef FILEDIALOGS_H
#define FILEDIALOGS_H

// Every open and save dialog of the program goes through these functions.
// Tests and the automatic command-line run install a hook: while one is set no
// dialog opens and the hook's answer is returned at once (an empty list means
// the dialog was cancelled). The dialog options come from the settings record
// (native or Qt dialogs).

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <functional>

namespace fileDialogs {

enum class dialogKind_t { folder, openFile, openFiles, saveFile };

struct request_t
{
    dialogKind_t kind = dialogKind_t::openFile;
    QString title;
    QString start;           // folder or file the dialog opens at
    QString filter;          // "Images (*.jpg *.tif);;All files (*)"
    QString selectedFilter;  // the filter chosen first
};

using hook_t = std::function<QStringList(const request_t &request)>;

// Installs (or with an empty function removes) the hook; thread-safe.
void setHook(hook_t hook);
bool hasHook();

// The options every dialog uses (native or Qt dialogs, from the settings).
QFileDialog::Options dialogOptions();

// Each returns "" (or an empty list) when the dialog was cancelled.
// selectedFilter, when given, receives the filter the user chose.
QString existingDirectory(QWidget *parent, const QString &title, const QString &start);
QString openFileName(QWidget *parent, const QString &title, const QString &start,
                     const QString &filter, QString *selectedFilter = nullptr);
QStringList openFileNames(QWidget *parent, const QString &title, const QString &start,
                          const QString &filter, QString *selectedFilter = nullptr);
// The dialog never asks about overwriting: the callers check and ask themselves.
QString saveFileName(QWidget *parent, const QString &title, const QString &start,
                     const QString &filter, QString *selectedFilter = nullptr);

} // namespace fileDialogs

#endif
