// The engine's erase dialog: quick or full blanking of a rewritable disc
// (a medium that needs formatting instead is formatted by libburn's blank
// run of the kind it takes), with its progress.
#pragma once

#include "burner/JobDialog.h"

class wxCheckBox;
class wxRadioButton;

namespace burner {

class EraseDialogUi : public JobDialog {
public:
    EraseDialogUi(const wxString& title, std::string address);

    wxRadioButton* m_quick = nullptr;
    wxRadioButton* m_full = nullptr;
    wxCheckBox* m_eject = nullptr;

private:
    std::unique_ptr<Job> MakeJob(BurnOutcome& failure) override;
    bool ReportsBurnDone() const override { return false; }
    wxString PhaseText(BurnPhase phase, int copy, int copies, int percent) const override;
    wxString DoneText() const override;
    void EnableSettings(bool enable) override;
};

} // namespace burner
