#include "widgets/myQTabWidget.h"

#include "widgets/widgetSupport.h"

myQTabWidget::myQTabWidget(QWidget *parent) : QTabWidget(parent), scale(widgetSupport::uiScale()) {}

void myQTabWidget::showOpts()
{
    emit optionSelected(0);
}

void myQTabWidget::resizeEvent(QResizeEvent *event)
{
    emit resized();
    QTabWidget::resizeEvent(event);
}

void myQTabWidget::enterEvent(QEvent *event)
{
    emit mouseHover(true);
    QTabWidget::enterEvent(event);
}

void myQTabWidget::leaveEvent(QEvent *event)
{
    emit mouseHover(false);
    QTabWidget::leaveEvent(event);
}
