#ifndef WIDGETSUPPORT_H
#define WIDGETSUPPORT_H

// Small helpers shared by the widget kit: the user-interface values of the
// settings record (with their defaults when no record exists, as in tests),
// tinted icons, and the settings store used for remembered window geometry.

#include <QColor>
#include <QIcon>
#include <QString>
#include <memory>

class QSettings;
class QWidget;

// Registers the program's built-in resources (":/resources/..."). The
// resources live in a static library, so they must be registered by hand;
// safe to call any number of times from the GUI thread.
void initWidgetResources();

namespace widgetSupport {

// UI scale s of the settings record, 1.0 without a record.
double uiScale();
// trunc(px * s): every size the widget kit scales.
int scaled(double px);
// Skin in effect (0 Dark, 1 Bright), 0 without a record.
int activeSkin();
// Device pixel ratio held by the settings record, 1.0 without a record.
double devicePixelRatio();
// Whether the "@2x" image variants are to be used.
bool useHighResolutionImages();
// The resource path of an image, switched to its "@2x" variant when
// high-resolution images are in use and that variant exists.
QString imagePath(const QString &normal, const QString &highResolution);

// The image tinted by a colour for the normal, disabled and active states.
QIcon tintedIcon(const QString &imageFile, const QColor &color);
// The image tinted by the standard grey (128, 128, 128).
QIcon greyIcon(const QString &imageFile);

// A settings store for the program's root (Linux: an INI file in the user's
// configuration folder). The caller owns it; values are written when it is
// destroyed.
std::unique_ptr<QSettings> openSettingsStore();

// Re-applies the style sheet to a widget after one of the dynamic properties
// it selects on has changed.
void repolish(QWidget *widget);

} // namespace widgetSupport

#endif // WIDGETSUPPORT_H
