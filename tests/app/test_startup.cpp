#include "app/startup.h"
#include "testSupport.h"

TEST(startup, exitCodeRule)
{
    const struct {
        bool error;
        int loop;
        int expected;
    } cases[] = {{false, 0, 0}, {false, 3, 3}, {true, 0, -1}, {true, 5, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(startupExitCode(c.error, c.loop), c.expected);
}

TEST(startup, scaleSwitches)
{
    const QByteArray oldScale = qgetenv("QT_SCALE_FACTOR"), oldAuto = qgetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
    const struct {
        QStringList args;
        const char *preset;
        const char *scale;
        const char *autoScale;
    } cases[] = {
        {{}, "7", "1", "1"},
        {{"-scale", "2"}, "7", "2", "1"},
        {{"a.jpg", "-scale"}, "7", "7", "1"}, // last argument: the environment stays
        {{"-nohidpi", "-scale", "1.5", "-scale", "3"}, "7", "1.5", "0"},
    };
    for (const auto &c : cases) {
        qputenv("QT_SCALE_FACTOR", c.preset);
        applyScaleSwitches(c.args);
        EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), QByteArray(c.scale)) << qPrintable(c.args.join(' '));
        EXPECT_EQ(qgetenv("QT_AUTO_SCREEN_SCALE_FACTOR"), QByteArray(c.autoScale));
    }
    qputenv("QT_SCALE_FACTOR", oldScale);
    qputenv("QT_AUTO_SCREEN_SCALE_FACTOR", oldAuto);
}

TEST(startup, qtVersionCheck)
{
    EXPECT_EQ(qtVersionNumber("5.6.0"), 5 * 65536 + 6 * 256);
    EXPECT_TRUE(qtVersionSufficient("5.15.8", "5.6.0"));
    EXPECT_TRUE(qtVersionSufficient("5.6.0", "5.6.0"));
    EXPECT_FALSE(qtVersionSufficient("5.5.1", "5.6.0"));
    EXPECT_TRUE(qtVersionSufficient(qVersion(), REQUIRED_QT_VERSION));
}

TEST(startup, screenIndex)
{
    EXPECT_EQ(validScreenIndex(5, 1), -1);
    EXPECT_EQ(validScreenIndex(0, 1), 0);
    EXPECT_EQ(validScreenIndex(1, 2), 1);
    EXPECT_EQ(validScreenIndex(-1, 2), -1);
    EXPECT_EQ(validScreenIndex(-7, 2), -1);
}

TEST(startup, windowGeometry)
{
    const QRect screen(0, 0, 1920, 1080);
    const QRect withTaskbar(0, 0, 1920, 1040);
    const QRect centred(560, 235, 800, 570); // in withTaskbar
    const struct {
        const char *name;
        bool maximized;
        QRect saved;
        QRect available;
        QRect geometry;
        QRect normal;
    } cases[] = {
        {"maximizedTaskbar", true, QRect(), withTaskbar, withTaskbar, centred},
        {"maximizedNoTaskbarOnePixelShorter", true, QRect(), screen, QRect(0, 0, 1920, 1079), QRect(560, 254, 800, 570)},
        {"savedInside", false, QRect(100, 100, 900, 700), withTaskbar, QRect(100, 100, 900, 700), QRect()},
        {"overlapsEdgeButMostlyVisible", false, QRect(1500, 3, 900, 700), withTaskbar, QRect(1500, 3, 900, 700), QRect()},
        {"tooNarrow", false, QRect(100, 100, 50, 700), withTaskbar, centred, QRect()},
        {"topTooHigh", false, QRect(100, -10, 900, 700), withTaskbar, centred, QRect()},
        {"offScreen", false, QRect(3000, 100, 900, 700), withTaskbar, centred, QRect()},
        {"fiveAboveIsFine", false, QRect(100, -5, 900, 700), withTaskbar, QRect(100, -5, 900, 700), QRect()},
    };
    for (const auto &c : cases) {
        const startGeometry_t g = computeStartGeometry(c.maximized, c.saved, c.available, screen);
        EXPECT_EQ(g.geometry, c.geometry) << c.name;
        if (c.maximized) {
            EXPECT_EQ(g.normalGeometry, c.normal) << c.name;
        }
    }
}

TEST(startup, automaticRunAnswersTheSafeChoice)
{
    const int OK = 1, CANCEL = 2, YES = 4, NO = 8;
    const struct {
        int kind;
        int buttons;
        int expected;
    } cases[] = {
        {1, OK, OK},
        {3, OK, OK},
        {4, YES | NO, NO},
        {4, YES | NO | CANCEL, CANCEL},
        {2, OK | CANCEL, CANCEL},
        {1, YES | NO, YES}, // the log notice: keep going as configured
        {4, 0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(automaticRunAnswer(c.kind, c.buttons), c.expected) << c.kind << "/" << c.buttons;
}

// The automatic run shows no box: errors and warnings go to standard error
// as plain text, other kinds only to the log.
TEST(startup, automaticRunWritesErrorsAndWarningsPlain)
{
    const struct {
        int kind;
        const char *text;
        const char *expected;
    } cases[] = {
        {3, "Failed to load: <br><br>a.jpg<br>b.jpg.", "Error: Failed to load: a.jpg b.jpg."},
        {3, "Failed to load: x.tif.<br><br>unsupported TIFF format (tiled)", "Error: Failed to load: x.tif. "
                                                                               "unsupported TIFF format (tiled)"},
        {2, "Remove <b>a &amp; b</b>?", "Warning: Remove a & b?"},
        {1, "Saved.", ""},
        {4, "Are you sure?", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(automaticRunStderrLine(c.kind, c.text).toStdString(), std::string(c.expected)) << c.text;
}
