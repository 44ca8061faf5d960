// The toolbar's customisation dialog: the buttons in a checked list (checked
// ones are in the bar, in list order), Move Up / Move Down, Reset to the
// default layout, Close. Every change shows in the toolbar at once.
#pragma once

#include <wx/dialog.h>

#include <vector>

class wxCheckListBox;
class wxButton;

namespace ui {

class CCustomToolbarCtrl;

class CToolbarCustomizeDlg : public wxDialog {
public:
    explicit CToolbarCustomizeDlg(CCustomToolbarCtrl* toolbar);

    // Control ids, for tests that drive the dialog.
    enum { ID_LIST = 100, ID_UP, ID_DOWN, ID_RESET };

    void MoveSelection(int delta);
    void Reset();
    wxCheckListBox* GetList() const { return m_pList; }

private:
    void Fill();
    void Apply();

    CCustomToolbarCtrl* m_pToolbar;
    wxCheckListBox* m_pList = nullptr;
    std::vector<int> m_order; // button index of each list row
};

} // namespace ui
