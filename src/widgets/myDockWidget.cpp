#include "widgets/myDockWidget.h"

#include <QCloseEvent>
#include <QShowEvent>

void myDockWidget::closeEvent(QCloseEvent *event)
{
    closed = true;
    QDockWidget::closeEvent(event);
}

void myDockWidget::showEvent(QShowEvent *event)
{
    closed = false;
    QDockWidget::showEvent(event);
}
