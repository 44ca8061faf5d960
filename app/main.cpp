// The spindle executable. The application runs its whole life inside
// OnInit (the main window is modal), so the process ends when OnInit
// returns, with the status it left (m_exitCode): 0 after the window ran or
// another instance took this start over.
#include "SpindleVersion.h"
#include "app/MainApp.h"
#include "app/StartArguments.h"
#include "port/Paths.h"
#include "port/Profile.h"
#include "port/Utf.h"
#include "text/LangText.h"
#include "text/Language.h"

#include <wx/init.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace text;
using namespace ui;

wxIMPLEMENT_APP_NO_MAIN(ui::CMainApp);

namespace {

// A copy of the binary without any of its resources cannot show a usable
// window; it says where it looked instead of starting one. A partial set
// (say a missing language file) still starts, with empty texts.
bool ResourcesFound() {
    const std::string dir = port::ResourceDir();
    for (const char* item : {"languiu.ini", "langburu.ini", "res"})
        if (access((dir + item).c_str(), F_OK) == 0)
            return true;
    const std::string program = port::ProgramDir();
    std::fprintf(stderr,
                 "spindle: its resources (languiu.ini, langburu.ini and the res folder) are "
                 "neither in %s nor in %s../share/spindle/, so reinstall Spindle or copy them "
                 "beside the program.\n",
                 program.c_str(), program.c_str());
    return false;
}

// spindle --language NAME: keeps the choice for every later start and says
// what the window will speak.
int ChooseLanguage(const std::string& name) {
    g_szLangFile = u"languiu.ini";
    std::string stored;
    switch (StoreLanguageChoice(name, stored)) {
    case LanguageChoice::kUnknown: {
        std::string names;
        for (const std::u16string& section : LanguageSections(ReadLanguageFile()))
            names += port::ToUtf8(section) + ", ";
        std::fprintf(stderr, "spindle: there is no language \"%s\"; choose one of %sor auto.\n",
                     name.c_str(), names.c_str());
        return 2;
    }
    case LanguageChoice::kNotWritten:
        std::fprintf(stderr, "spindle: the language could not be kept in %s: %s.\n",
                     port::ProfilePath().c_str(), std::strerror(errno));
        return 1;
    case LanguageChoice::kStored:
        break;
    }
    const std::string now = port::ToUtf8(UseResolvedLanguage());
    if (stored.empty())
        std::printf("spindle: the language follows the desktop's locale again (now %s).\n",
                    now.c_str());
    else
        std::printf("spindle: the language is %s from the next start (kept in %s).\n", now.c_str(),
                    port::ProfilePath().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    StartArguments start = ParseStartArguments({argv + 1, argv + argc});
    switch (start.action) {
    case StartAction::kVersion:
        std::printf("spindle %s\n", spindle::kVersion);
        return 0;
    case StartAction::kHelp:
        std::fputs(kStartUsage, stdout);
        return 0;
    case StartAction::kError:
        std::fprintf(stderr, "spindle: %s\n%s", start.error.c_str(), kStartUsage);
        return 2;
    default:
        break;
    }
    if (!ResourcesFound())
        return 1;
    if (start.action == StartAction::kLanguage)
        return ChooseLanguage(start.path);
    if (!start.path.empty()) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(start.path, ec);
        if (!ec)
            start.path = absolute.lexically_normal().string();
    }
    // The toolkit sees only the program name: the arguments are read above.
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv))
        return 1;
    wxGetApp().m_start = start;
    wxTheApp->CallOnInit();
    const int status = wxGetApp().m_exitCode;
    wxEntryCleanup();
    return status;
}
