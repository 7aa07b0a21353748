#include "app/utils.h"
#include "platform/platformSettings.h"
#include "platform/systemShutdown.h"
#include "testSupport.h"

#include <QFileInfo>

// Restores an environment variable when the test ends.
class envGuard
{
public:
    explicit envGuard(const char *name) : name(name), had(qEnvironmentVariableIsSet(name)), old(qgetenv(name)) {}
    ~envGuard()
    {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    }

private:
    const char *name;
    bool had;
    QByteArray old;
};

TEST(platformSettings, writesWhereXdgConfigHomePoints)
{
    envGuard guard("XDG_CONFIG_HOME");
    const QString config = testSupport::freshDir();
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());

    const QString expected = config + "/Lumidra/Lumidra 3.ini";
    EXPECT_EQ(platformSettingsPath(), expected);
    {
        auto settings = platformSettings();
        settings->setValue("Misc/Probe", 42);
        settings->setValue("WindowMaximized", true);
    }
    ASSERT_TRUE(QFileInfo::exists(expected));
    const QByteArray text = testSupport::readFile(expected);
    EXPECT_TRUE(text.contains("[Misc]"));
    EXPECT_TRUE(text.contains("Probe=42"));
    EXPECT_EQ(platformSettings()->value("WindowMaximized").toBool(), true);
    // Never the Windows registry path, never a file named after it.
    EXPECT_FALSE(platformSettingsPath().contains("HKEY_"));
}

TEST(platformSettings, eachCallSeesTheOthersWrites)
{
    platformSettings()->setValue("Test/Shared", "a");
    EXPECT_EQ(platformSettings()->value("Test/Shared").toString(), "a");
    platformSettings()->remove("Test");
}

TEST(systemShutdown, replacedRunnerGetsArgumentList)
{
    QString program;
    QStringList arguments;
    setShutdownRunner([&](const QString &p, const QStringList &a) {
        program = p;
        arguments = a;
        return true;
    });
    EXPECT_TRUE(shutdownWindows());
    setShutdownRunner(nullptr);
    EXPECT_EQ(program, "systemctl");
    EXPECT_EQ(arguments, QStringList{"poweroff"});
}

TEST(systemShutdown, realRunnerRefusesInTestMode)
{
    // The test main sets LUMIDRA_TEST_MODE; make sure before calling the real thing.
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("LUMIDRA_TEST_MODE"));
    setShutdownRunner(nullptr);
    EXPECT_FALSE(systemShutdown());
}
