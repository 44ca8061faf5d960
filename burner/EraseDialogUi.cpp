#include "burner/EraseDialogUi.h"

#include "burner/EngineText.h"
#include "port/DialogHooks.h"

#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace burner {

namespace {
wxString W(const std::string& utf8) {
    return wxString::FromUTF8(utf8);
}
} // namespace

EraseDialogUi::EraseDialogUi(const wxString& title, std::string address)
    : JobDialog(title, std::move(address)) {
    m_body->Add(new wxStaticText(this, wxID_ANY, W(EngineText("ERASE_METHOD"))), 0, wxBOTTOM, 4);
    m_quick = new wxRadioButton(this, wxID_ANY, W(EngineText("ERASE_QUICK")), wxDefaultPosition,
                                wxDefaultSize, wxRB_GROUP);
    m_full = new wxRadioButton(this, wxID_ANY, W(EngineText("ERASE_FULL")));
    m_quick->SetValue(true);
    m_body->Add(m_quick, 0, wxLEFT | wxBOTTOM, 4);
    m_body->Add(m_full, 0, wxLEFT | wxBOTTOM, 4);
    m_eject = new wxCheckBox(this, wxID_ANY, W(EngineText("ENG_EJECT_WHEN_DONE")));
    m_body->Add(m_eject, 0, wxTOP, 4);
    FinishLayout("ERASE_START");
}

std::unique_ptr<Job> EraseDialogUi::MakeJob(BurnOutcome& failure) {
    if (m_address.empty()) {
        failure = Fail(BurnError::NoRecorder, "No recorder is chosen");
        return nullptr;
    }
    port::MessageBoxRequest ask{EngineText("ERASE_CONFIRM"), GetTitle().utf8_string(),
                                port::MB_YESNO | port::MB_ICONWARNING};
    if (port::ShowMessageBox(ask) != 6 /* IDYES */) {
        failure = {};
        return nullptr;
    }
    return std::make_unique<EraseJob>(m_address, m_full->GetValue(), m_eject->GetValue());
}

wxString EraseDialogUi::PhaseText(BurnPhase phase, int, int, int percent) const {
    if (phase == BurnPhase::Erasing)
        return W(EngineTextf("ERASE_STATE_ERASING", {std::to_string(percent)}));
    return W(EngineText("BURN_STATE_PREPARING"));
}

wxString EraseDialogUi::DoneText() const {
    return W(EngineText("ERASE_STATE_DONE"));
}

void EraseDialogUi::EnableSettings(bool enable) {
    m_quick->Enable(enable);
    m_full->Enable(enable);
    m_eject->Enable(enable);
}

} // namespace burner
