#include "widgets/myScrollArea.h"

#include <QKeyEvent>

void myScrollArea::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        emit keyLeft();
        event->accept();
        return;
    case Qt::Key_Up:
        emit keyUp();
        event->accept();
        return;
    case Qt::Key_Right:
        emit keyRight();
        event->accept();
        return;
    case Qt::Key_Down:
        emit keyDown();
        event->accept();
        return;
    default:
        break;
    }
    const QString text = event->text();
    if (!text.isEmpty()) {
        const QChar ch = text.at(0).toLower();
        if (ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) {
            emit letter(ch);
            event->accept();
            return;
        }
    }
    event->ignore();
}
