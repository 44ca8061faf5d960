#include "pages/CompilationTree.h"

#include <wx/dnd.h>

namespace ui {

wxIMPLEMENT_DYNAMIC_CLASS(CCompilationTree, wxTreeCtrl);

std::size_t CCompilationTree::ItemNumber(const wxTreeItemId& item) const {
    const CFileItemData* data = FileData(item);
    return data ? data->m_n : 0;
}

CFileItemData* CCompilationTree::FileData(const wxTreeItemId& item) const {
    return item.IsOk() ? dynamic_cast<CFileItemData*>(GetItemData(item)) : nullptr;
}

void CCompilationTree::OnInternalIdle() {
    if (m_current || m_select_me) {
        wxTreeCtrl::OnInternalIdle();
        return;
    }
    wxWindow::OnInternalIdle();
    if (m_dirty)
        DoDirtyProcessing();
}

int CCompilationTree::OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) {
    const wxString ta = GetItemText(a), tb = GetItemText(b);
    const int blind = ta.CmpNoCase(tb);
    return blind != 0 ? blind : ta.Cmp(tb);
}

namespace {

class FileDrop : public wxFileDropTarget {
public:
    explicit FileDrop(CCompilationTree* tree) : m_tree(tree) {}
    bool OnDropFiles(wxCoord x, wxCoord y, const wxArrayString& paths) override {
        int flags = 0;
        const wxTreeItemId item = m_tree->HitTest(wxPoint(x, y), flags);
        return m_tree->m_onDrop && m_tree->m_onDrop(paths, item);
    }

private:
    CCompilationTree* m_tree;
};

} // namespace

void AcceptFileDrops(CCompilationTree* tree) {
    tree->SetDropTarget(new FileDrop(tree));
}

} // namespace ui
