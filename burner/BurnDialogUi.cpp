#include "burner/BurnDialogUi.h"

#include "burner/EngineText.h"
#include "burner/State.h"
#include "engine/Engine.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>

namespace burner {

namespace {
wxString W(const std::string& utf8) {
    return wxString::FromUTF8(utf8);
}
} // namespace

BurnDialogUi::BurnDialogUi(const wxString& title, std::string address, std::string isoPath)
    : JobDialog(title, std::move(address)), m_isoPath(std::move(isoPath)) {
    std::string image = m_isoPath;
    if (image.empty()) {
        std::lock_guard lock(State().mutex);
        image = State().cueSheet.empty() ? EngineText("BURN_NO_IMAGE") : State().cueSheet;
    }
    AddRow("BURN_IMAGE", W(image));
    const BurnSettings s = CurrentBurnSettings();

    m_speed = new wxChoice(this, wxID_ANY);
    m_speed->Append(W(EngineText("BURN_SPEED_MAX")), reinterpret_cast<void*>(0));
    int selected = 0;
    for (int kbs : m_speeds) {
        int factor = std::max(1, (kbs + m_speedBase / 2) / m_speedBase);
        m_speed->Append(W(EngineTextf("BURN_SPEED_X", {std::to_string(factor)})),
                        reinterpret_cast<void*>(static_cast<std::intptr_t>(kbs)));
        if (kbs == s.speedKBs)
            selected = static_cast<int>(m_speed->GetCount()) - 1;
    }
    m_speed->SetSelection(selected);
    AddControlRow("BURN_SPEED", m_speed, true);

    m_copies = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxSP_ARROW_KEYS, 1, 99, s.copies);
    AddControlRow("BURN_COPIES", m_copies, false);

    auto check = [this](const std::string& key, bool value) {
        auto* box = new wxCheckBox(this, wxID_ANY, W(EngineText(key)));
        box->SetValue(value);
        m_body->Add(box, 0, wxBOTTOM, 4);
        return box;
    };
    m_simulate = check("BURN_SIMULATE", s.simulate);
    m_verify = check("BURN_VERIFY", s.verify);
    m_closeDisc = check("BURN_CLOSE_DISC", s.closeDisc);
    m_underrun = check("BURN_UNDERRUN", s.underrunProtection);
    m_eject = check("ENG_EJECT_WHEN_DONE", s.eject);
    FinishLayout("BURN_START");
}

BurnSettings BurnDialogUi::Settings() const {
    BurnSettings s;
    int sel = m_speed->GetSelection();
    s.speedKBs =
        sel > 0 ? static_cast<int>(reinterpret_cast<std::intptr_t>(m_speed->GetClientData(sel)))
                : 0;
    s.copies = m_copies->GetValue();
    s.simulate = m_simulate->GetValue();
    s.verify = m_verify->GetValue();
    s.closeDisc = m_closeDisc->GetValue();
    s.underrunProtection = m_underrun->GetValue();
    s.eject = m_eject->GetValue();
    return s;
}

std::unique_ptr<Job> BurnDialogUi::MakeJob(BurnOutcome& failure) {
    std::unique_ptr<BurnJob> job = MakeBurnJob(m_address, m_isoPath, failure);
    if (!job)
        return nullptr;
    // What the user chose here is in force for the next burn too (the page
    // stores the options when it starts a burn).
    const BurnSettings s = Settings();
    engine::EngineOptions o;
    engine::GetOptions(&o);
    o.WriteSpeed = s.speedKBs;
    o.Copies = s.copies;
    o.Simulate = s.simulate;
    o.Verify = s.verify;
    o.CloseDisc = s.closeDisc;
    o.UnderrunProtection = s.underrunProtection;
    o.EjectWhenDone = s.eject;
    engine::SetOptions(o);
    return std::make_unique<BurnJob>(m_address, job->Image(), s);
}

wxString BurnDialogUi::PhaseText(BurnPhase phase, int copy, int copies, int percent) const {
    std::string text;
    switch (phase) {
    case BurnPhase::Preparing:
        text = EngineText("BURN_STATE_PREPARING");
        break;
    case BurnPhase::Writing:
        text = EngineTextf("BURN_STATE_WRITING", {std::to_string(percent)});
        break;
    case BurnPhase::Closing:
        text = EngineText("BURN_STATE_CLOSING");
        break;
    case BurnPhase::Verifying:
        text = EngineTextf("BURN_STATE_VERIFYING", {std::to_string(percent)});
        break;
    default:
        break;
    }
    if (copies > 1)
        text = EngineTextf("BURN_COPY_OF", {std::to_string(copy), std::to_string(copies)}) + " - " +
               text;
    return W(text);
}

wxString BurnDialogUi::DoneText() const {
    return W(EngineText(m_simulate->GetValue() ? "BURN_STATE_SIMULATED" : "BURN_STATE_DONE"));
}

void BurnDialogUi::EnableSettings(bool enable) {
    for (wxWindow* w : std::initializer_list<wxWindow*>{m_speed, m_copies, m_simulate, m_verify,
                                                        m_closeDisc, m_underrun, m_eject})
        w->Enable(enable);
}

} // namespace burner
