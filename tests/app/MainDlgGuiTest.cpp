// The main window under Xvfb: start page, page switching, the catalogue's
// texts on every page control, the bounded title and the skin behind pages.
#include "app/AboutDlg.h"
#include "app/EngineRelay.h"
#include "app/MainDlg.h"
#include "app/SessionEnd.h"
#include "app/StartHandOver.h"
#include "controls/CustomToolbarCtrl.h"
#include "controls/PageLook.h"
#include "controls/SkinImage.h"
#include "engine/EventRelay.h"
#include "pages/BurnDlg.h"
#include "pages/CreateDlg.h"
#include "pages/ImFilesDlg.h"
#include "pages/Layouts.h"
#include "pages/MountDlg.h"
#include "pages/UnmountDlg.h"
#include "port/DialogHooks.h"
#include "port/Paths.h"
#include "port/ProfileSyntax.h"
#include "port/SingleInstance.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangText.h"
#include "text/MessageBoxes.h"
#include "text/WxDialogHooks.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/control.h>
#include <wx/dcmemory.h>
#include <wx/gauge.h>
#include <wx/iconbndl.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace text;
using namespace ui;

namespace {

// Keys whose texts the test language file leaves out.
const std::set<std::string> kMissingKeys = {"IDC_STATIC_MOUNT02", "IDC_STATIC_BURNCD07",
                                            "IDC_STATIC_FILES04"};

std::string TestText(const std::string& key) {
    return "T:" + key;
}

class MainDlgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_realProgramDir = new std::string(port::ProgramDir());
        ASSERT_TRUE(LoadLayouts(*s_realProgramDir + "res/"));
        wxInitAllImageHandlers();
        s_skin = new CSkinImage();
        wxBitmap bitmap(wxString::FromUTF8(*s_realProgramDir + "res/skin.png"), wxBITMAP_TYPE_PNG);
        ASSERT_TRUE(s_skin->Attach(bitmap));
        SetAppSkin(s_skin);
    }
    static void TearDownTestSuite() {
        SetAppSkin(nullptr);
        delete s_skin;
        delete s_realProgramDir;
        unsetenv("SPINDLE_PROGRAM_DIR");
    }

    void SetUp() override {
        // A private program directory with a test language file: every key
        // of the shipped English section, its text "T:<key>", a few left out.
        m_programDir = guitest::MakeTempSubdir("program");
        setenv("SPINDLE_PROGRAM_DIR", m_programDir.c_str(), 1);
        // Pictures and layouts come from the build's own res/ folder.
        std::filesystem::create_directory_symlink(*s_realProgramDir + "res", m_programDir + "res");
        g_szLangFile = u"languiu.ini";
        const std::string real = spindle_test::ReadFile(*s_realProgramDir + "languiu.ini");
        std::string test = "[LANGUAGE]\nCURRENT=Test\n[Test]\n";
        bool english = false;
        port::ini::ForEachLine(std::string_view(real), [&](std::string_view line) {
            std::string_view name, value;
            auto kind = port::ini::ParseLine(line, name, value);
            if (kind == port::ini::LineKind::Section)
                english = name == "English";
            else if (kind == port::ini::LineKind::Entry && english &&
                     !kMissingKeys.count(std::string(name)))
                test += std::string(name) + "=" + TestText(std::string(name)) + "\n";
            return true;
        });
        m_title = TestText("ID_PRODUCT_TITLE");
        WriteLanguageFile(test);
        guitest::ClearShown();
    }
    void TearDown() override {
        if (m_dlg)
            m_dlg->Destroy();
        guitest::Yield(1);
    }

    void WriteLanguageFile(const std::string& text) {
        spindle_test::WriteFile(m_programDir + "languiu.ini", text);
    }

    CMainDlg& Open() {
        m_dlg = new CMainDlg();
        return *m_dlg;
    }

    void Click(int command) {
        for (int pos = 0; pos < m_dlg->m_pToolbar->GetButtonCount(); ++pos) {
            if (m_dlg->m_pToolbar->GetItem(pos).idCommand == command) {
                m_dlg->m_pToolbar->ClickItem(pos);
                return;
            }
        }
        FAIL() << "no toolbar button " << command;
    }

    static std::string TextOf(wxWindow* w) {
        if (auto* control = dynamic_cast<wxControl*>(w))
            return control->GetLabelText().utf8_string();
        return w->GetLabel().utf8_string();
    }

    static std::string* s_realProgramDir;
    static CSkinImage* s_skin;
    std::string m_programDir;
    std::string m_title;
    CMainDlg* m_dlg = nullptr;
};

std::string* MainDlgTest::s_realProgramDir = nullptr;
CSkinImage* MainDlgTest::s_skin = nullptr;

const int kPages[] = {engine::ID_PAGE_CREATE, engine::ID_PAGE_FILES, engine::ID_PAGE_MOUNT,
                      engine::ID_PAGE_UNMOUNT, engine::ID_PAGE_BURN};

TEST_F(MainDlgTest, StartsOnTheMountPage) {
    CMainDlg& dlg = Open();
    EXPECT_EQ(dlg.m_nCurPage, engine::ID_PAGE_MOUNT);
    EXPECT_FALSE(dlg.m_pImFilesDlg->ShowsReports()) << "the files page takes no name reports";
    EXPECT_EQ(dlg.m_pToolbar->m_nCheckedId, engine::ID_PAGE_MOUNT);
    EXPECT_TRUE(dlg.m_pToolbar->IsButtonChecked(engine::ID_PAGE_MOUNT));
    EXPECT_EQ(dlg.m_pToolbar->GetId(), IDC_MAIN_TOOLBAR);
    for (int id : kPages) {
        wxWindow* page = dlg.Page(id);
        ASSERT_NE(page, nullptr) << id;
        EXPECT_EQ(page->IsShown(), id == engine::ID_PAGE_MOUNT) << id;
        EXPECT_EQ(page->GetRect(), wxRect(kPageLeft, kPageTop, kPageWidth, kPageHeight)) << id;
    }
    EXPECT_EQ(dlg.GetClientSize(), wxSize(s_skin->GetWidth(), s_skin->GetHeight()));
    EXPECT_EQ(dlg.GetTitle().utf8_string(), m_title);
    // The window icon, in each size the program ships.
    const wxIconBundle& icons = dlg.GetIcons();
    EXPECT_EQ(icons.GetIconCount(), 5u);
    for (int size : {16, 32, 48, 64, 128})
        EXPECT_TRUE(icons.GetIconOfExactSize(wxSize(size, size)).IsOk()) << size;
    // Created in the fixed order: create, files, mount, unmount, burn.
    std::vector<wxWindow*> order;
    for (wxWindow* child : dlg.GetChildren())
        for (int id : kPages)
            if (child == dlg.Page(id))
                order.push_back(child);
    std::vector<wxWindow*> expected;
    for (int id : kPages)
        expected.push_back(dlg.Page(id));
    EXPECT_EQ(order, expected);
}

TEST_F(MainDlgTest, AFileFromTheCommandLineIsChosenOnItsPage) {
    // A cue sheet opens the burn page with the BIN/CUE kind, an ISO image
    // first the mount page and then (spindle --burn) the burn page with the
    // ISO kind.
    CMainDlg& dlg = Open();
    const wxString cue = wxString::FromUTF8("/no/such dir/Ärger.cue");
    const wxString iso = wxString::FromUTF8("/no/such dir/Ärger.iso");
    dlg.OpenImage(engine::ID_PAGE_BURN, cue);
    EXPECT_EQ(dlg.m_nCurPage, engine::ID_PAGE_BURN);
    EXPECT_TRUE(dlg.m_pBurnDlg->IsShown());
    EXPECT_EQ(dlg.m_pBurnDlg->m_editImagePath->GetValue(), cue);
    EXPECT_EQ(dlg.m_pBurnDlg->m_cboImageType->GetSelection(), CBurnDlg::kBinCueImage);
    dlg.OpenImage(engine::ID_PAGE_MOUNT, iso);
    EXPECT_EQ(dlg.m_nCurPage, engine::ID_PAGE_MOUNT);
    EXPECT_EQ(dlg.m_pMountDlg->m_cboImage->GetValue(), iso);
    dlg.OpenImage(engine::ID_PAGE_BURN, iso);
    EXPECT_EQ(dlg.m_pBurnDlg->m_editImagePath->GetValue(), iso);
    EXPECT_EQ(dlg.m_pBurnDlg->m_cboImageType->GetSelection(), CBurnDlg::kIsoImage);
}

// The title of the window the window manager says is active (xdotool reads
// _NET_ACTIVE_WINDOW); empty when none is.
std::string ActiveWindowTitle() {
    std::string title = spindle_test::Run("xdotool getactivewindow getwindowname 2>/dev/null");
    while (!title.empty() && title.back() == '\n')
        title.pop_back();
    return title;
}

// A later start while the window is open: the real spindle program, started
// in another folder, hands its arguments over through the socket beside the
// instance lock; the window shows the file on its page (or the page asked
// for), and the later process ends with status 0 once it is shown. Under a
// window manager, with another window in front, each start also brings the
// window to the front: it becomes the active window.
TEST_F(MainDlgTest, ALaterStartHandsItsFileToTheOpenWindow) {
    CMainDlg& dlg = Open();
    wxDialog* other = nullptr;
    if (std::getenv("SPINDLE_TEST_WINDOW_MANAGER")) {
        dlg.Show();
        other = new wxDialog(nullptr, wxID_ANY, "another program");
    }
    struct DestroyOther {
        wxDialog*& window;
        ~DestroyOther() {
            if (window)
                window->Destroy();
        }
    } destroyOther{other};
    port::SingleInstanceLock lock("PreventSecondInstance");
    ASSERT_FALSE(lock.AlreadyExists());
    StartHandOver handOver;
    ASSERT_TRUE(handOver.Open("PreventSecondInstance", &dlg));
    const std::string dir = guitest::MakeTempSubdir("later start");
    const wxString cue = wxString::FromUTF8(dir + "Ärger.cue");
    const wxString iso = wxString::FromUTF8(dir + "b.iso");
    const wxString mountBefore = dlg.m_pMountDlg->m_cboImage->GetValue();
    struct Case {
        std::vector<std::string> args;
        int page;
        wxString burnImage, mountImage;
    } cases[] = {
        {{"Ärger.cue"},
         engine::ID_PAGE_BURN,
         cue,
         mountBefore}, // relative to the later start's folder
        {{"--", iso.utf8_string()}, engine::ID_PAGE_MOUNT, cue, iso},
        {{"--burn"}, engine::ID_PAGE_BURN, cue, iso}, // the desktop entry's action without a file
        {{}, engine::ID_PAGE_BURN, cue, iso},         // to the front only
    };
    for (const Case& c : cases) {
        std::string shown;
        std::vector<char*> argv{const_cast<char*>(SPINDLE_BINARY)};
        for (const std::string& a : c.args)
            (shown += a) += " ", argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (other) {
            other->Show();
            other->Raise();
            ASSERT_TRUE(guitest::YieldUntil([] {
                return ActiveWindowTitle() == "another program";
            })) << ActiveWindowTitle();
        }
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) == 0)
                execv(SPINDLE_BINARY, argv.data());
            _exit(127);
        }
        int status = -1;
        const auto end =
            std::chrono::steady_clock::now() + guitest::Scaled(std::chrono::seconds(60));
        while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < end)
            guitest::Yield(1);
        ASSERT_TRUE(WIFEXITED(status)) << shown;
        EXPECT_EQ(WEXITSTATUS(status), 0) << shown;
        EXPECT_EQ(dlg.m_nCurPage, c.page) << shown;
        EXPECT_EQ(dlg.m_pBurnDlg->m_editImagePath->GetValue(), c.burnImage) << shown;
        EXPECT_EQ(dlg.m_pMountDlg->m_cboImage->GetValue(), c.mountImage) << shown;
        if (other) {
            const std::string title = dlg.GetTitle().utf8_string();
            EXPECT_TRUE(guitest::YieldUntil([&] { return ActiveWindowTitle() == title; }))
                << shown << "active: " << ActiveWindowTitle();
        }
    }
}

TEST_F(MainDlgTest, SwitchingPagesAndClickingTheShownOne) {
    CMainDlg& dlg = Open();
    int showEvents = 0;
    for (int id : kPages)
        dlg.Page(id)->Bind(wxEVT_SHOW, [&](wxShowEvent& e) {
            ++showEvents;
            e.Skip();
        });
    const int refreshed = dlg.m_pUnmountDlg->GetRefreshCount();

    Click(engine::ID_PAGE_MOUNT); // the page already shown: nothing at all happens
    EXPECT_EQ(showEvents, 0);
    EXPECT_EQ(dlg.m_pUnmountDlg->GetRefreshCount(), refreshed);

    Click(engine::ID_PAGE_UNMOUNT);
    EXPECT_EQ(dlg.m_nCurPage, engine::ID_PAGE_UNMOUNT);
    EXPECT_TRUE(dlg.m_pUnmountDlg->IsShown());
    EXPECT_FALSE(dlg.m_pMountDlg->IsShown());
    EXPECT_TRUE(dlg.m_pToolbar->IsButtonChecked(engine::ID_PAGE_UNMOUNT));
    EXPECT_FALSE(dlg.m_pToolbar->IsButtonChecked(engine::ID_PAGE_MOUNT));
    EXPECT_EQ(dlg.m_pUnmountDlg->GetRefreshCount(), refreshed + 1);

    showEvents = 0;
    Click(engine::ID_PAGE_UNMOUNT); // shown already: not refreshed again
    EXPECT_EQ(showEvents, 0);
    EXPECT_EQ(dlg.m_pUnmountDlg->GetRefreshCount(), refreshed + 1);

    for (int id : {engine::ID_PAGE_CREATE, engine::ID_PAGE_FILES, engine::ID_PAGE_BURN}) {
        Click(id);
        EXPECT_EQ(dlg.m_nCurPage, id);
        EXPECT_EQ(dlg.m_pImFilesDlg->ShowsReports(), id == engine::ID_PAGE_FILES) << id;
        for (int other : kPages)
            EXPECT_EQ(dlg.Page(other)->IsShown(), other == id) << id << " " << other;
    }
    EXPECT_EQ(dlg.m_pUnmountDlg->GetRefreshCount(), refreshed + 1);
    Click(engine::ID_PAGE_UNMOUNT); // shown anew: refreshed anew
    EXPECT_EQ(dlg.m_pUnmountDlg->GetRefreshCount(), refreshed + 2);

    // The help button is no page: the shown page stays (its menu is shown).
    int menus = 0;
    CMainDlg::s_popupMenu = [&menus](wxWindow*, wxMenu&, const wxPoint&) { ++menus; };
    Click(ID_BTN_HELP);
    CMainDlg::s_popupMenu = nullptr;
    EXPECT_EQ(menus, 1);
    EXPECT_EQ(dlg.m_nCurPage, engine::ID_PAGE_UNMOUNT);
    EXPECT_TRUE(dlg.m_pUnmountDlg->IsShown());
}

TEST_F(MainDlgTest, EveryPageControlCarriesItsCatalogueText) {
    CMainDlg& dlg = Open();
    struct Item {
        int page;
        int id;
        const char* key;
    };
    const Item items[] = {
        {engine::ID_PAGE_CREATE, 1017, "IDC_STATIC_CREATEDESC"},
        {engine::ID_PAGE_CREATE, 1053, "IDC_STATIC_CREATE01"},
        {engine::ID_PAGE_CREATE, 1054, "IDC_STATIC_CREATE02"},
        {engine::ID_PAGE_CREATE, 1055, "IDC_STATIC_CREATE03"},
        {engine::ID_PAGE_CREATE, 1056, "IDC_STATIC_CREATE04"},
        {engine::ID_PAGE_CREATE, 1009, "IDC_STATIC_CREATE05"},
        {engine::ID_PAGE_CREATE, 1010, "IDC_STATIC_CREATE06"},
        {engine::ID_PAGE_CREATE, 1000, "IDC_STATIC_CREATE07"},
        {engine::ID_PAGE_FILES, 1034, "IDC_STATIC_FILESDESC"},
        {engine::ID_PAGE_FILES, 1011, "IDC_STATIC_FILES01"},
        {engine::ID_PAGE_FILES, 1012, "IDC_STATIC_FILES02"},
        {engine::ID_PAGE_FILES, 1013, "IDC_STATIC_FILES03"},
        {engine::ID_PAGE_FILES, 1014, "IDC_STATIC_FILES04"},
        {engine::ID_PAGE_FILES, 1038, "IDC_STATIC_FILES05"},
        {engine::ID_PAGE_FILES, 1037, "IDC_STATIC_FILES06"},
        {engine::ID_PAGE_MOUNT, 1018, "IDC_STATIC_MOUNTDESC"},
        {engine::ID_PAGE_MOUNT, 1057, "IDC_STATIC_MOUNT01"},
        {engine::ID_PAGE_MOUNT, 1058, "IDC_STATIC_MOUNT02"},
        {engine::ID_PAGE_MOUNT, 1059, "IDC_STATIC_MOUNT03"},
        {engine::ID_PAGE_MOUNT, 1003, "IDC_STATIC_MOUNT04"},
        {engine::ID_PAGE_MOUNT, 1032, "IDC_STATIC_MOUNT05"},
        {engine::ID_PAGE_MOUNT, 1, "IDC_STATIC_MOUNT06"},
        {engine::ID_PAGE_UNMOUNT, 1019, "IDC_STATIC_UNMOUNTDESC"},
        {engine::ID_PAGE_UNMOUNT, 1002, "IDC_STATIC_UNMOUNT01"},
        {engine::ID_PAGE_UNMOUNT, 1001, "IDC_STATIC_UNMOUNT02"},
        {engine::ID_PAGE_BURN, 1020, "IDC_STATIC_BURNDISCDESC"},
        {engine::ID_PAGE_BURN, 1048, "IDC_STATIC_BURNCD01"},
        {engine::ID_PAGE_BURN, 1049, "IDC_STATIC_BURNCD02"},
        {engine::ID_PAGE_BURN, 1050, "IDC_STATIC_BURNCD03"},
        {engine::ID_PAGE_BURN, 1051, "IDC_STATIC_BURNCD04"},
        {engine::ID_PAGE_BURN, 1024, "IDC_STATIC_BURNCD05"},
        {engine::ID_PAGE_BURN, 1038, "IDC_STATIC_BURNCD06"},
        {engine::ID_PAGE_BURN, 1039, "IDC_STATIC_BURNCD07"},
        {engine::ID_PAGE_BURN, 1015, "IDC_STATIC_BURNCD08"},
        {engine::ID_PAGE_BURN, 1016, "IDC_STATIC_BURNCD09"},
    };
    for (const Item& item : items) {
        wxWindow* control = dlg.Page(item.page)->FindWindow(item.id);
        ASSERT_NE(control, nullptr) << item.key;
        std::string expected = kMissingKeys.count(item.key) ? "" : TestText(item.key);
        EXPECT_EQ(TextOf(control), expected) << item.key;
    }

    auto* list = dynamic_cast<wxListCtrl*>(dlg.m_pUnmountDlg->FindWindow(1000));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->GetColumnCount(), 4);
    for (int column = 0; column < 4; ++column) {
        wxListItem heading;
        heading.SetMask(wxLIST_MASK_TEXT);
        list->GetColumn(column, heading);
        EXPECT_EQ(heading.GetText().utf8_string(),
                  TestText("IDC_STATIC_UNMOUNT0" + std::to_string(column + 3)));
    }

    const char* captions[] = {"ID_MAIN_BTN_CREATE",  "ID_MAIN_BTN_FILES",  "ID_MAIN_BTN_MOUNT",
                              "ID_MAIN_BTN_UNMOUNT", "ID_MAIN_BTN_BURNCD", "ID_MAIN_BTN_HELP"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(dlg.m_pToolbar->GetCaption(i).utf8_string(), TestText(captions[i]));
}

// The close box, and a real Escape key press on every page (the keyboard
// wherever the page put it), end the modal run with Cancel and no question;
// so does Ctrl+Q, typed by xdotool as a user would.
TEST_F(MainDlgTest, CloseBoxEscapeAndCtrlQOnEveryPageEndTheModalRunWithoutAQuestion) {
    const int closeBox = 0, ctrlQ = 1;
    for (int page : {closeBox, ctrlQ, engine::ID_PAGE_CREATE, engine::ID_PAGE_FILES,
                     engine::ID_PAGE_MOUNT, engine::ID_PAGE_UNMOUNT, engine::ID_PAGE_BURN}) {
        CMainDlg& dlg = Open();
        if (page > ctrlQ)
            Click(page);
        const int result = guitest::ShowModalWithInput(dlg, [&dlg, page] {
            if (page == closeBox)
                dlg.Close(); // what the close box does
            else if (page == ctrlQ)
                EXPECT_EQ(std::system("xdotool key --clearmodifiers ctrl+q"), 0);
            else
                wxUIActionSimulator().Char(WXK_ESCAPE);
        });
        EXPECT_EQ(result, wxID_CANCEL) << "page " << page;
        EXPECT_TRUE(guitest::ShownBoxes().empty());
        dlg.Destroy();
        m_dlg = nullptr;
        guitest::Yield(1);
    }
}

// A real SIGTERM while a dialog is open over the main window: a running
// build is stopped as Stop would, the dialog gets its cancel answer - the
// toolkit's message box, a worker's question, the desktop's file and folder
// choosers, the program's own about box - and then the main window's run
// ends, within two seconds.
// Whether a window's GTK widget is on screen, native dialogs included (GTK
// is in the process through the toolkit).
bool Mapped(wxWindow* window) {
    using MappedFn = int (*)(void*);
    static const auto mapped =
        reinterpret_cast<MappedFn>(dlsym(RTLD_DEFAULT, "gtk_widget_get_mapped"));
    return mapped && window->GetHandle() && mapped(window->GetHandle());
}

// The last dialog whose modal run began, native ones included.
class OpenedDialog : public wxModalDialogHook {
public:
    OpenedDialog() { Register(); }
    ~OpenedDialog() override { Unregister(); }
    wxDialog* last = nullptr;

protected:
    int Enter(wxDialog* dialog) override {
        last = dialog;
        return wxID_NONE;
    }
    void Exit(wxDialog*) override { last = nullptr; }
};

TEST_F(MainDlgTest, ASessionEndEndsEveryOpenDialogWithItsCancelAnswer) {
    // The real dialogs instead of the scripted ones.
    auto box = port::SetMessageBoxHook(nullptr);
    auto file = port::SetFileDialogHook(nullptr);
    auto folder = port::SetFolderDialogHook(nullptr);
    InstallWxDialogHooks();
    struct Case {
        const char* name;
        std::function<std::string()> open; // shows the dialog, returns its answer
        std::string cancelled;
    } const cases[] = {
        {"message box", [] { return std::to_string(InfoBox("The image file was built.")); }, "1"},
        {"a worker's question",
         [] {
             std::string answer;
             std::thread worker([&] { answer = std::to_string(QuestionBox("Go on?")); });
             // The worker's box runs on this thread, from the event loop.
             while (answer.empty())
                 guitest::Yield(1);
             worker.join();
             return answer;
         },
         "7"},
        {"folder chooser", [] { return port::ShowFolderDialog({}).value_or("cancelled"); },
         "cancelled"},
        {"file chooser", [] { return port::ShowFileDialog({}).value_or("cancelled"); },
         "cancelled"},
        {"about box", [] { return std::to_string(CAboutDlg().ShowModal()); },
         std::to_string(wxID_CANCEL)},
    };
    for (const Case& c : cases) {
        SessionEnd sessionEnd;
        CMainDlg& dlg = Open();
        wxTheApp->SetTopWindow(&dlg);
        bool stopped = false;
        dlg.m_pImFilesDlg->m_btnStop->Enable(); // a build runs
        dlg.m_pImFilesDlg->m_btnStop->Bind(wxEVT_BUTTON, [&](wxCommandEvent& e) {
            stopped = true;
            e.Skip();
        });
        std::string answer = "none";
        std::chrono::steady_clock::time_point sent;
        // Once the dialog is on screen, the signal comes.
        OpenedDialog opened;
        wxTimer signal;
        signal.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            wxDialog* shown = opened.last;
            if (!shown || shown == &dlg || !Mapped(shown))
                return;
            signal.Stop();
            sent = std::chrono::steady_clock::now();
            ::kill(::getpid(), SIGTERM);
        });
        const int result = guitest::ShowModalWithInput(dlg, [&] {
            signal.Start(50);
            dlg.CallAfter([&] { answer = c.open(); });
        });
        const auto took = std::chrono::steady_clock::now() - sent;
        EXPECT_EQ(result, wxID_CANCEL) << c.name;
        EXPECT_EQ(answer, c.cancelled) << c.name;
        EXPECT_LT(took, guitest::Scaled(std::chrono::milliseconds(2000))) << c.name;
        EXPECT_TRUE(stopped) << c.name << ": the build was not stopped";
        dlg.Destroy();
        m_dlg = nullptr;
        guitest::Yield(1);
    }
    port::SetMessageBoxHook(box);
    port::SetFileDialogHook(file);
    port::SetFolderDialogHook(folder);
}

TEST_F(MainDlgTest, LongTitleIsCutTo199Characters) {
    std::string title;
    for (int i = 0; i < 250; ++i)
        title += static_cast<char>('a' + i % 26);
    WriteLanguageFile("[LANGUAGE]\nCURRENT=Test\n[Test]\nID_PRODUCT_TITLE=" + title + "\n");
    CMainDlg& dlg = Open();
    EXPECT_EQ(dlg.GetTitle().utf8_string(), title.substr(0, 199));
}

TEST_F(MainDlgTest, PageBackgroundIsTheSkinUnderIt) {
    CMainDlg& dlg = Open();
    dlg.Show();
    dlg.Raise();
    guitest::Yield(10);

    wxImage screen;
    ASSERT_TRUE(guitest::GrabScreen(screen));
    wxRect client = guitest::ScreenRect(&dlg);
    ASSERT_TRUE(wxRect(0, 0, screen.GetWidth(), screen.GetHeight()).Contains(client));
    wxImage shown = screen.GetSubImage(client);
    wxBitmap skinBitmap(s_skin->GetWidth(), s_skin->GetHeight(), 24);
    {
        wxMemoryDC dc(skinBitmap);
        ASSERT_TRUE(s_skin->Blit(dc, 0, 0, s_skin->GetWidth(), s_skin->GetHeight(), 0, 0));
    }
    wxImage skin = skinBitmap.ConvertToImage();

    // Strips where no control stands: the top of the page above its
    // description, its left margin, and a band of the window beside the page.
    const wxRect strips[] = {
        wxRect(kPageLeft, kPageTop, kPageWidth, 40),
        wxRect(kPageLeft, kPageTop, 8, kPageHeight),
        wxRect(20, kPageTop + 20, kPageLeft - 40, kPageHeight - 40),
    };
    for (const wxRect& strip : strips) {
        int differing = 0;
        for (int y = strip.GetTop(); y <= strip.GetBottom(); ++y)
            for (int x = strip.GetLeft(); x <= strip.GetRight(); ++x)
                for (int c = 0; c < 3; ++c) {
                    auto pixel = [&](const wxImage& img) {
                        return c == 0   ? img.GetRed(x, y)
                               : c == 1 ? img.GetGreen(x, y)
                                        : img.GetBlue(x, y);
                    };
                    if (std::abs(pixel(shown) - pixel(skin)) > 2) {
                        ++differing;
                        c = 3;
                    }
                }
        EXPECT_EQ(differing, 0) << "strip at " << strip.x << "," << strip.y;
    }
}

} // namespace

namespace {

// Not a check: with SPINDLE_SCREENSHOT_DIR set (scripts/screenshots.sh) it
// saves the main window on each page as <dir>/<page>.png, in the shipped
// language file's texts (SPINDLE_SCREENSHOT_LANGUAGE picks another section).
class Screenshots : public MainDlgTest {
protected:
    void SetUp() override {
        MainDlgTest::SetUp();
        std::string text = spindle_test::ReadFile(*s_realProgramDir + "languiu.ini");
        if (const char* language = std::getenv("SPINDLE_SCREENSHOT_LANGUAGE")) {
            auto at = text.find("CURRENT=");
            auto end = text.find('\n', at);
            if (at != std::string::npos)
                text.replace(at, end - at, std::string("CURRENT=") + language);
        }
        WriteLanguageFile(text);
    }
};

TEST_F(Screenshots, EachPage) {
    const char* dir = std::getenv("SPINDLE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "set SPINDLE_SCREENSHOT_DIR to save screenshots";
    CMainDlg& dlg = Open();
    dlg.Show();
    dlg.Raise();
    const std::pair<int, const char*> pages[] = {
        {engine::ID_PAGE_MOUNT, "mount"}, {engine::ID_PAGE_CREATE, "create"},
        {engine::ID_PAGE_FILES, "files"}, {engine::ID_PAGE_UNMOUNT, "unmount"},
        {engine::ID_PAGE_BURN, "burn"},
    };
    for (const auto& [id, name] : pages) {
        Click(id);
        dlg.Refresh();
        guitest::Yield(10);
        wxImage screen;
        ASSERT_TRUE(guitest::GrabScreen(screen));
        wxImage shot = screen.GetSubImage(guitest::DeviceScreenRect(&dlg));
        std::string path = std::string(dir) + "/" + name + ".png";
        EXPECT_TRUE(shot.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG)) << path;
    }
}

// The engine's reports arrive on its own thread; what ended is the work
// that was started, announced on whatever page is shown.
TEST_F(MainDlgTest, EngineReportsReachTheFilesPageAndAnnounceTheWorkThatWasStarted) {
    CMainDlg& dlg = Open();
    wxTheApp->SetTopWindow(&dlg);
    CImFilesDlg* files = dlg.m_pImFilesDlg;
    ASSERT_NE(files, nullptr);
    auto fromEngine = [](auto report) { std::thread(report).join(); };

    auto progress = [](engine::JobKind kind, float percent) {
        engine::ReportScope scope(kind);
        RelayProcessEvent(percent);
    };
    fromEngine([&] { progress(engine::JobKind::ImageBuild, 42.0f); }); // mount page: dropped
    guitest::Yield(1);
    EXPECT_EQ(files->m_progressBuild->GetValue(), 0);
    Click(engine::ID_PAGE_FILES);
    fromEngine([&] { progress(engine::JobKind::Burn, 12.0f); }); // a burn's: dropped
    fromEngine([&] { progress(engine::JobKind::ImageBuild, 42.7f); });
    guitest::Yield(1);
    EXPECT_EQ(files->m_progressBuild->GetValue(), 42);

    struct Case {
        engine::JobKind kind;
        int page;
        const char16_t* error;
        port::ErrorCode code;
        const char* key;
        bool stopEnabled;
    } cases[] = {
        {engine::JobKind::ImageBuild, engine::ID_PAGE_MOUNT, u"stopped",
         port::ERROR_OPERATION_ABORTED, "ID_INTERRUPTBYUSER", false},
        {engine::JobKind::ImageBuild, engine::ID_PAGE_BURN, u"failed", port::ERROR_DISK_FULL,
         "ID_BUILDIMAGEERROR", true},
        {engine::JobKind::Burn, engine::ID_PAGE_FILES, nullptr, port::ERROR_SUCCESS,
         "ID_BURNDISCDONE", true},
    };
    for (const Case& c : cases) {
        Click(c.page);
        files->m_btnStop->Enable();
        files->SetProgress(70);
        guitest::ClearShown();
        fromEngine([&c] {
            const engine::JobOutcome outcome{c.kind, c.code, {}};
            engine::ReportScope scope(c.kind, &outcome);
            RelayBurnDone(c.error);
        });
        guitest::Yield(1);
        ASSERT_EQ(guitest::ShownBoxes().size(), 1u) << c.key;
        EXPECT_EQ(guitest::ShownBoxes()[0].text, TestText(c.key));
        EXPECT_EQ(files->m_btnStop->IsEnabled(), c.stopEnabled) << c.key;
        EXPECT_EQ(files->m_progressBuild->GetValue(), 0) << c.key;
    }
}

} // namespace
