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

namespace {

// The files page of the main window, when both still exist.
CImFilesDlg* FilesPage() {
    auto* main = wxTheApp ? wxDynamicCast(wxTheApp->GetTopWindow(), CMainDlg) : nullptr;
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
    if (!engine::ShowsProgress(engine::CurrentWorkKind(),
                               g_nCurrentPage.load(std::memory_order_relaxed)))
        return;
    OnGuiThread([percent] {
        if (CImFilesDlg* page = FilesPage())
            page->SetProgress(percent);
    });
}

void RelayBurnDone(const char16_t* errorText) {
    const engine::CompletionAction action = engine::DecideCompletion(
        engine::CurrentWorkKind(), g_nCurrentPage.load(std::memory_order_relaxed), errorText,
        g_bStoppedByUser.load(std::memory_order_relaxed) != 0);
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
