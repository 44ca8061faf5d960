// The burn page: burn an ISO or BIN/CUE image, erase a disc, open and close
// a recorder's tray. The burning itself is the engine's (its own dialogs);
// the page prepares the engine's options and project.
#pragma once

#include <wx/panel.h>

class wxChoice;
class wxComboBox;
class wxTextCtrl;

namespace ui {

class CTransStatic;

class CBurnDlg : public wxPanel {
public:
    CBurnDlg() = default;
    bool Create(wxWindow* parent);

    enum ImageKind { kIsoImage = 0, kBinCueImage = 1 };

    CTransStatic* m_staticDesc = nullptr;  // 1020
    wxChoice* m_cboImageType = nullptr;    // 1027
    wxTextCtrl* m_editImagePath = nullptr; // 1026
    wxTextCtrl* m_editLabel = nullptr;     // 1029
    wxComboBox* m_cboWriter = nullptr;     // 1028, read again when dropped down
    wxString m_strImagePath;
    wxString m_strWriter;

    // Handlers (public so that tests drive the page through them).
    void OnBurn();
    void OnErase();
    void OnBrowse();
    void OnEject();
    void OnCloseTray();
    void OnSelChangeWriter();
    void BrowseImage(ImageKind kind);
    // Makes path the chosen image, as browsing for it does; a ".cue" name
    // selects the BIN/CUE kind, any other the ISO kind.
    void ChooseImage(const wxString& path);
    // Controls into members (true) or members into controls (false).
    void UpdateData(bool fromControls);

private:
    bool OnInitDialog();
    void FillWriterList();
    bool UseShownRecorder();
    void AddImageToProject();
};

} // namespace ui
