#ifndef MYQTABWIDGET_H
#define MYQTABWIDGET_H

// The tab widget of the dock panels: reports its resizes and whether the
// mouse is over it.

#include <QTabWidget>

class myQTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit myQTabWidget(QWidget *parent = nullptr);

signals:
    void resized();
    void mouseHover(bool over);
    void optionSelected(int option);

private slots:
    void showOpts();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    double scale = 1.0;
};

#endif // MYQTABWIDGET_H
