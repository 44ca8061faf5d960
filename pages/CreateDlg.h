// The create page: an ISO image file from a disc in an optical drive.
#pragma once

#include <wx/panel.h>

class CTransStatic;
class wxButton;
class wxChoice;
class wxComboBox;
class wxGauge;
class wxTextCtrl;

class CCreateDlg : public wxPanel {
public:
    CCreateDlg() = default;
    // Loads the page's layout as a child of parent, then its texts.
    bool Create(wxWindow* parent);

    CTransStatic* m_staticDesc = nullptr;   // 1017
    CTransStatic* m_staticStatus = nullptr; // 1018
    wxChoice* m_cboDrive = nullptr;         // 1011
    wxTextCtrl* m_editLabel = nullptr;      // 1024
    wxComboBox* m_cboImage = nullptr;       // 1007
    wxGauge* m_progress = nullptr;          // 1021
    wxButton* m_btnStop = nullptr;          // 1010
    wxButton* m_btnBuild = nullptr;         // 1000

    wxString m_strDrive;
    wxString m_strImagePath;
    wxString m_strStatus;
    wxString m_strDiscLabel;
    int m_bStop = 1;
    int m_bIgnoreReadErrors = 0;

private:
    bool OnInitDialog();
};
