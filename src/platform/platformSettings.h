#ifndef PLATFORMSETTINGS_H
#define PLATFORMSETTINGS_H

// The program's settings store. On Windows the program kept its settings in the
// registry under "HKEY_CURRENT_USER\Software\Lumidra 3"; here that root is one
// INI file in the user's configuration folder (XDG_CONFIG_HOME, else
// ~/.config): <config>/Lumidra/Lumidra 3.ini.
//
// Everything that stores a setting opens it through platformSettings(): the
// settings record, the debug log's "LogToFile", the main window's and the
// dialogs' "WindowGeometry"/"WindowMaximized" keys. Each caller keeps the
// object only for the duration of one operation. QSettings writes the file
// through a temporary file and a rename, so a failed write leaves the old file.

#include <QSettings>
#include <QString>
#include <memory>

// A fresh QSettings on the program's root. Usable from any thread (each thread
// must use its own object).
std::unique_ptr<QSettings> platformSettings();

// Absolute path of the INI file behind platformSettings().
QString platformSettingsPath();

#endif // PLATFORMSETTINGS_H
