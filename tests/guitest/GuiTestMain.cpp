// main() of the GUI tests: wx without an event loop, scripted dialogs.
#include "tests/guitest/GuiTest.h"

#include "port/DialogHooks.h"
#include "port/Shell.h"
#include "tests/support/DriverProcess.h"
#include "text/WxDialogHooks.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/window.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace text;

namespace {

class GuiTestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

std::string g_tempDir;
std::vector<guitest::ShownBox> g_boxes;
std::vector<std::string> g_dialogs;
std::deque<int> g_boxAnswers;
std::deque<std::optional<std::string>> g_fileAnswers;
std::deque<std::optional<std::string>> g_folderAnswers;
std::function<int(wxDialog*)> g_modalHandler;

// The next queued answer of a file or folder dialog; none left: cancelled.
std::optional<std::string> NextAnswer(std::deque<std::optional<std::string>>& answers) {
    if (answers.empty())
        return std::nullopt;
    std::optional<std::string> answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

class ModalGuard : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override {
        if (g_modalHandler)
            return g_modalHandler(dialog);
        g_dialogs.push_back(dialog->GetTitle().utf8_string());
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

// A failed wx assertion fails the running test instead of opening a dialog
// that nobody will answer.
void OnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
              const wxString& msg) {
    ADD_FAILURE() << "wx assertion at " << file.utf8_string() << ":" << line << " in "
                  << func.utf8_string() << ": " << cond.utf8_string() << " " << msg.utf8_string();
}

void InstallScriptedHooks() {
    port::SetMessageBoxHook([](const port::MessageBoxRequest& request) {
        g_boxes.push_back({request.text, request.caption, request.style});
        if (!g_boxAnswers.empty()) {
            const int answer = g_boxAnswers.front();
            g_boxAnswers.pop_front();
            return answer;
        }
        return (request.style & port::MB_BUTTONMASK) == port::MB_YESNO ? 7 : 1;
    });
    port::SetFileDialogHook([](const port::FileDialogRequest&) {
        g_dialogs.push_back("file");
        return NextAnswer(g_fileAnswers);
    });
    port::SetFolderDialogHook([](const port::FolderDialogRequest&) {
        g_dialogs.push_back("folder");
        return NextAnswer(g_folderAnswers);
    });
    // No test opens a real browser or file manager: a launch that a test
    // did not take over finds nothing to open it.
    port::SetLauncherHook([](const port::LaunchRequest&) { return port::kShellNoAssociation; });
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(GuiTestApp);

namespace guitest {

const std::string& TempDir() {
    return g_tempDir;
}

std::string MakeTempSubdir(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(g_tempDir) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string() + "/";
}

const std::vector<ShownBox>& ShownBoxes() {
    return g_boxes;
}
void QueueBoxAnswer(int answer) {
    g_boxAnswers.push_back(answer);
}
void QueueFileAnswer(std::optional<std::string> path) {
    g_fileAnswers.push_back(std::move(path));
}
void QueueFolderAnswer(std::optional<std::string> path) {
    g_folderAnswers.push_back(std::move(path));
}
const std::vector<std::string>& OpenedDialogs() {
    return g_dialogs;
}

void ClearShown() {
    g_boxes.clear();
    g_dialogs.clear();
    g_boxAnswers.clear();
    g_fileAnswers.clear();
    g_folderAnswers.clear();
}

void SetModalHandler(std::function<int(wxDialog*)> handler) {
    g_modalHandler = std::move(handler);
}

void Yield(int rounds) {
    for (int i = 0; i < rounds; ++i) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        wxMilliSleep(10);
    }
}

bool YieldUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + Scaled(limit);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return done();
        Yield(1);
    }
    return true;
}

int ShowModalWithInput(wxDialog& dialog, const std::function<void()>& input,
                       std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + Scaled(limit);
    bool given = false, late = false, reached = false;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (std::chrono::steady_clock::now() >= end) {
            late = true;
            poll.Stop();
            dialog.EndModal(-1);
        } else if (!reached && dialog.IsShownOnScreen() && !dialog.IsActive()) {
            // Without a window manager the keyboard follows the pointer:
            // it is brought to the dialog's corner, as a user would.
            reached = true;
            dialog.Raise();
            wxUIActionSimulator().MouseMove(dialog.GetScreenPosition() + wxPoint(2, 2));
        } else if (!given && dialog.IsShownOnScreen() && dialog.IsActive()) {
            given = true;
            input();
        }
    });
    poll.Start(50);
    auto previous = std::move(g_modalHandler);
    g_modalHandler = [](wxDialog*) { return static_cast<int>(wxID_NONE); };
    const int result = dialog.ShowModal();
    g_modalHandler = std::move(previous);
    poll.Stop();
    return late ? -1 : result;
}

StderrCapture::StderrCapture() {
    m_path = g_tempDir + "/stderr-" + std::to_string(::getpid()) + ".txt";
    std::fflush(stderr);
    m_saved = ::dup(2);
    if (std::FILE* f = std::fopen(m_path.c_str(), "w")) {
        ::dup2(::fileno(f), 2);
        std::fclose(f);
    }
}

StderrCapture::~StderrCapture() {
    Stop();
}

std::string StderrCapture::Stop() {
    if (m_saved < 0)
        return std::string();
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
    m_saved = -1;
    const std::string captured = spindle_test::ReadFile(m_path, "");
    std::filesystem::remove(m_path);
    // Keep what was said visible in the test log.
    std::fputs(captured.c_str(), stderr);
    return captured;
}

bool GrabScreen(wxImage& image) {
    const std::string path = g_tempDir + "/screen.png";
    const std::string command = "import -window root png:'" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return false;
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxLogNull quiet;
    const bool ok = image.LoadFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
    std::filesystem::remove(path);
    return ok && image.IsOk();
}

bool GrabScreenWhen(wxImage& image, const std::function<bool(const wxImage&)>& settled,
                    int attempts) {
    for (int i = 0; i < attempts; ++i) {
        if (i > 0)
            Yield(5);
        if (GrabScreen(image) && settled(image))
            return true;
    }
    return false;
}

wxRect ScreenRect(const wxWindow* window) {
    return wxRect(window->ClientToScreen(wxPoint(0, 0)), window->GetClientSize());
}

wxRect DeviceScreenRect(const wxWindow* window) {
    const double c = wxDisplay().GetScaleFactor();
    const wxRect r = ScreenRect(window);
    auto px = [c](int v) { return static_cast<int>(std::lround(v * c)); };
    return wxRect(px(r.x), px(r.y), px(r.width), px(r.height));
}

} // namespace guitest

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);

    const spindle_test::TempDir temp("spindle-guitest");
    g_tempDir = temp.path();
    ::setenv("SPINDLE_CONFIG_DIR", (g_tempDir + "/config").c_str(), 0);
    ::setenv("SPINDLE_RUNTIME_DIR", (g_tempDir + "/runtime").c_str(), 0);

    // SPINDLE_TEST_WINDOW_MANAGER names a window manager to run on the test's
    // display, for the tests of real input with one; it is waited for until
    // it has announced itself on the root window.
    pid_t windowManager = 0;
    if (const char* wm = std::getenv("SPINDLE_TEST_WINDOW_MANAGER")) {
        windowManager = ::fork();
        if (windowManager == 0) {
            ::execlp(wm, wm, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        bool announced = false;
        spindle_test::WaitUntil(
            [&] {
                announced = std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | "
                                        "grep -q 'window id'") == 0;
                return announced || ::waitpid(windowManager, nullptr, WNOHANG) != 0;
            },
            std::chrono::seconds(20));
        if (!announced) {
            std::fprintf(stderr, "the window manager %s did not start\n", wm);
            return 2;
        }
    }

    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the GUI toolkit (is there a display?)\n");
        return 2;
    }
    wxTheApp->CallOnInit();
    wxSetAssertHandler(OnAssert);
    delete wxLog::SetActiveTarget(new wxLogStderr);
    InstallWxDialogHooks();
    InstallScriptedHooks();
    ModalGuard guard;
    guard.Register();

    const int result = RUN_ALL_TESTS();

    guard.Unregister();
    wxTheApp->OnExit();
    wxEntryCleanup();
    // A driver a mount started in the background for the tests' runtime
    // folder ends with them.
    spindle_test::StopDriverOf(g_tempDir + "/runtime");
    if (windowManager > 0) {
        ::kill(windowManager, SIGTERM);
        ::waitpid(windowManager, nullptr, 0);
    }
    return result;
}
