#include "burner/JobDialog.h"

#include "burner/EngineText.h"
#include "burner/GrabbedDrive.h"
#include "burner/Recorder.h"
#include "engine/Engine.h"
#include "port/DialogHooks.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace burner {

namespace {
wxString W(const std::string& utf8) {
    return wxString::FromUTF8(utf8);
}
} // namespace

std::string RecorderLine(const std::string& address) {
    // The engine's description of its current recorder (cached for real
    // drives), when that is the drive shown.
    char vendor[8], product[16], revision[8];
    if (CurrentRecorderAddress() != address ||
        engine::GetDeviceInformation(vendor, product, revision) != 0)
        return address;
    auto trim = [](const char* s, std::size_t n) {
        std::string t(s, n);
        return t.substr(0, t.find_last_not_of(' ') + 1);
    };
    return trim(vendor, 8) + " " + trim(product, 16) + " (" + address + ")";
}

JobDialog::JobDialog(const wxString& title, std::string address)
    : wxDialog(nullptr, wxID_ANY, title), m_address(std::move(address)) {
    m_body = new wxBoxSizer(wxVERTICAL);
    m_rows = new wxFlexGridSizer(2, 6, 8);
    m_rows->AddGrowableCol(1);
    m_body->Add(m_rows, 0, wxEXPAND | wxBOTTOM, 6);
    AddRow("ENG_RECORDER", W(RecorderLine(m_address)));
    // The disc as it is now; the job checks it again before writing.
    BurnOutcome failure;
    std::string disc = EngineText("ENG_NO_DISC");
    if (auto drive = GrabbedDrive::Open(m_address, false, failure)) {
        MediumState state = drive->Medium();
        if (state != MediumState::Empty && state != MediumState::Unready) {
            std::string kind = drive->MediumName();
            std::int64_t freeMB = drive->FreeBytes() / (1024 * 1024);
            disc = EngineTextf("ENG_DISC_INFO", {kind, std::to_string(freeMB)});
            if (state == MediumState::Full)
                disc += " - " + EngineText("ENG_FULL_DISC");
            m_speeds = drive->WriteSpeeds();
            m_speedBase = kind.rfind("BD", 0) == 0 ? 4496 : kind.rfind("DVD", 0) == 0 ? 1385 : 176;
        }
    }
    m_mediumLine = disc;
    AddRow("ENG_DISC", W(disc));
    Bind(wxEVT_CLOSE_WINDOW, &JobDialog::OnCloseWindow, this);
}

JobDialog::~JobDialog() {
    // Nothing more reaches the dialog, and a question the job waits on ends
    // as a closed box, so the job can end.
    if (m_handOver)
        m_handOver->Detach();
    m_run.reset(); // stops the job and waits for it
}

wxStaticText* JobDialog::AddRow(const std::string& captionKey, const wxString& value) {
    // A long value (an image's path) is shortened in its middle, with the
    // whole of it in the tooltip, rather than widening the dialog past the
    // screen.
    auto* text = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                  wxST_ELLIPSIZE_MIDDLE);
    text->SetLabelText(value);
    const int widest = 60 * GetCharWidth();
    if (text->GetBestSize().x > widest) {
        text->SetMinSize(wxSize(widest, -1));
        text->SetToolTip(value);
    }
    AddControlRow(captionKey, text, true);
    return text;
}

void JobDialog::AddControlRow(const std::string& captionKey, wxWindow* control, bool stretch) {
    auto* caption = new wxStaticText(this, wxID_ANY, wxEmptyString);
    caption->SetLabelText(W(EngineText(captionKey)));
    m_rows->Add(caption, 0, wxALIGN_CENTER_VERTICAL);
    m_rows->Add(control, 0, (stretch ? wxEXPAND : 0) | wxALIGN_CENTER_VERTICAL);
}

void JobDialog::FinishLayout(const std::string& startKey) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(m_body, 0, wxEXPAND | wxALL, 12);
    auto* progress = new wxBoxSizer(wxHORIZONTAL);
    progress->Add(new wxStaticText(this, wxID_ANY, W(EngineText("ENG_PROGRESS"))), 0,
                  wxRIGHT | wxALIGN_CENTER_VERTICAL, 8);
    m_gauge = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxSize(260, -1));
    progress->Add(m_gauge, 1, wxALIGN_CENTER_VERTICAL);
    progress->Add(new wxStaticText(this, wxID_ANY, W(EngineText("ENG_BUFFER"))), 0,
                  wxLEFT | wxRIGHT | wxALIGN_CENTER_VERTICAL, 8);
    m_buffer = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxSize(60, -1));
    progress->Add(m_buffer, 0, wxALIGN_CENTER_VERTICAL);
    top->Add(progress, 0, wxEXPAND | wxLEFT | wxRIGHT, 12);
    m_state = new wxStaticText(this, wxID_ANY, wxEmptyString);
    top->Add(m_state, 0, wxEXPAND | wxALL, 12);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    m_start = new wxButton(this, wxID_ANY, W(EngineText(startKey)));
    m_cancel = new wxButton(this, wxID_CANCEL, W(EngineText("ENG_CLOSE")));
    buttons->AddStretchSpacer();
    buttons->Add(m_start, 0, wxRIGHT, 8);
    buttons->Add(m_cancel, 0);
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    m_start->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { StartJob(); });
    m_cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CancelOrClose(); });
    SetEscapeId(wxID_NONE);
    SetSizerAndFit(top);
    CentreOnScreen();
}

void JobDialog::StartJob() {
    if (IsRunning())
        return;
    BurnOutcome failure;
    std::unique_ptr<Job> job = MakeJob(failure);
    if (!job) {
        // A malformed cue sheet, a missing image: said before anything starts.
        SetState(failure.ok() ? wxString() : FailedText(failure));
        return;
    }
    m_finished = false;
    m_outcome = {};
    m_percent = 0;
    m_gauge->SetValue(0);
    m_buffer->SetValue(0);
    EnableSettings(false);
    m_start->Disable();
    m_cancel->SetLabel(W(EngineText("ENG_CANCEL")));
    m_run.reset(); // a finished run of an earlier start
    if (m_handOver)
        m_handOver->Detach();
    m_handOver = engine::JobHandOver::Make(this, [this](std::function<void()> fn) {
        CallAfter(std::move(fn));
        return true;
    });
    m_run = std::make_unique<BurnRun>(std::move(job), m_handOver.get(), ReportsBurnDone());
    m_run->Start();
}

void JobDialog::CancelOrClose() {
    if (!IsRunning()) {
        if (IsModal())
            EndModal(wxID_CANCEL);
        else
            Hide();
        return;
    }
    port::MessageBoxRequest ask{EngineText("ENG_CANCEL_QUESTION"), GetTitle().utf8_string(),
                                port::MB_YESNO | port::MB_ICONWARNING};
    if (port::ShowMessageBox(ask) == 6 /* IDYES */ && m_run)
        m_run->Stop();
}

void JobDialog::OnCloseWindow(wxCloseEvent& event) {
    if (IsRunning()) {
        if (event.CanVeto())
            event.Veto();
        m_closeWhenDone = true;
        m_run->Stop();
        return;
    }
    event.Skip();
}

wxString JobDialog::StateText() const {
    return m_stateText;
}

void JobDialog::OnStatus(const engine::JobStatus& status) {
    m_phase = status.step;
    m_copy = status.copy;
    m_copies = status.copies;
    m_buffer->SetValue(std::clamp(status.bufferFill, 0, 100)); // -1: no buffer in use
    ShowProgress();
}

void JobDialog::OnProgress(float percent) {
    m_percent = static_cast<int>(percent);
    m_gauge->SetValue(std::clamp(m_percent, 0, 100));
    ShowProgress();
}

void JobDialog::ShowProgress() {
    if (!m_finished)
        SetState(PhaseText(m_phase, m_copy, m_copies, m_percent));
}

void JobDialog::SetState(const wxString& text) {
    if (text == m_stateText)
        return;
    m_stateText = text;
    m_state->SetLabelText(text);
    const int width = GetClientSize().x - 2 * 12; // the line's margins
    if (width > 0)
        m_state->Wrap(width);
    Layout();
    const wxSize needed = GetSizer()->ComputeFittingClientSize(this);
    if (needed.y > GetClientSize().y)
        SetClientSize(GetClientSize().x, needed.y);
}

engine::Answer JobDialog::OnQuestion(const engine::JobQuestion& question) {
    if (question.what != kAskNextDisc)
        return question.Closed();
    port::MessageBoxRequest ask{
        EngineTextf("BURN_COPY_OF", {std::to_string(question.count), std::to_string(m_copies)}) +
            "\n" + EngineText("ENG_WAITING_FOR_DISC"),
        GetTitle().utf8_string(), port::MB_OK | port::MB_ICONINFORMATION};
    port::ShowMessageBox(ask);
    return engine::Answer::Yes;
}

wxString JobDialog::FailedText(const BurnOutcome& o) const {
    const std::string detail = Detail(o);
    switch (o.error) {
    case BurnError::Cancelled:
        return W(EngineText("BURN_STATE_CANCELLED"));
    case BurnError::NoMedium:
        return W(EngineText("ENG_WAITING_FOR_DISC"));
    case BurnError::ReadOnlyDrive:
        return W(EngineText("ENG_DRIVE_READS_ONLY"));
    case BurnError::NotWritable:
        return W(EngineText("BURN_NOT_WRITABLE") + (detail.empty() ? "" : " (" + detail + ")"));
    case BurnError::NotErasable:
        return W(EngineText("ERASE_NOT_ERASABLE"));
    case BurnError::TooBig:
        return W(EngineTextf("BURN_TOO_BIG", {std::to_string((o.neededBytes + (1 << 20) - 1) >> 20),
                                              std::to_string(o.freeBytes >> 20)}));
    case BurnError::VerifyFailed:
        return W(EngineText("BURN_VERIFY_FAILED") + (detail.empty() ? "" : " (" + detail + ")"));
    case BurnError::DriveError:
        return W(EngineTextf("ENG_DRIVE_ERROR", {detail}));
    default:
        return W(EngineText(o.error == BurnError::NotErasable ? "ERASE_STATE_FAILED"
                                                              : "BURN_STATE_FAILED") +
                 (detail.empty() ? "" : " (" + detail + ")"));
    }
}

void JobDialog::OnEnd(const engine::JobOutcome&) {
    m_finished = true;
    m_outcome = m_run ? m_run->Outcome() : BurnOutcome{};
    if (m_outcome.ok()) {
        m_gauge->SetValue(100);
        SetState(DoneText());
    } else {
        SetState(FailedText(m_outcome));
    }
    EnableSettings(true);
    m_start->Enable();
    m_cancel->SetLabel(W(EngineText("ENG_CLOSE")));
    Layout();
    if (m_closeWhenDone) {
        if (IsModal())
            EndModal(wxID_CANCEL);
        else
            Hide();
    }
}

} // namespace burner
