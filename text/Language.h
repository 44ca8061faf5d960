// Which language section of the language file the program speaks.
//
// Rule, first that applies:
//  1. the user's stored choice, when it names a language section of the file;
//  2. the desktop's locale: the first locale variable that is set of LC_ALL,
//     LC_MESSAGES and LANG; unless that is empty, "C", "C.<codeset>" or
//     "POSIX", GNU LANGUAGE (a ':'-separated list) is tried first, then that
//     locale. Each entry loses its ".codeset" and "@modifier" ("de_AT.UTF-8@euro"
//     is "de_AT") and is matched against the LOCALES key of each language
//     section ("LOCALES=de", or a list "pt pt_PT"): the same code first, then
//     the entry's language alone ("de" for "de_AT"), then a code of the same
//     language with another territory;
//  3. [LANGUAGE] CURRENT of the file, as it stands (even when empty or naming
//     no section: then texts are empty, as they always were).
//
// A language section is every section but [LANGUAGE]; its name is what the
// user sees and chooses. The engine's file "langburu.ini" has a section of the
// same name, so one name serves both.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

struct LocaleVariables {
    std::string lcAll;
    std::string lcMessages;
    std::string lang;
    std::string language; // GNU LANGUAGE
};

// The variables of this process's environment (unset ones empty).
LocaleVariables LocaleFromEnvironment();

// Names of the language sections of a language file's text, in file order.
std::vector<std::u16string> LanguageSections(std::u16string_view fileText);

// The section to use (spelled as in the file), by the rule above. choice
// empty or "auto" means none.
std::u16string ResolveLanguage(const LocaleVariables& locale, std::u16string_view choice,
                               std::u16string_view fileText);

// The locale the toolkit's own texts (GTK's buttons and file choosers, wx's
// texts) must follow so that they speak `section` too: empty when the
// desktop already does (its first GNU LANGUAGE entry, else its messages
// locale, has a language of the section's LOCALES; "C" and "POSIX" count as
// "en"), else the section's first LOCALES code ("de"). Empty for a section
// without LOCALES.
std::string ToolkitLanguageCode(const LocaleVariables& locale, std::u16string_view section,
                                std::u16string_view fileText);

// The text of the language file g_szLangFile (empty when it cannot be read).
std::u16string ReadLanguageFile();

// The choice kept in the application profile ([Settings] Language), empty
// when the user has made none.
std::string StoredLanguageChoice();

enum class LanguageChoice { kStored, kUnknown, kNotWritten };

// Keeps `name` as the user's choice: a language section of g_szLangFile
// (any case; stored as the file spells it, returned in `stored`), or "auto"
// (or empty) to follow the locale again (stored empty).
LanguageChoice StoreLanguageChoice(std::string_view name, std::string& stored);

// Resolves the language for this process from its environment, the stored
// choice and g_szLangFile, and sets g_szLangSection to it. Returns it.
const std::u16string& UseResolvedLanguage();

} // namespace text
