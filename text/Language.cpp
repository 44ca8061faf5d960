#include "text/Language.h"

#include "port/FileOps.h"
#include "port/Paths.h"
#include "port/Profile.h"
#include "port/ProfileSyntax.h"
#include "port/Utf.h"
#include "text/LangText.h"
#include "text/ProfileReader.h"

#include <cstdlib>

namespace text {

namespace {

namespace ini = port::ini;

constexpr char kChoiceSection[] = "Settings";
constexpr char kChoiceKey[] = "Language";

struct Section {
    std::u16string name;
    std::vector<std::u16string> codes; // normalised LOCALES entries
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// "de_AT.UTF-8@euro" -> "de_at"; "pt-BR" -> "pt_br".
std::u16string Normalise(std::u16string_view code) {
    code = code.substr(0, code.find_first_of(u".@"));
    std::u16string out;
    for (char16_t c : code)
        out.push_back(c == u'-' ? u'_' : static_cast<char16_t>(ini::FoldCase(c)));
    return out;
}

std::u16string_view LanguagePart(std::u16string_view code) {
    return code.substr(0, code.find(u'_'));
}

std::vector<Section> ReadSections(std::u16string_view text) {
    std::vector<Section> sections;
    Section* current = nullptr; // null: before any section, in [LANGUAGE] or a duplicate
    ini::ForEachLine(text, [&](std::u16string_view line) {
        std::u16string_view name, value;
        switch (ini::ParseLine(line, name, value)) {
        case ini::LineKind::Section: {
            current = nullptr;
            bool seen = ini::EqualNoCase(name, std::u16string_view(u"LANGUAGE"));
            for (const Section& s : sections)
                seen = seen || ini::EqualNoCase(name, std::u16string_view(s.name));
            if (!seen)
                current = &sections.emplace_back(Section{std::u16string(name), {}});
            break;
        }
        case ini::LineKind::Entry:
            // The first LOCALES of a section counts, like any key.
            if (current && current->codes.empty() &&
                ini::EqualNoCase(name, std::u16string_view(u"LOCALES"))) {
                std::u16string_view list = ini::Unquote(value);
                while (!list.empty()) {
                    std::size_t end = list.find_first_of(u" \t,");
                    if (end != 0)
                        current->codes.push_back(Normalise(list.substr(0, end)));
                    list.remove_prefix(end == list.npos ? list.size() : end + 1);
                }
            }
            break;
        case ini::LineKind::Other:
            break;
        }
        return true;
    });
    return sections;
}

// The locale entries to try, best first, normalised; none for the C locale.
std::vector<std::u16string> Preferences(const LocaleVariables& locale) {
    std::string effective = !locale.lcAll.empty()        ? locale.lcAll
                            : !locale.lcMessages.empty() ? locale.lcMessages
                                                         : locale.lang;
    if (effective.empty() || effective == "C" || effective == "POSIX" ||
        effective.starts_with("C."))
        return {};
    std::vector<std::u16string> out;
    std::u16string_view list;
    std::u16string language = port::ToUtf16(locale.language);
    list = language;
    while (!list.empty()) {
        std::size_t end = list.find(u':');
        if (std::u16string code = Normalise(list.substr(0, end)); !code.empty())
            out.push_back(code);
        list.remove_prefix(end == list.npos ? list.size() : end + 1);
    }
    if (std::u16string code = Normalise(port::ToUtf16(effective)); !code.empty())
        out.push_back(code);
    return out;
}

const Section* MatchLocale(const std::vector<Section>& sections, std::u16string_view wanted) {
    // Three passes: the same code, the language alone, another territory.
    for (int pass = 0; pass < 3; ++pass)
        for (const Section& section : sections)
            for (const std::u16string& code : section.codes) {
                bool match = pass == 0   ? code == wanted
                             : pass == 1 ? code == LanguagePart(wanted)
                                         : LanguagePart(code) == LanguagePart(wanted);
                if (match)
                    return &section;
            }
    return nullptr;
}

} // namespace

LocaleVariables LocaleFromEnvironment() {
    return {Env("LC_ALL"), Env("LC_MESSAGES"), Env("LANG"), Env("LANGUAGE")};
}

std::vector<std::u16string> LanguageSections(std::u16string_view fileText) {
    std::vector<std::u16string> names;
    for (Section& section : ReadSections(fileText))
        names.push_back(std::move(section.name));
    return names;
}

std::u16string ResolveLanguage(const LocaleVariables& locale, std::u16string_view choice,
                               std::u16string_view fileText) {
    const std::vector<Section> sections = ReadSections(fileText);
    // A choice naming no section (one since removed, or "auto") is passed over.
    for (const Section& section : sections)
        if (!choice.empty() && ini::EqualNoCase(choice, std::u16string_view(section.name)))
            return section.name;
    for (const std::u16string& wanted : Preferences(locale))
        if (const Section* section = MatchLocale(sections, wanted))
            return section->name;
    return CProfileReader::FindValue(fileText, u"LANGUAGE", u"CURRENT");
}

std::string ToolkitLanguageCode(const LocaleVariables& locale, std::u16string_view section,
                                std::u16string_view fileText) {
    const Section* found = nullptr;
    const std::vector<Section> sections = ReadSections(fileText);
    for (const Section& s : sections)
        if (ini::EqualNoCase(section, std::u16string_view(s.name)))
            found = &s;
    if (!found || found->codes.empty())
        return {};
    std::string messages = !locale.lcAll.empty()        ? locale.lcAll
                           : !locale.lcMessages.empty() ? locale.lcMessages
                                                        : locale.lang;
    std::u16string spoken = Normalise(port::ToUtf16(messages));
    if (spoken.empty() || spoken == u"c" || spoken == u"posix")
        spoken = u"en"; // untranslated texts are English
    else if (!locale.language.empty())
        spoken = Normalise(port::ToUtf16(locale.language.substr(0, locale.language.find(':'))));
    for (const std::u16string& code : found->codes)
        if (LanguagePart(code) == LanguagePart(spoken))
            return {};
    return port::ToUtf8(found->codes.front());
}

std::u16string ReadLanguageFile() {
    // Language files are a few dozen KiB; anything beyond 16 MiB is not one.
    auto bytes = port::ReadWholeFile(port::ResourceDir() + port::ToUtf8(g_szLangFile), 16u << 20);
    return bytes ? CProfileReader::Decode(*bytes) : std::u16string();
}

std::string StoredLanguageChoice() {
    return port::GetProfileString(kChoiceSection, kChoiceKey);
}

LanguageChoice StoreLanguageChoice(std::string_view name, std::string& stored) {
    stored.clear();
    if (!name.empty() && !ini::EqualNoCase(name, std::string_view("auto"))) {
        const std::u16string wanted = port::ToUtf16(name);
        for (const std::u16string& section : LanguageSections(ReadLanguageFile()))
            if (stored.empty() &&
                ini::EqualNoCase(std::u16string_view(section), std::u16string_view(wanted)))
                stored = port::ToUtf8(section);
        if (stored.empty())
            return LanguageChoice::kUnknown;
    }
    return port::WriteProfileString(kChoiceSection, kChoiceKey, stored)
               ? LanguageChoice::kStored
               : LanguageChoice::kNotWritten;
}

const std::u16string& UseResolvedLanguage() {
    g_szLangSection = ResolveLanguage(LocaleFromEnvironment(),
                                      port::ToUtf16(StoredLanguageChoice()), ReadLanguageFile());
    return g_szLangSection;
}

} // namespace text
