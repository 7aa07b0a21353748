#include "app/outputNameAndLanguage.h"

#include "platform/platformSettings.h"

const char *const DEFAULT_OUTPUT_FILE_NAME = "%C%L_Lumidra%P";

namespace {

struct languageEntry_t {
    int langId;
    const char *code;
};

const languageEntry_t LANGUAGES[] = {
    {1029, "cz"}, {1031, "de"}, {1032, "gr"}, {1033, "en"}, {1034, "es"}, {1036, "fr"},
    {1038, "hu"}, {1040, "it"}, {1043, "nl"}, {1045, "pl"}, {1046, "br"}, {1048, "ro"},
    {1049, "ru"}, {1051, "sk"}, {1055, "tr"}, {2070, "pt"},
};

const int ENGLISH_LANGID = 1033;

} // namespace

QString validateOutputFileName(const QString &pattern)
{
    if (pattern.isEmpty())
        return DEFAULT_OUTPUT_FILE_NAME;
    const bool hasC = pattern.contains("%C");
    const bool hasL = pattern.contains("%L");
    const bool hasF = pattern.contains("%F");
    const bool has0 = pattern.contains("%0");
    if (hasC && hasL && !hasF)
        return pattern;
    if ((hasF || has0) && !hasC && !hasL)
        return pattern;
    return DEFAULT_OUTPUT_FILE_NAME;
}

QString languageCodeFromLangId(int langId)
{
    for (const languageEntry_t &e : LANGUAGES)
        if (e.langId == langId)
            return e.code;
    return "en";
}

int langIdFromLanguageCode(const QString &code)
{
    for (const languageEntry_t &e : LANGUAGES)
        if (code == QLatin1String(e.code))
            return e.langId;
    return ENGLISH_LANGID;
}

void writeInstallerLanguage(const QString &code)
{
    auto settings = platformSettings();
    settings->setValue("Installer/Language", QString::number(langIdFromLanguageCode(code)));
}
