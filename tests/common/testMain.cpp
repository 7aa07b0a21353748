// Test main shared by every test program. Before anything else it gives the
// process its own HOME, XDG_CONFIG_HOME, TMPDIR and scratch folder, so that no
// test ever touches the real user's settings, then creates a QApplication on
// the offscreen platform. Several tests may run in one process (CTest runs a
// suite per process): each test gets fresh, empty folders of its own, so no
// test sees the settings, presets or files an earlier one left behind.

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

#include "testSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define LUMIDRA_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIDRA_TEST_LSAN 1
#endif
#endif
#ifdef LUMIDRA_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const char *const folderVariables[][2] = {{"home", "HOME"},
                                          {"config", "XDG_CONFIG_HOME"},
                                          {"tmp", "TMPDIR"},
                                          {"scratch", "LUMIDRA_TEST_SCRATCH"}};

// Creates ROOT/home, config, tmp and scratch and points the environment (and
// Qt's settings paths, which Qt remembers after their first use) at them.
bool useFolders(const QString &root)
{
    for (const auto &folder : folderVariables) {
        const QString path = root + "/" + folder[0];
        if (!QDir().mkpath(path))
            return false;
        setenv(folder[1], path.toLocal8Bit().constData(), 1);
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root + "/config");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root + "/config");
    return true;
}

// Every test starts in new folders under the process's root; the suite-wide
// set-up and tear-down keep the process's own folders. The folders stay until
// the process ends (a suite may share a project whose session lives there).
class freshFoldersPerTest : public ::testing::EmptyTestEventListener
{
public:
    explicit freshFoldersPerTest(const QString &root) : root(root) {}

private:
    void OnTestStart(const ::testing::TestInfo &) override
    {
        if (!useFolders(QString("%1/test-%2").arg(root).arg(++count))) {
            std::fprintf(stderr, "cannot create the test's folders under %s\n", root.toLocal8Bit().constData());
            std::abort();
        }
    }
    void OnTestEnd(const ::testing::TestInfo &) override { useFolders(root); }

    QString root;
    int count = 0;
};

// A test whose window ended an automatic run called QCoreApplication::exit()
// without a running main loop; the next test starts outside that state, as
// a fresh program would.
class quitStateReset : public ::testing::EmptyTestEventListener
{
    void OnTestEnd(const ::testing::TestInfo &) override { testSupport::leaveQuittingState(); }
};

} // namespace

int main(int argc, char **argv)
{
    // QTemporaryDir would itself use TMPDIR; create the root by hand first.
    char rootTemplate[] = "/tmp/lumidra-test-XXXXXX";
    const char *root = mkdtemp(rootTemplate);
    if (!root) {
        std::perror("mkdtemp");
        return 2;
    }
    const QString r = QString::fromLocal8Bit(root);
    if (!useFolders(r)) {
        std::fprintf(stderr, "cannot create the test folders under %s\n", root);
        return 2;
    }
    setenv("LUMIDRA_TEST_MODE", "1", 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    ::testing::InitGoogleTest(&argc, argv);
    int rc;
    {
#ifdef LUMIDRA_TEST_LSAN
        // What the platform plugin allocates while the application starts
        // (its screen objects) is never freed by Qt. Ignoring those objects
        // here, rather than suppressing them at exit, spares every test
        // process the symbolizer run that matching a suppression costs.
        __lsan_disable();
#endif
        QApplication app(argc, argv);
#ifdef LUMIDRA_TEST_LSAN
        __lsan_enable();
#endif
        QCoreApplication::setOrganizationName("Lumidra");
        QCoreApplication::setApplicationName("Lumidra 3");
        ::testing::UnitTest::GetInstance()->listeners().Append(new freshFoldersPerTest(r));
        ::testing::UnitTest::GetInstance()->listeners().Append(new quitStateReset);
        rc = RUN_ALL_TESTS();
    }
    if (!getenv("LUMIDRA_KEEP_TEST_DIRS"))
        QDir(r).removeRecursively();
    return rc;
}
