#include "app/startup.h"

#include "app/debugLog.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstdlib>

const char *const REQUIRED_QT_VERSION = "5.6.0";

void applyScaleSwitches(const QStringList &lowerArgs)
{
    const int scale = lowerArgs.indexOf("-scale");
    if (scale < 0)
        qputenv("QT_SCALE_FACTOR", "1");
    else if (scale + 1 < lowerArgs.size())
        qputenv("QT_SCALE_FACTOR", lowerArgs[scale + 1].toLatin1());
    qputenv("QT_AUTO_SCREEN_SCALE_FACTOR", lowerArgs.contains("-nohidpi") ? "0" : "1");
}

int qtVersionNumber(const QString &version)
{
    const QStringList parts = version.split('.');
    return parts.value(0).toInt() * 65536 + parts.value(1).toInt() * 256 + parts.value(2).toInt();
}

bool qtVersionSufficient(const QString &running, const QString &required)
{
    return qtVersionNumber(running) >= qtVersionNumber(required);
}

QRect centredRect(const QRect &area, int width, int height)
{
    return QRect(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2, width,
                 height);
}

startGeometry_t computeStartGeometry(bool maximized, const QRect &saved, const QRect &availableIn,
                                     const QRect &screenGeometry)
{
    startGeometry_t g;
    QRect available = availableIn;
    if (maximized) {
        // A window exactly as high as the screen would be taken for a
        // full-screen one.
        if (available.height() == screenGeometry.height())
            available.setBottom(available.bottom() - 1);
        g.geometry = available;
        g.normalGeometry = centredRect(available);
        return g;
    }
    const int left = std::max(saved.left(), available.left());
    const int top = std::max(saved.top(), available.top());
    const int right = std::min(saved.right(), available.right());
    const int bottom = std::min(saved.bottom(), available.bottom());
    g.visiblePart = QRect(QPoint(left, top), QPoint(right, bottom));
    const int width = right - left + 1;
    const int height = bottom - top + 1;
    if (width < 100 || height < 100 || saved.top() < available.top() - 5)
        g.geometry = centredRect(available);
    else
        g.geometry = saved;
    return g;
}

int validScreenIndex(int stored, int screenCount)
{
    return (stored < 0 || stored > screenCount - 1) ? -1 : stored;
}

int startupExitCode(bool startupError, int loopResult)
{
    return startupError ? -1 : loopResult;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const QByteArray local = text.toLocal8Bit();
    switch (type) {
    case QtDebugMsg: debugLog("### Debug: %s\n", local.constData()); break;
    case QtWarningMsg: debugLog("### Warning: %s\n", local.constData()); break;
    case QtCriticalMsg: debugLog("### Critical: %s\n", local.constData()); break;
    case QtInfoMsg: debugLog("### Info: %s\n", local.constData()); break;
    case QtFatalMsg:
        debugLog("### Fatal: %s\n", local.constData());
        std::abort();
    }
}

int automaticRunAnswer(int kind, int buttons)
{
    const int OK = 1, CANCEL = 2, YES = 4, NO = 8, CONFIRMATION = 4;
    if (buttons & CANCEL)
        return CANCEL;
    if (kind == CONFIRMATION && (buttons & NO))
        return NO;
    for (int b : {OK, YES, NO})
        if (buttons & b)
            return b;
    return 0;
}

QString automaticRunStderrLine(int kind, const QString &text)
{
    const int WARNING = 2, ERROR = 3;
    if (kind != WARNING && kind != ERROR)
        return QString();
    QString plain = text;
    plain.replace(QRegularExpression(QStringLiteral("<br\\s*/?>"), QRegularExpression::CaseInsensitiveOption),
                  QStringLiteral(" "));
    plain.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    plain.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    plain.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    plain.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    plain = plain.simplified();
    return (kind == ERROR ? QStringLiteral("Error: ") : QStringLiteral("Warning: ")) + plain;
}
