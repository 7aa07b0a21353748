#ifndef CROSSCURSOR_H
#define CROSSCURSOR_H

// The cross cursor of the curve and colour editors: the program's bitmap
// (the "@2x" one, hot spot (31, 31), when the device pixel ratio of the
// settings record is not 1.0, else hot spot (15, 15)), or Qt's cross cursor
// when the bitmap is not among the resources.

#include <QCursor>
#include <QString>

// maskName empty: the bitmap serves as its own mask; otherwise the name of
// the mask bitmap without folder, "@2x" and extension (e.g. "cross_mask2").
QCursor makeCrossCursor(const QString &maskName = QString());

#endif // CROSSCURSOR_H
