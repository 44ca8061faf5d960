// The toolkit's own texts on a German desktop, read from GTK's widgets as
// the user sees them: message box titles and buttons, and the file
// chooser's buttons.
#include "port/DialogHooks.h"
#include "port/Utf.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangText.h"
#include "text/Language.h"
#include "text/MessageBoxes.h"
#include "text/ToolkitLocale.h"
#include "text/WxDialogHooks.h"

#include <gtest/gtest.h>
#include <wx/filedlg.h>
#include <wx/translation.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace text;

namespace {

// The GTK 3 and GLib calls used here, looked up at run time as the program
// does, so the build needs no GTK headers.
struct GList {
    void* data;
    GList* next;
    GList* prev;
};
using GType = std::size_t;
template <class F> F Gtk(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}
constexpr int kResponseAccept = -3, kResponseOk = -5, kResponseCancel = -6, kResponseYes = -8,
              kResponseNo = -9;

bool Is(void* widget, const char* typeFunction) {
    static const auto isA = Gtk<int (*)(void*, GType)>("g_type_check_instance_is_a");
    const auto type = Gtk<GType (*)()>(typeFunction);
    return widget && isA && type && isA(widget, type());
}

struct ShownDialog {
    std::string title;
    std::vector<std::string> buttons; // the texts of its answer buttons, mnemonics removed
};

void CollectLabels(void* widget, void* text) {
    static const auto visible = Gtk<int (*)(void*)>("gtk_widget_get_visible");
    static const auto labelText = Gtk<const char* (*)(void*)>("gtk_label_get_text");
    static const auto forall =
        Gtk<void (*)(void*, void (*)(void*, void*), void*)>("gtk_container_forall");
    if (Is(widget, "gtk_label_get_type") && visible(widget))
        *static_cast<std::string*>(text) += labelText(widget);
    else if (Is(widget, "gtk_container_get_type"))
        forall(widget, CollectLabels, text);
}

struct Watch {
    ShownDialog shown;
    bool seen = false;
    std::chrono::steady_clock::time_point end;
};

// Polled while a dialog runs: reads the first mapped GTK dialog and answers
// it with Cancel.
int ReadAndCancel(void* data) {
    static const auto toplevels = Gtk<GList* (*)()>("gtk_window_list_toplevels");
    static const auto freeList = Gtk<void (*)(GList*)>("g_list_free");
    static const auto mapped = Gtk<int (*)(void*)>("gtk_widget_get_mapped");
    static const auto title = Gtk<const char* (*)(void*)>("gtk_window_get_title");
    static const auto forResponse =
        Gtk<void* (*)(void*, int)>("gtk_dialog_get_widget_for_response");
    static const auto respond = Gtk<void (*)(void*, int)>("gtk_dialog_response");
    auto* watch = static_cast<Watch*>(data);
    GList* windows = toplevels();
    for (GList* item = windows; item && !watch->seen; item = item->next) {
        void* dialog = item->data;
        if (!Is(dialog, "gtk_dialog_get_type") || !mapped(dialog))
            continue;
        watch->seen = true;
        const char* text = title(dialog);
        watch->shown.title = text ? text : "";
        for (int response :
             {kResponseYes, kResponseNo, kResponseOk, kResponseCancel, kResponseAccept}) {
            std::string label;
            if (void* button = forResponse(dialog, response))
                CollectLabels(button, &label);
            if (!label.empty())
                watch->shown.buttons.push_back(label);
        }
        respond(dialog, kResponseCancel);
    }
    freeList(windows);
    if (!watch->seen && std::chrono::steady_clock::now() > watch->end) {
        ADD_FAILURE() << "no dialog was shown";
        return 0; // G_SOURCE_REMOVE
    }
    return watch->seen ? 0 : 1; // G_SOURCE_REMOVE, G_SOURCE_CONTINUE
}

// Runs `show`, which shows one real dialog, and returns what it showed.
ShownDialog Read(const std::function<void()>& show) {
    Watch watch;
    watch.end = std::chrono::steady_clock::now() + guitest::Scaled(std::chrono::seconds(20));
    static const auto timeout = Gtk<unsigned (*)(unsigned, int (*)(void*), void*)>("g_timeout_add");
    EXPECT_NE(timeout, nullptr);
    timeout(50, ReadAndCancel, &watch);
    show();
    return watch.shown;
}

class ToolkitLocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string dir = guitest::MakeTempSubdir("toolkit-locale");
        std::filesystem::copy_file(std::string(SPINDLE_SOURCE_DIR) + "/res/languiu.ini",
                                   dir + "languiu.ini");
        setenv("SPINDLE_PROGRAM_DIR", dir.c_str(), 1);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            unsetenv(name);
        setenv("LANG", "de_DE.UTF-8", 1);
        setenv("GSETTINGS_BACKEND", "memory", 0); // the file chooser keeps its settings here
        g_szLangFile = u"languiu.ini";
        // The dialogs really show: neither scripted nor ended by the tests' guard.
        guitest::SetModalHandler([](wxDialog*) { return static_cast<int>(wxID_NONE); });
        m_box = port::SetMessageBoxHook(nullptr);
        m_file = port::SetFileDialogHook(nullptr);
        m_folder = port::SetFolderDialogHook(nullptr);
        InstallWxDialogHooks();
    }
    void TearDown() override {
        port::SetMessageBoxHook(m_box);
        port::SetFileDialogHook(m_file);
        port::SetFolderDialogHook(m_folder);
        guitest::SetModalHandler(nullptr);
        g_szLangSection.clear();
        wxTranslations::Set(nullptr); // wx's own texts untranslated again
        unsetenv("LANG");
        unsetenv("LANGUAGE");
        std::setlocale(LC_ALL, "C");
        unsetenv("SPINDLE_PROGRAM_DIR");
    }
    port::MessageBoxHook m_box;
    port::FileDialogHook m_file;
    port::FolderDialogHook m_folder;
};

TEST_F(ToolkitLocaleTest, AGermanDesktopGetsGermanBoxesAndFileChoosers) {
    ASSERT_EQ(port::ToUtf8(UseResolvedLanguage()), "Deutsch");
    UseToolkitLanguage(g_szLangSection);
    ASSERT_STRNE(std::setlocale(LC_MESSAGES, nullptr), "C")
        << "de_DE.UTF-8 is not installed here (scripts/deps.sh generates it)";
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C") << "numbers keep their file form";

    const ShownDialog warning = Read([] { WarningBox("Achtung."); });
    EXPECT_EQ(warning.title, "Warnung");
    EXPECT_EQ(warning.buttons, std::vector<std::string>{"OK"});
    const ShownDialog question = Read([] { QuestionBox("Weiter?"); });
    EXPECT_EQ(question.title, "Frage");
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Ja", "Nein"}));
    const ShownDialog info = Read([] { InfoBox("Fertig."); });
    EXPECT_EQ(info.title, "Information");

    port::FileDialogRequest save;
    save.save = true;
    save.filter = "ISO-Images (*.iso)|*.iso";
    const ShownDialog chooser = Read([&] { port::ShowFileDialog(save); });
    EXPECT_EQ(chooser.buttons, (std::vector<std::string>{"Abbrechen", "Speichern"}));
    port::FileDialogRequest open;
    const ShownDialog opener = Read([&] { port::ShowFileDialog(open); });
    EXPECT_EQ(opener.buttons, (std::vector<std::string>{"Abbrechen", "Öffnen"}));
}

// The user's choice of English on that desktop reaches the toolkit too.
TEST_F(ToolkitLocaleTest, AChosenLanguageWinsOverTheDesktopsInTheToolkit) {
    g_szLangSection = u"English";
    UseToolkitLanguage(g_szLangSection);
    const ShownDialog question = Read([] { QuestionBox("Go on?"); });
    EXPECT_EQ(question.title, "Question");
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Yes", "No"}));
}

} // namespace
