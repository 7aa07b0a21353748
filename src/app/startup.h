#ifndef STARTUP_H
#define STARTUP_H

// Pieces of the program start-up that main() strings together, kept apart so
// that their rules can be tested without starting the program.

#include <QRect>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The oldest Qt library the program runs with.
extern const char *const REQUIRED_QT_VERSION; // "5.6.0"

// Sets QT_SCALE_FACTOR and QT_AUTO_SCREEN_SCALE_FACTOR from the lower-cased
// arguments ("-scale <value>", "-nohidpi"); before any Qt object exists.
void applyScaleSwitches(const QStringList &lowerArgs);

// "major.minor.patch" as major x 65536 + minor x 256 + patch.
int qtVersionNumber(const QString &version);
bool qtVersionSufficient(const QString &running, const QString &required);

// Where the main window opens. maximized: the available area (one pixel
// shorter when it covers the whole screen) with a centred 800 x 570 restore
// rectangle. Otherwise the saved rectangle, unless too little of it lies in
// the available area (less than 100 x 100, or its top more than 5 pixels
// above), which gives the centred 800 x 570 rectangle.
struct startGeometry_t {
    QRect geometry;
    QRect normalGeometry; // maximized only; else the window's resulting geometry
    QRect visiblePart;    // not maximized: the saved rectangle within the available area
};
startGeometry_t computeStartGeometry(bool maximized, const QRect &saved, const QRect &available,
                                     const QRect &screenGeometry);
// A w x h rectangle centred in the area (integer division).
QRect centredRect(const QRect &area, int width = 800, int height = 570);

// A stored screen index that no longer exists becomes -1 (the primary screen).
int validScreenIndex(int stored, int screenCount);

// The process exit code: -1 after a start-up error, else the event loop's.
int startupExitCode(bool startupError, int loopResult);

// Qt's messages go to the debug log ("### Warning: ..."); a fatal one aborts.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);

// The answer the automatic run gives a message box: Cancel when offered,
// else No to a confirmation, else Ok, else Yes, else No.
int automaticRunAnswer(int kind, int buttons);

// The line the automatic run writes to standard error for a message box it
// answers itself: "Error: " or "Warning: " and the text without its markup
// (line breaks become spaces); empty for other kinds, which are only logged.
QString automaticRunStderrLine(int kind, const QString &text);

#endif // STARTUP_H
