#include "pages/CreateDlg.h"

#include "controls/PageLook.h"
#include "engine/Engine.h"
#include "engine/JobHandOver.h"
#include "pages/CreatePageObserver.h"
#include "pages/HistoryCombo.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "port/DialogHooks.h"
#include "port/DriveInfo.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/textctrl.h>

#include <initializer_list>

using namespace text;

namespace ui {

namespace {

wxString Number(std::int64_t n) {
    return wxString::Format("%lld", static_cast<long long>(n));
}

} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(CCreateDlg, wxPanel)
    EVT_BUTTON(1000, CCreateDlg::OnBuildImage)
    EVT_BUTTON(1009, CCreateDlg::OnBrowse)
    EVT_BUTTON(1010, CCreateDlg::OnStop)
    EVT_COMBOBOX_DROPDOWN(1007, CCreateDlg::OnDropDownImage)
    EVT_COMBOBOX_DROPDOWN(1011, CCreateDlg::OnDropDownDrive)
    EVT_COMBOBOX(1011, CCreateDlg::OnSelChangeDrive)
    EVT_COMBOBOX(1007, CCreateDlg::OnSelChangeImage)
wxEND_EVENT_TABLE()
    // clang-format on

    CCreateDlg::~CCreateDlg() {
    if (m_handOver)
        m_handOver->Detach();
    m_reader.Stop();
}

bool CCreateDlg::Create(wxWindow* parent) {
    if (!LoadPageLayout(this, parent, kLayoutCreate))
        return false;
    m_staticStatus = CTransStatic::Replace(this, 1018);
    m_cboDrive = wxDynamicCast(FindWindow(1011), wxComboBox);
    m_editLabel = wxDynamicCast(FindWindow(1024), wxTextCtrl);
    m_cboImage = wxDynamicCast(FindWindow(1007), wxComboBox);
    m_progress = wxDynamicCast(FindWindow(1021), wxGauge);
    m_btnStop = wxDynamicCast(FindWindow(1010), wxButton);
    m_btnBuild = wxDynamicCast(FindWindow(1000), wxButton);
    PageCtlColor(this);
    return m_cboDrive && m_editLabel && m_cboImage && m_progress && m_btnStop && m_btnBuild &&
           m_staticStatus && OnInitDialog();
}

bool CCreateDlg::OnInitDialog() {
    m_staticDesc = SetDescription(this, 1017, "IDC_STATIC_CREATEDESC");
    SetItemsLangText(this, {
                               {1053, "IDC_STATIC_CREATE01"},
                               {1054, "IDC_STATIC_CREATE02"},
                               {1055, "IDC_STATIC_CREATE03"},
                               {1056, "IDC_STATIC_CREATE04"},
                               {1009, "IDC_STATIC_CREATE05"},
                               {1010, "IDC_STATIC_CREATE06"},
                               {1000, "IDC_STATIC_CREATE07"},
                           });
    m_progress->SetRange(100);
    FillDriveList();
    if (m_cboDrive->GetCount() > 0) {
        m_cboDrive->SetSelection(0);
        m_strDrive = m_cboDrive->GetString(0);
    }
    LoadHistory();
    if (m_cboImage->GetCount() > 0) {
        const unsigned last = m_cboImage->GetCount() - 1;
        m_cboImage->SetSelection(last);
        m_strImagePath = m_cboImage->GetString(last);
    }
    SetCopyButtons(false);
    ReadDiscLabel();
    FitControls(this);
    return true;
}

void CCreateDlg::FillDriveList() {
    // The drive stays chosen when it is listed again; nothing else changes
    // until the user picks one.
    const wxString chosen = m_cboDrive->GetStringSelection();
    m_cboDrive->Clear();
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        const char16_t root[] = {letter, u':', u'\\', 0};
        if (port::GetDriveTypeW(root) != port::DRIVE_CDROM)
            continue;
        engine::SetDevice(letter);
        char vendor[8] = {}, product[16] = {}, revision[8] = {};
        if (engine::GetDeviceInformation(vendor, product, revision) == 0)
            m_cboDrive->Append(ToWx(port::DriveListName(letter, {vendor, 8}, {product, 16})));
    }
    if (!chosen.empty())
        m_cboDrive->SetStringSelection(chosen);
}

void CCreateDlg::ReadDiscLabel() {
    char16_t name[255] = {};
    if (!m_strDrive.empty()) {
        const char16_t root[] = {static_cast<char16_t>(m_strDrive[0].GetValue()), u':', u'\\', 0};
        if (!port::GetVolumeInformationW(root, name, 255, nullptr, nullptr, nullptr, nullptr, 0))
            name[0] = 0;
    }
    m_strDiscLabel = ToWx(name);
    m_editLabel->SetValue(m_strDiscLabel);
}

void CCreateDlg::LoadHistory() {
    FillFromHistory(m_history, *m_cboImage);
}

void CCreateDlg::SaveHistory() {
    m_strImagePath = m_cboImage->GetValue();
    PutInHistory(m_history, *m_cboImage, m_strImagePath);
}

void CCreateDlg::UpdateStatus() {
    m_staticStatus->SetLabel(m_strStatus);
    // The label is transparent: the page background under it is drawn anew.
    RefreshRect(m_staticStatus->GetRect(), true);
    m_staticStatus->Refresh();
}

void CCreateDlg::UpdateData(bool save) {
    if (save) {
        m_strDrive = m_cboDrive->GetStringSelection();
        m_strImagePath = m_cboImage->GetValue();
    } else {
        m_cboDrive->SetStringSelection(m_strDrive);
        m_cboImage->SetValue(m_strImagePath);
    }
}

void CCreateDlg::OnBuildImage(wxCommandEvent&) {
    UpdateData(true);
    // A drive but nowhere to write: said here (no drive is the job's to say).
    if (!m_strDrive.empty() && m_strImagePath.Strip(wxString::both).empty()) {
        WarningBox(LangText("ID_SELECT_IMAGEFILE"));
        return;
    }
    auto observer = std::make_unique<CCreatePageObserver>(*this);
    auto handOver = engine::JobHandOver::Make(observer.get(), [](std::function<void()> fn) {
        if (!wxTheApp)
            return false;
        wxTheApp->CallAfter(std::move(fn));
        return true;
    });
    engine::DiscCopyJob job{ToU16(m_strDrive), ToU16(m_strImagePath), ToU16(m_strDiscLabel)};
    // A second press before the running copy switched the buttons starts
    // nothing: two workers would write the same file.
    if (m_reader.Start(std::move(job), handOver)) {
        if (m_handOver)
            m_handOver->Detach();
        m_handOver = std::move(handOver);
        m_observer = std::move(observer);
    }
}

std::weak_ptr<engine::JobObserver> CCreateDlg::CopyObserver() const {
    return m_handOver;
}

void CCreateDlg::OnBrowse(wxCommandEvent&) {
    UpdateData(true);
    port::FileDialogRequest request;
    request.owner = this;
    request.save = true;
    request.filter = FileFilter("ID_FILTER_ISO", "*.iso", true);
    const wxFileName initial(m_strImagePath);
    request.defaultDir = initial.GetPath().utf8_string();
    request.defaultFile = initial.GetFullName().utf8_string();
    const std::optional<std::string> chosen = port::ShowFileDialog(request);
    if (!chosen)
        return;
    m_strImagePath = wxString::FromUTF8(*chosen);
    if (m_strImagePath.Right(4).Upper() != ".ISO")
        m_strImagePath += ".iso";
    UpdateData(false);
}

void CCreateDlg::OnStop(wxCommandEvent&) {
    m_reader.Stop();
    SetCopyButtons(false);
}

void CCreateDlg::OnDropDownImage(wxCommandEvent&) {
    LoadHistory();
}

void CCreateDlg::OnDropDownDrive(wxCommandEvent&) {
    FillDriveList();
}

void CCreateDlg::OnSelChangeDrive(wxCommandEvent&) {
    m_strDrive = m_cboDrive->GetStringSelection();
    ReadDiscLabel();
}

void CCreateDlg::OnSelChangeImage(wxCommandEvent&) {
    m_strImagePath = m_cboImage->GetStringSelection();
}

void CCreateDlg::SetCopyButtons(bool copying) {
    m_btnStop->Enable(copying);
    m_btnBuild->Enable(!copying);
}

void CCreateDlg::SetProgress(int percent) {
    m_progress->SetValue(percent);
}

std::u16string CCreateDlg::LabelBoxText() const {
    return ToU16(m_editLabel->GetValue());
}

wxString CCreateDlg::StatusText(const engine::JobStatus& status) {
    using Step = engine::JobStatus::Step;
    switch (status.step) {
    case Step::Blank:
        return " ";
    case Step::Preparing:
        return LangText("ID_PREPARING");
    case Step::Reading:
        return FormatLangText(
            "ID_CURRENTREADING",
            {Number(status.done >> 20), Number(status.total >> 20), Number(status.unreadable)});
    default:
        break;
    }
    return wxString();
}

int CCreateDlg::ShowCopyMessage(const engine::JobQuestion& note) {
    const wxString path = ToWx(note.path);
    switch (CopyMessageOf(note)) {
    case engine::CopyMessage::SelectDrive:
        return WarningBox(LangText("ID_SELECT_CDDRIVE"));
    case engine::CopyMessage::CannotOpenDrive:
        return ErrorBox(FormatLangText("ID_CANNTOPENCDDRIVE", {path}));
    case engine::CopyMessage::NoDisc:
        return WarningBox(FormatLangText("ID_NODISC", {path}));
    case engine::CopyMessage::SameAsSource:
        return WarningBox(FormatLangText("ID_SAMEASSOURCE", {path}));
    case engine::CopyMessage::OverwriteImage:
        return QuestionBox(FormatLangText("ID_OVERWRITE_IMAGE", {path}));
    case engine::CopyMessage::CannotCreateFile:
        return ErrorBox(FormatLangText("ID_CANNTCREATEFILE", {path}));
    case engine::CopyMessage::CannotCreateBuffer:
        return ErrorBox(LangText("ID_CANNTCREATEBUFFER"));
    case engine::CopyMessage::ReadError:
        return QuestionBox(LangText("ID_READERROR"));
    case engine::CopyMessage::LabelFailed:
        return WarningBox(FormatLangText("ID_LABELNOTWRITTEN", {path}));
    case engine::CopyMessage::Done:
        return InfoBox(LangText("ID_CREATEIMAGEDONE"));
    case engine::CopyMessage::DoneWithBadSectors:
        return InfoBox(FormatLangText("ID_CREATEIMAGEBADSECTORS", {Number(note.count), path}));
    case engine::CopyMessage::ListFailed:
        return InfoBox(FormatLangText("ID_BADSECTORLISTFAILED", {Number(note.count), path}));
    case engine::CopyMessage::Failed:
        return path.empty() ? ErrorBox(LangText("ID_CREATEIMAGEFAILED"))
                            : ErrorBox(FormatLangText("ID_CREATEIMAGEPARTIAL", {path}));
    case engine::CopyMessage::NewLabel:
        break;
    }
    return IDOK;
}

} // namespace ui
