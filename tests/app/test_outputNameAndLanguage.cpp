#include "app/outputNameAndLanguage.h"
#include "platform/platformSettings.h"
#include "testSupport.h"

TEST(outputName, patternRules)
{
    const struct {
        const char *pattern;
        bool accepted;
    } cases[] = {
        {"%C%L_Lumidra%P", true}, {"%F_%N", true},   {"%0", true},        {"%C%L%E%N", true},
        {"%0_%N%P", true},        {"%F%C", false},   {"%C%L%F", false},   {"%C_", false},
        {"%0%L", false},          {"%c%l", false},   {"plain", false},    {"%L", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(validateOutputFileName(c.pattern), c.accepted ? QString(c.pattern) : QString(DEFAULT_OUTPUT_FILE_NAME))
            << c.pattern;
    EXPECT_EQ(validateOutputFileName(""), "%C%L_Lumidra%P");
}

TEST(language, langIdTable)
{
    const struct {
        int langId;
        const char *code;
    } cases[] = {{1029, "cz"}, {1031, "de"}, {1032, "gr"}, {1033, "en"}, {1034, "es"}, {1036, "fr"},
                 {1038, "hu"}, {1040, "it"}, {1043, "nl"}, {1045, "pl"}, {1046, "br"}, {1048, "ro"},
                 {1049, "ru"}, {1051, "sk"}, {1055, "tr"}, {2070, "pt"}};
    for (const auto &c : cases) {
        EXPECT_EQ(languageCodeFromLangId(c.langId), c.code);
        EXPECT_EQ(langIdFromLanguageCode(c.code), c.langId);
    }
    EXPECT_EQ(languageCodeFromLangId(3082), "en");
    EXPECT_EQ(languageCodeFromLangId(0), "en");
    EXPECT_EQ(langIdFromLanguageCode("DE"), 1033) << "codes are case-sensitive";
    EXPECT_EQ(langIdFromLanguageCode("xx"), 1033);
}

TEST(language, writeInstallerLanguageStoresDecimalText)
{
    for (const auto &c : {std::make_pair("gr", "1032"), std::make_pair("cz", "1029"), std::make_pair("zz", "1033")}) {
        writeInstallerLanguage(c.first);
        const QVariant v = platformSettings()->value("Installer/Language");
        EXPECT_EQ(v.toString(), c.second);
    }
    platformSettings()->remove("Installer");
}
