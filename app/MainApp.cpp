#include "app/MainApp.h"

#include "app/EngineRelay.h"
#include "app/MainDlg.h"
#include "pages/MountDlg.h"
#include "app/StartupRules.h"
#include "controls/CustomToolbarCtrl.h"
#include "engine/Engine.h"
#include "pages/Layouts.h"
#include "port/Paths.h"
#include "text/LangText.h"
#include "text/Language.h"
#include "text/WxDialogHooks.h"

#include <csignal>

#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/toplevel.h>
#include <wx/image.h>
#include <wx/modalhook.h>
#include <wx/utils.h>

bool CMainApp::s_bEndRequested = false;

// Once an end was asked for, every modal dialog that would still open (a
// message box of the shutdown, the toolkit's log window when the process
// cleans up, the main window itself when the end came while starting)
// returns Cancel at once instead of waiting for a click that never comes.
class CMainApp::EndHook : public wxModalDialogHook {
public:
    EndHook() { Register(); }
    ~EndHook() override { Unregister(); }

protected:
    int Enter(wxDialog*) override { return s_bEndRequested ? wxID_CANCEL : wxID_NONE; }
    void Exit(wxDialog*) override {}
};

CMainApp::CMainApp() = default;
CMainApp::~CMainApp() = default;

bool CMainApp::OnInit() {
    // Mounting from the file manager needs no window of its own and may run
    // beside an open one.
    if (m_start.action == StartAction::kMount) {
        g_szLangFile = u"languiu.ini";
        UseResolvedLanguage();
        wxInitAllImageHandlers();
        InstallWxDialogHooks();
        LoadLayouts();
        m_exitCode = MountAndOpen(wxString::FromUTF8(m_start.path)) ? 0 : 1;
        return false;
    }

    // One instance per user: a second start ends at once, without a window,
    // and leaves the first alone.
    m_pInstanceLock = std::make_unique<port::SingleInstanceLock>("PreventSecondInstance");
    if (m_pInstanceLock->AlreadyExists())
        return false;

    // The session ending (or Ctrl+C in a terminal) closes the main window
    // the ordinary way, so its shutdown still runs.
    m_pEndHook = std::make_unique<EndHook>();
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        SetSignalHandler(signal, &CMainApp::OnEndSignal);

    g_szLangFile = u"languiu.ini";

    // A failed engine start is not fatal: the pages that need it say so.
    engine::Initialize();
    // The program and the engine speak the same language: the user's
    // choice, else the locale's, else the file's CURRENT.
    engine::SetLanguage(UseResolvedLanguage().c_str(), u"langburu.ini");
    engine::SetBurnDoneEventCallback(&CMainApp::OnBurnDone, this);
    engine::SetProcessEventCallback(&CMainApp::OnProcessEvent, this);

    wxInitAllImageHandlers();
    InstallWxDialogHooks();

    m_nColorDepth = ToolbarColorDepth(wxDisplayDepth(), GetComCtlVersion());
    SetToolbarColorDepth(m_nColorDepth);

    // The toolkit's own start-up would only parse the command line, which
    // the start arguments have read already, so it is not run.
    LoadSkin();
    LoadLayouts();

    auto* dialog = new CMainDlg();
    SetTopWindow(dialog);
    if (m_start.action == StartAction::kBurn)
        dialog->OpenImage(ID_PAGE_BURN, wxString::FromUTF8(m_start.path));
    else if (m_start.action == StartAction::kOpen)
        dialog->OpenImage(OpensOnBurnPage(m_start.path) ? ID_PAGE_BURN : ID_PAGE_MOUNT,
                          wxString::FromUTF8(m_start.path));
    // An end asked for while starting skips the run (EndHook).
    dialog->ShowModal();
    // Shutdown runs in Destroy; the window object goes now, not at idle time.
    dialog->Destroy();
    DeletePendingObjects();
    return false;
}

bool CMainApp::MountAndOpen(const wxString& path) {
    // The mount page's own code on a page that is never shown: the first
    // free letter, its errors in message boxes, and the folder opened.
    wxFrame owner(nullptr, wxID_ANY, "Spindle");
    auto* page = new CMountDlg();
    if (!page->Create(&owner))
        return false;
    page->OnDropFiles(wxArrayString(1, &path));
    page->UpdateData(true);
    page->m_bOpenAfterMount = 1;
    page->UpdateData(false);
    return page->MountChosenImage();
}

void CMainApp::LoadSkin() {
    LoadAppSkin(m_imgSkin, port::ResourceDir() + "res/");
    // Registered even when empty: windows then paint a plain surface.
    SetAppSkin(&m_imgSkin);
}

void CMainApp::OnEndSignal(int) {
    // Runs on the GUI thread, from the event loop, not in the signal context.
    s_bEndRequested = true;
    EndModalDialogs();
}

void CMainApp::EndModalDialogs() {
    // Ends the innermost modal dialog (a message box may be open over the
    // main window); once its loop has returned, the next one, until the main
    // window's run ends and its shutdown runs. One at a time: ending an outer
    // loop while an inner one runs would end the inner one instead.
    wxDialog* innermost = nullptr;
    for (wxWindow* window : wxTopLevelWindows)
        if (auto* dialog = wxDynamicCast(window, wxDialog); dialog && dialog->IsModal())
            innermost = dialog;
    if (!innermost)
        return;
    innermost->EndModal(wxID_CANCEL);
    if (innermost != wxTheApp->GetTopWindow())
        wxTheApp->CallAfter(&CMainApp::EndModalDialogs);
}

void CMainApp::OnProcessEvent(float percent, void*) { RelayProcessEvent(percent); }

void CMainApp::OnBurnDone(const char16_t* errorText, void*) { RelayBurnDone(errorText); }
