#ifndef SESSIONFOLDERS_H
#define SESSIONFOLDERS_H

// Names of the projects' session folders in the scratch-pad folder and the
// start-up cleaning of the folders left behind by processes that ended.

#include <QDateTime>
#include <QString>

// Session folder name: the prefix, the creation time to the millisecond and
// "_p" + the id of the process that owns it.
QString sessionFolderName(const QDateTime &created, qint64 pid);
// The owner's process id from a session folder name; 0 when it names none.
qint64 sessionOwnerPid(const QString &name);
// At start-up: removes, with everything in them, the session folders of the
// scratch-pad folder whose process has ended (a process with the same id
// started after the folder does not own it), keeps those of running
// processes; folders naming no owner are cleaned by age (SESSION_MAX_AGE_HOURS).
void cleanupStaleSessions(const QString &scratch);

#endif // SESSIONFOLDERS_H
