// The files page's tree control: sorts children by text without regard to
// case (the case-sensitive text breaks ties, so the order is total), keeps a
// file item's position in the page's source list and its size as counted,
// and takes files and folders dropped from the file manager.
#pragma once

#include <wx/treectrl.h>

#include <cstdint>
#include <functional>

namespace ui {

// Item data of a file item: 1 + its position in m_arrSourcePaths (never 0),
// and its length in bytes when it was counted, or -1 when it could not be
// opened then.
class CFileItemData : public wxTreeItemData {
public:
    CFileItemData(std::size_t n, std::int64_t size) : m_n(n), m_nSize(size) {}
    std::size_t m_n;
    std::int64_t m_nSize;
};

class CCompilationTree : public wxTreeCtrl {
public:
    CCompilationTree() = default;

    // Item data as the page reads it: 0 for the root and folders.
    std::size_t ItemNumber(const wxTreeItemId& item) const;
    CFileItemData* FileData(const wxTreeItemId& item) const;

    // Called with the paths dropped and the item they were dropped on (not
    // ok when they were dropped beside every item). True when taken.
    std::function<bool(const wxArrayString&, const wxTreeItemId&)> m_onDrop;

    // The generic control selects the root at the first idle time when
    // nothing is selected; here nothing stays selected until the user (or
    // the page) selects an item.
    void OnInternalIdle() override;

protected:
    int OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) override;

private:
    wxDECLARE_DYNAMIC_CLASS(CCompilationTree);
};

// Makes the tree a drop target for files and folders of the file manager.
void AcceptFileDrops(CCompilationTree* tree);

} // namespace ui
