// The create page: an ISO image file from a disc in an optical drive. The
// copy itself is the disc image reader's (DiscImageReader.h); the page wires
// it to its controls and message boxes through CCreatePageObserver.
#pragma once

#include "engine/DiscImageReader.h"
#include "pages/CreatePageObserver.h"
#include "pages/RecentPaths.h"

#include <wx/panel.h>

#include <memory>

namespace engine {
class JobHandOver;
}
class wxButton;
class wxComboBox;
class wxGauge;
class wxTextCtrl;

namespace ui {

class CTransStatic;

class CCreateDlg : public wxPanel {
public:
    CCreateDlg() = default;
    // A copy still running is asked to stop; it ends on its own, keeping
    // what it wrote, and shows nothing more.
    ~CCreateDlg() override;
    // Loads the page's layout as a child of parent, then its texts.
    bool Create(wxWindow* parent);

    // Handlers (public so that tests drive the page through them).
    void OnBuildImage(wxCommandEvent& event);
    void OnBrowse(wxCommandEvent& event);
    void OnStop(wxCommandEvent& event);
    void OnDropDownImage(wxCommandEvent& event);
    void OnDropDownDrive(wxCommandEvent& event);
    void OnSelChangeDrive(wxCommandEvent& event);
    void OnSelChangeImage(wxCommandEvent& event);

    // Optical drives from C to Z that the engine can describe.
    void FillDriveList();
    // The chosen drive's volume label into the label box and m_strDiscLabel.
    void ReadDiscLabel();
    // The recent paths of section "New" into the image box.
    void LoadHistory();
    // The image box's path on top of the recent paths.
    void SaveHistory();
    // m_strStatus into the status label, redrawn over the page background.
    void UpdateStatus();
    // Boxes into members (save) or members into boxes.
    void UpdateData(bool save);

    // What the copy observer does on the GUI thread.
    void SetCopyButtons(bool copying);
    void SetProgress(int percent);
    int ShowCopyMessage(const engine::JobQuestion& note);
    std::u16string LabelBoxText() const;
    static wxString StatusText(const engine::JobStatus& status);

    bool IsCopying() const { return m_reader.IsRunning(); }
    bool IgnoresReadErrors() const { return m_reader.IgnoresReadErrors(); }
    // The observer of the last copy started; it expires once that copy's
    // worker and its queued calls are done.
    std::weak_ptr<engine::JobObserver> CopyObserver() const;

    CTransStatic* m_staticDesc = nullptr;   // 1017
    CTransStatic* m_staticStatus = nullptr; // 1018
    wxComboBox* m_cboDrive = nullptr;       // 1011
    wxTextCtrl* m_editLabel = nullptr;      // 1024
    wxComboBox* m_cboImage = nullptr;       // 1007
    wxGauge* m_progress = nullptr;          // 1021
    wxButton* m_btnStop = nullptr;          // 1010
    wxButton* m_btnBuild = nullptr;         // 1000

    wxString m_strDrive;
    wxString m_strImagePath;
    wxString m_strStatus;
    wxString m_strDiscLabel;

private:
    bool OnInitDialog();

    // Holds the stop and ignore-read-errors flags (m_bStop,
    // m_bIgnoreReadErrors) that the worker shares.
    engine::CDiscImageReader m_reader;
    // The last copy's observer and the hand-over its worker reaches it by.
    std::unique_ptr<CCreatePageObserver> m_observer;
    std::shared_ptr<engine::JobHandOver> m_handOver;
    CRecentPaths m_history{"New"};

    wxDECLARE_EVENT_TABLE();
};

} // namespace ui
