// Test main shared by every test program. Before anything else it gives the
// process its own HOME, XDG_CONFIG_HOME, TMPDIR and scratch folder, so that no
// test ever touches the real user's settings, then creates a QApplication on
// the offscreen platform.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
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
    for (const char *sub : {"home", "config", "tmp", "scratch"})
        QDir().mkpath(r + "/" + sub);
    setenv("HOME", (r + "/home").toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (r + "/config").toLocal8Bit().constData(), 1);
    setenv("TMPDIR", (r + "/tmp").toLocal8Bit().constData(), 1);
    setenv("LUMIDRA_TEST_SCRATCH", (r + "/scratch").toLocal8Bit().constData(), 1);
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
        ::testing::UnitTest::GetInstance()->listeners().Append(new quitStateReset);
        rc = RUN_ALL_TESTS();
    }
    if (!getenv("LUMIDRA_KEEP_TEST_DIRS"))
        QDir(r).removeRecursively();
    return rc;
}
