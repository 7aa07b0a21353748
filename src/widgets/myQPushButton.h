#ifndef MYQPUSHBUTTON_H
#define MYQPUSHBUTTON_H

// A panel header button (visibility switch or padlock) that draws a one-pixel
// seam on one edge, joining it visually to the header beside it. The seam
// follows the checked and enabled state and disappears while hovered.

#include <QImage>
#include <QPushButton>
#include <memory>

class myQPushButton : public QPushButton
{
    Q_OBJECT

public:
    // seamOnLeft: the seam on the left edge (padlock), else the right edge
    // (visibility switch).
    explicit myQPushButton(bool seamOnLeft, QWidget *parent = nullptr);

    bool isHovered() const { return hovered; }
    bool seamIsOnLeft() const { return seamLeft; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void buildSeams(int n);

    std::unique_ptr<QImage> checkedSeam;
    std::unique_ptr<QImage> disabledSeam;
    std::unique_ptr<QImage> normalSeam;
    bool hovered = false;
    bool seamLeft = false;
};

#endif // MYQPUSHBUTTON_H
