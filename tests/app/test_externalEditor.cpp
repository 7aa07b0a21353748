#include "app/externalEditor.h"
#include "testSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QElapsedTimer>

TEST(externalEditor, argumentsCarryThePathUnchanged)
{
    const struct { const char *setting; const char *path; QStringList expected; } cases[] = {
        {"%R", "/a b/c.tif", {"/a b/c.tif"}},
        {"\"%R\"", "/a b/c.tif", {"/a b/c.tif"}},
        {"-n --open \"%R\"", "/x/it's $(rm).tif", {"-n", "--open", "/x/it's $(rm).tif"}},
        {"", "/x/c.tif", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(externalEditorArguments(c.setting, c.path), c.expected) << c.setting;
}

TEST(externalEditor, startsTheConfiguredProgramWithTheFile)
{
    const QString dir = testSupport::freshDir();
    const QString marker = dir + "/opened.txt";
    const QString script = dir + "/editor.sh";
    ASSERT_TRUE(testSupport::writeFile(script, QString("#!/bin/sh\nprintf '%s' \"$1\" > '%1.part' && mv '%1.part' '%1'\n")
                                                   .arg(marker).toUtf8()));
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString image = dir + "/my result.tif";
    QString why;
    ASSERT_TRUE(startExternalEditor(script, "\"%R\"", image, &why)) << qPrintable(why);
    // The editor runs detached: wait for its marker file (bounded).
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(marker) && timer.elapsed() < 20000)
        QThread::yieldCurrentThread();
    EXPECT_EQ(testSupport::readFile(marker), image.toUtf8());

    EXPECT_FALSE(startExternalEditor(dir + "/missing-editor", "%R", image, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(startExternalEditor(dir, "%R", image));   // a folder is no program
}
