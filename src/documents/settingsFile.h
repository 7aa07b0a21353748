#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

// Settings files (".lmsx"): the stored form of one layer's processingParams_t.
// Load and save tone-mapping settings, every preset, "___last.lmsx", the
// default settings and each layer inside a project all use this one reader
// and writer.
//
// The file is XML with the root "Lumidrasettings" (attributes
// "SettingsFileVersion", written "4.2", and "ProgramVersion"). The scalar
// values are those of processingParamFields() (element and attribute names,
// decimals); "Saturation" holds the two knee-point lists and the elements
// "Curve", "Curve_R", "Curve_G", "Curve_B" the four tone curves.
//
// Reading is all or nothing: the file is parsed into a copy of the record and
// the record changes only when the whole file was accepted. The reader
// accepts version codes 40 (4.0), 41 and 42; it refuses non-finite numbers,
// point counts above 32 or above the points present, unknown curve types and
// files larger than SETTINGS_FILE_MAX_BYTES, and brings values outside their
// range back into it (a file edited by hand still loads).

#include "project/processingParams.h"

#include <QByteArray>
#include <QString>

constexpr qint64 SETTINGS_FILE_MAX_BYTES = 1 << 20;
constexpr int SETTINGS_VERSION_MIN = 40;       // oldest version code read
constexpr const char *SETTINGS_FILE_VERSION = "4.2";
constexpr const char *SETTINGS_FILE_SUFFIX = "lmsx";

enum settingsLoadResult_e
{
    SETTINGS_LOADED = 0,
    SETTINGS_UNREADABLE = -1,  // missing, unreadable, not XML, or refused content
    SETTINGS_OLD_VERSION = 1   // version code below 40
};

// The version code of a "SettingsFileVersion" text: the integer part times
// ten plus the first decimal digit ("4.2" gives 42, "4" gives 40, "4.25" 42).
// Anything that is not a plain decimal number gives 0.
int settingsVersionCode(const QString &text);

// Reads a settings file into params (see above). The vignette fields absent
// from the file read as amount 0, roundness 0, smoothness 1, size 1, centre
// 0.5/0.5; every other field missing from the file keeps its value. On
// failure params is untouched and errorText (when given) says why.
int loadSettingsFile(const QString &fileName, processingParams_t *params, QString *errorText = nullptr);

// The same from the file's bytes (used by the project reader, which holds the
// settings inside the project file).
int settingsFromBytes(const QByteArray &bytes, processingParams_t *params, QString *errorText = nullptr);

// The file's bytes for a record: indented by 4, no XML declaration, ASCII.
QByteArray settingsToBytes(const processingParams_t &params);

// Writes a settings file through the checked save: the old file stays as it
// was when any part of the save fails. errorText (when given) says why.
bool saveSettingsFile(const QString &fileName, const processingParams_t &params, QString *errorText = nullptr);

// The text the load command shows for a failed load (result of
// loadSettingsFile), empty for success.
QString settingsLoadErrorText(int result, const QString &fileName);

// The file name the save command writes: ".lmsx" is appended unless the
// chosen name already ends in it (any case).
QString settingsSaveFileName(const QString &chosen);

#endif // SETTINGSFILE_H
