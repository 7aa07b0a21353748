#ifndef MYDOCKWIDGET_H
#define MYDOCKWIDGET_H

// A dock widget that remembers whether the user closed it: closing sets the
// closed flag, showing clears it.

#include <QDockWidget>

class myDockWidget : public QDockWidget
{
    Q_OBJECT

public:
    explicit myDockWidget(const QString &title = QString(), QWidget *parent = nullptr)
        : QDockWidget(title, parent)
    {
    }

    bool isClosed() const { return closed; }
    // The layout reset forgets that the user closed the dock.
    void clearClosed() { closed = false; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool closed = false;
};

#endif // MYDOCKWIDGET_H
