// The unmount page: the virtual drives with their images, and dismounting.
// It also writes the mounted-drive list when the program closes.
#pragma once

#include <wx/panel.h>

#include <string>

class wxListCtrl;

namespace vdrive {
struct MountedImageInfo;
}

namespace ui {

class CTransStatic;

class CUnmountDlg : public wxPanel {
public:
    CUnmountDlg() = default;
    bool Create(wxWindow* parent);

    // Lists the virtual drives anew, C to Z; the main window calls it every
    // time it shows the page.
    void RefreshList();
    int GetRefreshCount() const { return m_nRefreshCount; }
    void AddDriveRow(char16_t letter, const vdrive::MountedImageInfo& info);

    void OnDismount(wxCommandEvent& event);
    void OnRefresh(wxCommandEvent& event);

    // Writes "drives.ini" (vdrive/DrivesFile.h); needs no window. Returns the
    // path written, empty when nothing could be written (not reported).
    static std::string WriteDrivesFile();

    CTransStatic* m_staticDesc = nullptr; // 1019
    wxListCtrl* m_listDrives = nullptr;   // 1000

private:
    bool OnInitDialog();

    int m_nRefreshCount = 0;
};

} // namespace ui
