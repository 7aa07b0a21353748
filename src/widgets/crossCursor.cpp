#include "widgets/crossCursor.h"

#include "widgets/widgetSupport.h"

#include <QBitmap>

QCursor makeCrossCursor(const QString &maskName)
{
    initWidgetResources();
    const bool hi = widgetSupport::devicePixelRatio() != 1.0;
    const QString suffix = hi ? QStringLiteral("@2x.bmp") : QStringLiteral(".bmp");
    const QBitmap bitmap(QStringLiteral(":/resources/cursors/cross") + suffix);
    if (bitmap.isNull())
        return QCursor(Qt::CrossCursor);
    QBitmap mask = bitmap;
    if (!maskName.isEmpty()) {
        const QBitmap m(QStringLiteral(":/resources/cursors/") + maskName + suffix);
        if (!m.isNull() && m.size() == bitmap.size())
            mask = m;
    }
    const int hot = hi ? 31 : 15;
    return QCursor(bitmap, mask, hot, hot);
}
