#include "testSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>

namespace testSupport {

QString scratchDir()
{
    return QString::fromLocal8Bit(qgetenv("LUMIDRA_TEST_SCRATCH"));
}

QString freshDir(const QString &name)
{
    QString leaf = name;
    if (leaf.isEmpty()) {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        leaf = info ? QString("%1.%2").arg(info->test_suite_name(), info->name()) : QString("misc");
        leaf.replace('/', '_');
    }
    QDir dir(scratchDir() + "/" + leaf);
    dir.removeRecursively();
    QDir().mkpath(dir.path());
    return dir.path();
}

QString testDataDir()
{
    QByteArray env = qgetenv("LUMIDRA_TESTDATA");
    QString dir = env.isEmpty() ? QString(LUMIDRA_TESTDATA_DIR) : QString::fromLocal8Bit(env);
    QFileInfo fi(dir);
    return fi.isDir() ? fi.absoluteFilePath() : QString();
}

QString testDataFile(const QString &relative)
{
    const QString dir = testDataDir();
    if (dir.isEmpty())
        return QString();
    const QString path = dir + "/" + relative;
    return QFileInfo::exists(path) ? path : QString();
}

QString sourceDir() { return QString(LUMIDRA_SOURCE_DIR); }
QString binaryDir() { return QString(LUMIDRA_BINARY_DIR); }

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool applicationQuitting()
{
    // A loop started in the quitting state returns -1 before it runs.
    QEventLoop probe;
    QTimer::singleShot(0, &probe, [&probe] { probe.exit(0); });
    return probe.exec() == -1;
}

void leaveQuittingState()
{
    if (!QCoreApplication::instance() || !applicationQuitting())
        return;
    // QCoreApplication::exec() clears the state when it starts and ends.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

} // namespace testSupport
