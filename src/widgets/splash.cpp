#include "widgets/splash.h"

#include "app/debugLog.h"
#include "widgets/widgetSupport.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

namespace {

constexpr int visibleSteps = 60;
constexpr int lastStep = 100;

QRect screenArea(int number, bool available)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    QScreen *screen = (number >= 0 && number < screens.size()) ? screens.at(number) : QGuiApplication::primaryScreen();
    if (!screen)
        return QRect(0, 0, 800, 600);
    return available ? screen->availableGeometry() : screen->geometry();
}

} // namespace

splash::splash(int screenNumber, bool fastFade)
    : QLabel(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      screen(screenNumber), fast(fastFade)
{
    initWidgetResources();
    const double ratio = widgetSupport::devicePixelRatio();
    QImage image(widgetSupport::useHighResolutionImages() ? ":resources/splash@2x.png" : ":resources/splash.png");
    if (image.isNull()) {
        image = QImage(500, 300, QImage::Format_ARGB32);
        image.fill(QColor(230, 230, 230));
    }
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = static_cast<int>(image.width() / ratio);
    const int h = static_cast<int>(image.height() / ratio);
    setFixedSize(w, h);
    centerOn(screenArea(-1, false));

    {
        // The text is drawn in logical coordinates of the picture.
        image.setDevicePixelRatio(ratio);
        QPainter p(&image);
        p.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
        p.setPen(QColor(0x60, 0x60, 0x60));
        // Alignment value 164: horizontally centred in its band.
        const int centred = Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter;
        QFont bold("Segoe UI, Tahoma");
        bold.setPixelSize(17);
        bold.setBold(true);
        QFont small("Segoe UI, Tahoma");
        small.setPixelSize(11);
        p.setFont(bold);
        p.drawText(QRect(0, 135, w, 20), centred, tr("Version") + QString(": %1").arg(LUMIDRA_VERSION));
        p.setFont(small);
        p.drawText(QRect(0, 155, w, 20), centred, tr("Release date") + QString(": %1").arg("12.2017"));
        p.drawText(QRect(0, h - 35, w, 20), centred, tr("High dynamic range photography"));
    }
    setPixmap(QPixmap::fromImage(image));
    setAttribute(Qt::WA_TranslucentBackground);
    steps = 0;
}

splash::~splash()
{
    debugLog("Splashscreen destroyed\n");
}

void splash::centerOn(const QRect &a)
{
    move(a.left() + (a.width() - width()) / 2, a.top() + (a.height() - height()) / 2);
}

void splash::start()
{
    setEnabled(true);
    steps = 0;
    setWindowOpacity(1.0);
    show();
}

void splash::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        centerOn(screenArea(screen, true));
    QLabel::showEvent(event);
}

void splash::startHiding()
{
    // A click may already have started the fade; a second timer would step
    // twice as fast and report the end twice.
    if (hiding)
        return;
    activateWindow();
    fadeTimer = new QTimer(this);
    connect(fadeTimer, &QTimer::timeout, this, &splash::hidingStep);
    fadeTimer->start(fast ? 3 : 20);
    hiding = true;
}

void splash::hidingStep()
{
    ++steps;
    if (steps >= visibleSteps)
        setWindowOpacity(1.0 - (steps - visibleSteps) / double(lastStep - visibleSteps));
    if (steps >= lastStep) {
        fadeTimer->stop();
        // The receiver may delete the splash: nothing may follow the emit.
        emit finished(this);
    }
}

void splash::mousePressEvent(QMouseEvent *)
{
    if (hiding)
        return;
    steps = visibleSteps;
    startHiding();
}
