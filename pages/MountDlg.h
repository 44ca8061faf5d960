// The mount page: attach an image file to a free drive letter.
#pragma once

#include "pages/RecentPaths.h"

#include <wx/panel.h>

#include <string>
#include <string_view>

class wxCheckBox;
class wxChoice;
class wxComboBox;
class wxTextCtrl;

namespace ui {

class CTransStatic;

// A file name as the mount page holds it: valid UTF-8 as its text, each
// other byte as a lone U+DC80 to U+DCFF (see port::PathToUtf16), so that
// any name the system allows reaches the driver exactly.
wxString PathFromBytes(std::string_view bytes);
std::string PathBytes(const wxString& path);
// The path for the toolkit to show: such bytes as U+FFFD.
wxString PathShown(const wxString& path);

class CMountDlg : public wxPanel {
public:
    CMountDlg() = default;
    bool Create(wxWindow* parent);

    // The letters C to Z that are free, as "<ID_DRIVE> K:", the first one
    // selected.
    void FillDriveList();
    // The image list from section "Mount" of the profile; SaveHistory puts
    // m_strImagePath on top of it and writes it back.
    void LoadHistory();
    void SaveHistory();
    void ShowVolumeLabel();

    void OnBrowse(wxCommandEvent& event);
    void OnMount(wxCommandEvent& event);
    void OnSelChangeImage(wxCommandEvent& event);
    // A file dragged from the file manager onto the page or the image box:
    // the first one becomes the image path.
    bool OnDropFiles(const wxArrayString& files);
    // Makes path the chosen image, as browsing for it does.
    void ChooseImage(const wxString& path);
    // The Mount button: mounts the chosen image on the chosen letter, then
    // opens its folder or says it is done; errors in message boxes. True
    // when it mounted.
    bool MountChosenImage();

    // The members from the controls (true) or back into them (false).
    void UpdateData(bool bSaveAndValidate);

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

    CRecentPaths m_history{"Mount"};
};

} // namespace ui
