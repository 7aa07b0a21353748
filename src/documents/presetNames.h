#ifndef PRESETNAMES_H
#define PRESETNAMES_H

// Which names may become a preset file name or a preset group folder: the
// name is used as a path component, so it must not leave the preset folder,
// hide the file or carry characters other systems refuse in file names.

#include <QString>

constexpr int PRESET_GROUP_NAME_MAX_LENGTH = 32;

// True when name is a single, visible path component: not empty or blank,
// no "/" or "\", not starting with "." (".", ".." and hidden names), no
// control characters, none of < > : " | ? *, and at most maxLength long.
bool isValidPresetName(const QString &name, int maxLength);

#endif // PRESETNAMES_H
