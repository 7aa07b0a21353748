#include "widgets/widgetSupport.h"

#include "app/programOptionsSettings.h"

#include <QStyle>
#include <QWidget>

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

void repolish(QWidget *widget)
{
    if (!widget)
        return;
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

} // namespace widgetSupport
