#ifndef OUTPUTNAMEANDLANGUAGE_H
#define OUTPUTNAMEANDLANGUAGE_H

// Rules the settings record applies when it reads or writes itself: the check
// of the default output file-name pattern and the mapping between the
// installer's Windows language identifier (LANGID) and the program's language
// codes. The scratch-pad choice is programOptionsSettings::selectScratchpad.

#include <QString>

// Fields of the output name pattern (replaced when a result is saved):
// %F all file names, %C common part, %L uncommon parts, %0 middle photo,
// %N photo count, %E extension, %P "-" + preset name.
extern const char *const DEFAULT_OUTPUT_FILE_NAME; // "%C%L_Lumidra%P"

// The pattern itself when acceptable, else DEFAULT_OUTPUT_FILE_NAME.
QString validateOutputFileName(const QString &pattern);

// "cz", "de", ... for the known LANGIDs, "en" for anything else.
QString languageCodeFromLangId(int langId);

// The LANGID of a language code (exact, case-sensitive); 1033 for "en" and
// for any unknown code.
int langIdFromLanguageCode(const QString &code);

// Stores langIdFromLanguageCode(code), as a decimal string, in "Installer/Language".
void writeInstallerLanguage(const QString &code);

#endif // OUTPUTNAMEANDLANGUAGE_H
