#include "pages/MountDlg.h"

#include "controls/PageLook.h"
#include "pages/HistoryCombo.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "port/DialogHooks.h"
#include "port/OpenFolder.h"
#include "port/Utf.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"
#include "vdrive/DiscImage.h"
#include "vdrive/DriverStart.h"
#include "vdrive/VirtualDrive.h"
#include "vdrive/VolumeLabel.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dnd.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <sys/stat.h>

using namespace text;

namespace ui {

namespace {

constexpr int kBtnMount = 1;
constexpr int kBtnBrowse = 1003;
constexpr int kCboImage = 1023;

bool Exists(const wxString& path) {
    struct stat st {};
    return stat(PathBytes(path).c_str(), &st) == 0;
}

// Why an image description cannot be used, from the catalogue: the file
// with the line and the field or command at fault.
wxString DescribeDiscFault(const vdrive::DiscFault& fault) {
    wxString where = PathShown(PathFromBytes(fault.file));
    wxString at;
    if (fault.line > 0)
        at = FormatLangText("ID_DISC_FAULT_LINE", {wxString::Format("%d", fault.line)});
    if (!fault.field.empty())
        at += (at.empty() ? "" : ", ") + wxString::FromUTF8(fault.field);
    if (!at.empty())
        where += " (" + at + ")";
    switch (fault.code) {
    case port::ERROR_FILE_NOT_FOUND:
    case port::ERROR_INVALID_DATA:
    case port::ERROR_HANDLE_EOF:
    case port::ERROR_NOT_SUPPORTED: {
        const std::string key = "ID_DISC_FAULT_" + std::to_string(fault.code);
        return FormatLangText(wxString(key), {where});
    }
    default:
        return FormatLangText("ID_MOUNT_FAILED",
                              {DescribeErrorText(fault.code), wxString::Format("%u", fault.code)});
    }
}

// The refusal of an image description (cue sheet, CloneCD, Nero, Alcohol)
// that cannot be used, said before the driver is asked; empty when the file
// is usable or is no regular file (the driver answers for those as before).
wxString DiscRefusal(const wxString& imagePath) {
    const std::string path = PathBytes(imagePath);
    struct stat st {};
    vdrive::Disc disc;
    vdrive::DiscFault fault;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        vdrive::ReadDisc(path, disc, fault))
        return {};
    return DescribeDiscFault(fault);
}

class ImageDropTarget : public wxFileDropTarget {
public:
    explicit ImageDropTarget(CMountDlg* page) : m_page(page) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override {
        return m_page->OnDropFiles(files);
    }

private:
    CMountDlg* m_page;
};

} // namespace

wxString PathFromBytes(std::string_view bytes) {
    return ToWx(port::PathToUtf16(bytes));
}

std::string PathBytes(const wxString& path) {
    return port::PathToUtf8(ToU16(path));
}

wxString PathShown(const wxString& path) {
    wxString shown = path;
    for (auto c = shown.begin(); c != shown.end(); ++c)
        if (port::IsEscapedByte((*c).GetValue()))
            *c = wxUniChar(0xFFFD);
    return shown;
}

bool CMountDlg::Create(wxWindow* parent) {
    if (!LoadPageLayout(this, parent, kLayoutMount))
        return false;
    m_cboDrive = wxDynamicCast(FindWindow(1005), wxChoice);
    m_cboImage = wxDynamicCast(FindWindow(kCboImage), wxComboBox);
    m_editLabel = wxDynamicCast(FindWindow(1024), wxTextCtrl);
    m_chkOpen = wxDynamicCast(FindWindow(1032), wxCheckBox);
    if (!m_cboDrive || !m_cboImage || !m_editLabel || !m_chkOpen)
        return false;
    Bind(wxEVT_BUTTON, &CMountDlg::OnBrowse, this, kBtnBrowse);
    Bind(wxEVT_BUTTON, &CMountDlg::OnMount, this, kBtnMount);
    Bind(wxEVT_COMBOBOX, &CMountDlg::OnSelChangeImage, this, kCboImage);
    SetDropTarget(new ImageDropTarget(this));
    m_cboImage->SetDropTarget(new ImageDropTarget(this));
    PageCtlColor(this);
    return OnInitDialog();
}

bool CMountDlg::OnInitDialog() {
    m_staticDesc = SetDescription(this, 1018, "IDC_STATIC_MOUNTDESC");
    SetItemsLangText(this, {
                               {1057, "IDC_STATIC_MOUNT01"},
                               {1058, "IDC_STATIC_MOUNT02"},
                               {1059, "IDC_STATIC_MOUNT03"},
                               {kBtnBrowse, "IDC_STATIC_MOUNT04"},
                               {1032, "IDC_STATIC_MOUNT05"},
                               {kBtnMount, "IDC_STATIC_MOUNT06"},
                           });
    FillDriveList();
    m_editLabel->Disable();
    LoadHistory();
    // The last entry, the least recently mounted of those listed.
    if (m_cboImage->GetCount() > 0) {
        m_cboImage->SetSelection(static_cast<int>(m_cboImage->GetCount()) - 1);
        m_strImagePath = m_cboImage->GetValue();
    }
    ShowVolumeLabel();
    m_chkOpen->SetValue(m_bOpenAfterMount != 0);
    FitControls(this);
    return true;
}

void CMountDlg::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        // The box shows a name that is not UTF-8 with U+FFFD; the path
        // itself stays while the box shows it unchanged.
        const wxString shown = m_cboImage->GetValue();
        if (shown != PathShown(m_strImagePath))
            m_strImagePath = shown;
        m_strDrive = m_cboDrive->GetStringSelection();
        m_bOpenAfterMount = m_chkOpen->GetValue() ? 1 : 0;
        return;
    }
    m_cboImage->SetValue(PathShown(m_strImagePath));
    const int drive = m_cboDrive->FindString(m_strDrive, true);
    if (drive != wxNOT_FOUND)
        m_cboDrive->SetSelection(drive);
    m_chkOpen->SetValue(m_bOpenAfterMount != 0);
}

void CMountDlg::FillDriveList() {
    m_cboDrive->Clear();
    const wxString drive = LangText("ID_DRIVE");
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        if (!vdrive::IsDriveLetterUsed(letter))
            m_cboDrive->Append(drive + " " + wxString::Format("%c:", static_cast<char>(letter)));
    }
    if (m_cboDrive->GetCount() > 0)
        m_cboDrive->SetSelection(0);
}

void CMountDlg::LoadHistory() {
    FillFromHistory(m_history, *m_cboImage);
}

void CMountDlg::SaveHistory() {
    // The list holds text the drop-down shows, which a name that is not
    // UTF-8 is not.
    if (PathShown(m_strImagePath) != m_strImagePath)
        return;
    PutInHistory(m_history, *m_cboImage, m_strImagePath);
}

void CMountDlg::ShowVolumeLabel() {
    const std::u16string label = vdrive::ReadVolumeLabel(ToU16(m_strImagePath));
    m_editLabel->SetValue(ToWx(label));
}

void CMountDlg::OnBrowse(wxCommandEvent&) {
    port::FileDialogRequest request;
    request.owner = this;
    request.filter = FileFilter("ID_FILTER_DISC", "*.iso;*.cue;*.ccd;*.nrg;*.mds", true);
    // The path as the page holds it at the click, split the toolkit's way.
    const std::string held = PathBytes(m_strImagePath);
    const std::size_t slash = held.rfind('/');
    request.defaultDir = slash == std::string::npos ? std::string() : held.substr(0, slash + 1);
    request.defaultFile = slash == std::string::npos ? held : held.substr(slash + 1);
    UpdateData(true);
    const std::optional<std::string> chosen = port::ShowFileDialog(request);
    if (!chosen)
        return;
    m_strImagePath = PathFromBytes(*chosen);
    // ".iso" completes a typed name only: a chosen file that exists keeps
    // its name, whatever it ends in.
    if (m_strImagePath.Right(4).Upper() != ".ISO" && !Exists(m_strImagePath))
        m_strImagePath += ".iso";
    ShowVolumeLabel();
    UpdateData(false);
}

void CMountDlg::OnSelChangeImage(wxCommandEvent& event) {
    m_strImagePath = event.GetString();
    ShowVolumeLabel();
    UpdateData(true);
}

bool CMountDlg::OnDropFiles(const wxArrayString& files) {
    if (files.empty())
        return false;
    ChooseImage(files[0]);
    return true;
}

void CMountDlg::ChooseImage(const wxString& path) {
    m_strImagePath = path;
    m_cboImage->SetValue(PathShown(m_strImagePath));
    ShowVolumeLabel();
}

void CMountDlg::OnMount(wxCommandEvent&) {
    MountChosenImage();
}

bool CMountDlg::MountChosenImage() {
    UpdateData(true);
    const std::size_t at = LangText("ID_DRIVE").length() + 1;
    if (m_strDrive.length() <= at)
        return false; // no free letter was offered
    const auto letter = static_cast<char16_t>(m_strDrive[at].GetValue());
    const wxString refusal = DiscRefusal(m_strImagePath);
    if (!refusal.empty()) {
        InfoBox(refusal);
        return false;
    }

    vdrive::MountRequest request;
    request.imagePath = ToU16(m_strImagePath);
    request.convertPath = true;
    request.readOnly = true;
    request.fileSize = 0;
    request.secondValue = 0;
    request.deviceKind = vdrive::kDeviceKindCd;
    // With no driver answering, one is started in the background (the wait,
    // usually well under a second, shows a busy pointer).
    port::ErrorCode error = port::ERROR_SUCCESS;
    vdrive::StartFault startFault;
    wxBusyCursor busy;
    const bool mounted = vdrive::MountStartingDriver(letter, request, error, startFault);
    if (mounted) {
        SaveHistory();
        if (m_bOpenAfterMount)
            port::OpenFolder(port::DesktopFolder(letter)); // a failed start is not reported
        else
            InfoBox(FormatLangText("ID_MOUNT_DONE", {wxString(wxUniChar(letter))}));
    } else if (error == port::ERROR_PATH_NOT_FOUND && !startFault.ok()) {
        ErrorBox(FormatLangText("ID_FILEDISK_START_FAILED",
                                {wxString::FromUTF8(vdrive::Describe(startFault))}));
    } else if (error == port::ERROR_PATH_NOT_FOUND) {
        ErrorBox(LangText("ID_FILEDISK_NOT_READY"));
    } else if (error == port::ERROR_FILENAME_EXCED_RANGE) {
        ErrorBox(FormatLangText("ID_MOUNT_PATH_TOO_LONG", {wxString::Format("%u", error)}));
    } else {
        ErrorBox(FormatLangText("ID_MOUNT_FAILED",
                                {DescribeErrorText(error), wxString::Format("%u", error)}));
    }
    FillDriveList();
    return mounted;
}

} // namespace ui
