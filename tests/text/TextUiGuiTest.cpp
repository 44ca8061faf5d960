// The wx side of the catalogue: message box captions and results, setting
// control texts, and message boxes asked for from a worker thread.
#include "port/DialogHooks.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangText.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"
#include "text/WxDialogHooks.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <future>
#include <thread>

using namespace text;

namespace {

// GTK 3's filter types, looked up at run time as the program does.
struct FilterInfo {
    int contains;
    const char* filename;
    const char* uri;
    const char* displayName;
    const char* mimeType;
};
struct SList {
    void* data;
    SList* next;
};

class TextUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = guitest::MakeTempSubdir("textui");
        setenv("SPINDLE_PROGRAM_DIR", dir.c_str(), 1);
        g_szLangFile = u"languiu.ini";
        std::ofstream(dir + "languiu.ini")
            << "[LANGUAGE]\nCURRENT=Test\n[Test]\nID_INFORMATION=Info caption\nID_WARNING=Warn "
               "caption\nID_QUESTION=Ask caption\nID_ERROR=Error caption\nKEY_AMP=Save & Exit\n"
               "KEY_TEXT=typed\nKEY_LABEL=&Label && text\n";
        guitest::ClearShown();
    }
    void TearDown() override { unsetenv("SPINDLE_PROGRAM_DIR"); }
};

TEST_F(TextUiTest, MessageBoxCaptionsStylesAndResults) {
    guitest::QueueBoxAnswer(IDYES);
    guitest::QueueBoxAnswer(IDNO);
    EXPECT_EQ(QuestionBox("Go on?"), IDYES);
    EXPECT_EQ(QuestionBox("Go on?"), IDNO);
    InfoBox("Done.");
    WarningBox("Careful.");
    ErrorBox("Failed.");
    const auto& boxes = guitest::ShownBoxes();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0].caption, "Ask caption");
    EXPECT_EQ(boxes[0].style, port::MB_YESNO);
    EXPECT_EQ(boxes[2].text, "Done.");
    EXPECT_EQ(boxes[2].caption, "Info caption");
    EXPECT_EQ(boxes[2].style, port::MB_OK | port::MB_ICONINFORMATION);
    EXPECT_EQ(boxes[3].caption, "Warn caption");
    EXPECT_EQ(boxes[3].style, port::MB_OK | port::MB_ICONWARNING);
    EXPECT_EQ(boxes[4].caption, "Error caption");
    EXPECT_EQ(boxes[4].style, port::MB_OK | port::MB_ICONERROR);
}

TEST_F(TextUiTest, SetItemLangTextSetsEveryKindOfControl) {
    wxDialog dialog(nullptr, wxID_ANY, "t");
    auto* label = new wxStaticText(&dialog, 1001, "@placeholder");
    auto* button = new wxButton(&dialog, 1002, "@placeholder");
    auto* check = new wxCheckBox(&dialog, 1003, "@placeholder");
    auto* edit = new wxTextCtrl(&dialog, 1004, "@placeholder");
    SetItemLangText(&dialog, 1001, "KEY_AMP");
    SetItemLangText(&dialog, 1002, "KEY_LABEL");
    SetItemLangText(&dialog, 1003, "KEY_MISSING");
    SetItemLangText(&dialog, 1004, "KEY_TEXT");
    SetItemLangText(&dialog, 4242, "KEY_TEXT"); // no such control: nothing happens
    SetItemLangText(nullptr, 1001, "KEY_TEXT");
    EXPECT_EQ(label->GetLabelText(), "Save & Exit"); // '&' is no mnemonic
    EXPECT_EQ(button->GetLabel(), "&Label && text"); // on a button it is
    EXPECT_EQ(button->GetLabelText(), "Label & text");
    EXPECT_EQ(check->GetLabelText(), ""); // missing key: empty, also set
    EXPECT_EQ(edit->GetValue(), "typed");

    wxString text = "old";
    EXPECT_EQ(&GetLangText("ID_INFORMATION", text), &text);
    EXPECT_EQ(text, "Info caption");
}

TEST_F(TextUiTest, WorkerThreadBoxIsShownOnTheGuiThread) {
    // The real hooks, with the dialog itself answered by a modal handler.
    auto previous = port::SetMessageBoxHook(nullptr);
    InstallWxDialogHooks();
    bool onGuiThread = false;
    wxString message, caption;
    guitest::SetModalHandler([&](wxDialog* dialog) {
        onGuiThread = wxThread::IsMain();
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            message = box->GetMessage();
            caption = box->GetTitle();
        }
        return wxID_YES;
    });

    std::promise<int> result;
    auto answer = result.get_future();
    std::thread worker(
        [&] { result.set_value(QuestionBox(wxString::FromUTF8("Überschreiben?"))); });
    guitest::YieldUntil(
        [&] { return answer.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
        std::chrono::seconds(5));
    worker.join();

    guitest::SetModalHandler(nullptr);
    port::SetMessageBoxHook(previous);
    EXPECT_EQ(answer.get(), IDYES);
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(message, wxString::FromUTF8("Überschreiben?"));
    EXPECT_EQ(caption, "Ask caption");
}

TEST_F(TextUiTest, WorkerBoxEndsWhenTheApplicationDropsTheCall) {
    // The application ends while a worker waits for a box: the call queued
    // for the GUI thread is dropped unrun (as the application object's end
    // does), and the worker gets a closed box's answer instead of waiting
    // forever.
    auto previous = port::SetMessageBoxHook(nullptr);
    InstallWxDialogHooks();
    std::promise<int> result;
    auto answer = result.get_future();
    std::thread worker([&] { result.set_value(QuestionBox("Go on?")); });
    // Drop whatever is queued until the worker has its answer (at most 5 s);
    // nothing here runs the queued calls.
    const bool ended = spindle_test::WaitUntil(
        [&] {
            wxTheApp->DeletePendingEvents();
            return answer.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
        },
        std::chrono::seconds(5));
    if (ended)
        worker.join();
    else
        worker.detach(); // stuck for good; the test fails below
    port::SetMessageBoxHook(previous);
    ASSERT_TRUE(ended);
    EXPECT_EQ(answer.get(), IDNO);
}

// The file dialog's filters show names of any case, in open and save
// dialogs alike, and still hide other names; the patterns stay as given
// (without the bars that end the platform's form of the filter).
TEST_F(TextUiTest, FileDialogFiltersIgnoreCase) {
    using ListFilters = SList* (*)(void*);
    using Filter = int (*)(void*, const FilterInfo*);
    auto listFilters =
        reinterpret_cast<ListFilters>(dlsym(RTLD_DEFAULT, "gtk_file_chooser_list_filters"));
    auto filter = reinterpret_cast<Filter>(dlsym(RTLD_DEFAULT, "gtk_file_filter_filter"));
    ASSERT_TRUE(listFilters && filter);
    for (bool save : {false, true}) {
        port::FileDialogRequest request;
        request.save = save;
        request.filter = "ISO CD Image Files(*.ISO)|*.ISO|Images|*.img;*.Bin|All Files (*.*)|*.*|";
        std::unique_ptr<wxFileDialog> dialog = MakeFileDialog(request);
        EXPECT_EQ(dialog->GetWildcard(),
                  "ISO CD Image Files(*.ISO)|*.ISO|Images|*.img;*.Bin|All Files (*.*)|*.*");
        SList* filters = listFilters(dialog->GetHandle());
        ASSERT_NE(filters, nullptr);
        ASSERT_NE(filters->next, nullptr);
        auto shows = [&](void* f, const char* name) {
            FilterInfo info{1 << 2, nullptr, nullptr, name, nullptr}; // display name
            return filter(f, &info) != 0;
        };
        for (const char* name : {"a.iso", "A.ISO", "a.Iso"})
            EXPECT_TRUE(shows(filters->data, name)) << name << (save ? " save" : " open");
        for (const char* name : {"a.isox", "a.img", "iso"})
            EXPECT_FALSE(shows(filters->data, name)) << name;
        for (const char* name : {"b.IMG", "c.bin", "d.BIN"})
            EXPECT_TRUE(shows(filters->next->data, name)) << name;
        EXPECT_FALSE(shows(filters->next->data, "e.iso"));
        // "*.*" is every file, as where it comes from: also one without a dot.
        ASSERT_NE(filters->next->next, nullptr);
        for (const char* name : {"README", "a.iso", ".hidden"})
            EXPECT_TRUE(shows(filters->next->next->data, name)) << name;
        reinterpret_cast<void (*)(SList*)>(dlsym(RTLD_DEFAULT, "g_slist_free"))(filters);
    }
}

} // namespace

namespace {

TEST_F(TextUiTest, WorkerBoxAfterTheApplicationObjectIsGoneIsAnsweredAsClosed) {
    // The window was closed during a disc copy: the application object is
    // gone when the copy's worker asks. Nothing may show a window from the
    // worker; the box answers as though closed.
    auto previous = port::SetMessageBoxHook(nullptr);
    InstallWxDialogHooks();
    const std::size_t opened = guitest::OpenedDialogs().size();
    wxAppConsole* app = wxAppConsole::GetInstance();
    wxAppConsole::SetInstance(nullptr);
    int question = 0, info = 0;
    std::thread worker([&] {
        question = QuestionBox("Go on?");
        info = InfoBox("Done");
    });
    worker.join();
    wxAppConsole::SetInstance(app);
    port::SetMessageBoxHook(previous);
    EXPECT_EQ(question, IDNO);
    EXPECT_EQ(info, IDOK);
    EXPECT_EQ(guitest::OpenedDialogs().size(), opened) << "no dialog was made";
}

} // namespace
