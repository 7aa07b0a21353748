#ifndef DOCKTITLEBAR_H
#define DOCKTITLEBAR_H

// The slim title bar of the main window's docks: a tiled grip pattern and,
// at the right end, a pin icon that floats or docks the dock.

#include <QIcon>
#include <QPixmap>
#include <QWidget>

class QDockWidget;

class dockTitleBar : public QWidget
{
    Q_OBJECT

public:
    explicit dockTitleBar(QWidget *parent);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QDockWidget *dock() const;

    double scale = 1.0;
    QPixmap grip;
    QIcon pinIcon;
    QIcon unpinIcon;
};

#endif // DOCKTITLEBAR_H
