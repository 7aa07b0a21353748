#ifndef SYSTEMSHUTDOWN_H
#define SYSTEMSHUTDOWN_H

// Switching the computer off after a batch. The real action runs
// "systemctl poweroff" (an argument list, never a shell). It refuses to run
// when LUMIDRA_TEST_MODE or CI is set in the environment, so that a test or a
// CI run can never power the machine off; tests replace the runner instead.

#include <QString>
#include <QStringList>
#include <functional>

// Runs one program with its arguments detached; true when it was started.
using shutdownRunner_t = std::function<bool(const QString &program, const QStringList &arguments)>;

// Replaces the runner (an empty function restores the real one).
void setShutdownRunner(shutdownRunner_t runner);

// Asks the system to power off; true when the request was handed over.
bool systemShutdown();

#endif // SYSTEMSHUTDOWN_H
