#include "app/SessionEnd.h"

#include "app/MainDlg.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/modalhook.h>

#include <algorithm>
#include <csignal>
#include <dlfcn.h>
#include <vector>

namespace ui {

namespace {

bool g_requested = false;

// GTK's cancel response (GTK_RESPONSE_CANCEL), part of its stable ABI.
constexpr int kGtkResponseCancel = -6;

// Answers a native GTK dialog with `response`, as its Cancel button would.
// The toolkit's GTK is in the process already; its two functions are looked
// up there, so building needs none of GTK's headers. False when widget is
// no GTK dialog.
bool RespondToGtkDialog(void* widget, int response) {
    using TypeFn = unsigned long (*)();
    using IsAFn = int (*)(void*, unsigned long);
    using RespondFn = void (*)(void*, int);
    static const auto dialogType =
        reinterpret_cast<TypeFn>(dlsym(RTLD_DEFAULT, "gtk_dialog_get_type"));
    static const auto isA =
        reinterpret_cast<IsAFn>(dlsym(RTLD_DEFAULT, "g_type_check_instance_is_a"));
    static const auto respond =
        reinterpret_cast<RespondFn>(dlsym(RTLD_DEFAULT, "gtk_dialog_response"));
    if (!widget || !dialogType || !isA || !respond || !isA(widget, dialogType()))
        return false;
    respond(widget, response);
    return true;
}
// The dialogs whose modal run is going on, outermost first.
std::vector<wxDialog*> g_running;

// Ends the innermost running dialog with its cancel answer. A dialog of the
// toolkit's own loop ends through it; the native message box runs GTK's
// loop of its own, which ends with the cancel response (its closing answer,
// "no" for a question). The next one outward follows when this one's run
// has returned (Hook::Exit): ending an outer loop while an inner one runs
// would end the inner one instead.
void EndInnermost() {
    if (g_running.empty())
        return;
    wxDialog* dialog = g_running.back();
    if (dialog->IsModal()) {
        dialog->EndModal(wxID_CANCEL);
        return;
    }
    RespondToGtkDialog(dialog->GetHandle(), kGtkResponseCancel);
}

void OnSignal(int) {
    SessionEnd::Request();
}

} // namespace

// Every modal run of the toolkit passes here: wxDialog::ShowModal and the
// native message, file and folder dialogs alike.
class SessionEnd::Hook : public wxModalDialogHook {
public:
    Hook() { Register(); }
    ~Hook() override { Unregister(); }

protected:
    int Enter(wxDialog* dialog) override {
        if (g_requested)
            return wxID_CANCEL;
        g_running.push_back(dialog);
        return wxID_NONE;
    }
    void Exit(wxDialog* dialog) override {
        const auto at = std::find(g_running.rbegin(), g_running.rend(), dialog);
        if (at != g_running.rend())
            g_running.erase(std::next(at).base());
        // Called as the dialog's run returns, still inside it: the next one
        // outward is ended once control is back in its loop.
        if (g_requested && !g_running.empty() && wxTheApp)
            wxTheApp->CallAfter(&EndInnermost);
    }
};

SessionEnd::SessionEnd() : m_hook(new Hook()) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        wxTheApp->SetSignalHandler(signal, &OnSignal);
}

SessionEnd::~SessionEnd() {
    if (wxTheApp)
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            wxTheApp->SetSignalHandler(signal, SIG_DFL);
    delete m_hook;
    g_running.clear();
    g_requested = false;
}

void SessionEnd::Request() {
    if (g_requested)
        return;
    g_requested = true;
    // Work first, as Stop would: its end reports then find the dialogs
    // answering at once.
    if (wxTheApp)
        if (auto* main = wxDynamicCast(wxTheApp->GetTopWindow(), CMainDlg))
            main->StopWork();
    EndInnermost();
}

bool SessionEnd::Requested() {
    return g_requested;
}

} // namespace ui
