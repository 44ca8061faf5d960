// Times the files page's own code on a folder: Add Folder (the tree and the
// engine's project) and Build Image, as a user would run them, without an
// event loop. Run under Xvfb: files_page_bench FOLDER OUT.iso [ROUNDS]
// Prints one line per round: "add <seconds> cpu <seconds> items <n> build
// <seconds>" (wall time of the add, its CPU time, wall time of the build).
#include "engine/Engine.h"
#include "pages/CompilationTree.h"
#include "pages/ImFilesDlg.h"
#include "pages/Layouts.h"
#include "port/DialogHooks.h"

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

using namespace ui;

namespace {

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

std::mutex g_mutex;
std::condition_variable g_cv;
bool g_done = false;
std::string g_error;

void OnDone(const char16_t* error, void*) {
    std::lock_guard lock(g_mutex);
    g_done = true;
    g_error = error && *error ? "failed" : "";
    g_cv.notify_all();
}

// CPU time of the calling thread: what the add costs, whatever else the
// machine runs meanwhile.
double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: files_page_bench FOLDER OUT.iso [ROUNDS]\n");
        return 2;
    }
    const wxString folder = wxString::FromUTF8(argv[1]);
    const std::string out = argv[2];
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    wxEntryStart(argc, argv);
    wxTheApp->CallOnInit();
    if (!LoadLayouts() || !engine::Initialize())
        return 1;
    port::SetFileDialogHook(
        [&](const port::FileDialogRequest&) { return std::optional<std::string>(out); });
    port::SetMessageBoxHook([](const port::MessageBoxRequest&) { return 6; }); // replace: yes
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bench", wxDefaultPosition, wxSize(798, 527));
    auto* page = new CImFilesDlg();
    if (!page->Create(frame))
        return 1;
    engine::SetBurnDoneEventCallback(OnDone, nullptr);
    for (int round = 0; round < rounds; ++round) {
        wxCommandEvent event;
        page->OnReset(event);
        auto start = std::chrono::steady_clock::now();
        const double cpu = ThreadCpu();
        page->AddFolderItem(folder, page->m_hRootItem);
        page->RefreshSizeDisplay();
        const double add = Seconds(start), addCpu = ThreadCpu() - cpu;
        const unsigned items = page->m_treeFiles->GetCount();
        g_done = false;
        start = std::chrono::steady_clock::now();
        page->OnBuildImage(event);
        {
            std::unique_lock lock(g_mutex);
            g_cv.wait(lock, [] { return g_done; });
        }
        std::printf("add %.3f cpu %.3f items %u build %.3f%s\n", add, addCpu, items, Seconds(start),
                    g_error.empty() ? "" : " FAILED");
        std::fflush(stdout);
    }
    frame->Destroy();
    engine::DeInitialize();
    wxEntryCleanup();
    return 0;
}
