// The create page under Xvfb, driven through its handlers with scripted
// dialogs: drives, label and history at initialisation, the save dialog's
// ".ISO" rule, the copy's messages and button states, and a window closed
// during a copy.
#include "controls/PageLook.h"
#include "pages/CreateDlg.h"
#include "pages/Layouts.h"
#include "port/DialogHooks.h"
#include "port/DosDevices.h"
#include "port/Profile.h"
#include "tests/disccopy/CopySupport.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/gauge.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <unistd.h>

using namespace ui;

using copytest::ReadFile;
using copytest::WriteFile;

namespace {

constexpr unsigned kWarning = port::MB_OK | port::MB_ICONWARNING;
constexpr unsigned kInfo = port::MB_OK | port::MB_ICONINFORMATION;
constexpr unsigned kQuestion = port::MB_YESNO;
constexpr unsigned kError = port::MB_OK | port::MB_ICONERROR;
constexpr std::size_t kChunk = engine::kDiscChunkBytes;

std::map<std::string, std::string> Texts() {
    std::map<std::string, std::string> t;
    for (const char* key :
         {"ID_SELECT_CDDRIVE", "ID_CANNTCREATEBUFFER", "ID_READERROR", "ID_CREATEIMAGEDONE",
          "ID_CREATEIMAGEFAILED", "ID_PREPARING", "ID_SELECT_IMAGEFILE"})
        t[key] = std::string("t:") + key;
    for (const char* key : {"ID_CANNTOPENCDDRIVE", "ID_OVERWRITE_IMAGE", "ID_CANNTCREATEFILE",
                            "ID_NODISC", "ID_LABELNOTWRITTEN", "ID_CREATEIMAGEPARTIAL"})
        t[key] = std::string("t:") + key + " %s";
    t["ID_CREATEIMAGEBADSECTORS"] = "t:bad %d, %s";
    t["ID_CURRENTREADING"] = "%d/%d MB, %d";
    t["ID_INFORMATION"] = "Information";
    t["ID_ERROR"] = "Error";
    t["ID_WARNING"] = "Warning";
    t["ID_QUESTION"] = "Question";
    t["ID_FILTER_ISO"] = "ISO images (*.iso)";
    t["ID_FILTER_ALL"] = "All files";
    return t;
}

class CreatePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLayouts(std::string(SPINDLE_SOURCE_DIR) + "/res/"));
        m_dir = guitest::MakeTempSubdir("create");
        guitest::WriteLanguageFile(m_dir, "Test", Texts());
        ::setenv("SPINDLE_RUNTIME_DIR", (m_dir + "run").c_str(), 1);
        ::setenv("SPINDLE_CONFIG_DIR", (m_dir + "cfg").c_str(), 1);
        std::filesystem::create_directories(m_dir + "run/dosdevices");
        std::filesystem::permissions(m_dir + "run", std::filesystem::perms::owner_all);
        m_frame = guitest::MakeSkinnedFrame();
        guitest::ClearShown();
    }
    void TearDown() override {
        m_frame->Destroy();
        guitest::Yield(1);
    }

    // R: holds a small ISO image labelled DISC_R.
    std::string MakeIsoDisc() {
        std::filesystem::create_directories(m_dir + "tree");
        WriteFile(m_dir + "tree/a.txt", copytest::RandomBytes(3 * kChunk, 9));
        const std::string iso = m_dir + "disc.iso";
        EXPECT_TRUE(copytest::Shell("genisoimage -quiet -J -V DISC_R -o '" + iso + "' '" + m_dir +
                                    "tree'"));
        port::PushDosDevice("R:", "stdio:" + iso);
        return iso;
    }

    CCreateDlg* MakePage() {
        auto* page = new CCreateDlg();
        EXPECT_TRUE(page->Create(m_frame));
        return page;
    }

    void Build(CCreateDlg* page) {
        wxCommandEvent event;
        page->OnBuildImage(event);
        guitest::YieldUntil([&] { return !page->IsCopying(); });
        guitest::Yield(2); // what the worker posted last
    }

    // Chooses the listed item that begins with `item`, appending it when
    // none does; none at all for an empty one.
    static void SelectDrive(CCreateDlg* page, const wxString& item) {
        page->m_cboDrive->SetSelection(wxNOT_FOUND);
        if (item.empty())
            return;
        for (unsigned i = 0; i < page->m_cboDrive->GetCount(); ++i) {
            if (page->m_cboDrive->GetString(i).StartsWith(item)) {
                page->m_cboDrive->SetSelection(static_cast<int>(i));
                return;
            }
        }
        page->m_cboDrive->SetSelection(page->m_cboDrive->Append(item));
    }

    std::string m_dir;
    wxFrame* m_frame = nullptr;
};

TEST_F(CreatePageTest, InitialisationListsDrivesLabelAndHistory) {
    port::PushDosDevice("C:", "/");
    MakeIsoDisc();
    port::PushDosDevice("S:", "stdio:" + m_dir + "no-disc-yet.iso");
    ASSERT_TRUE(port::WriteProfileString("New", "hist4", "/only4.iso"));

    CCreateDlg* page = MakePage();
    ASSERT_EQ(page->m_cboDrive->GetCount(), 2u) << "C: is no optical drive";
    EXPECT_EQ(page->m_cboDrive->GetString(0), "R: YOYODYNE WARP DRIVE");
    EXPECT_TRUE(page->m_cboDrive->GetString(1).StartsWith("S: "));
    EXPECT_EQ(page->m_strDrive, page->m_cboDrive->GetString(0));
    EXPECT_EQ(page->m_editLabel->GetValue(), "DISC_R");
    EXPECT_EQ(page->m_strDiscLabel, "DISC_R");
    ASSERT_EQ(page->m_cboImage->GetCount(), 1u);
    EXPECT_EQ(page->m_cboImage->GetValue(), "/only4.iso");
    EXPECT_EQ(page->m_strImagePath, "/only4.iso");
    EXPECT_TRUE(page->m_btnBuild->IsEnabled());
    EXPECT_FALSE(page->m_btnStop->IsEnabled());

    // Dropping the list down lists the drives again and changes no label;
    // choosing the drive without a disc empties it.
    wxCommandEvent event;
    page->m_editLabel->SetValue("typed");
    page->OnDropDownDrive(event);
    EXPECT_EQ(page->m_cboDrive->GetCount(), 2u);
    // A drive that comes meanwhile is listed at the next drop-down.
    port::PushDosDevice("T:", "stdio:" + m_dir + "plugged-in.iso");
    page->OnDropDownDrive(event);
    EXPECT_EQ(page->m_cboDrive->GetCount(), 3u);
    EXPECT_EQ(page->m_cboDrive->GetStringSelection(), "R: YOYODYNE WARP DRIVE");
    port::RemoveDosDevice("T:", std::nullopt, false);
    page->OnDropDownDrive(event);
    EXPECT_EQ(page->m_editLabel->GetValue(), "typed");
    page->m_cboDrive->SetSelection(1);
    page->OnSelChangeDrive(event);
    EXPECT_EQ(page->m_editLabel->GetValue(), "");
    EXPECT_EQ(page->m_strDiscLabel, "");
}

TEST_F(CreatePageTest, BrowseAppendsDotIsoUnlessTheNameEndsInItInAnyCase) {
    CCreateDlg* page = MakePage();
    struct Case {
        std::optional<std::string> chosen;
        const char* shown;
    } cases[] = {
        {"/d/image.iso", "/d/image.iso"},  {"/d/image", "/d/image.iso"},
        {"/d/image.Iso", "/d/image.Iso"},  {"/d/image.is", "/d/image.is.iso"},
        {std::nullopt, "/d/image.is.iso"}, // cancelled: nothing changes
    };
    for (const Case& c : cases) {
        port::FileDialogRequest asked;
        port::ScopedFileDialogHook hook([&](const port::FileDialogRequest& r) {
            asked = r;
            return c.chosen;
        });
        const wxString before = page->m_cboImage->GetValue();
        wxCommandEvent event;
        page->OnBrowse(event);
        EXPECT_EQ(page->m_cboImage->GetValue(), c.shown);
        EXPECT_EQ(page->m_strImagePath, c.shown);
        EXPECT_TRUE(asked.save);
        EXPECT_FALSE(asked.overwritePrompt);
        EXPECT_EQ(asked.filter, "ISO images (*.iso)|*.iso|All files|*");
        if (!before.empty()) {
            EXPECT_EQ(asked.defaultDir + "/" + asked.defaultFile, before.utf8_string());
        }
    }
}

TEST_F(CreatePageTest, EachWayACopyEndsShowsItsMessage) {
    const std::string iso = MakeIsoDisc();
    WriteFile(m_dir + "empty.bin", "");
    port::PushDosDevice("E:", "stdio:" + m_dir + "empty.bin");
    WriteFile(m_dir + "raw.bin", copytest::RandomBytes(kChunk, 10));
    port::PushDosDevice("F:", "stdio:" + m_dir + "raw.bin");
    port::PushDosDevice("S:", "stdio:" + m_dir + "no-disc.bin");
    const std::string out = m_dir + "out.iso";
    // The history holds the image path in other case as item 3.
    std::vector<std::string> history = {"/h/0.iso", "/h/1.iso", "/h/2.iso", m_dir + "OUT.ISO"};
    for (int i = 0; i < 4; ++i)
        port::WriteProfileString("New", "hist" + std::to_string(i), history[i]);

    struct Case {
        const char* name;
        wxString drive; // empty: none chosen
        std::string image;
        bool imageExists;
        std::vector<guitest::ShownBox> boxes;
        const char* status;
        const char* label = nullptr; // typed into the label box; null: the disc's
    } cases[] = {
        {"nowhere to save", "R: ", "", false, {{"t:ID_SELECT_IMAGEFILE", "Warning", kWarning}}, ""},
        {"no drive chosen", "", out, false, {{"t:ID_SELECT_CDDRIVE", "Warning", kWarning}}, " "},
        {"drive cannot be opened",
         "Q: gone",
         out,
         false,
         {{"t:ID_CANNTOPENCDDRIVE \\\\.\\Q:", "Error", kError}},
         ""},
        {"image exists, no",
         "R: ",
         out,
         true,
         {{"t:ID_OVERWRITE_IMAGE " + out, "Question", kQuestion}},
         ""},
        {"image cannot be created",
         "R: ",
         m_dir + "none/out.iso",
         false,
         {{"t:ID_CANNTCREATEFILE " + m_dir + "none/out.iso.part", "Error", kError}},
         ""},
        {"empty disc", "E: ", out, false, {{"t:ID_NODISC E:", "Warning", kWarning}}, ""},
        {"replace with no disc in the drive",
         "S: ",
         out,
         true,
         {{"t:ID_NODISC S:", "Warning", kWarning}},
         ""},
        {"a label that cannot be written",
         "F: ",
         out,
         false,
         {{"t:ID_LABELNOTWRITTEN " + out, "Warning", kWarning},
          {"t:ID_CREATEIMAGEDONE", "Information", kInfo}},
         "",
         "NEWLABEL"},
        {"copied", "R: ", out, false, {{"t:ID_CREATEIMAGEDONE", "Information", kInfo}}, ""},
    };
    CCreateDlg* page = MakePage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(out);
        if (c.imageExists)
            WriteFile(out, "old");
        SelectDrive(page, c.drive);
        page->m_cboImage->SetValue(wxString::FromUTF8(c.image));
        page->m_editLabel->SetValue(c.label ? wxString(c.label) : page->m_strDiscLabel);
        guitest::ClearShown();
        Build(page);
        ASSERT_EQ(guitest::ShownBoxes().size(), c.boxes.size());
        for (std::size_t i = 0; i < c.boxes.size(); ++i) {
            EXPECT_EQ(guitest::ShownBoxes()[i].text, c.boxes[i].text);
            EXPECT_EQ(guitest::ShownBoxes()[i].caption, c.boxes[i].caption);
            EXPECT_EQ(guitest::ShownBoxes()[i].style, c.boxes[i].style);
        }
        EXPECT_EQ(page->m_staticStatus->GetLabel(), c.status);
        EXPECT_EQ(page->m_progress->GetValue(), 0);
        EXPECT_TRUE(page->m_btnBuild->IsEnabled());
        EXPECT_FALSE(page->m_btnStop->IsEnabled());
        if (c.imageExists) {
            EXPECT_EQ(ReadFile(out), "old");
        }
    }
    EXPECT_TRUE(copytest::SameBytes(iso, out));
    // The finished copies put the path on top; its other-case twin is gone.
    const std::vector<std::string> expected = {out, "/h/0.iso", "/h/1.iso", "/h/2.iso"};
    EXPECT_EQ(CRecentPaths("New").Load(), expected);
    ASSERT_EQ(page->m_cboImage->GetCount(), 4u);
    EXPECT_EQ(page->m_cboImage->GetString(0), out);
}

// 4 chunks and a bit; sector 300 (in chunk 1) and 700 cannot be read.
class ScratchedDiscPage : public CreatePageTest {
protected:
    void SetUp() override {
        CreatePageTest::SetUp();
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "no FUSE here";
        m_source = m_dir + "source.bin";
        WriteFile(m_source, copytest::RandomBytes(4 * kChunk + 5000, 11));
        std::filesystem::create_directories(m_dir + "mnt");
        m_disc = std::make_unique<copytest::BadSectorDisc>(m_source, m_dir + "mnt",
                                                           std::vector<std::int64_t>{300, 700});
        ASSERT_TRUE(m_disc->Ready());
        port::PushDosDevice("R:", "stdio:" + m_disc->File());
        m_out = m_dir + "out.iso";
    }
    void TearDown() override {
        CreatePageTest::TearDown();
        m_disc.reset();
    }

    std::string m_source, m_out;
    std::unique_ptr<copytest::BadSectorDisc> m_disc;
};

TEST_F(ScratchedDiscPage, ButtonsWhileCopyingStopAndNoSecondCopy) {
    CCreateDlg* page = MakePage();
    page->m_cboImage->SetValue(wxString::FromUTF8(m_out));
    // The read error question comes while the copy runs: the buttons show
    // it; a second Build Image starts nothing; Stop switches the buttons at
    // once and the copy ends without another word.
    bool copyingShown = false;
    port::ScopedMessageBoxHook hook([&](const port::MessageBoxRequest& r) {
        copyingShown = page->m_btnStop->IsEnabled() && !page->m_btnBuild->IsEnabled();
        wxCommandEvent event;
        page->OnBuildImage(event);
        page->OnStop(event);
        EXPECT_TRUE(page->m_btnBuild->IsEnabled());
        EXPECT_FALSE(page->m_btnStop->IsEnabled());
        return r.text == "t:ID_READERROR" ? 6 : 1;
    });
    Build(page);
    EXPECT_TRUE(copyingShown);
    EXPECT_FALSE(page->IsCopying());
    EXPECT_EQ(ReadFile(m_out + ".part"), ReadFile(m_source).substr(0, kChunk))
        << "the chunks before the stop, kept beside the image";
    EXPECT_FALSE(std::filesystem::exists(m_out));
    EXPECT_TRUE(page->m_btnBuild->IsEnabled());
    EXPECT_FALSE(page->m_btnStop->IsEnabled());
    EXPECT_EQ(page->m_staticStatus->GetLabel(), "");
    EXPECT_TRUE(page->IgnoresReadErrors()) << "yes holds until the program ends";
}

TEST_F(ScratchedDiscPage, ALaterCopyAsksNothingAndNamesTheUnreadableSectors) {
    CCreateDlg* page = MakePage();
    page->m_cboImage->SetValue(wxString::FromUTF8(m_out));
    guitest::QueueBoxAnswer(6); // go on past the read error
    Build(page);
    guitest::QueueBoxAnswer(6); // replace the image
    Build(page);
    const std::vector<std::string> texts = {"t:ID_READERROR", "t:bad 2, " + m_out + ".badsectors",
                                            "t:ID_OVERWRITE_IMAGE " + m_out,
                                            "t:bad 2, " + m_out + ".badsectors"};
    ASSERT_EQ(guitest::ShownBoxes().size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(guitest::ShownBoxes()[i].text, texts[i]);
    std::string expected = ReadFile(m_source);
    for (std::size_t sector : {300, 700})
        expected.replace(sector * 2048, 2048, 2048, '\0');
    EXPECT_EQ(ReadFile(m_out), expected);
    EXPECT_EQ(ReadFile(m_out + ".badsectors"), "300\n700\n");
}

TEST_F(CreatePageTest, AWindowClosedDuringACopyShowsNothingAndKeepsTheFile) {
    MakeIsoDisc();
    const std::string out = m_dir + "out.iso";
    WriteFile(out, "old");
    CCreateDlg* page = MakePage();
    page->m_cboImage->SetValue(wxString::FromUTF8(out));
    wxCommandEvent event;
    page->OnBuildImage(event);
    std::weak_ptr<engine::JobObserver> copy = page->CopyObserver();
    ASSERT_FALSE(copy.expired());
    // The page goes while the worker asks whether to replace the file: the
    // question gets a closed box's answer, and nothing is shown.
    page->Destroy();
    guitest::YieldUntil([&] { return copy.expired(); });
    EXPECT_TRUE(copy.expired()) << "the worker ended";
    EXPECT_TRUE(guitest::ShownBoxes().empty());
    EXPECT_EQ(ReadFile(out), "old");
}

} // namespace
