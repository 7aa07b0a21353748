#include "platform/platformSettings.h"

#include <QDir>
#include <QStandardPaths>

QString platformSettingsPath()
{
    // GenericConfigLocation follows XDG_CONFIG_HOME (read on every call) and
    // falls back to ~/.config; it never depends on the application name, so
    // the tests and the program agree on the file whatever names they set.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return base + "/Lumidra/Lumidra 3.ini";
}

std::unique_ptr<QSettings> platformSettings()
{
    return std::make_unique<QSettings>(platformSettingsPath(), QSettings::IniFormat);
}
