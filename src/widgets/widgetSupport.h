#ifndef WIDGETSUPPORT_H
#define WIDGETSUPPORT_H

// Small helpers shared by the widget kit: the user-interface values of the
// settings record (with their defaults when no record exists, as in tests)
// and the re-polish after a style property changed.

#include <QString>

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
// Re-applies the style sheet to a widget after one of the dynamic properties
// it selects on has changed.
void repolish(QWidget *widget);

} // namespace widgetSupport

#endif // WIDGETSUPPORT_H
