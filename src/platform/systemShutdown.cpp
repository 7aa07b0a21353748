#include "platform/systemShutdown.h"

#include "platform/debugLog.h"

#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

namespace {

QMutex runnerMutex;
shutdownRunner_t customRunner;

bool realRunner(const QString &program, const QStringList &arguments)
{
    if (!qEnvironmentVariableIsEmpty("LUMIDRA_TEST_MODE") || !qEnvironmentVariableIsEmpty("CI")) {
        debugLog("%s: refused to run '%s' in a test or CI run\n", "systemShutdown",
                 qPrintable(program));
        return false;
    }
    return QProcess::startDetached(program, arguments);
}

} // namespace

void setShutdownRunner(shutdownRunner_t runner)
{
    QMutexLocker lock(&runnerMutex);
    customRunner = std::move(runner);
}

bool systemShutdown()
{
    shutdownRunner_t runner;
    {
        QMutexLocker lock(&runnerMutex);
        runner = customRunner;
    }
    const QString program = "systemctl";
    const QStringList arguments{"poweroff"};
    const bool ok = runner ? runner(program, arguments) : realRunner(program, arguments);
    debugLog("%s: '%s %s' %s\n", "systemShutdown", qPrintable(program),
             qPrintable(arguments.join(' ')), ok ? "requested" : "failed");
    return ok;
}
