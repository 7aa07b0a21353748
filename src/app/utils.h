#ifndef UTILS_H
#define UTILS_H

// File, path and system helpers shared by the whole program. None of them
// shows a message; failures are reported through their results.

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

// Number of tasks a parallel kernel runs: min(ideal thread count, 64, the
// "Performance/CoreCount" setting, or "Performance/CoreCountBatch" when batch).
// The settings record is read only on the program's main (GUI) thread, which
// publishes the two limits; another thread uses the limits last published
// (publishThreadLimits, also called when the settings are read).
int idealThreadCount(bool batch);
void publishThreadLimits(int coreCount, int coreCountBatch);

// --- paths and files (input may use "/" or "\") ---

// The folder of a path: a last component containing "." is taken as a file
// name and dropped; the result is cleaned, absolute and native.
QString completeDirPath(const QString &path);
// The last component of a path.
QString fileNameOf(const QString &path);
// The file name without its last extension ("a.b.tif" -> "a.b").
QString splitPathParts(const QString &path);
// The text after the last "." of the file name, "" when there is none.
QString fileSuffixOf(const QString &path);
// Absolute path with native separators; "" for "".
QString nativeAbsolutePath(const QString &path);
bool fileExists(const QString &path);
// The path is not empty and names an existing folder.
bool dirExists(const QString &path);
// True when the folder exists; else creates that one folder (not its parents).
bool makeDir(const QString &path);
// Removes one empty folder.
bool removeEmptyDir(const QString &path);
// Deletes every file (hidden ones too) in a folder and all its sub-folders;
// the folders stay. False at the first file that cannot be deleted; true for a
// folder that does not exist.
bool removeDirRecursive(const QString &path);

// File type codes of fileTypeOf.
enum : quint8 {
    FILETYPE_JPEG = 0,
    FILETYPE_TIFF = 1,
    FILETYPE_BMP = 2,
    FILETYPE_PNG = 3,
    FILETYPE_RAW = 4,
    FILETYPE_FITS = 5,
    FILETYPE_HDR = 6,
    FILETYPE_EXR = 7,
    FILETYPE_PROJECT = 8,
    FILETYPE_UNKNOWN = 255,
};

// The type of a file by its extension (compared in lower case); an extension
// containing "-lmpx" is a project given as input.
quint8 fileTypeOf(const QString &fileName);

// --- system ---

// Asks the system to power off (systemctl poweroff); true when the request
// was handed over. Never fires in a test or CI run.
bool shutdownWindows();
// Free space of the path's volume in MB (bytes / 1,048,576); -1.0 on failure.
double freeDiskSpaceMB(const QString &path);
// Creates, writes and removes a uniquely named temporary file in the folder.
bool isDirWritable(const QString &path);
// The preset files "*.lmsx" of a folder. Top level only: the file names in the
// folder (replacing the list). Otherwise appends the file names of the folder
// and "sub/name" for each sub-folder's presets (one level deep). Then keeps the
// first 512 entries and sorts them.
void listPresetFiles(QStringList &list, bool topLevelOnly, const QString &folder);

// --- icons ---

// The image tinted with a colour for the current skin: normal, disabled and
// active/selected pixmaps at the settings' device pixel ratio.
QIcon recolorIconImage(const QString &imageFile, const QColor &color);
// recolorIconImage with the grey 128, 128, 128.
QIcon makeColoredIcon(const QString &imageFile);

// --- output names ---

// Builds an output file name from the photo paths, the name of the middle
// exposed photo and a pattern (%C, %L, %F, %E, %0, %N, %P). keepP keeps "%P"
// for the caller to replace; wholePattern false keeps only the pattern up to
// and including its first "%L".
QString joinFileNamesShort(const QStringList &paths, const QString &middlePhoto,
                           const QString &pattern, bool keepP, bool wholePattern);
QString joinFileNamesShortDefault(const QStringList &paths, const QString &middlePhoto,
                                  const QString &pattern);

#endif // UTILS_H
