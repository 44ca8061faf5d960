// The burn page driven through its handlers, and the engine's burn and
// erase dialogs run to the end on stdio: pseudo-drives that stand in for
// recorders E: and G: in the drive table.
#include "burner/BurnDialogUi.h"
#include "burner/EraseDialogUi.h"
#include "burner/Options.h"
#include "burner/Recorder.h"
#include "burner/State.h"
#include "engine/Engine.h"
#include "engine/EventRelay.h"
#include "pages/BurnDlg.h"
#include "pages/Layouts.h"
#include "port/DosDevices.h"
#include "port/Paths.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangTextUi.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/frame.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace text;
using namespace ui;

namespace {

using spindle_test::ReadFile;
using spindle_test::WriteFile;

// An image whose primary volume identifier is `label`.
std::string IsoWithLabel(const std::string& label, std::size_t sectors = 40) {
    std::string data(sectors * 2048, '\0');
    data[0x8000] = 1;
    data.replace(0x8001, 5, "CD001");
    std::string id = label + std::string(32 - label.size(), ' ');
    data.replace(0x8000 + 40, 32, id);
    data[0x8800] = static_cast<char>(255);
    for (std::size_t i = 0x9000; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    return data;
}

struct DoneReports {
    std::atomic<int> count{0};
    std::atomic<bool> failed{false};
    // What the event relay would announce for the last report.
    std::atomic<const char*> announced{nullptr};
};
void OnDone(const char16_t* text, void* user) {
    auto* r = static_cast<DoneReports*>(user);
    r->failed = text && *text;
    const engine::JobOutcome* outcome = engine::ReportedOutcome();
    r->announced = engine::DecideCompletion(outcome ? outcome->kind : engine::JobKind::None, text,
                                            outcome && outcome->Stopped())
                       .messageKey;
    ++r->count;
}

class BurnPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLayouts(std::string(SPINDLE_SOURCE_DIR) + "/res/"));
        m_dir = guitest::MakeTempSubdir("burn");
        guitest::UseRealLanguageFile(m_dir, "English");
        std::filesystem::copy_file(std::string(SPINDLE_SOURCE_DIR) + "/res/langburu.ini",
                                   m_dir + "langburu.ini",
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(engine::Initialize(), 1);
        engine::SetLanguage(u"English", u"langburu.ini");
        engine::SetBurnDoneEventCallback(OnDone, &m_done);
        ASSERT_TRUE(port::EnsureDosDeviceTable());
        for (char letter : {'G', 'E'}) { // defined out of order: the list sorts by letter
            std::string name = std::string(1, letter) + ":";
            while (port::RemoveDosDevice(name, std::nullopt, false)) {
            }
            ASSERT_TRUE(port::PushDosDevice(name, "stdio:" + Disc(letter)));
        }
        m_frame = guitest::MakeSkinnedFrame();
        m_page = new CBurnDlg();
        ASSERT_TRUE(m_page->Create(m_frame));
        guitest::ClearShown();
    }
    void TearDown() override {
        guitest::SetModalHandler(nullptr);
        m_frame->Destroy();
        guitest::Yield(1);
        engine::DeInitialize();
    }
    std::string Disc(char letter) const { return m_dir + "disc-" + letter; }
    wxString Text(const char* key) {
        wxString s;
        return GetLangText(key, s);
    }
    // Runs OnBurn with the engine's dialog taken over: `inside` sees it.
    void BurnWith(const std::function<void(burner::BurnDialogUi&)>& inside) {
        bool seen = false;
        guitest::SetModalHandler([&](wxDialog* d) {
            auto* dialog = dynamic_cast<burner::BurnDialogUi*>(d);
            if (dialog) {
                seen = true;
                inside(*dialog);
            }
            return wxID_CANCEL;
        });
        m_page->OnBurn();
        guitest::SetModalHandler(nullptr);
        EXPECT_TRUE(seen) << "the engine's burn dialog was not opened";
    }
    static void RunToEnd(burner::JobDialog& dialog) {
        dialog.StartJob();
        ASSERT_TRUE(guitest::YieldUntil([&] { return dialog.Finished(); }));
    }

    std::string m_dir;
    wxFrame* m_frame = nullptr;
    CBurnDlg* m_page = nullptr;
    DoneReports m_done;
};

TEST_F(BurnPageTest, RecordersAreListedByLetterAndTheChosenOneIsCurrent) {
    ASSERT_EQ(m_page->m_cboWriter->GetCount(), 2u);
    EXPECT_EQ(m_page->m_cboWriter->GetString(0), "E: YOYODYNE WARP DRIVE");
    EXPECT_EQ(m_page->m_cboWriter->GetString(1).Left(3), "G: ");
    EXPECT_EQ(burner::CurrentRecorderAddress(), "stdio:" + Disc('E'));
    m_page->m_cboWriter->SetSelection(1);
    m_page->OnSelChangeWriter();
    EXPECT_EQ(burner::CurrentRecorderAddress(), "stdio:" + Disc('G'));
    // A drives.conf line added while the page is open shows when the list
    // is next dropped down; the chosen recorder stays chosen and current.
    const std::string conf = port::ConfigDir() + "/drives.conf";
    const std::string before = ReadFile(conf);
    WriteFile(conf, before + "\nJ = stdio:" + Disc('J') + "\n");
    wxCommandEvent dropDown(wxEVT_COMBOBOX_DROPDOWN, 1028);
    m_page->m_cboWriter->GetEventHandler()->ProcessEvent(dropDown);
    ASSERT_EQ(m_page->m_cboWriter->GetCount(), 3u);
    EXPECT_EQ(m_page->m_cboWriter->GetString(2), "J: YOYODYNE WARP DRIVE");
    EXPECT_EQ(m_page->m_cboWriter->GetStringSelection().Left(3), "G: ");
    EXPECT_EQ(burner::CurrentRecorderAddress(), "stdio:" + Disc('G'));
    WriteFile(conf, before);
    while (port::RemoveDosDevice("J:", std::nullopt, false)) {
    }
    // The label box: the default text, disabled, until an image is chosen.
    EXPECT_EQ(m_page->m_editLabel->GetValue(), Text("ID_DEFAULTLABEL"));
    EXPECT_FALSE(m_page->m_editLabel->IsEnabled());
}

// No caption, check box or button of the engine's dialogs is cut, in
// either language (registered again at 1.3 times the text), and a state
// line longer than the dialog is wide wraps and shows all its lines; a long
// path is shortened in its middle.
TEST_F(BurnPageTest, DialogsShowEveryTextWhole) {
    auto expectWhole = [](const wxWindow& dialog) {
        for (const std::string& fault : guitest::CutChildren(&dialog))
            ADD_FAILURE() << fault;
    };
    const std::string missing =
        m_dir + "a folder whose name is long enough/to wrap the line that says it is missing.iso";
    for (const char16_t* language : {u"English", u"Deutsch"}) {
        SCOPED_TRACE(language[0] == u'E' ? "English" : "Deutsch");
        engine::SetLanguage(language, u"langburu.ini");
        burner::BurnDialogUi burn("Burn", "stdio:" + Disc('E'), missing);
        burn.Show();
        guitest::Yield(5);
        expectWhole(burn);
        const int width = burn.GetSize().x;
        burn.StartJob(); // the image is missing: said in the state line
        guitest::Yield(5);
        EXPECT_NE(burn.StateText().Find(wxString::FromUTF8(missing)), wxNOT_FOUND);
        EXPECT_EQ(burn.GetSize().x, width) << "the state line wraps, not widens";
        expectWhole(burn);

        burner::EraseDialogUi erase("Erase", "stdio:" + Disc('E'));
        erase.Show();
        guitest::Yield(5);
        expectWhole(erase);
    }
}

TEST_F(BurnPageTest, BurnPreparesOptionsAndProjectForTheImageType) {
    // Stored options with the four bytes off: a burn turns them on and stores them.
    engine::EngineOptions stored = burner::DefaultOptions();
    stored.CloseDisc = stored.Verify = stored.UnderrunProtection = stored.EjectWhenDone = 0;
    engine::SetOptions(stored);
    ASSERT_EQ(engine::SaveOptionsToRegistry(engine::kOptionsHive, engine::kOptionsKey), 0);

    WriteFile(m_dir + "photos.iso", IsoWithLabel("PHOTOS"));
    guitest::QueueFileAnswer(m_dir + "photos.iso");
    m_page->OnBrowse();
    EXPECT_EQ(m_page->m_editImagePath->GetValue(), m_dir + "photos.iso");
    EXPECT_EQ(m_page->m_editLabel->GetValue(), "PHOTOS" + std::string(26, ' '));

    wxString title;
    BurnWith([&](burner::BurnDialogUi& d) {
        EXPECT_EQ(d.IsoPath(), m_dir + "photos.iso");
        title = d.GetTitle();
    });
    EXPECT_EQ(title, Text("ID_BURNDISC"));
    engine::EngineOptions o;
    engine::GetOptions(&o);
    EXPECT_EQ(std::string(o.VolumeLabel), "PHOTOS" + std::string(26, ' '));
    engine::EngineOptions reread = burner::DefaultOptions();
    ASSERT_EQ(burner::LoadOptions(burner::OptionsFilePath(),
                                  "HKEY_CURRENT_USER\\Software\\Spindle\\Engine\\", reread),
              0u);
    for (const engine::EngineOptions* r : {&o, &reread}) {
        EXPECT_EQ(r->CloseDisc, 1);
        EXPECT_EQ(r->Verify, 1);
        EXPECT_EQ(r->UnderrunProtection, 1);
        EXPECT_EQ(r->EjectWhenDone, 1);
    }

    // BIN/CUE, with a path typed rather than browsed: project type 1, the cue
    // at "\" with flag 1, and no ISO path for the dialog.
    m_page->m_cboImageType->SetSelection(1);
    m_page->m_editImagePath->ChangeValue(m_dir + "typed.cue");
    BurnWith([&](burner::BurnDialogUi& d) {
        EXPECT_EQ(d.IsoPath(), "");
        d.StartJob(); // the sheet does not exist: said in the dialog, nothing starts
        EXPECT_FALSE(d.IsRunning());
        EXPECT_TRUE(d.StateText().StartsWith("The disc could not be burned. (")) << d.StateText();
        EXPECT_NE(d.StateText().Find("typed.cue"), wxNOT_FOUND);
    });
    EXPECT_EQ(m_done.count, 0);
    {
        std::lock_guard lock(burner::State().mutex);
        EXPECT_EQ(burner::State().projectType, engine::kProjectBinCue);
        EXPECT_EQ(burner::State().cueSheet, m_dir + "typed.cue");
    }

    // No path, no recorder: a message each, and no dialog.
    guitest::ClearShown();
    m_page->m_editImagePath->ChangeValue("");
    m_page->OnBurn();
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, Text("ID_NOTHINGTOBURN"));
    m_page->m_cboWriter->Clear();
    m_page->OnBurn();
    ASSERT_EQ(guitest::ShownBoxes().size(), 2u);
    EXPECT_EQ(guitest::ShownBoxes()[1].text, Text("ID_NORECORDER"));
    EXPECT_TRUE(guitest::OpenedDialogs().empty());
}

TEST_F(BurnPageTest, EngineDialogsBurnAndEraseThePseudoDrive) {
    const std::string image = IsoWithLabel("DATA", 300);
    WriteFile(m_dir + "data.iso", image);
    m_page->m_editImagePath->ChangeValue(m_dir + "data.iso");
    wxString state;
    guitest::StderrCapture gtk;
    BurnWith([&](burner::BurnDialogUi& d) {
        d.Show();
        guitest::Yield(5);
        std::string warnings = gtk.Stop();
        EXPECT_EQ(warnings.find("Gtk-"), std::string::npos) << warnings;
        d.m_verify->SetValue(true);
        RunToEnd(d);
        EXPECT_TRUE(d.LastOutcome().ok()) << burner::Describe(d.LastOutcome());
        state = d.StateText();
    });
    EXPECT_TRUE(ReadFile(Disc('E')) == image);
    EXPECT_EQ(state, "The disc was burned.");
    EXPECT_EQ(m_done.count, 1);
    EXPECT_FALSE(m_done.failed);

    // Cancel (confirmed) stops the burn, reports one failure, and the same
    // dialog burns again afterwards.
    WriteFile(m_dir + "big.iso", std::string(128 << 20, 'b'));
    m_page->m_editImagePath->ChangeValue(m_dir + "big.iso");
    BurnWith([&](burner::BurnDialogUi& d) {
        d.StartJob();
        guitest::QueueBoxAnswer(6); // IDYES: stop now
        d.CancelOrClose();
        guitest::YieldUntil([&] { return d.Finished(); });
        EXPECT_EQ(d.LastOutcome().error, burner::BurnError::Cancelled);
        EXPECT_EQ(d.StateText(), "Burning was stopped.");
        EXPECT_EQ(m_done.count, 2);
        EXPECT_TRUE(m_done.failed);
        RunToEnd(d);
        EXPECT_TRUE(d.LastOutcome().ok()) << burner::Describe(d.LastOutcome());
    });
    EXPECT_EQ(m_done.count, 3);
    EXPECT_FALSE(m_done.failed);
    EXPECT_EQ(std::filesystem::file_size(Disc('E')), 128u << 20);

    // The erase dialog, in German, asks first and then blanks the disc.
    engine::SetLanguage(u"Deutsch", u"langburu.ini");
    guitest::QueueBoxAnswer(6); // IDYES
    guitest::SetModalHandler([&](wxDialog* d) {
        if (auto* erase = dynamic_cast<burner::EraseDialogUi*>(d)) {
            EXPECT_EQ(erase->m_full->GetLabelText(),
                      wxString::FromUTF8("Vollständig löschen (langsam)"));
            RunToEnd(*erase);
            state = erase->StateText();
        }
        return wxID_CANCEL;
    });
    m_page->OnErase();
    guitest::SetModalHandler(nullptr);
    EXPECT_EQ(state, "Die Disc wurde gelöscht.");
    EXPECT_EQ(ReadFile(Disc('E'), ""), "");
    EXPECT_EQ(m_done.count, 3) << "an erase is not reported as a burn";
}

// Other pages set the engine's current recorder too (the Copy Disc page
// while it fills its drive list): the page's actions act on the recorder it
// shows, whatever was set last.
TEST_F(BurnPageTest, EraseEjectAndCloseTrayActOnTheShownRecorder) {
    const std::string e = IsoWithLabel("ON_E", 50), g = IsoWithLabel("ON_G", 50);
    WriteFile(Disc('E'), e);
    WriteFile(Disc('G'), g);
    ASSERT_EQ(m_page->m_cboWriter->GetStringSelection().Left(2), "E:");
    for (void (CBurnDlg::*action)() : {&CBurnDlg::OnEject, &CBurnDlg::OnCloseTray}) {
        ASSERT_EQ(engine::SetDevice(u'G'), 0);
        (m_page->*action)();
        EXPECT_EQ(burner::CurrentRecorderAddress(), "stdio:" + Disc('E'));
    }
    ASSERT_EQ(engine::SetDevice(u'G'), 0);
    std::string erased;
    guitest::QueueBoxAnswer(6); // IDYES
    guitest::SetModalHandler([&](wxDialog* d) {
        if (auto* erase = dynamic_cast<burner::EraseDialogUi*>(d)) {
            RunToEnd(*erase);
            erased = erase->LastOutcome().ok() ? "ok" : burner::Describe(erase->LastOutcome());
        }
        return wxID_CANCEL;
    });
    m_page->OnErase();
    guitest::SetModalHandler(nullptr);
    EXPECT_EQ(erased, "ok");
    EXPECT_TRUE(ReadFile(Disc('E'), "").empty()) << "the recorder shown was not erased";
    EXPECT_TRUE(ReadFile(Disc('G')) == g) << "the recorder not shown was erased";
}

// The end of the engine's work is announced as what its report says ran: a
// burn dialog opened and closed without burning reports nothing; a test run
// (Test only ticked) says that nothing was written.
TEST_F(BurnPageTest, TheWorkKindIsRecordedWhenABurnStartsInTheDialog) {
    auto announced = [&] {
        const char* key = m_done.announced.exchange(nullptr);
        return std::string(key ? key : "(none)");
    };
    const std::string image = IsoWithLabel("DATA", 100);
    WriteFile(m_dir + "data.iso", image);
    WriteFile(Disc('E'), "untouched");
    m_page->m_editImagePath->ChangeValue(m_dir + "data.iso");
    BurnWith([](burner::BurnDialogUi&) {});
    EXPECT_EQ(announced(), "(none)");

    wxString state;
    BurnWith([&](burner::BurnDialogUi& d) {
        d.m_simulate->SetValue(true);
        RunToEnd(d);
        EXPECT_TRUE(d.LastOutcome().ok()) << burner::Describe(d.LastOutcome());
        state = d.StateText();
    });
    EXPECT_EQ(state, "The test run succeeded. Nothing was written to the disc.");
    EXPECT_EQ(announced(), "ID_TESTBURNDONE");
    EXPECT_EQ(Text("ID_TESTBURNDONE"), state);
    EXPECT_TRUE(ReadFile(Disc('E')) == "untouched");

    BurnWith([&](burner::BurnDialogUi& d) {
        d.m_simulate->SetValue(false);
        RunToEnd(d);
    });
    EXPECT_EQ(announced(), "ID_BURNDISCDONE");
    EXPECT_TRUE(ReadFile(Disc('E')) == image);
    // The page stored the test run's options; later tests burn for real.
    ASSERT_EQ(engine::SaveOptionsToRegistry(engine::kOptionsHive, engine::kOptionsKey), 0);
}

} // namespace
