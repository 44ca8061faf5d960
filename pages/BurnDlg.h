// The burn page: burn an ISO or BIN/CUE image, erase a disc, open and close
// a recorder's tray.
#pragma once

#include <wx/panel.h>

class CTransStatic;
class wxChoice;
class wxTextCtrl;

class CBurnDlg : public wxPanel {
public:
    CBurnDlg() = default;
    bool Create(wxWindow* parent);

    CTransStatic* m_staticDesc = nullptr; // 1020
    wxChoice* m_cboImageType = nullptr;   // 1027
    wxTextCtrl* m_editImagePath = nullptr; // 1026
    wxTextCtrl* m_editLabel = nullptr;    // 1029
    wxChoice* m_cboWriter = nullptr;      // 1028
    wxString m_strImagePath;
    wxString m_strWriter;

private:
    bool OnInitDialog();
};
