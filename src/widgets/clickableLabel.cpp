#include "widgets/clickableLabel.h"

#include <QContextMenuEvent>
#include <QMouseEvent>

clickableLabel::clickableLabel(const QString &text, bool clickable) : QLineEdit(text, nullptr)
{
    setReadOnly(true);
    setProperty(clickable ? "editableLabelClickable" : "editableLabel", true);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QLineEdit::selectionChanged, this, &clickableLabel::deselectMe);
}

void clickableLabel::deselectMe()
{
    if (hasSelectedText())
        deselect();
}

void clickableLabel::contextMenuEvent(QContextMenuEvent *event)
{
    event->ignore();
}

void clickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    emit clicked();
    QLineEdit::mouseReleaseEvent(event);
}
