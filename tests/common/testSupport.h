#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

// Helpers shared by every test program: the isolated scratch folder the test
// main prepared, and the real sample files of the shared test data folder.

#include <QString>
#include <gtest/gtest.h>

namespace testSupport {

// A folder private to the running test (outside a test: to this test process);
// removed when the process ends.
QString scratchDir();

// A fresh, empty sub-folder of scratchDir() named after the running test.
QString freshDir(const QString &name = QString());

// Folder of the shared sample files, or an empty string when it is absent.
QString testDataDir();

// Path of one sample file (relative to the sample folder), or an empty string
// when the folder or the file is absent.
QString testDataFile(const QString &relative);

// Source folder of the project (for resources the tests read).
QString sourceDir();

// Build folder (where the program's side files are generated).
QString binaryDir();

// Writes bytes to a file, returns success.
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// Whether QCoreApplication::exit() has been called while no
// QCoreApplication::exec() ran (the program's automatic run ends that way).
// Qt then keeps the thread in its quitting state: every later event loop, a
// modal dialog's included, returns at once.
bool applicationQuitting();
// Leaves that state the way the program's own main loop would (a short
// QCoreApplication::exec()); does nothing when the application is not
// quitting. The test main calls it after every test.
void leaveQuittingState();

} // namespace testSupport

// Skips the running test with a message when the shared sample folder is absent.
#define LUMIDRA_REQUIRE_TESTDATA()                                                          \
    do {                                                                                    \
        if (testSupport::testDataDir().isEmpty())                                           \
            GTEST_SKIP() << "shared test data folder not found; real-file test skipped";    \
    } while (0)

#endif // TESTSUPPORT_H
