#ifndef SPINNER_H
#define SPINNER_H

// The animated busy indicator laid over views: a ring of twelve dots whose
// highlight runs forward while the ring turns slowly backwards. It never
// takes mouse input.

#include <QTimer>
#include <QWidget>

class spinner : public QWidget
{
    Q_OBJECT

public:
    explicit spinner(QWidget *parent);

    int currentSegment() const { return segment; }

private slots:
    void timerSlot();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer timer;
    int segmentCount = 12;
    int segmentRadius = 6;
    int segment = 0;
    double rotation = 0.0;
};

#endif // SPINNER_H
