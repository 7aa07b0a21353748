#include "app/debugLog.h"
#include "app/startup.h"
#include "app/programOptionsSettings.h"
#include "platform/platformSettings.h"
#include "testSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

namespace {

class debugLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        optionsInstance = nullptr;
        folder = testSupport::freshDir();
        platformSettings()->setValue("Installer/UserFolder", folder);
        logFile = folder + "/Lumidra3_debug_log.txt";
    }
    void TearDown() override
    {
        QCoreApplication::processEvents(); // run any queued notice now
        setDebugLogNotice(nullptr);
        platformSettings()->remove("LogToFile");
        platformSettings()->remove("Installer");
        debugLogReset();
    }
    void startRun(const QVariant &logToFile)
    {
        if (logToFile.isValid())
            platformSettings()->setValue("LogToFile", logToFile);
        else
            platformSettings()->remove("LogToFile");
        debugLogReset();
    }
    QString folder;
    QString logFile;
};

} // namespace

TEST_F(debugLogTest, nothingIsWrittenUnlessLogToFileIs2)
{
    int notices = 0;
    setDebugLogNotice([&](const QString &) { ++notices; return 4; });
    for (const QVariant &value : {QVariant(), QVariant(1), QVariant(0), QVariant(3), QVariant("on")}) {
        startRun(value);
        debugLog("%s: line\n", "debugLogTest::off");
        QCoreApplication::processEvents();
        EXPECT_FALSE(QFile::exists(logFile)) << qPrintable(value.toString());
    }
    EXPECT_EQ(notices, 0);
}

TEST_F(debugLogTest, firstLineStartsANewFileAndQueuesTheNotice)
{
    ASSERT_TRUE(testSupport::writeFile(logFile, "old run\n"));
    QString noticeText;
    setDebugLogNotice([&](const QString &text) { noticeText = text; return 4; });
    startRun(2);
    debugLog("%s: first %d\n", "debugLogTest::on", 1);
    debugLog("%s: second\n", "debugLogTest::on");
    EXPECT_TRUE(noticeText.isEmpty()) << "the notice waits for the event loop";
    QCoreApplication::processEvents();
    EXPECT_EQ(testSupport::readFile(logFile), "debugLogTest::on: first 1\ndebugLogTest::on: second\n");
    EXPECT_TRUE(noticeText.startsWith("Logging to: " + logFile + ". Press \"Yes\" to continue"));
    EXPECT_EQ(platformSettings()->value("LogToFile").toInt(), 2) << "Yes keeps logging on";
    EXPECT_EQ(debugLogFilePath(), logFile);
}

TEST_F(debugLogTest, noticeFromAWorkerRunsOnTheGuiThreadAndNeverBlocksIt)
{
    std::atomic<bool> shown{false};
    QThread *noticeThread = nullptr;
    setDebugLogNotice([&](const QString &) {
        noticeThread = QThread::currentThread();
        shown = true;
        return 8; // No: switch logging off for later runs
    });
    startRun(2);
    std::thread worker([] { debugLog("%s: from a worker\n", "debugLogTest::worker"); });
    worker.join(); // returns although nobody answered yet
    EXPECT_FALSE(shown);
    QCoreApplication::processEvents();
    ASSERT_TRUE(shown);
    EXPECT_EQ(noticeThread, QCoreApplication::instance()->thread());
    EXPECT_EQ(platformSettings()->value("LogToFile").toInt(), 1);
    debugLog("%s: still logging this run\n", "debugLogTest::worker");
    EXPECT_EQ(testSupport::readFile(logFile),
              "debugLogTest::worker: from a worker\ndebugLogTest::worker: still logging this run\n");
}

TEST_F(debugLogTest, linesFromManyThreadsNeverInterleave)
{
    startRun(2);
    const int THREADS = 8, LINES = 200;
    const std::string padding(300, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([t, &padding] {
            for (int i = 0; i < LINES; ++i)
                debugLog("T%02d-L%04d-%s-end\n", t, i, padding.c_str());
        });
    for (auto &th : threads)
        th.join();

    const QList<QByteArray> lines = testSupport::readFile(logFile).split('\n');
    ASSERT_EQ(lines.size(), THREADS * LINES + 1);
    EXPECT_TRUE(lines.last().isEmpty());
    const QRegularExpression whole(QString("^T(\\d\\d)-L(\\d{4})-x{300}-end$"));
    std::vector<int> next(THREADS, 0);
    for (int i = 0; i < THREADS * LINES; ++i) {
        const auto m = whole.match(QString::fromLatin1(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << "line " << i << ": " << lines[i].left(80).constData();
        const int t = m.captured(1).toInt();
        EXPECT_EQ(m.captured(2).toInt(), next[t]++) << "each thread's lines stay in order";
    }
}

TEST_F(debugLogTest, longMessagesAreCut)
{
    startRun(2);
    const std::string huge(5000, 'y');
    debugLog("%s\n", huge.c_str());
    EXPECT_EQ(testSupport::readFile(logFile), QByteArray(2047, 'y'));
}

TEST(debugLogToggle, flipsStoredValue)
{
    const struct {
        QVariant stored;
        bool force;
        int expected;
    } cases[] = {{QVariant(), false, 2}, {1, false, 2}, {2, false, 1}, {2, true, 2}, {7, false, 2}};
    for (const auto &c : cases) {
        if (c.stored.isValid())
            platformSettings()->setValue("LogToFile", c.stored);
        else
            platformSettings()->remove("LogToFile");
        toggleLogToFileSetting(c.force);
        EXPECT_EQ(platformSettings()->value("LogToFile").toInt(), c.expected);
    }
    platformSettings()->remove("LogToFile");
}

TEST_F(debugLogTest, qtMessagesAreRoutedIntoTheLog)
{
    startRun(2);
    qInstallMessageHandler(messageHandler);
    qWarning("something odd %d", 7);
    qInfo("note");
    qInstallMessageHandler(nullptr);
    EXPECT_EQ(testSupport::readFile(logFile), "### Warning: something odd 7\n### Info: note\n");
}
