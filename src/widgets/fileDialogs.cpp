#include "widgets/fileDialogs.h"

#include "app/programOptionsSettings.h"

#include <QMutex>
#include <QMutexLocker>

namespace fileDialogs {

namespace {

QMutex hookMutex;
hook_t &hookStorage()
{
    static hook_t hook;
    return hook;
}

hook_t currentHook()
{
    QMutexLocker lock(&hookMutex);
    return hookStorage();
}

QStringList ask(QWidget *parent, request_t request, QString *selectedFilter)
{
    if (hook_t hook = currentHook()) {
        QStringList answer = hook(request);
        answer.removeAll(QString());
        return answer;
    }
    QString chosenFilter = request.selectedFilter;
    QStringList result;
    switch (request.kind) {
    case dialogKind_t::folder: {
        const QString folder = QFileDialog::getExistingDirectory(
            parent, request.title, request.start, dialogOptions() | QFileDialog::ShowDirsOnly);
        if (!folder.isEmpty())
            result << folder;
        break;
    }
    case dialogKind_t::openFile: {
        const QString file = QFileDialog::getOpenFileName(parent, request.title, request.start,
                                                          request.filter, &chosenFilter, dialogOptions());
        if (!file.isEmpty())
            result << file;
        break;
    }
    case dialogKind_t::openFiles:
        result = QFileDialog::getOpenFileNames(parent, request.title, request.start, request.filter,
                                               &chosenFilter, dialogOptions());
        break;
    case dialogKind_t::saveFile: {
        const QString file = QFileDialog::getSaveFileName(
            parent, request.title, request.start, request.filter, &chosenFilter,
            dialogOptions() | QFileDialog::DontConfirmOverwrite);
        if (!file.isEmpty())
            result << file;
        break;
    }
    }
    if (selectedFilter && !result.isEmpty())
        *selectedFilter = chosenFilter;
    return result;
}

QString first(const QStringList &list)
{
    return list.isEmpty() ? QString() : list.first();
}

request_t makeRequest(dialogKind_t kind, const QString &title, const QString &start, const QString &filter,
                      const QString *selectedFilter)
{
    request_t request;
    request.kind = kind;
    request.title = title;
    request.start = start;
    request.filter = filter;
    if (selectedFilter)
        request.selectedFilter = *selectedFilter;
    return request;
}

} // namespace

void setHook(hook_t hook)
{
    QMutexLocker lock(&hookMutex);
    hookStorage() = std::move(hook);
}

bool hasHook()
{
    return bool(currentHook());
}

QFileDialog::Options dialogOptions()
{
    return optionsInstance ? QFileDialog::Options(optionsInstance->fileDialogOptions) : QFileDialog::Options();
}

QString existingDirectory(QWidget *parent, const QString &title, const QString &start)
{
    return first(ask(parent, makeRequest(dialogKind_t::folder, title, start, QString(), nullptr), nullptr));
}

QString openFileName(QWidget *parent, const QString &title, const QString &start, const QString &filter,
                     QString *selectedFilter)
{
    return first(ask(parent, makeRequest(dialogKind_t::openFile, title, start, filter, selectedFilter),
                     selectedFilter));
}

QStringList openFileNames(QWidget *parent, const QString &title, const QString &start, const QString &filter,
                          QString *selectedFilter)
{
    return ask(parent, makeRequest(dialogKind_t::openFiles, title, start, filter, selectedFilter), selectedFilter);
}

QString saveFileName(QWidget *parent, const QString &title, const QString &start, const QString &filter,
                     QString *selectedFilter)
{
    return first(ask(parent, makeRequest(dialogKind_t::saveFile, title, start, filter, selectedFilter),
                     selectedFilter));
}

} // namespace fileDialogs
