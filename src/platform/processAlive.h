#ifndef PROCESSALIVE_H
#define PROCESSALIVE_H

// Whether a process of this machine still runs: used at start-up to tell the
// temporary folders of running copies of the program (kept) from those left
// behind by copies that ended or were killed (removed).

#include <QDateTime>
#include <QtGlobal>

// True while process pid exists and was started no later than notAfter (a
// process started later only reuses the number of one that has ended). An
// invalid notAfter skips the start-time check.
bool processAlive(qint64 pid, const QDateTime &notAfter = QDateTime());

// The start time of process pid, read from the system; invalid when unknown.
QDateTime processStartTime(qint64 pid);

#endif // PROCESSALIVE_H
