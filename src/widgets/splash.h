#ifndef SPLASH_H
#define SPLASH_H

// The splash screen shown while the main window is being built: the splash
// picture with the version and release date painted on it. After
// startHiding() it stays fully visible for 60 timer steps and fades out over
// 40 more, then reports finished(itself); the receiver deletes it.

#include <QLabel>

class QTimer;

class splash : public QLabel
{
    Q_OBJECT

public:
    // screenNumber: the screen to centre on (-1 or unknown: the primary one);
    // fast: a short fade (plug-in mode).
    splash(int screenNumber, bool fast);
    ~splash() override;

    int stepCount() const { return steps; }
    bool isHiding() const { return hiding; }

signals:
    void finished(QWidget *splashWidget);

public slots:
    void start();
    void startHiding();

private slots:
    void hidingStep();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void centerOn(const QRect &area);

    int screen = -1;
    int steps = 0;
    QTimer *fadeTimer = nullptr;
    bool fast = false;
    bool hiding = false;
};

#endif // SPLASH_H
