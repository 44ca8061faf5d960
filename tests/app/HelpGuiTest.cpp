// The help menu and the about box under Xvfb: the menu's entries at the
// pointer, the manual found beside the program in the current language from
// any directory, the about box's texts, links and version, and its Close.
#include "app/AboutDlg.h"
#include "app/MainDlg.h"
#include "controls/CustomToolbarCtrl.h"
#include "controls/HyperLink.h"
#include "controls/SkinImage.h"
#include "pages/Layouts.h"
#include "port/Paths.h"
#include "port/Shell.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangTextUi.h"

#include "SpindleVersion.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

using namespace text;
using namespace ui;

namespace {

class HelpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_realDir = new std::string(port::ProgramDir());
        ASSERT_TRUE(LoadLayouts(*s_realDir + "res/"));
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
            wxInitAllImageHandlers();
    }
    static void TearDownTestSuite() { delete s_realDir; }

    void SetUp() override {
        // A private program folder whose res/ is the build's own, started
        // from a current directory that is neither.
        m_dir = guitest::MakeTempSubdir("help");
        std::filesystem::create_directory_symlink(*s_realDir + "res", m_dir + "res");
        Language("English");
        m_cwd = std::filesystem::current_path();
        std::filesystem::current_path(guitest::MakeTempSubdir("elsewhere"));
        guitest::ClearShown();
    }
    void TearDown() override {
        std::filesystem::current_path(m_cwd);
        CMainDlg::s_popupMenu = nullptr;
        guitest::SetModalHandler(nullptr);
        if (m_main)
            m_main->Destroy();
        guitest::Yield(1);
    }

    void Language(const std::string& section, const std::string& replace = "",
                  const std::string& with = "") {
        guitest::UseRealLanguageFile(m_dir, section);
        if (replace.empty())
            return;
        const std::string text = spindle_test::ReadFile(m_dir + "languiu.ini");
        spindle_test::WriteFile(m_dir + "languiu.ini",
                                std::regex_replace(text, std::regex(replace), with));
    }

    static std::string Text(const char* key) {
        wxString text;
        return GetLangText(key, text).utf8_string();
    }

    CMainDlg& Main() {
        if (!m_main)
            m_main = new CMainDlg();
        return *m_main;
    }
    void Command(int id) {
        wxCommandEvent e(wxEVT_MENU, id);
        e.SetEventObject(&Main());
        Main().ProcessWindowEvent(e);
    }

    // The about box as initialised: texts by key, version, banner, links.
    void CheckAbout(CAboutDlg* about) {
        EXPECT_EQ(about->GetTitle().utf8_string(), Text("ID_ABOUTTARVEL"));
        ASSERT_NE(about->m_btnClose, nullptr);
        EXPECT_EQ(about->m_btnClose->GetLabelText(),
                  wxStripMenuCodes(wxString::FromUTF8(Text("IDC_CLOSE"))));
        const std::pair<int, const char*> items[] = {
            {1043, "IDC_STATIC_ABOUT01"},  {1045, "IDC_STATIC_ABOUT03"},
            {1046, "IDC_STATIC_ABOUT04"},  {1047, "IDC_STATIC_ABOUT05"},
            {1041, "IDC_STATIC_HOMEPAGE"}, {1042, "IDC_STATIC_SUPPORT"}};
        for (const auto& [id, key] : items) {
            auto* control = wxDynamicCast(about->FindWindow(id), wxControl);
            ASSERT_NE(control, nullptr) << id;
            EXPECT_EQ(control->GetLabelText().utf8_string(), Text(key)) << id;
            EXPECT_FALSE(Text(key).empty()) << key;
        }
        auto* version = wxDynamicCast(about->FindWindow(1044), wxControl);
        EXPECT_EQ(version->GetLabelText().utf8_string(),
                  "Version " + std::string(spindle::kVersion));

        auto* banner = wxDynamicCast(about->FindWindow(IDC_ABOUT_BANNER), wxStaticBitmap);
        ASSERT_NE(banner, nullptr);
        EXPECT_EQ(banner->GetSize().x, about->GetClientSize().x) << "as wide as the box";
        EXPECT_EQ(banner->GetPosition(), wxPoint(0, 0));

        const std::pair<CHyperLink*, const char*> links[] = {
            {about->m_ctrlHomePage, "IDC_STATIC_GOHOMEPAGE"},
            {about->m_ctrlSupport, "IDC_STATIC_GOSUPPORT"}};
        for (const auto& [link, key] : links) {
            ASSERT_NE(link, nullptr) << key;
            EXPECT_EQ(link->GetTarget().utf8_string(), Text(key));
            EXPECT_EQ(link->GetToolTipText().utf8_string(), Text(key));
            wxClientDC dc(link);
            dc.SetFont(link->m_fontLink);
            EXPECT_EQ(link->GetSize(), dc.GetTextExtent(link->GetLabelText()))
                << "fitted to its text";
        }
        m_launched.clear();
        about->m_ctrlSupport->OpenTarget();
        EXPECT_EQ(m_launched, std::vector<std::string>{Text("IDC_STATIC_GOSUPPORT")});
        EXPECT_TRUE(about->m_ctrlSupport->m_bOpened);
    }

    port::ScopedLauncherHook m_hook{[this](const port::LaunchRequest& r) {
        m_launched.push_back(r.target);
        return m_answer;
    }};
    std::vector<std::string> m_launched;
    int m_answer = port::kShellOpened;
    static std::string* s_realDir;
    std::string m_dir;
    std::filesystem::path m_cwd;
    CMainDlg* m_main = nullptr;
};

std::string* HelpTest::s_realDir = nullptr;

TEST_F(HelpTest, HelpButtonShowsItsEntriesAtThePointer) {
    CMainDlg& dlg = Main();
    dlg.Show();
    guitest::Yield(3);
    wxUIActionSimulator().MouseMove(310, 207);
    guitest::Yield(5);
    std::vector<std::pair<int, std::string>> items;
    wxPoint at;
    CMainDlg::s_popupMenu = [&](wxWindow* owner, wxMenu& menu, const wxPoint& screen) {
        EXPECT_EQ(owner, &dlg);
        at = screen;
        for (const wxMenuItem* item : menu.GetMenuItems())
            items.emplace_back(item->IsSeparator() ? 0
                               : item->IsSubMenu() ? -1
                                                   : item->GetId(),
                               item->IsSeparator() ? "" : item->GetItemLabelText().utf8_string());
    };
    for (int pos = 0; pos < dlg.m_pToolbar->GetButtonCount(); ++pos)
        if (dlg.m_pToolbar->GetItem(pos).idCommand == ID_BTN_HELP)
            dlg.m_pToolbar->ClickItem(pos);
    EXPECT_EQ(at, wxPoint(310, 207));
    const std::vector<std::pair<int, std::string>> want = {
        {16150, "User Manual"},  {16151, "Email Support"}, {0, ""}, {-1, "Language"}, {0, ""},
        {16154, "About Spindle"}};
    EXPECT_EQ(items, want);

    // The support entry opens a new e-mail.
    Command(ID_HELP_MAIL);
    ASSERT_EQ(m_launched.size(), 1u);
    EXPECT_EQ(m_launched[0].rfind("mailto:", 0), 0u) << m_launched[0];
}

// A real F1 key press in the window opens the manual; the window goes on.
TEST_F(HelpTest, F1OpensTheManual) {
    CMainDlg& dlg = Main();
    m_launched.clear();
    const int result = guitest::ShowModalWithInput(dlg, [] {
        wxUIActionSimulator keys;
        keys.Char(WXK_F1);
        keys.Char(WXK_ESCAPE);
    });
    EXPECT_EQ(result, wxID_CANCEL);
    ASSERT_EQ(m_launched.size(), 1u);
    EXPECT_EQ(m_launched[0], m_dir + "res/manual/en/manual.html");
}

TEST_F(HelpTest, ManualIsFoundBesideTheProgramInTheCurrentLanguage) {
    for (const auto& [language, file] : {std::pair{"English", "manual/en/manual.html"},
                                         std::pair{"Deutsch", "manual/de/manual.html"}}) {
        Language(language);
        m_launched.clear();
        Command(ID_HELP_MANUAL);
        ASSERT_EQ(m_launched.size(), 1u) << language;
        EXPECT_EQ(m_launched[0], m_dir + "res/" + file);
        EXPECT_TRUE(std::filesystem::is_regular_file(m_launched[0]))
            << "shipped with the resources";
        EXPECT_TRUE(guitest::ShownBoxes().empty());
    }

    // Nothing can open it: the shell's message.
    m_launched.clear();
    m_answer = port::kShellNoAssociation;
    Command(ID_HELP_MANUAL);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, "Can't open link:\n\nThere is no application "
                                             "associated\nwith the given filename extension.");

    // Missing: said so, with the place it was looked for; nothing opened.
    guitest::ClearShown();
    m_launched.clear();
    Language("English", "manual/en/manual.html", "manual/xx/gone.html");
    Command(ID_HELP_MANUAL);
    EXPECT_TRUE(m_launched.empty());
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text,
              "The manual cannot be found. It should be at " + m_dir +
                  "res/manual/xx/gone.html. Reinstall Spindle to get it back.");
}

TEST_F(HelpTest, AboutBoxShowsItsTextsVersionAndLinks) {
    for (const char* language : {"English", "Deutsch"}) {
        SCOPED_TRACE(language);
        Language(language);
        bool shown = false;
        guitest::SetModalHandler([&](wxDialog* dialog) {
            auto* about = dynamic_cast<CAboutDlg*>(dialog);
            if (!about)
                return static_cast<int>(wxID_CANCEL);
            shown = true;
            CheckAbout(about);
            return static_cast<int>(wxID_OK);
        });
        Command(ID_HELP_ABOUTBOX);
        EXPECT_TRUE(shown);
    }

    // An empty home page target: the shell's failure, nothing launched.
    Language("English", "IDC_STATIC_GOHOMEPAGE=[^\r\n]*", "IDC_STATIC_GOHOMEPAGE=");
    guitest::ClearShown();
    m_launched.clear();
    CAboutDlg about;
    ASSERT_TRUE(about.IsLoaded());
    EXPECT_TRUE(about.m_ctrlHomePage->GetTarget().empty());
    EXPECT_EQ(about.m_ctrlHomePage->GetLabelText().utf8_string(), Text("IDC_STATIC_HOMEPAGE"));
    about.m_ctrlHomePage->OpenTarget();
    EXPECT_TRUE(m_launched.empty());
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text,
              "Can't open link:\n\nThe specified file was not found.");
}

// Real pointer and keys: Close, Escape, and Escape after a click on a link
// (the pointer still over it, the link holding the keyboard) all end the
// box; Space on the clicked link opens it again and leaves the box open.
TEST_F(HelpTest, CloseAndEscapeEndTheAboutBoxAlsoAfterALinkWasClicked) {
    const std::string support = Text("IDC_STATIC_GOSUPPORT");
    struct Case {
        const char* name;
        bool clickLink, space, escape;
        std::vector<std::string> opened;
    } const cases[] = {
        {"Close", false, false, false, {}},
        {"Escape", false, false, true, {}},
        {"link, Escape", true, false, true, {support}},
        {"link, Space, Escape", true, true, true, {support, support}},
    };
    for (const Case& c : cases) {
        m_launched.clear();
        CAboutDlg about;
        ASSERT_TRUE(about.IsLoaded());
        auto centre = [](wxWindow* w) {
            return w->GetScreenRect().GetPosition() + w->GetSize() / 2;
        };
        const int result = guitest::ShowModalWithInput(about, [&] {
            wxUIActionSimulator sim;
            if (c.clickLink) {
                sim.MouseMove(centre(about.m_ctrlSupport));
                sim.MouseClick();
            }
            if (c.space)
                sim.Char(WXK_SPACE);
            if (c.escape) {
                sim.Char(WXK_ESCAPE);
            } else {
                sim.MouseMove(centre(about.m_btnClose));
                sim.MouseClick();
            }
        });
        EXPECT_EQ(result, IDC_ABOUT_CLOSE) << c.name;
        EXPECT_EQ(m_launched, c.opened) << c.name;
        guitest::Yield(3);
    }
}

} // namespace
