// The files page's capacity ruler and image build.
#include "pages/ImFilesDlg.h"

#include "controls/SizeRange.h"
#include "engine/Engine.h"
#include "engine/Label.h"
#include "engine/SourceWalk.h"
#include "pages/CompilationTree.h"
#include "pages/PageText.h"
#include "port/DialogHooks.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/gauge.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace text;

namespace ui {

namespace {

constexpr double kMegabyte = 1048576.0;
constexpr std::uint32_t kBlue = 0xD87E23, kAmber = 0x0AC8F7, kRed = 0x0511DA;

struct Limit {
    int mb;
    std::uint32_t colour;
};

} // namespace

void CImFilesDlg::ApplyMediaScale() {
    if (!m_rulerSize)
        return;
    const bool cd = m_comboMedia->GetSelection() == 0;
    m_rulerSize->SetMax(cd ? 750 : 5000);
    m_rulerSize->SetSmallStep(cd ? 20 : 200);
    m_rulerSize->SetLabelStep(cd ? 100 : 1000);
    wxString unit;
    m_rulerSize->SetUnit(GetLangText("ID_MB", unit));
    m_rulerSize->RemoveAllMarks();
    m_rulerSize->RemoveAllBands();
    m_rulerSize->AddBand(0, kBlue);
    const std::vector<Limit> limits =
        cd ? std::vector<Limit>{{670, kAmber}, {700, kRed}} : std::vector<Limit>{{4700, kRed}};
    for (const Limit& limit : limits) {
        m_rulerSize->AddMark(limit.mb, limit.colour, 0);
        m_rulerSize->AddBand(limit.mb, limit.colour);
    }
    m_rulerSize->SetValue(static_cast<int>(m_dTotalSize / kMegabyte));
}

void CImFilesDlg::RefreshSizeDisplay() {
    const double mb = m_dTotalSize / kMegabyte;
    m_progressBuild->SetValue(0);
    m_comboMedia->SetSelection(mb < 700 ? 0 : 1);
    ApplyMediaScale();
    if (m_rulerSize) {
        m_rulerSize->Refresh();
        m_rulerSize->Update();
    }
}

void CImFilesDlg::OnMediaChange(wxCommandEvent&) {
    ApplyMediaScale();
    RefreshSizeDisplay();
}

void CImFilesDlg::SetProgress(float percent) {
    int value = static_cast<int>(percent); // cut toward zero: 99.9 shows 99
    m_progressBuild->SetValue(value < 0 ? 0 : value > 100 ? 100 : value);
}

void CImFilesDlg::OnStop(wxCommandEvent&) {
    engine::Abort();
}

void CImFilesDlg::OnBuildImage(wxCommandEvent&) {
    port::FileDialogRequest request;
    request.owner = this;
    request.save = true;
    request.filter = FileFilter("ID_FILTER_ISO", "*.iso", false);
    std::optional<std::string> chosen = port::ShowFileDialog(request);
    if (!chosen || chosen->empty())
        return;
    wxString path = wxString::FromUTF8(*chosen);
    if (path.length() < 4 || path.Right(4).CmpNoCase(".iso") != 0)
        path += ".iso";
    struct stat st;
    if (::lstat(path.utf8_string().c_str(), &st) == 0) {
        if (QuestionBox(FormatLangText("ID_OVERWRITE_IMAGE", {path})) != IDYES)
            return;
        // The old file stays until the engine renames the finished image
        // over it: a build that fails or is stopped leaves it as it was.
    }
    m_progressBuild->SetValue(0);

    engine::EngineOptions options;
    engine::FillUndefined(options);
    engine::GetOptions(&options);
    options.EjectWhenDone = 0; // offset 665
    engine::LabelToOptions(ToU16(m_treeFiles->GetItemText(m_hRootItem)), options);
    engine::SetOptions(options);

    m_btnStop->Enable();
    Update();

    // A project of the page's own, whatever another page left behind.
    NewProject();
    std::vector<wxString> leftOut;
    SendTreeToEngine(m_hRootItem, "\\", leftOut);
    if (!leftOut.empty()) {
        // An image without something the tree shows is not built.
        m_btnStop->Disable();
        wxString failed;
        ShowLeftOut(GetLangText("ID_BUILDIMAGEERROR", failed), leftOut);
        return;
    }
    engine::PrepareISO();
    engine::BuildISO(ToU16(path).c_str());
}

void CImFilesDlg::SendTreeToEngine(const wxTreeItemId& item, wxString path,
                                   std::vector<wxString>& leftOut) {
    if (!item.IsOk())
        return;
    if (const std::size_t n = m_treeFiles->ItemNumber(item)) {
        const std::u16string source = ToU16(m_arrSourcePaths[n - 1]), where = ToU16(path),
                             name = ToU16(m_treeFiles->GetItemText(item));
        ExpectFileReport(source, item);
        if (engine::AddFile({source.c_str(), where.c_str(), name.c_str(), 0, 0}) != 0)
            leftOut.push_back(ToWx(engine::ImageChildPath(where, name)));
        return;
    }
    wxString own = path;
    if (item != m_hRootItem) {
        const wxString name = m_treeFiles->GetItemText(item);
        own = ToWx(engine::ImageChildPath(ToU16(path), ToU16(name)));
        const std::u16string n = ToU16(name), parent = ToU16(path);
        ExpectDirReport(n, item);
        if (engine::CreateDir(n.c_str(), parent.c_str()) != 0) {
            leftOut.push_back(own); // and nothing beneath it is passed
            return;
        }
    }
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = m_treeFiles->GetFirstChild(item, cookie); c.IsOk();
         c = m_treeFiles->GetNextChild(item, cookie))
        SendTreeToEngine(c, own, leftOut);
}

} // namespace ui
