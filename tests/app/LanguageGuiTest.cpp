// The window's language under Xvfb: a German desktop gets German texts
// without any choice; Help, Language keeps a choice that wins over the locale
// at the next start, and says so in the chosen language.
#include "app/MainDlg.h"
#include "controls/CustomToolbarCtrl.h"
#include "pages/Layouts.h"
#include "pages/MountDlg.h"
#include "port/Paths.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangText.h"
#include "text/Language.h"

#include <gtest/gtest.h>
#include <wx/menu.h>

#include <cstdlib>
#include <filesystem>

using namespace text;
using namespace ui;

namespace {

class LanguageGuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(LoadLayouts(port::ProgramDir() + "res/"));
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
            wxInitAllImageHandlers();
    }

    void SetUp() override {
        m_dir = guitest::MakeTempSubdir("language");
        const std::string realRes = port::ProgramDir() + "res";
        std::filesystem::create_directory_symlink(realRes, m_dir + "res");
        guitest::UseRealLanguageFile(m_dir, "English");
        setenv("SPINDLE_CONFIG_DIR", (m_dir + "config").c_str(), 1);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            unsetenv(name);
        setenv("LANG", "de_DE.UTF-8", 1);
        guitest::ClearShown();
    }
    void TearDown() override {
        CMainDlg::s_popupMenu = nullptr;
        Close();
        g_szLangSection.clear();
        for (const char* name : {"SPINDLE_CONFIG_DIR", "LANG", "SPINDLE_PROGRAM_DIR"})
            unsetenv(name);
    }

    // What the program's start-up does for the language, then the window.
    CMainDlg& Start() {
        Close();
        UseResolvedLanguage();
        m_main = new CMainDlg();
        return *m_main;
    }
    void Close() {
        if (m_main)
            m_main->Destroy();
        m_main = nullptr;
        guitest::Yield(1);
    }

    std::string MountCaption() const { return m_main->m_pToolbar->GetCaption(2).utf8_string(); }
    std::string MountDescription() const {
        return m_main->m_pMountDlg->FindWindow(1018)->GetLabel().utf8_string();
    }

    // Opens Help, Language; returns its entries and which one is checked.
    std::vector<std::string> LanguageEntries(int& checked) {
        std::vector<std::string> entries;
        checked = 0;
        CMainDlg::s_popupMenu = [&](wxWindow*, wxMenu& menu, const wxPoint&) {
            for (const wxMenuItem* item : menu.GetMenuItems()) {
                if (!item->IsSubMenu())
                    continue;
                EXPECT_EQ(item->GetItemLabelText().utf8_string(), m_submenuTitle);
                for (const wxMenuItem* entry : item->GetSubMenu()->GetMenuItems()) {
                    entries.push_back(entry->GetItemLabelText().utf8_string());
                    if (entry->IsChecked())
                        checked = entry->GetId();
                }
            }
        };
        wxCommandEvent help(wxEVT_TOOL, ID_BTN_HELP);
        m_main->ProcessWindowEvent(help);
        return entries;
    }
    void Choose(int id) {
        wxCommandEvent e(wxEVT_MENU, id);
        m_main->ProcessWindowEvent(e);
    }

    std::string m_dir;
    std::string m_submenuTitle;
    CMainDlg* m_main = nullptr;
};

TEST_F(LanguageGuiTest, GermanLocaleThenAChoiceOfEnglishThenBackToTheDesktop) {
    // No stored choice, a German desktop: German, though CURRENT says English.
    Start();
    EXPECT_EQ(MountCaption(), "Einbinden");
    EXPECT_EQ(MountDescription(), "Eine Image-Datei als virtuelles CD-Laufwerk einbinden.");
    m_submenuTitle = "Sprache";
    int checked = 0;
    EXPECT_EQ(LanguageEntries(checked),
              (std::vector<std::string>{"Wie der Desktop", "English", "Deutsch"}));
    EXPECT_EQ(checked, ID_LANGUAGE_AUTO);

    // Choosing German changes nothing the user would see: no box.
    Choose(ID_LANGUAGE_FIRST + 1);
    EXPECT_TRUE(guitest::ShownBoxes().empty());
    // Choosing English keeps it and says, in English, when it applies.
    Choose(ID_LANGUAGE_FIRST);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, "Spindle speaks English from its next start.");
    EXPECT_EQ(StoredLanguageChoice(), "English");

    // The next start, still under the German locale: English.
    Start();
    EXPECT_EQ(MountCaption(), "Mount");
    EXPECT_EQ(MountDescription(), "Mount an image file as a virtual CD drive.");
    m_submenuTitle = "Language";
    EXPECT_EQ(LanguageEntries(checked),
              (std::vector<std::string>{"As the desktop", "English", "Deutsch"}));
    EXPECT_EQ(checked, ID_LANGUAGE_FIRST);

    // Back to the desktop's language, announced in German.
    guitest::ClearShown();
    Choose(ID_LANGUAGE_AUTO);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, "Spindle spricht ab dem n\xC3\xA4"
                                             "chsten Start Deutsch.");
    EXPECT_EQ(StoredLanguageChoice(), "");
    Start();
    EXPECT_EQ(MountCaption(), "Einbinden");
}

} // namespace
