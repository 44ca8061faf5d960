// The engine's burn dialog: the recorder and its disc, the image, the write
// speeds the disc allows, copies, simulate, verify, close disc, underrun
// protection and eject; then the burn with its progress and buffer fill.
#pragma once

#include "burner/JobDialog.h"

class wxCheckBox;
class wxChoice;
class wxSpinCtrl;

namespace burner {

class BurnDialogUi : public JobDialog {
public:
    // isoPath: the ISO file to burn; empty: the BIN/CUE project's cue sheet.
    BurnDialogUi(const wxString& title, std::string address, std::string isoPath);

    wxChoice* m_speed = nullptr;
    wxSpinCtrl* m_copies = nullptr;
    wxCheckBox* m_simulate = nullptr;
    wxCheckBox* m_verify = nullptr;
    wxCheckBox* m_closeDisc = nullptr;
    wxCheckBox* m_underrun = nullptr;
    wxCheckBox* m_eject = nullptr;

    // The settings as the controls show them.
    BurnSettings Settings() const;
    const std::string& IsoPath() const { return m_isoPath; }

private:
    std::unique_ptr<Job> MakeJob(BurnOutcome& failure) override;
    bool ReportsBurnDone() const override { return true; }
    wxString PhaseText(BurnPhase phase, int copy, int copies, int percent) const override;
    wxString DoneText() const override;
    void EnableSettings(bool enable) override;

    std::string m_isoPath;
};

} // namespace burner
