#ifndef STYLESHEET_H
#define STYLESHEET_H

// The application style sheet is written for the Dark skin at scale 1.0.
// buildStyleSheet converts such a text (the whole sheet, or a small fragment a
// widget sets on itself) for the skin and UI scale in effect.

#include <QColor>
#include <QString>

// Converts with the UI scale and skin of the settings record (scale 1.0 and
// the Dark skin when there is no record).
QString buildStyleSheet(const QString &sheet);
// The same conversion for an explicit scale and skin (0 Dark, 1 Bright).
QString buildStyleSheet(const QString &sheet, double scale, int skin);

// The Bright-skin form of a colour; the colour itself with the Dark skin.
QColor colorLighten(const QColor &color);
QColor colorLighten(const QColor &color, int skin);

// The text of the application style sheet before conversion: "style1.css"
// in programFolder when that file exists, otherwise the built-in resource;
// cut at the first NUL byte.
QString readStyleSheetTemplate(const QString &programFolder);

#endif // STYLESHEET_H
