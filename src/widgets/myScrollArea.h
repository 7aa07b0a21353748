#ifndef MYSCROLLAREA_H
#define MYSCROLLAREA_H

// A scroll area that turns the arrow keys and typed letters into navigation
// signals instead of scrolling; other keys go on to the parent.

#include <QScrollArea>

class myScrollArea : public QScrollArea
{
    Q_OBJECT

public:
    explicit myScrollArea(QWidget *parent = nullptr) : QScrollArea(parent) {}

signals:
    void keyUp();
    void keyDown();
    void keyLeft();
    void keyRight();
    void letter(QChar ch);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

#endif // MYSCROLLAREA_H
