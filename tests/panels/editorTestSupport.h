#ifndef EDITORTESTSUPPORT_H
#define EDITORTESTSUPPORT_H

// Helpers of the curve and levels editor tests: mouse and key events sent
// straight to a widget, and readable output for point lists.

#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QMouseEvent>
#include <QPointF>
#include <QWidget>
#include <ostream>

inline void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPoint pos)
{
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

inline void moveTo(QWidget *w, QPoint pos, Qt::MouseButtons held = Qt::NoButton)
{
    sendMouse(w, QEvent::MouseMove, Qt::NoButton, held, pos);
}

// A click at pos: a move there (so the editor sees what is under the
// pointer), the press and the release.
inline void clickAt(QWidget *w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    moveTo(w, pos);
    sendMouse(w, QEvent::MouseButtonPress, button, button, pos);
    sendMouse(w, QEvent::MouseButtonRelease, button, Qt::NoButton, pos);
}

// Moves to from, presses the left button, moves in steps to to, releases.
inline void dragFromTo(QWidget *w, QPoint from, QPoint to, int steps = 4)
{
    moveTo(w, from);
    sendMouse(w, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, from);
    for (int i = 1; i <= steps; ++i)
        moveTo(w, from + (to - from) * i / steps, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, to);
}

inline void sendKey(QWidget *w, QEvent::Type type, int key, bool autoRepeat = false, const QString &text = QString())
{
    QKeyEvent e(type, key, Qt::NoModifier, text, autoRepeat);
    QApplication::sendEvent(w, &e);
}

inline void tapKey(QWidget *w, int key, const QString &text = QString())
{
    sendKey(w, QEvent::KeyPress, key, false, text);
    sendKey(w, QEvent::KeyRelease, key, false, text);
}

inline void PrintTo(const QPointF &p, std::ostream *os)
{
    *os << '(' << p.x() << ", " << p.y() << ')';
}

inline void PrintTo(const QList<QPointF> &l, std::ostream *os)
{
    *os << '[';
    for (const QPointF &p : l)
        *os << " (" << p.x() << ", " << p.y() << ')';
    *os << " ]";
}

#endif // EDITORTESTSUPPORT_H
