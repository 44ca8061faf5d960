#include "app/MainApp.h"

#include "app/EngineRelay.h"
#include "app/MainDlg.h"
#include "app/StartupRules.h"
#include "controls/CustomToolbarCtrl.h"
#include "engine/Engine.h"
#include "pages/Layouts.h"
#include "pages/MountDlg.h"
#include "port/Paths.h"
#include "text/LangText.h"
#include "text/Language.h"
#include "text/ToolkitLocale.h"
#include "text/WxDialogHooks.h"

#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/toplevel.h>
#include <wx/utils.h>

#include <cstdio>

using namespace text;

namespace ui {

namespace {
// The name of the single-instance lock, and of the hand-over socket beside it.
constexpr char kInstanceName[] = "PreventSecondInstance";
} // namespace

CMainApp::CMainApp() = default;
CMainApp::~CMainApp() = default;

bool CMainApp::OnInit() {
    // Mounting from the file manager needs no window of its own and may run
    // beside an open one.
    if (m_start.action == StartAction::kMount) {
        g_szLangFile = u"languiu.ini";
        UseToolkitLanguage(UseResolvedLanguage());
        wxInitAllImageHandlers();
        InstallWxDialogHooks();
        LoadLayouts();
        m_exitCode = MountAndOpen(PathFromBytes(m_start.path)) ? 0 : 1;
        return false;
    }

    // One instance per user: a second start hands its file (or page) to the
    // first, which comes to the front, and ends without a window.
    m_pInstanceLock = std::make_unique<port::SingleInstanceLock>(kInstanceName);
    if (m_pInstanceLock->AlreadyExists()) {
        m_exitCode = HandToFirstInstance();
        return false;
    }

    // The session ending (or Ctrl+C in a terminal) closes the main window
    // the ordinary way, so its shutdown still runs.
    m_pSessionEnd = std::make_unique<SessionEnd>();

    g_szLangFile = u"languiu.ini";

    // A failed engine start is not fatal: the pages that need it say so.
    engine::Initialize();
    // The program and the engine speak the same language: the user's
    // choice, else the locale's, else the file's CURRENT.
    const std::u16string& language = UseResolvedLanguage();
    engine::SetLanguage(language.c_str(), u"langburu.ini");
    // The toolkit's own texts (file choosers, stock buttons) in it too.
    UseToolkitLanguage(language);
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
    OpenStartPage(*dialog, m_start);
    // A failed listen only costs later starts their hand-over.
    m_handOver.Open(kInstanceName, dialog);
    // An end asked for while starting skips the run (SessionEnd).
    dialog->ShowModal();
    m_handOver.Close();
    // Shutdown runs in Destroy; the window object goes now, not at idle time.
    dialog->Destroy();
    DeletePendingObjects();
    return false;
}

int CMainApp::HandToFirstInstance() {
    const port::HandOverFault fault = port::HandOver(kInstanceName, HandOverArguments(m_start));
    if (fault.ok())
        return 0;
    std::fprintf(stderr, "spindle: the running Spindle did not take the start: %s.\n",
                 port::Describe(fault).c_str());
    return 1;
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

void CMainApp::OnProcessEvent(float percent, void*) {
    RelayProcessEvent(percent);
}

void CMainApp::OnBurnDone(const char16_t* errorText, void*) {
    RelayBurnDone(errorText);
}

} // namespace ui
