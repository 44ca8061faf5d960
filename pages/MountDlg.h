// The mount page: attach an image file to a free drive letter.
#pragma once

#include <wx/panel.h>

class CTransStatic;
class wxCheckBox;
class wxChoice;
class wxComboBox;
class wxTextCtrl;

class CMountDlg : public wxPanel {
public:
    CMountDlg() = default;
    bool Create(wxWindow* parent);

    CTransStatic* m_staticDesc = nullptr; // 1018
    wxChoice* m_cboDrive = nullptr;       // 1005
    wxComboBox* m_cboImage = nullptr;     // 1023
    wxTextCtrl* m_editLabel = nullptr;    // 1024
    wxCheckBox* m_chkOpen = nullptr;      // 1032
    wxString m_strImagePath;
    wxString m_strDrive;
    int m_bOpenAfterMount = 0;

private:
    bool OnInitDialog();
};
