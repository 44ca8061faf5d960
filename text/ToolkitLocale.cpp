#include "text/ToolkitLocale.h"

#include "text/Language.h"

#include <wx/intl.h>
#include <wx/log.h>
#include <wx/translation.h>

#include <clocale>
#include <cstdlib>
#include <memory>

namespace text {

namespace {

std::unique_ptr<wxLocale> g_locale;

// A locale of the C library for the language of `info`, when one is
// installed ("de_DE.UTF-8"); the current locale stays when none is.
bool SetLocaleFor(const wxLanguageInfo& info) {
    const std::string name = info.CanonicalName.utf8_string();
    for (const std::string& candidate : {name + ".UTF-8", name + ".utf8", name})
        if (std::setlocale(LC_ALL, candidate.c_str()))
            return true;
    return false;
}

} // namespace

void UseToolkitLanguage(const std::u16string& section) {
    wxLogNull quiet; // a missing locale or catalogue is no reason for a message box
    if (!std::setlocale(LC_ALL, ""))
        std::setlocale(LC_ALL, "C.UTF-8");
    const std::string code =
        ToolkitLanguageCode(LocaleFromEnvironment(), section, ReadLanguageFile());
    int language = wxLANGUAGE_DEFAULT;
    if (!code.empty()) {
        // The user chose a language other than the desktop's: gettext
        // (GTK's texts) reads LANGUAGE first, and needs a locale that is not
        // "C" to translate at all.
        const wxLanguageInfo* info = wxLocale::FindLanguageInfo(wxString::FromUTF8(code));
        if (info) {
            language = info->Language;
            SetLocaleFor(*info);
        }
        setenv("LANGUAGE", code.c_str(), 1);
    }
    const std::string current = std::setlocale(LC_ALL, nullptr);
    // wxLocale would set the process locale once more; it is used only when
    // that locale exists, else wx's catalogue is loaded on its own.
    if (language != wxLANGUAGE_DEFAULT && wxLocale::IsAvailable(language)) {
        g_locale = std::make_unique<wxLocale>();
        g_locale->Init(language);
    } else {
        auto* translations = new wxTranslations;
        if (language != wxLANGUAGE_DEFAULT)
            translations->SetLanguage(static_cast<wxLanguage>(language));
        translations->AddStdCatalog();
        wxTranslations::Set(translations);
        std::setlocale(LC_ALL, current.c_str());
    }
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace text
