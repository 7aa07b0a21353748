#include "app/externalEditor.h"

#include "app/debugLog.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

QStringList externalEditorArguments(const QString &argsSetting, const QString &filePath)
{
    const QString nativePath = QDir::toNativeSeparators(filePath);
    QStringList args = QProcess::splitCommand(argsSetting);
    for (QString &a : args)
        a.replace(QStringLiteral("%R"), nativePath);
    return args;
}

bool startExternalEditor(const QString &editorPath, const QString &argsSetting, const QString &filePath,
                         QString *reason)
{
    debugLog("Export to external editor: '%s'\n", qPrintable(editorPath));
    debugLog("* fn = '%s'\n", qPrintable(QDir::toNativeSeparators(filePath)));
    const QFileInfo editor(editorPath);
    if (editorPath.isEmpty() || !editor.exists() || !editor.isExecutable() || editor.isDir()) {
        if (reason)
            *reason = QStringLiteral("the editor program was not found or may not be run");
        return false;
    }
    if (!QProcess::startDetached(editorPath, externalEditorArguments(argsSetting, filePath))) {
        if (reason)
            *reason = QStringLiteral("the editor program could not be started");
        return false;
    }
    return true;
}
