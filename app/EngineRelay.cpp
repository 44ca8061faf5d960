#include "app/EngineRelay.h"

#include "app/MainDlg.h"
#include "engine/EventRelay.h"
#include "pages/ImFilesDlg.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/thread.h>

#include <functional>

using namespace text;

namespace ui {

namespace {

CMainDlg* MainWindow() {
    return wxTheApp ? wxDynamicCast(wxTheApp->GetTopWindow(), CMainDlg) : nullptr;
}

// The files page of the main window, when both still exist.
CImFilesDlg* FilesPage() {
    CMainDlg* main = MainWindow();
    return main ? main->m_pImFilesDlg : nullptr;
}

void OnGuiThread(std::function<void()> work) {
    if (wxThread::IsMain())
        work();
    else if (wxTheApp)
        wxTheApp->CallAfter(std::move(work));
}

} // namespace

void RelayProcessEvent(float percent) {
    // The job making the report says what it is; the page shown is read
    // where the bar is, on the GUI thread.
    const engine::JobKind kind = engine::ReportingJob();
    OnGuiThread([percent, kind] {
        CMainDlg* main = MainWindow();
        CImFilesDlg* page = FilesPage();
        if (main && page && engine::ShowsProgress(kind, main->m_nCurPage))
            page->SetProgress(percent);
    });
}

void RelayBurnDone(const char16_t* errorText) {
    const engine::JobOutcome* outcome = engine::ReportedOutcome();
    const engine::CompletionAction action = engine::DecideCompletion(
        outcome ? outcome->kind : engine::ReportingJob(), errorText, outcome && outcome->Stopped());
    OnGuiThread([action] {
        if (action.messageKey) {
            const wxString text = LangText(action.messageKey);
            action.failed ? ErrorBox(text) : InfoBox(text);
        }
        CImFilesDlg* page = FilesPage();
        if (page && action.disableStop && page->m_btnStop)
            page->m_btnStop->Disable();
        if (page)
            page->SetProgress(0);
    });
}

} // namespace ui
