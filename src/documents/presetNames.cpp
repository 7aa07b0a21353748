#include "documents/presetNames.h"

bool isValidPresetName(const QString &name, int maxLength)
{
    if (name.trimmed().isEmpty() || name.size() > maxLength || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
        if (QStringLiteral("/\\<>:\"|?*").contains(c))
            return false;
    }
    return true;
}
