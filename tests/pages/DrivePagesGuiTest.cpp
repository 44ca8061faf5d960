// The mount and unmount pages driven through their handlers, with scripted
// message boxes and file dialogs, against a private spindle-driver and its
// real FUSE mount.
#include "pages/Layouts.h"
#include "pages/MountDlg.h"
#include "pages/UnmountDlg.h"
#include "port/DialogHooks.h"
#include "port/DosDevices.h"
#include "port/OpenFolder.h"
#include "port/Profile.h"
#include "port/Shell.h"
#include "port/Utf.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"
#include "tests/support/DriverProcess.h"
#include "vdrive/VirtualDrive.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace ui;

namespace fs = std::filesystem;
using spindle_test::DriverProcess;

namespace {

class DrivePagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLayouts(std::string(SPINDLE_SOURCE_DIR) + "/res/"));
        m_dir = guitest::MakeTempSubdir("drive-pages");
        guitest::UseRealLanguageFile(m_dir, "English");
        m_runtime = m_dir + "run";
        fs::create_directories(m_runtime + "/dosdevices"); // an empty drive table
        fs::permissions(m_runtime, fs::perms::owner_all);
        setenv("SPINDLE_RUNTIME_DIR", m_runtime.c_str(), 1);
        setenv("SPINDLE_CONFIG_DIR", (m_dir + "cfg").c_str(), 1);
        fs::create_directories(m_dir + "cfg");
        spindle_test::WriteFile(m_dir + "cfg/drives.conf",
                                "media = off\n"); // nothing in the real home
        port::PushDosDevice("C:", "/");
        m_frame = guitest::MakeSkinnedFrame();
        guitest::ClearShown();
    }
    void TearDown() override {
        m_frame->Destroy();
        guitest::Yield(1);
        m_driver.reset();                      // stops it, which frees its drives
        spindle_test::StopDriverOf(m_runtime); // one a mount started, if any
    }

    bool StartDriver() {
        m_driver = std::make_unique<DriverProcess>();
        return m_driver->ready();
    }

    // An ISO image with one file, made by genisoimage.
    std::string MakeIso(const std::string& name, const std::string& label) {
        const std::string src = m_dir + "src-" + name;
        fs::create_directories(src);
        std::ofstream(src + "/readme.txt") << "image " << name << "\n";
        const std::string iso = m_dir + name;
        const std::string cmd =
            "genisoimage -quiet -J -R -V '" + label + "' -o '" + iso + "' '" + src + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return iso;
    }

    template <class Page> Page* MakePage() {
        auto* page = new Page();
        EXPECT_TRUE(page->Create(m_frame));
        return page;
    }

    static void Click(wxWindow* page, int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(page->FindWindow(id));
        page->GetEventHandler()->ProcessEvent(event);
    }

    static std::vector<std::string> Boxes() {
        std::vector<std::string> texts;
        for (const guitest::ShownBox& box : guitest::ShownBoxes())
            texts.push_back(box.text);
        guitest::ClearShown();
        return texts;
    }

    // The label box's text without the blanks that pad the identifier.
    static std::string Label(CMountDlg* page) {
        wxString label = page->m_editLabel->GetValue();
        return label.Trim().utf8_string();
    }

    static std::vector<std::string> History() {
        std::vector<std::string> keys;
        for (int i = 0; i < 10; ++i)
            keys.push_back(port::GetProfileString("Mount", "hist" + std::to_string(i), "<unset>"));
        return keys;
    }

    static void SetHistory(const std::vector<std::string>& paths) {
        for (std::size_t i = 0; i < paths.size(); ++i)
            port::WriteProfileString("Mount", "hist" + std::to_string(i), paths[i]);
    }

    std::string m_dir, m_runtime;
    std::unique_ptr<DriverProcess> m_driver;
    wxFrame* m_frame = nullptr;
};

TEST_F(DrivePagesTest, MountPageOffersFreeLettersAndTheOldestImageOfItsHistory) {
    for (const char* name : {"D:", "E:", "F:"})
        port::PushDosDevice(name, "/dev/null");
    const std::string p = MakeIso("p.iso", "PLABEL"), q = MakeIso("q.iso", "QLABEL");
    SetHistory({p, q});
    auto* page = MakePage<CMountDlg>();
    ASSERT_EQ(page->m_cboDrive->GetCount(), 20u); // G to Z
    EXPECT_EQ(page->m_cboDrive->GetString(0), "Drive G:");
    EXPECT_EQ(page->m_cboDrive->GetString(19), "Drive Z:");
    EXPECT_EQ(page->m_cboDrive->GetSelection(), 0);
    ASSERT_EQ(page->m_cboImage->GetCount(), 2u);
    EXPECT_EQ(page->m_cboImage->GetValue(), q);
    EXPECT_EQ(page->m_strImagePath, q);
    EXPECT_EQ(Label(page), "QLABEL");
    EXPECT_FALSE(page->m_editLabel->IsEnabled());

    // Another entry of the list shows its label at once.
    page->m_cboImage->SetSelection(0);
    wxCommandEvent select(wxEVT_COMBOBOX, 1023);
    select.SetString(page->m_cboImage->GetString(0));
    select.SetInt(0);
    page->GetEventHandler()->ProcessEvent(select);
    EXPECT_EQ(page->m_strImagePath, p);
    EXPECT_EQ(Label(page), "PLABEL");

    // A file dropped from the file manager becomes the image.
    wxArrayString dropped;
    dropped.Add(wxString::FromUTF8(q));
    EXPECT_TRUE(page->OnDropFiles(dropped));
    EXPECT_EQ(page->m_cboImage->GetValue(), q);
    EXPECT_EQ(Label(page), "QLABEL");
}

TEST_F(DrivePagesTest, BrowseKeepsAChosenFileAndCompletesOnlyANameThatNamesNoFile) {
    const std::string img = m_dir + "disc.img";
    fs::copy_file(MakeIso("disc.iso", "IMGLABEL"), img);
    auto* page = MakePage<CMountDlg>();
    page->m_strImagePath = wxString::FromUTF8(m_dir + "old.iso");
    std::vector<port::FileDialogRequest> asked;
    std::vector<std::optional<std::string>> answers = {img, m_dir + "typed", m_dir + "A.Iso",
                                                       std::nullopt};
    port::ScopedFileDialogHook hook([&](const port::FileDialogRequest& request) {
        asked.push_back(request);
        auto answer = answers[asked.size() - 1];
        return answer;
    });
    struct Case {
        std::string path, label;
    } cases[] = {
        {img, "IMGLABEL"},         // exists: kept, not disc.img.iso
        {m_dir + "typed.iso", ""}, // names no file: completed
        {m_dir + "A.Iso", ""},     // ends in .ISO in any case
        {m_dir + "A.Iso", ""},     // cancelled: nothing changes
    };
    for (const Case& c : cases) {
        Click(page, 1003);
        EXPECT_EQ(page->m_strImagePath.utf8_string(), c.path);
        EXPECT_EQ(page->m_cboImage->GetValue().utf8_string(), c.path);
        EXPECT_EQ(Label(page), c.label) << c.path;
    }
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_FALSE(asked[0].save);
    EXPECT_EQ(asked[0].filter, "Disc images (*.iso, *.cue, *.ccd, *.nrg, *.mds)|"
                               "*.iso;*.cue;*.ccd;*.nrg;*.mds|All files|*");
    EXPECT_EQ(asked[0].defaultDir, m_dir);
    EXPECT_EQ(asked[0].defaultFile, "old.iso");
    EXPECT_EQ(asked[1].defaultFile, "disc.img");
}

TEST_F(DrivePagesTest, MountingRecordsTheImageAndReportsOrOpensTheDrive) {
    SPINDLE_REQUIRE_FUSE();
    ASSERT_TRUE(StartDriver());
    const std::string p = MakeIso("p.iso", "PLABEL"), q = MakeIso("q.iso", "QLABEL");
    SetHistory({p, q, m_dir + "stale.iso"});
    port::WriteProfileString("Mount", "hist2", "");
    auto* page = MakePage<CMountDlg>();
    std::vector<std::string> opened;
    auto hook = std::make_unique<port::ScopedLauncherHook>([&](const port::LaunchRequest& r) {
        opened.push_back(r.target);
        return 42;
    });

    Click(page, 1); // Q, the selected image, on the first free letter
    EXPECT_EQ(Boxes(), std::vector<std::string>{"The image is mounted as drive D:."});
    EXPECT_TRUE(fs::exists(m_runtime + "/drives/D/readme.txt"));
    std::vector<std::string> want(10, "");
    want[0] = q;
    want[1] = p;
    EXPECT_EQ(History(), want);
    EXPECT_EQ(page->m_cboDrive->GetString(0), "Drive E:") << "the letter just taken is gone";
    EXPECT_EQ(page->m_cboImage->GetString(0), q);

    // With the box ticked the drive's folder opens instead of a message.
    page->m_chkOpen->SetValue(true);
    page->m_cboImage->SetValue(p);
    Click(page, 1);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(opened, std::vector<std::string>{m_runtime + "/drives/E/"});
    EXPECT_TRUE(fs::exists(opened.at(0) + "readme.txt"));
    want[0] = p;
    want[1] = q;
    EXPECT_EQ(History(), want);
    hook.reset();

    // An eleventh image: ten keys, the oldest gone.
    std::vector<std::string> ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back(m_dir + "old" + std::to_string(i) + ".iso");
    SetHistory(ten);
    auto* again = MakePage<CMountDlg>();
    again->m_cboImage->SetValue(MakeIso("new.iso", "NEW"));
    Click(again, 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"The image is mounted as drive F:."});
    want = ten;
    want.insert(want.begin(), m_dir + "new.iso");
    want.pop_back();
    EXPECT_EQ(History(), want);
    EXPECT_EQ(again->m_cboImage->GetCount(), 11u)
        << "the page keeps the eleventh until it starts anew";

    // A name that is not UTF-8 (Latin-1 here): shown with U+FFFD, read and
    // mounted as that very file, and kept out of the history's text.
    const std::string latin = MakeIso("caf\xE9.iso", "LATIN");
    again->ChooseImage(PathFromBytes(latin));
    EXPECT_EQ(again->m_cboImage->GetValue().utf8_string(), m_dir + "caf\uFFFD.iso");
    EXPECT_EQ(Label(again), "LATIN");
    Click(again, 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"The image is mounted as drive G:."});
    const auto mounted = vdrive::QueryMountedImage(u'G');
    ASSERT_TRUE(mounted);
    EXPECT_EQ(port::PathToUtf8(mounted->imageName), "\\??\\" + latin);
    EXPECT_EQ(History(), want);
}

TEST_F(DrivePagesTest, FailedMountsSayWhyAndLeaveNoLetterBehind) {
    const std::string q = MakeIso("q.iso", "QLABEL");
    auto* page = MakePage<CMountDlg>();
    page->m_cboImage->SetValue(q);

    // No driver, and none to start (the program's folder and the PATH
    // hold none).
    const std::string path = std::getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    Click(page, 1);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{
                           "The virtual drive service is not running and could not be started: "
                           "spindle-driver is neither in " +
                           m_dir + " nor on the PATH."});
    EXPECT_FALSE(vdrive::IsDriveLetterUsed(u'D'));
    EXPECT_EQ(page->m_cboDrive->GetString(0), "Drive D:");
    EXPECT_EQ(History(), std::vector<std::string>(10, "<unset>"))
        << "a failed mount keeps the history";

    // A path the driver's records cannot carry whole is refused, not cut.
    page->m_cboImage->SetValue(wxString::FromUTF8("/" + std::string(300, 'x') + ".iso"));
    Click(page, 1);
    const std::vector<std::string> tooLong = Boxes();
    ASSERT_EQ(tooLong.size(), 1u);
    EXPECT_NE(tooLong[0].find("too long"), std::string::npos) << tooLong[0];
    EXPECT_NE(tooLong[0].find("206"), std::string::npos) << tooLong[0];
    EXPECT_FALSE(vdrive::IsDriveLetterUsed(u'D'));

    // An image description that cannot be used is named with its fault
    // before the driver is asked.
    std::ofstream(m_dir + "gone.cue") << "FILE gone.bin BINARY\nTRACK 01 MODE1/2048\n"
                                         "INDEX 01 00:00:00\n";
    page->m_cboImage->SetValue(wxString::FromUTF8(m_dir + "gone.cue"));
    Click(page, 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"The image could not be mounted: the file " +
                                                m_dir + "gone.bin (line 1, FILE) is missing."});
    EXPECT_FALSE(vdrive::IsDriveLetterUsed(u'D'));

    // A letter another program took after the list was filled.
    SPINDLE_REQUIRE_FUSE();
    ASSERT_TRUE(StartDriver());
    port::PushDosDevice("D:", "/dev/null");
    page->m_cboImage->SetValue(q);
    Click(page, 1);
    EXPECT_EQ(Boxes(),
              std::vector<std::string>{
                  "The image could not be mounted: the drive letter is in use (error 170)."});
    EXPECT_EQ(port::FirstDosDeviceTarget("D:"), "/dev/null") << "the other drive is untouched";
    EXPECT_EQ(page->m_cboDrive->GetString(0), "Drive E:") << "the list is filled anew";
    EXPECT_EQ(page->m_cboDrive->GetSelection(), 0);

    // A file that is no image: an error box that says why, in the words the
    // command line uses.
    const std::string text = m_dir + "notes.iso";
    std::ofstream(text) << std::string(40000, 'x');
    page->m_cboImage->SetValue(text);
    Click(page, 1);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].caption, "Error");
    EXPECT_EQ(guitest::ShownBoxes()[0].style & port::MB_ICONMASK, port::MB_ICONERROR);
    EXPECT_EQ(Boxes(), std::vector<std::string>{
                           "The image could not be mounted: not an ISO 9660 image (error 1005)."});
}

TEST_F(DrivePagesTest, UnmountPageListsTheDrivesAndDismountsThem) {
    SPINDLE_REQUIRE_FUSE();
    ASSERT_TRUE(StartDriver());
    const std::string small = MakeIso("small.iso", "SMALL");
    // An image of 5,000,000,000 bytes: a small one padded sparsely.
    const std::string large = m_dir + "large.iso";
    fs::copy_file(MakeIso("large-src.iso", "LARGE"), large);
    fs::resize_file(large, 5'000'000'000);
    port::ErrorCode error = 0;
    vdrive::MountRequest request;
    request.imagePath = port::ToUtf16(large);
    ASSERT_TRUE(vdrive::MountImage(u'M', request, error)) << error;
    request.imagePath = port::ToUtf16(small);
    ASSERT_TRUE(vdrive::MountImage(u'K', request, error)) << error;

    auto* page = MakePage<CUnmountDlg>();
    wxListCtrl* list = page->m_listDrives;
    ASSERT_EQ(list->GetItemCount(), 2);
    const std::vector<std::vector<std::string>> rows = {
        {"K:", small, "Yes", std::to_string(fs::file_size(small))},
        {"M:", large, "Yes", "5000000000"},
    };
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(list->GetItemText(r, c).utf8_string(), rows[r][c]) << r << "," << c;

    if (const char* shots = std::getenv("SPINDLE_PAGE_SHOTS")) {
        // A picture of the filled list for a person to look at.
        m_frame->Show();
        guitest::Yield(4);
        wxImage screen;
        if (guitest::GrabScreen(screen))
            screen.GetSubImage(guitest::ScreenRect(m_frame))
                .SaveFile(wxString(shots) + "/unmount-rows.png");
    }

    // Nothing selected: said so, and nothing is dismounted.
    Click(page, 1001);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Choose the drive to dismount in the list first."});
    EXPECT_EQ(list->GetItemCount(), 2);

    // A file held open: the drive is in use, stays listed and still reads.
    const std::string file = m_runtime + "/drives/K/readme.txt";
    int fd = open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    list->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    Click(page, 1001);
    const std::vector<std::string> used = Boxes();
    ASSERT_EQ(used.size(), 1u);
    EXPECT_EQ(used[0].rfind("The drive is in use", 0), 0u) << used[0];
    EXPECT_EQ(list->GetItemCount(), 2);
    char buf[32] = {};
    EXPECT_GT(pread(fd, buf, sizeof buf, 0), 0);
    EXPECT_EQ(std::string(buf), "image small.iso\n");
    close(fd);
    std::ifstream again(file);
    EXPECT_TRUE(again.good()) << "the drive still reads";
    again.close();

    Click(page, 1001);
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(list->GetItemCount(), 1);
    EXPECT_EQ(list->GetItemText(0, 0), "M:");
    EXPECT_FALSE(vdrive::IsDriveLetterUsed(u'K'));

    // Refresh List shows what another program mounted meanwhile.
    ASSERT_TRUE(vdrive::MountImage(u'E', request, error)) << error;
    Click(page, 1002);
    ASSERT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetItemText(0, 0), "E:");

    // A drive another program dismounted meanwhile: an error box with why.
    ASSERT_TRUE(vdrive::DismountDrive(u'E').ok);
    list->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    Click(page, 1001);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].style & port::MB_ICONMASK, port::MB_ICONERROR);
    const std::vector<std::string> failed = Boxes();
    EXPECT_EQ(failed[0].rfind("The drive could not be dismounted: ", 0), 0u) << failed[0];
}

} // namespace
