// The unmount page: the virtual drives with their images, and dismounting.
#pragma once

#include <wx/panel.h>

class CTransStatic;
class wxListCtrl;

class CUnmountDlg : public wxPanel {
public:
    CUnmountDlg() = default;
    bool Create(wxWindow* parent);

    // Lists the virtual drives anew; the main window calls it every time it
    // shows the page.
    void RefreshList();
    int GetRefreshCount() const { return m_nRefreshCount; }

    CTransStatic* m_staticDesc = nullptr; // 1019
    wxListCtrl* m_listDrives = nullptr;   // 1000

private:
    bool OnInitDialog();

    int m_nRefreshCount = 0;
};
