#include "widgets/widgetSupport.h"

#include "app/programOptionsSettings.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cmath>

// Q_INIT_RESOURCE declares the registration function in the enclosing
// namespace, so it must be used outside any namespace.
void initWidgetResources()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    Q_INIT_RESOURCE(lumidra);
}

namespace {
// Registers the resources when the widget kit is linked in, before main().
struct resourceRegistration {
    resourceRegistration() { initWidgetResources(); }
} registerAtStart;
} // namespace

namespace widgetSupport {

double uiScale()
{
    if (!optionsInstance)
        return 1.0;
    const double s = optionsInstance->uiScale();
    return s > 0.0 ? s : 1.0;
}

int scaled(double px)
{
    return static_cast<int>(px * uiScale());
}

int activeSkin()
{
    return optionsInstance ? optionsInstance->activeSkin : 0;
}

double devicePixelRatio()
{
    if (!optionsInstance || !(optionsInstance->devicePixelRatio > 0.0))
        return 1.0;
    return optionsInstance->devicePixelRatio;
}

bool useHighResolutionImages()
{
    return devicePixelRatio() != 1.0;
}

QString imagePath(const QString &normal, const QString &highResolution)
{
    if (useHighResolutionImages() && QFile::exists(highResolution))
        return highResolution;
    return normal;
}

namespace {

// One tinted copy of the image: each colour channel scaled by the tint's
// channel and a brightness factor (in tenths); alpha stays.
QPixmap tintImage(const QImage &source, const QColor &c, int factor)
{
    QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int tint[3] = {c.red(), c.green(), c.blue()};
    for (int y = 0; y < img.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = row[x];
            const int in[3] = {qRed(p), qGreen(p), qBlue(p)};
            int out[3];
            for (int k = 0; k < 3; ++k)
                out[k] = std::min(255, tint[k] * in[k] * factor / (128 * 10));
            row[x] = qRgba(out[0], out[1], out[2], qAlpha(p));
        }
    }
    QPixmap pm = QPixmap::fromImage(img);
    pm.setDevicePixelRatio(devicePixelRatio());
    return pm;
}

} // namespace

QIcon tintedIcon(const QString &imageFile, const QColor &color)
{
    initWidgetResources();
    QImage source(imageFile);
    if (source.isNull())
        return QIcon();
    QColor c = color;
    const bool bright = activeSkin() == 1;
    if (bright && c.hsvSaturationF() > 0.05) {
        if (c == QColor(150, 150, 128)) {
            c = QColor(212, 212, 85);
        } else {
            c = c.darker(120);
            c = QColor::fromHsvF(c.hsvHueF() < 0 ? 0 : c.hsvHueF(), std::min(1.0, c.hsvSaturationF() * 5.0),
                                 std::min(1.0, c.valueF() * 1.2));
        }
    }
    const int normal = bright ? 3 : 12, disabled = bright ? 9 : 7, active = bright ? 1 : 16;
    QIcon icon;
    icon.addPixmap(tintImage(source, c, normal), QIcon::Normal, QIcon::Off);
    icon.addPixmap(tintImage(source, c, disabled), QIcon::Disabled, QIcon::Off);
    const QPixmap act = tintImage(source, c, active);
    icon.addPixmap(act, QIcon::Active, QIcon::Off);
    icon.addPixmap(act, QIcon::Selected, QIcon::Off);
    return icon;
}

QIcon greyIcon(const QString &imageFile)
{
    return tintedIcon(imageFile, QColor(128, 128, 128));
}

std::unique_ptr<QSettings> openSettingsStore()
{
    // The INI file "Lumidra/Lumidra 3.ini" in the user's configuration folder
    // (XDG_CONFIG_HOME is respected by QSettings).
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Lumidra", "Lumidra 3");
}

void repolish(QWidget *widget)
{
    if (!widget)
        return;
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

} // namespace widgetSupport
