// The common part of the engine's burn and erase dialogs: the recorder and
// its disc, a progress bar, a state line and the Start / Cancel-Close
// buttons, wired to a BurnRun. The job works on its own thread; its reports
// reach the controls through an engine::JobHandOver. The dialog cannot close while the
// job runs: closing asks the job to stop and closes once it has.
#pragma once

#include "burner/BurnRun.h"
#include "engine/JobHandOver.h"

#include <wx/dialog.h>

#include <memory>
#include <string>

class wxButton;
class wxGauge;
class wxStaticText;
class wxBoxSizer;
class wxFlexGridSizer;

namespace burner {

class JobDialog : public wxDialog, public engine::JobObserver {
public:
    JobDialog(const wxString& title, std::string address);
    ~JobDialog() override;

    // Starts the job as the dialog's controls set it (the Start button).
    void StartJob();
    // The Cancel / Close button: stops a running job, else closes.
    void CancelOrClose();
    bool IsRunning() const { return m_run && m_run->Running(); }
    bool Finished() const { return m_finished; }
    BurnOutcome LastOutcome() const { return m_outcome; }
    wxString StateText() const;

protected:
    // Adds a "caption: value" row; returns the value label. Captions form a
    // column as wide as the widest of them in the dialog's language.
    wxStaticText* AddRow(const std::string& captionKey, const wxString& value);
    // The same row with a control for the value.
    void AddControlRow(const std::string& captionKey, wxWindow* control, bool stretch);
    void FinishLayout(const std::string& startKey);
    // The job for the controls' settings, or null with `error` set.
    virtual std::unique_ptr<Job> MakeJob(BurnOutcome& failure) = 0;
    virtual bool ReportsBurnDone() const = 0;
    virtual wxString PhaseText(BurnPhase phase, int copy, int copies, int percent) const = 0;
    virtual wxString DoneText() const = 0;
    virtual wxString FailedText(const BurnOutcome& outcome) const;
    virtual void EnableSettings(bool enable) = 0;

    wxBoxSizer* m_body = nullptr;      // the rows, then the settings of the derived dialog
    wxFlexGridSizer* m_rows = nullptr; // caption and value, a row each
    std::string m_address;
    std::string m_mediumLine;  // "DVD+RW, 4482 MB free"
    std::vector<int> m_speeds; // kB/s from the disc, fastest first
    int m_speedBase = 176;     // kB/s of 1x for the disc's kind

private:
    // The job's reports, on the GUI thread (through m_handOver).
    void OnProgress(float percent) override;
    void OnStatus(const engine::JobStatus& status) override;
    engine::Answer OnQuestion(const engine::JobQuestion& question) override;
    void OnEnd(const engine::JobOutcome& outcome) override;
    void ShowProgress();
    // The state line, wrapped at the dialog's width; the dialog grows to
    // show all its lines.
    void SetState(const wxString& text);
    void OnCloseWindow(wxCloseEvent& event);

    wxGauge* m_gauge = nullptr;
    wxGauge* m_buffer = nullptr;
    wxStaticText* m_state = nullptr;
    wxString m_stateText; // as set, without the line breaks of the wrap
    wxButton* m_start = nullptr;
    wxButton* m_cancel = nullptr;
    std::shared_ptr<engine::JobHandOver> m_handOver; // outlives m_run
    std::unique_ptr<BurnRun> m_run;
    bool m_finished = false;
    bool m_closeWhenDone = false;
    BurnOutcome m_outcome;
    BurnPhase m_phase = BurnPhase::Preparing;
    int m_copy = 1, m_copies = 1;
    int m_percent = 0;
};

// Describes the current recorder and its disc for the dialog's rows.
std::string RecorderLine(const std::string& address);

} // namespace burner
