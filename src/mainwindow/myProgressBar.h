#ifndef MYPROGRESSBAR_H
#define MYPROGRESSBAR_H

// The status bar's progress bar: a plain progress bar that asks for all the
// free width of the status bar.

#include <QProgressBar>

class myProgressBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit myProgressBar(QWidget *parent = nullptr) : QProgressBar(parent) {}
    QSize sizeHint() const override;
};

#endif // MYPROGRESSBAR_H
