#ifndef EXTERNALEDITOR_H
#define EXTERNALEDITOR_H

// Opening a saved result in the photographer's external editor. The editor is
// started detached from an argument list, never through a shell, so a file
// name with spaces, quotes or shell characters reaches it unchanged.

#include <QString>
#include <QStringList>

// The editor's arguments: the "ExternalEditor/Args" text split like a command
// line (double quotes group words), with every "%R" replaced by the file's
// native path. The quotes around "%R" that the setting may carry are not
// needed and are removed by the splitting.
QStringList externalEditorArguments(const QString &argsSetting, const QString &filePath);

// Starts the editor; false (with reason) when the program is missing or could
// not be started.
bool startExternalEditor(const QString &editorPath, const QString &argsSetting, const QString &filePath,
                         QString *reason = nullptr);

#endif // EXTERNALEDITOR_H
