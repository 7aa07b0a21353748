#ifndef BRACKETPROJECT_H
#define BRACKETPROJECT_H

// Loads a bracket of photos into a processing project the way the program
// does (loader workers, EVs, HDR merge, preprocessing, tone-mapping maps), so
// that tools can show thumbnails of a real tone-mapped image. Colour
// management is off. The caller owns the options record and sets
// optionsInstance to it before calling.

#include <QString>
#include <QStringList>

class processingProject;

// False with a reason when a photo cannot be loaded or a stage fails.
bool loadBracket(processingProject &project, const QStringList &files, QString *error);

// The presets the built-in folder holds, else a folder beside the scratch
// files with a few looks written by the tool (so it runs before the shipped
// presets exist).
QString builtInPresetFolder(const QString &programFolder, const QString &scratch);

#endif // BRACKETPROJECT_H
