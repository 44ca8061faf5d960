// The files page: gather files and folders into the tree of a new image,
// keep the engine's project in step with it, show the total on the capacity
// ruler, and build the image file from it.
#pragma once

#include <wx/imaglist.h>
#include <wx/panel.h>
#include <wx/treebase.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class wxButton;
class wxChoice;
class wxGauge;
class wxTreeEvent;

namespace ui {

class CCompilationTree;
class CSizeRange;
class CTransStatic;

class CImFilesDlg : public wxPanel {
public:
    CImFilesDlg() = default;
    ~CImFilesDlg() override;
    bool Create(wxWindow* parent);

    // The label as it comes back from the engine's 8-bit option record.
    static wxString LabelRoundTrip(const wxString& label);

    // The sunken frame around the capacity ruler, in page pixels.
    wxRect RulerFrameRect() const;

    // The compilation (tree and engine project). What the engine refuses
    // is not shown: it is taken out of the tree again and its source path
    // kept in m_refused, which ReportRefused names to the user.
    bool AddFileItem(const wxString& sourcePath, const wxTreeItemId& parent, bool sortNow = true);
    void AddFolderItem(const wxString& sourcePath, const wxTreeItemId& parent);
    void RefuseItem(const wxTreeItemId& item, const wxString& sourcePath);
    void ReportRefused();
    // Shows `lead`, the text of ID_NOT_ADDED and the items, and empties them.
    void ShowLeftOut(const wxString& lead, std::vector<wxString>& items);
    // Makes the engine's project this tree's data project again when another
    // page replaced or emptied it since (the burn page sets up its own).
    void EnsureProject();
    wxString GetParentPath(const wxTreeItemId& item) const;
    bool HasChildNamed(const wxString& name, const wxTreeItemId& parent) const;
    void SumFileSizes(const wxTreeItemId& item);
    // Adds files and folders as Add File and Add Folder would, under a folder
    // or the root (a drop from the file manager). False for any other target.
    bool AddDroppedPaths(const wxArrayString& paths, const wxTreeItemId& target);

    // Whether the engine's name reports reach the tree: while the page is
    // shown (any thread).
    bool ShowsReports() const;
    bool Show(bool show = true) override;

    // The ruler.
    void ApplyMediaScale();
    void RefreshSizeDisplay();

    // The build. Items the engine refuses (and everything beneath a refused
    // folder) are named in `leftOut` by their paths in the image.
    void SendTreeToEngine(const wxTreeItemId& item, wxString path, std::vector<wxString>& leftOut);
    void SetProgress(float percent);

    // Handlers.
    void OnAddFile(wxCommandEvent& event);
    void OnAddFolder(wxCommandEvent& event);
    void OnDelete(wxCommandEvent& event);
    void OnReset(wxCommandEvent& event);
    void OnEndLabelEdit(wxTreeEvent& event);
    void OnMediaChange(wxCommandEvent& event);
    void OnBuildImage(wxCommandEvent& event);
    void OnStop(wxCommandEvent& event);

    // The engine's name reports (user value: the page).
    static void OnAddFileEvent(const char16_t* sourcePath, const char16_t* nameInImage,
                               const char16_t*, const char16_t*, std::uint64_t, std::uint32_t,
                               std::int64_t, std::int32_t, void* user);
    static void OnCreateDirEvent(const char16_t* requestedName, const char16_t* nameInImage,
                                 const char16_t* plainName, const char16_t*, void* user);

    CTransStatic* m_staticDesc = nullptr;    // 1034
    CCompilationTree* m_treeFiles = nullptr; // 1001
    wxGauge* m_progressBuild = nullptr;      // 1005
    wxChoice* m_comboMedia = nullptr;        // 1036
    wxButton* m_btnStop = nullptr;           // 1038
    CSizeRange* m_rulerSize = nullptr;       // takes over 1026
    wxTreeItemId m_hRootItem;
    std::vector<wxString> m_arrSourcePaths; // only grows
    double m_dTotalSize = 0;
    std::vector<wxString> m_refused; // source paths, until ReportRefused

private:
    // Map entries made just before the engine call that reports the name.
    static void ExpectFileReport(const std::u16string& sourcePath, const wxTreeItemId& item);
    static void ExpectDirReport(const std::u16string& name, const wxTreeItemId& item);

    bool OnInitDialog();
    void InsertRoot();
    void NewProject();
    void ForgetReports(const wxTreeItemId& item);
    // Where added files and folders go: the selected folder, the folder of
    // the selected file, or the root when nothing is selected.
    bool SelectedFolder(wxTreeItemId& item) const;
    void OnPaint(wxPaintEvent& event);

    wxImageList m_imageList;
    std::atomic<bool> m_shown{true};
    std::uint64_t m_projectSerial = 0; // engine::ProjectSerial once the project was set up
};

} // namespace ui
