// Which language section is spoken: locale variables x stored choice x file
// contents, and the choice kept in the config folder.
#include "text/Language.h"
#include "port/Utf.h"
#include "tests/support/Files.h"
#include "text/LangText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace text;

namespace fs = std::filesystem;

namespace {

const char kShipped[] =
    "[LANGUAGE]\nCURRENT=English\n[English]\nLOCALES=en\n[Deutsch]\nLOCALES=de\n";
// CURRENT=Deutsch, so a case that ends in English did not merely fall through.
const char kGermanFirst[] =
    "[LANGUAGE]\nCURRENT=Deutsch\n[Deutsch]\nLOCALES=de\n[English]\nLOCALES=en\n";
const char kNoCurrent[] = "[English]\nLOCALES=en\n[Deutsch]\nLOCALES=de\n";
const char kGone[] = "[LANGUAGE]\nCURRENT=Klingon\n[English]\nLOCALES=en\n";
const char kTerritories[] = "[LANGUAGE]\nCURRENT=English\n[English]\nLOCALES=en\n"
                            "[Portugu\xC3\xAAs]\nLOCALES=pt, pt_PT\n"
                            "[Portugu\xC3\xAAs do Brasil]\nlocales = \"pt_BR\"\n"
                            "[Deutsch (Schweiz)]\nLOCALES=de_CH\n";

struct ResolveCase {
    const char* name;
    LocaleVariables locale; // LC_ALL, LC_MESSAGES, LANG, LANGUAGE
    const char* choice;
    const char* file;
    const char* expected;
};

class ResolveTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTest, PicksTheSection) {
    const ResolveCase& c = GetParam();
    EXPECT_EQ(
        port::ToUtf8(ResolveLanguage(c.locale, port::ToUtf16(c.choice), port::ToUtf16(c.file))),
        c.expected);
}

const ResolveCase kResolveCases[] = {
    {"NoLocaleNoChoice", {}, "", kGermanFirst, "Deutsch"},
    {"LangGerman", {"", "", "de_DE.UTF-8", ""}, "", kShipped, "Deutsch"},
    {"CodesetAndModifierDropped", {"", "", "de_AT.UTF-8@euro", ""}, "", kShipped, "Deutsch"},
    {"LanguageTheFileLacksFallsToCurrent",
     {"", "", "fr_FR.UTF-8", ""},
     "",
     kGermanFirst,
     "Deutsch"},
    {"CIgnoresLanguageList", {"", "", "C", "en"}, "", kGermanFirst, "Deutsch"},
    {"CUtf8IgnoresLanguageList", {"", "", "C.UTF-8", "en"}, "", kGermanFirst, "Deutsch"},
    {"PosixIsC", {"", "", "POSIX", "en"}, "", kGermanFirst, "Deutsch"},
    {"LcAllOverLcMessages",
     {"en_US.UTF-8", "de_DE.UTF-8", "de_DE", ""},
     "",
     kGermanFirst,
     "English"},
    {"LcMessagesOverLang", {"", "en_GB", "de_DE.UTF-8", ""}, "", kGermanFirst, "English"},
    {"LcAllCOverridesLang", {"C", "", "en_US.UTF-8", ""}, "", kGermanFirst, "Deutsch"},
    {"LanguageListBeforeLocale", {"", "", "en_US.UTF-8", "fr:de"}, "", kShipped, "Deutsch"},
    {"LocaleAfterUnmatchedList", {"", "", "en_US.UTF-8", "fr:ja"}, "", kGermanFirst, "English"},
    {"ChoiceOverLocale", {"", "", "de_DE.UTF-8", ""}, "english", kGermanFirst, "English"},
    {"ChoiceOfGoneSectionIgnored", {"", "", "de_DE.UTF-8", ""}, "Klingon", kShipped, "Deutsch"},
    {"ChoiceAutoFollowsLocale", {"", "", "de_DE.UTF-8", ""}, "auto", kShipped, "Deutsch"},
    {"ChoiceOfLanguageSectionIgnored", {}, "LANGUAGE", kShipped, "English"},
    {"NoCurrentNoLocale", {"", "", "C", ""}, "", kNoCurrent, ""},
    {"NoCurrentGermanLocale", {"", "", "de_DE.UTF-8", ""}, "", kNoCurrent, "Deutsch"},
    {"CurrentOfGoneSectionStands", {"", "", "de_DE.UTF-8", ""}, "", kGone, "Klingon"},
    {"NoFile", {"", "", "de_DE.UTF-8", ""}, "Deutsch", "", ""},
    {"TerritoryExact", {"", "", "pt_BR.UTF-8", ""}, "", kTerritories, "Portugu\xC3\xAAs do Brasil"},
    {"TerritoryListed", {"", "", "pt_PT", ""}, "", kTerritories, "Portugu\xC3\xAAs"},
    {"OtherTerritoryTakesLanguage",
     {"", "", "pt_AO.UTF-8", ""},
     "",
     kTerritories,
     "Portugu\xC3\xAAs"},
    {"OnlyAnotherTerritoryLeft",
     {"", "", "de_DE.UTF-8", ""},
     "",
     kTerritories,
     "Deutsch (Schweiz)"},
    {"DashedCodeInList",
     {"", "", "en_US", "pt-BR"},
     "",
     kTerritories,
     "Portugu\xC3\xAAs do Brasil"},
};

INSTANTIATE_TEST_SUITE_P(Table, ResolveTest, ::testing::ValuesIn(kResolveCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The toolkit follows the desktop where it speaks the section's language,
// else the section's first code.
TEST(ToolkitLanguage, SwitchesOnlyWhereTheDesktopSpeaksAnotherLanguage) {
    const struct {
        LocaleVariables locale;
        const char16_t* section;
        const char* file;
        const char* expected;
    } cases[] = {
        {{"", "", "de_DE.UTF-8", ""}, u"Deutsch", kShipped, ""},
        {{"", "", "de_AT.UTF-8", ""}, u"Deutsch", kShipped, ""},      // its own territory
        {{"", "", "de_DE.UTF-8", ""}, u"English", kShipped, "en"},    // the user's choice
        {{"", "", "C.UTF-8", ""}, u"English", kShipped, ""},          // untranslated is English
        {{"", "", "C", "de"}, u"Deutsch", kShipped, "de"},            // C ignores LANGUAGE
        {{"", "", "en_GB.UTF-8", "de:en"}, u"Deutsch", kShipped, ""}, // LANGUAGE first
        {{"fr_FR.UTF-8", "", "de_DE.UTF-8", ""}, u"Deutsch", kShipped, "de"},
        {{"", "", "en_US.UTF-8", ""}, u"Portugu\u00eas", kTerritories, "pt"},
        {{"", "", "en_US.UTF-8", ""}, u"Klingon", kShipped, ""}, // no such section
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToolkitLanguageCode(c.locale, c.section, port::ToUtf16(c.file)), c.expected)
            << c.locale.lcAll << "|" << c.locale.lang << "|" << c.locale.language << " "
            << port::ToUtf8(c.section);
}

TEST(LanguageSections, EveryButLanguageOnceInFileOrder) {
    std::vector<std::u16string> want = {u"English", u"Portugu\u00EAs", u"Portugu\u00EAs do Brasil",
                                        u"Deutsch (Schweiz)"};
    EXPECT_EQ(LanguageSections(port::ToUtf16(kTerritories)), want);
    // The first of two sections of one name counts, LOCALES included.
    std::u16string twice = u"[A]\nK=1\n[language]\n[B]\nLOCALES=de\n[a]\nLOCALES=de\n";
    EXPECT_EQ(LanguageSections(twice), (std::vector<std::u16string>{u"A", u"B"}));
    EXPECT_EQ(ResolveLanguage({"", "", "de", ""}, u"", twice), u"B");
}

// The stored choice, the start-up resolution and the lookups together, with
// a private program directory and config folder.
class LanguageChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = m_tmp.path();
        setenv("SPINDLE_PROGRAM_DIR", (m_dir.string() + "/").c_str(), 1);
        setenv("SPINDLE_CONFIG_DIR", (m_dir / "config").c_str(), 1);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            unsetenv(name);
        setenv("LANG", "de_DE.UTF-8", 1);
        std::ofstream(m_dir / "languiu.ini")
            << "[LANGUAGE]\nCURRENT=English\n[English]\nLOCALES=en\nID_DRIVE=Drive\n"
               "[Deutsch]\nLOCALES=de\nID_DRIVE=Laufwerk\n";
        g_szLangFile = u"languiu.ini";
    }
    void TearDown() override {
        g_szLangSection.clear();
        for (const char* name : {"SPINDLE_PROGRAM_DIR", "SPINDLE_CONFIG_DIR", "LANG"})
            unsetenv(name);
    }
    static std::string Drive() {
        std::u16string text;
        return port::ToUtf8(GetLangText(u"ID_DRIVE", text));
    }

    spindle_test::TempDir m_tmp{"spindle-lang"};
    fs::path m_dir;
};

TEST_F(LanguageChoiceTest, ChoiceIsKeptAndWins) {
    EXPECT_EQ(UseResolvedLanguage(), u"Deutsch");
    EXPECT_EQ(Drive(), "Laufwerk");

    std::string stored;
    EXPECT_EQ(StoreLanguageChoice("ENGLISH", stored), LanguageChoice::kStored);
    EXPECT_EQ(stored, "English");
    EXPECT_EQ(StoredLanguageChoice(), "English");
    // A name the file lacks is refused and the earlier choice stays.
    EXPECT_EQ(StoreLanguageChoice("Klingon", stored), LanguageChoice::kUnknown);
    EXPECT_EQ(StoredLanguageChoice(), "English");
    EXPECT_EQ(UseResolvedLanguage(), u"English");
    EXPECT_EQ(Drive(), "Drive");
    EXPECT_EQ(GetLangTextIn(u"Deutsch", u"ID_DRIVE"), u"Laufwerk");

    EXPECT_EQ(StoreLanguageChoice("auto", stored), LanguageChoice::kStored);
    EXPECT_EQ(stored, "");
    EXPECT_EQ(UseResolvedLanguage(), u"Deutsch");
}

TEST_F(LanguageChoiceTest, UnwritableConfigFolderIsReported) {
    spindle_test::WriteFile(m_dir / "config", "a file, not a folder");
    std::string stored;
    EXPECT_EQ(StoreLanguageChoice("English", stored), LanguageChoice::kNotWritten);
    EXPECT_EQ(UseResolvedLanguage(), u"Deutsch");
}

} // namespace
