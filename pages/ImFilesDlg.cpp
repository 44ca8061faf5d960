#include "pages/ImFilesDlg.h"

#include "controls/PageLook.h"
#include "controls/SizeRange.h"
#include "controls/UiScale.h"
#include "engine/Engine.h"
#include "engine/Label.h"
#include "engine/PageIds.h"
#include "engine/SourceWalk.h"
#include "pages/CompilationTree.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "port/DialogHooks.h"
#include "port/Paths.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/gauge.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/thread.h>

#include <filesystem>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace text;

namespace ui {

namespace {

constexpr int kTreeIcon = 16;

// The engine's name reports find their items here: files by source path,
// folders by the name they were passed to the engine with. Keys compare
// code unit by code unit. Entries of items that were removed are dropped
// with them, so a late report never reaches a removed item.
std::map<std::u16string, wxTreeItemId> g_mapFileItems;
std::map<std::u16string, wxTreeItemId> g_mapDirItems;

// A tree icon of `size` logical pixels (16 at scale 1), sharp on scaled
// displays.
wxBitmap LoadTreeIcon(const char* name, int size) {
    const std::string dir = port::ResourceDir() + "res/icons/tree/";
    const wxBitmap bitmap = LoadScaledArt({{16, dir + name + ".png"}, {32, dir + name + "@2x.png"}},
                                          wxSize(size, size), DeviceScale());
    if (bitmap.IsOk())
        return bitmap;
    // No icon file: a blank image keeps the indices of the others right.
    wxImage blank(size, size);
    blank.InitAlpha();
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            blank.SetAlpha(x, y, 0);
    return wxBitmap(blank);
}

// The length of a file that can be opened for reading, else -1.
std::int64_t OpenedFileSize(const wxString& path) {
    int fd = ::open(path.utf8_string().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    const std::int64_t size = ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    ::close(fd);
    return size;
}

void CollectItems(const wxTreeCtrl* tree, const wxTreeItemId& item, std::set<void*>& out) {
    out.insert(item.GetID());
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(item, cookie); c.IsOk();
         c = tree->GetNextChild(item, cookie))
        CollectItems(tree, c, out);
}

void EraseItems(std::map<std::u16string, wxTreeItemId>& map, const std::set<void*>& items) {
    for (auto it = map.begin(); it != map.end();)
        it = items.count(it->second.GetID()) ? map.erase(it) : std::next(it);
}

} // namespace

void CImFilesDlg::ExpectFileReport(const std::u16string& sourcePath, const wxTreeItemId& item) {
    g_mapFileItems[sourcePath] = item;
}

void CImFilesDlg::ExpectDirReport(const std::u16string& name, const wxTreeItemId& item) {
    g_mapDirItems[name] = item;
}

CImFilesDlg::~CImFilesDlg() {
    // Only while the engine still reports to this page: a page made later
    // may hold the callbacks by now.
    if (engine::AddFileEventUser() == this)
        engine::SetAddFileEventCallback(nullptr, nullptr);
    if (engine::CreateDirEventUser() == this)
        engine::SetCreateDirEventCallback(nullptr, nullptr);
}

bool CImFilesDlg::ShowsReports() const {
    // Reports come while the page is shown (the burn page's cue sheet is
    // added while it is hidden); from the engine's thread, the page is read
    // as it was last shown or hidden.
    return m_shown.load(std::memory_order_relaxed);
}

bool CImFilesDlg::Show(bool show) {
    m_shown.store(show, std::memory_order_relaxed);
    return wxPanel::Show(show);
}

bool CImFilesDlg::Create(wxWindow* parent) {
    if (!LoadPageLayout(this, parent, kLayoutFiles, false))
        return false;
    Bind(wxEVT_PAINT, &CImFilesDlg::OnPaint, this);
    m_treeFiles = wxDynamicCast(FindWindow(1001), CCompilationTree);
    m_progressBuild = wxDynamicCast(FindWindow(1005), wxGauge);
    m_comboMedia = wxDynamicCast(FindWindow(1036), wxChoice);
    m_btnStop = wxDynamicCast(FindWindow(1038), wxButton);
    if (!m_treeFiles || !m_progressBuild || !m_comboMedia || !m_btnStop)
        return false;
    Bind(wxEVT_BUTTON, &CImFilesDlg::OnAddFile, this, 1011);
    Bind(wxEVT_BUTTON, &CImFilesDlg::OnAddFolder, this, 1012);
    Bind(wxEVT_BUTTON, &CImFilesDlg::OnDelete, this, 1013);
    Bind(wxEVT_BUTTON, &CImFilesDlg::OnReset, this, 1014);
    Bind(wxEVT_BUTTON, &CImFilesDlg::OnBuildImage, this, 1037);
    Bind(wxEVT_BUTTON, &CImFilesDlg::OnStop, this, 1038);
    Bind(wxEVT_CHOICE, &CImFilesDlg::OnMediaChange, this, 1036);
    Bind(wxEVT_TREE_END_LABEL_EDIT, &CImFilesDlg::OnEndLabelEdit, this, 1001);
    PageCtlColor(this);
    return OnInitDialog();
}

wxString CImFilesDlg::LabelRoundTrip(const wxString& label) {
    return ToWx(engine::LabelRoundTrip(ToU16(label)));
}

bool CImFilesDlg::OnInitDialog() {
    m_staticDesc = SetDescription(this, 1034, "IDC_STATIC_FILESDESC");
    SetItemsLangText(this, {
                               {1011, "IDC_STATIC_FILES01"},
                               {1012, "IDC_STATIC_FILES02"},
                               {1013, "IDC_STATIC_FILES03"},
                               {1014, "IDC_STATIC_FILES04"},
                               {1038, "IDC_STATIC_FILES05"},
                               {1037, "IDC_STATIC_FILES06"},
                           });
    const int icon = ScaledPx(kTreeIcon);
    m_imageList.Create(icon, icon, true, 3);
    m_imageList.Add(LoadTreeIcon("file", icon));
    m_imageList.Add(LoadTreeIcon("folder", icon));
    m_imageList.Add(LoadTreeIcon("folder-open", icon));

    engine::SetAddFileEventCallback(&CImFilesDlg::OnAddFileEvent, this);
    engine::SetCreateDirEventCallback(&CImFilesDlg::OnCreateDirEvent, this);
    NewProject();

    // Items draw in the tree's item font; setting it once spares the tree a
    // text measurement per item that a font of each item's own would cost.
    // The tree already carries the page's font as a window, which makes a
    // plain SetFont a no-op that leaves the item font at the GUI default.
    m_treeFiles->SetFont(*wxNORMAL_FONT);
    m_treeFiles->SetFont(GetFont());
    m_treeFiles->SetImageList(&m_imageList);
    AcceptFileDrops(m_treeFiles);
    m_treeFiles->m_onDrop = [this](const wxArrayString& paths, const wxTreeItemId& target) {
        return AddDroppedPaths(paths, target);
    };
    InsertRoot(); // not selected

    m_progressBuild->SetRange(100);
    wxString text;
    m_comboMedia->Clear();
    m_comboMedia->Append(GetLangText("ID_CD_RULER", text));
    m_comboMedia->Append(GetLangText("ID_DVD_RULER", text));
    m_comboMedia->SetSelection(0);
    m_rulerSize = new CSizeRange();
    if (!m_rulerSize->AttachToDlgItem(1026, this)) {
        delete m_rulerSize;
        m_rulerSize = nullptr;
    }
    ApplyMediaScale();
    m_btnStop->Disable();
    FitControls(this);
    return true;
}

// The engine's label from ID_ISO_VOLUME, and a root that shows it as the
// record holds it.
void CImFilesDlg::InsertRoot() {
    engine::EngineOptions options;
    engine::FillUndefined(options);
    engine::GetOptions(&options);
    wxString text;
    engine::LabelToOptions(ToU16(GetLangText("ID_ISO_VOLUME", text)), options);
    engine::SetOptions(options);
    m_hRootItem = m_treeFiles->AddRoot(ToWx(engine::LabelFromOptions(options)), 1, 2);
    m_treeFiles->Unselect(); // the control selects a new root itself
}

void CImFilesDlg::NewProject() {
    engine::DeleteProject();
    engine::CreateProject(engine::kProjectData);
    m_projectSerial = engine::ProjectSerial();
}

void CImFilesDlg::EnsureProject() {
    if (engine::ProjectSerial() == m_projectSerial && engine::PrepareISO() == 0)
        return;
    NewProject();
    // The tree held only what the engine took, so it takes it again; should
    // anything be refused now, the build names it and fails.
    std::vector<wxString> leftOut;
    SendTreeToEngine(m_hRootItem, "\\", leftOut);
}

void CImFilesDlg::RefuseItem(const wxTreeItemId& item, const wxString& sourcePath) {
    ForgetReports(item);
    m_treeFiles->Delete(item);
    m_refused.push_back(sourcePath);
}

void CImFilesDlg::ReportRefused() {
    ShowLeftOut(wxString(), m_refused);
}

void CImFilesDlg::ShowLeftOut(const wxString& lead, std::vector<wxString>& items) {
    if (items.empty())
        return;
    constexpr std::size_t kMaxNamed = 20;
    wxString text = lead, line;
    if (!text.empty())
        text += "\n\n";
    text += GetLangText("ID_NOT_ADDED", line);
    for (std::size_t i = 0; i < items.size() && i < kMaxNamed; ++i)
        text += "\n" + items[i];
    if (items.size() > kMaxNamed)
        text += wxString::Format("\n... +%zu", items.size() - kMaxNamed);
    items.clear();
    WarningBox(text);
}

wxRect CImFilesDlg::RulerFrameRect() const {
    const wxPoint pos = ConvertDialogToPixels(wxPoint(15, 187));
    const wxSize size = ConvertDialogToPixels(wxSize(270, 23));
    return wxRect(pos, size);
}

void CImFilesDlg::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (!PageEraseBkgnd(&dc))
        PaintPlainBackground(this, dc);
    const wxRect r = RulerFrameRect();
    dc.SetPen(wxPen(wxColour(128, 128, 128)));
    dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetRight(), r.GetTop());
    dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetLeft(), r.GetBottom());
    dc.SetPen(wxPen(*wxWHITE));
    dc.DrawLine(r.GetLeft(), r.GetBottom(), r.GetRight() + 1, r.GetBottom());
    dc.DrawLine(r.GetRight(), r.GetTop(), r.GetRight(), r.GetBottom());
}

bool CImFilesDlg::SelectedFolder(wxTreeItemId& item) const {
    // Nothing selected: the image's root. A file selected: its folder.
    item = m_treeFiles->GetSelection();
    if (!item.IsOk())
        item = m_hRootItem;
    else if (m_treeFiles->ItemNumber(item) != 0)
        item = m_treeFiles->GetItemParent(item);
    return item.IsOk();
}

void CImFilesDlg::OnAddFile(wxCommandEvent&) {
    wxTreeItemId selected;
    if (!SelectedFolder(selected))
        return;
    port::FileDialogRequest request;
    request.owner = this;
    request.filter = (LangText("ID_FILTER_ALL") + "|*").utf8_string();
    request.mustExist = true;
    request.multiSelect = true;
    if (std::optional<std::string> list = port::ShowFileDialog(request)) {
        std::size_t at = 0, end;
        while ((end = list->find('\0', at)) != std::string::npos && end > at) {
            const wxString path = wxString::FromUTF8(list->substr(at, end - at));
            at = end + 1;
            const wxString name = path.AfterLast('/');
            if (HasChildNamed(name, selected) || OpenedFileSize(path) < 0)
                continue;
            AddFileItem(path, selected);
            m_treeFiles->SetFocus();
            m_treeFiles->SelectItem(selected);
        }
    }
    RefreshSizeDisplay();
    ReportRefused();
}

bool CImFilesDlg::AddFileItem(const wxString& sourcePath, const wxTreeItemId& parent,
                              bool sortNow) {
    EnsureProject();
    const wxString name = sourcePath.AfterLast('/');
    m_arrSourcePaths.push_back(sourcePath);
    const std::size_t n = m_arrSourcePaths.size();
    const wxTreeItemId item = m_treeFiles->AppendItem(parent, name, 0, 0);
    wxString dir = GetParentPath(parent);
    if (parent != m_hRootItem)
        dir += m_treeFiles->GetItemText(parent);
    const std::u16string source = ToU16(sourcePath), where = ToU16(dir);
    g_mapFileItems[source] = item;
    if (engine::AddFile({source.c_str(), where.c_str(), nullptr, 0, 0}) != 0) {
        RefuseItem(item, sourcePath);
        return false;
    }
    const std::int64_t size = OpenedFileSize(sourcePath);
    m_treeFiles->SetItemData(item, new CFileItemData(n, size));
    if (sortNow) {
        m_treeFiles->SortChildren(parent);
        m_treeFiles->Expand(parent);
    }
    if (size >= 0)
        m_dTotalSize += static_cast<double>(size);
    return true;
}

void CImFilesDlg::OnAddFolder(wxCommandEvent&) {
    wxTreeItemId selected;
    if (!SelectedFolder(selected))
        return;
    port::FolderDialogRequest request;
    request.owner = this;
    wxString title;
    request.title = GetLangText("ID_SELECT_FOLDER", title).utf8_string();
    if (std::optional<std::string> path = port::ShowFolderDialog(request)) {
        AddFolderItem(wxString::FromUTF8(*path), selected);
        RefreshSizeDisplay();
        ReportRefused();
    }
}

namespace {

// Adds what the walk meets to the tree: each folder as AddFolderItem does,
// each file through AddFileItem. A folder's children are sorted once, when
// the walk leaves it, which gives the order sorting after each file gives.
// A folder the engine refuses (its name in the image is taken: "a\1" and
// "a_1" both become "a_1") stays out with everything in it, and is named.
class TreeFiller : public engine::SourceWalkHandler {
public:
    TreeFiller(CImFilesDlg& page, const wxTreeItemId& target) : m_page(page) {
        m_folders.push_back(target);
    }

    bool EnterFolder(const engine::SourceEntry& folder) override {
        const wxTreeItemId parent = m_folders.back();
        const wxString name = wxString::FromUTF8(folder.name);
        // A folder added by itself is not added again under a name shown
        // there; below it the engine's answer decides.
        const bool top = m_folders.size() == 1;
        if (m_skipDepth > 0 || (top && m_page.HasChildNamed(name, parent)))
            return SkipFolder();
        wxTreeCtrl* tree = m_page.m_treeFiles;
        const wxTreeItemId item = tree->AppendItem(parent, name, 1, 2);
        const std::u16string n = ToU16(name), where = ToU16(m_page.GetParentPath(item));
        g_mapDirItems[n] = item;
        if (engine::CreateDir(n.c_str(), where.c_str()) != 0) {
            m_page.RefuseItem(item, wxString::FromUTF8(folder.path));
            return SkipFolder();
        }
        tree->SetFocus();
        tree->SelectItem(parent);
        m_folders.push_back(item);
        return true;
    }
    bool LeaveFolder(const engine::SourceEntry&) override {
        const wxTreeItemId item = m_folders.back();
        m_folders.pop_back();
        if (!item.IsOk()) {
            --m_skipDepth;
            return true;
        }
        if (m_page.m_treeFiles->HasChildren(item)) {
            m_page.m_treeFiles->SortChildren(item);
            m_page.m_treeFiles->Expand(item);
        }
        return true;
    }
    bool AddFile(const engine::SourceEntry& file) override {
        if (m_skipDepth == 0 && m_folders.size() > 1)
            m_page.AddFileItem(wxString::FromUTF8(file.path), m_folders.back(), false);
        return true;
    }
    // Links that lead nowhere or in a loop, devices, pipes and sizeless
    // kernel files could only make the build fail: they stay out.
    bool Skip(const engine::SourceEntry&) override { return true; }
    bool ListFailed(const engine::SourceEntry&, int) override { return true; } // stays empty

private:
    bool SkipFolder() {
        if (m_folders.size() == 1)
            return false; // nothing is added
        ++m_skipDepth;    // this folder and everything in it stays out
        m_folders.push_back(wxTreeItemId());
        return true;
    }

    CImFilesDlg& m_page;
    std::vector<wxTreeItemId> m_folders;
    int m_skipDepth = 0;
};

} // namespace

void CImFilesDlg::AddFolderItem(const wxString& sourcePath, const wxTreeItemId& parent) {
    TreeFiller filler(*this, parent);
    const std::string source = sourcePath.utf8_string();
    if (engine::InspectSource(source).kind != engine::SourceKind::Folder)
        return;
    EnsureProject();
    if (!engine::WalkSource(source, filler))
        return;
    m_treeFiles->SortChildren(parent);
    m_treeFiles->Expand(parent);
}

bool CImFilesDlg::AddDroppedPaths(const wxArrayString& paths, const wxTreeItemId& target) {
    if (!target.IsOk() || m_treeFiles->ItemNumber(target) != 0)
        return false;
    for (const wxString& path : paths) {
        if (engine::InspectSource(path.utf8_string()).kind == engine::SourceKind::Folder) {
            AddFolderItem(path, target);
        } else if (!HasChildNamed(path.AfterLast('/'), target) && OpenedFileSize(path) >= 0) {
            AddFileItem(path, target);
            m_treeFiles->SetFocus();
            m_treeFiles->SelectItem(target);
        }
    }
    RefreshSizeDisplay();
    ReportRefused();
    return true;
}

wxString CImFilesDlg::GetParentPath(const wxTreeItemId& item) const {
    wxString s = "\\";
    if (item == m_hRootItem)
        return s;
    for (wxTreeItemId p = m_treeFiles->GetItemParent(item); p.IsOk() && p != m_hRootItem;
         p = m_treeFiles->GetItemParent(p))
        s = "\\" + m_treeFiles->GetItemText(p) + s;
    return s;
}

bool CImFilesDlg::HasChildNamed(const wxString& name, const wxTreeItemId& parent) const {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = m_treeFiles->GetFirstChild(parent, cookie); c.IsOk();
         c = m_treeFiles->GetNextChild(parent, cookie))
        if (m_treeFiles->GetItemText(c) == name)
            return true;
    return false;
}

void CImFilesDlg::OnDelete(wxCommandEvent&) {
    const wxTreeItemId item = m_treeFiles->GetSelection();
    if (!item.IsOk() || item == m_hRootItem)
        return;
    EnsureProject();
    const wxString p = GetParentPath(item), text = m_treeFiles->GetItemText(item);
    const std::u16string name = ToU16(text);
    if (m_treeFiles->ItemNumber(item) != 0)
        engine::RemoveFile(name.c_str(), ToU16(p).c_str());
    else
        engine::RemoveDir(ToU16(p + text + "\\").c_str());
    const wxTreeItemId parent = m_treeFiles->GetItemParent(item);
    ForgetReports(item);
    m_treeFiles->Delete(item);
    m_treeFiles->SetFocus();
    m_treeFiles->SelectItem(parent);
    m_dTotalSize = 0;
    SumFileSizes(m_hRootItem);
    RefreshSizeDisplay();
}

void CImFilesDlg::ForgetReports(const wxTreeItemId& item) {
    std::set<void*> items;
    CollectItems(m_treeFiles, item, items);
    EraseItems(g_mapFileItems, items);
    EraseItems(g_mapDirItems, items);
}

void CImFilesDlg::SumFileSizes(const wxTreeItemId& item) {
    if (CFileItemData* data = m_treeFiles->FileData(item)) {
        // The size counted when the file was added; a file that could not
        // be opened then is tried again.
        if (data->m_nSize < 0)
            data->m_nSize = OpenedFileSize(m_arrSourcePaths[data->m_n - 1]);
        if (data->m_nSize >= 0)
            m_dTotalSize += static_cast<double>(data->m_nSize);
        return;
    }
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = m_treeFiles->GetFirstChild(item, cookie); c.IsOk();
         c = m_treeFiles->GetNextChild(item, cookie))
        SumFileSizes(c);
}

void CImFilesDlg::OnReset(wxCommandEvent&) {
    g_mapFileItems.clear(); // every item goes
    g_mapDirItems.clear();
    m_treeFiles->DeleteAllItems();
    NewProject();
    InsertRoot();
    m_treeFiles->SelectItem(m_hRootItem);
    m_dTotalSize = 0;
    RefreshSizeDisplay();
}

void CImFilesDlg::OnEndLabelEdit(wxTreeEvent& event) {
    if (event.GetItem() == m_hRootItem && !event.IsEditCancelled()) {
        engine::EngineOptions options;
        engine::FillUndefined(options);
        engine::GetOptions(&options);
        engine::LabelToOptions(ToU16(event.GetLabel()), options);
        engine::SetOptions(options);
        // The root shows the label as the image will carry it, not as typed.
        m_treeFiles->SetItemText(m_hRootItem, ToWx(engine::LabelFromOptions(options)));
    }
    event.Veto(); // the tree keeps the text it has now
}

void CImFilesDlg::OnAddFileEvent(const char16_t* sourcePath, const char16_t* nameInImage,
                                 const char16_t*, const char16_t*, std::uint64_t, std::uint32_t,
                                 std::int64_t, std::int32_t, void* user) {
    auto* page = static_cast<CImFilesDlg*>(user);
    if (!page || !sourcePath || !nameInImage || !page->ShowsReports())
        return;
    std::u16string source(sourcePath), name(nameInImage);
    auto apply = [page, source, name] {
        auto it = g_mapFileItems.find(source);
        if (it == g_mapFileItems.end())
            return;
        // Most names come back as they went; measuring an unchanged text
        // again would cost the tree more than the rest of the add.
        const wxString text = ToWx(name);
        if (page->m_treeFiles->GetItemText(it->second) != text)
            page->m_treeFiles->SetItemText(it->second, text);
        g_mapFileItems.erase(it);
    };
    // The tree and the maps belong to the GUI thread.
    wxThread::IsMain() ? apply() : page->CallAfter(apply);
}

void CImFilesDlg::OnCreateDirEvent(const char16_t* requestedName, const char16_t* nameInImage,
                                   const char16_t* plainName, const char16_t*, void* user) {
    auto* page = static_cast<CImFilesDlg*>(user);
    if (!page || !requestedName || !nameInImage || !page->ShowsReports())
        return;
    std::u16string requested(requestedName), name(nameInImage), plain(plainName ? plainName : u"");
    auto apply = [page, requested, name, plain] {
        wxTreeCtrl* tree = page->m_treeFiles;
        auto it = g_mapDirItems.find(requested);
        if (it != g_mapDirItems.end()) {
            const wxString text = ToWx(name);
            if (tree->GetItemText(it->second) != text)
                tree->SetItemText(it->second, text);
            g_mapDirItems.erase(it);
        } else if (plain == u"VIDEO_TS" || plain == u"AUDIO_TS") {
            tree->AppendItem(page->m_hRootItem, ToWx(name), 1, 2);
        }
    };
    wxThread::IsMain() ? apply() : page->CallAfter(apply);
}

} // namespace ui
