// The files page: gather files and folders into the tree of a new image.
#pragma once

#include <wx/imaglist.h>
#include <wx/panel.h>
#include <wx/treebase.h>

#include <memory>

class CTransStatic;
class wxButton;
class wxChoice;
class wxGauge;
class wxTreeCtrl;

class CImFilesDlg : public wxPanel {
public:
    CImFilesDlg() = default;
    bool Create(wxWindow* parent);

    // The label as it comes back from the engine's 8-bit option record: at
    // most 127 characters, each reduced to its low 8 bits, ending at the
    // first character whose low 8 bits are zero.
    static wxString LabelRoundTrip(const wxString& label);

    // The sunken frame around the capacity ruler, in page pixels.
    wxRect RulerFrameRect() const;

    CTransStatic* m_staticDesc = nullptr; // 1034
    wxTreeCtrl* m_treeFiles = nullptr;    // 1001
    wxGauge* m_progressBuild = nullptr;   // 1005
    wxChoice* m_comboMedia = nullptr;     // 1036
    wxButton* m_btnStop = nullptr;        // 1038
    wxTreeItemId m_hRootItem;
    double m_dTotalSize = 0;

private:
    bool OnInitDialog();
    void OnPaint(wxPaintEvent& event);

    wxImageList m_imageList;
};
