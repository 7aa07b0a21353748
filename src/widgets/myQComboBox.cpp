#include "widgets/myQComboBox.h"

#include "widgets/widgetSupport.h"

#include <QKeyEvent>

void setCheckedProperty(QWidget *widget, bool checked)
{
    if (!widget)
        return;
    widget->setProperty("checked", checked);
    widgetSupport::repolish(widget);
}

myQComboBox::myQComboBox(QWidget *parent) : QComboBox(parent)
{
    connect(this, qOverload<int>(&QComboBox::currentIndexChanged), this, &myQComboBox::currentIndexChangedSlot);
}

void myQComboBox::currentIndexChangedSlot(int i)
{
    if (markChoice)
        ::setCheckedProperty(this, i != 0);
}

void myQComboBox::setCheckedProperty(int index)
{
    if (markChoice)
        ::setCheckedProperty(this, index != 0);
    setCurrentIndex(index);
}

void myQComboBox::focusInEvent(QFocusEvent *event)
{
    emit focusIn();
    QComboBox::focusInEvent(event);
}

void myQComboBox::focusOutEvent(QFocusEvent *event)
{
    emit focusOut();
    QComboBox::focusOutEvent(event);
}

void myQComboBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        emit returnKeyPressed();
        return;
    }
    QComboBox::keyPressEvent(event);
}
