#include "pages/BurnDlg.h"

#include "controls/PageLook.h"
#include "engine/Engine.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "port/DialogHooks.h"
#include "port/DriveInfo.h"
#include "port/Utf.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"
#include "vdrive/VolumeLabel.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

using namespace text;

namespace ui {

namespace {} // namespace

bool CBurnDlg::Create(wxWindow* parent) {
    if (!LoadPageLayout(this, parent, kLayoutBurn))
        return false;
    m_cboImageType = wxDynamicCast(FindWindow(1027), wxChoice);
    m_editImagePath = wxDynamicCast(FindWindow(1026), wxTextCtrl);
    m_editLabel = wxDynamicCast(FindWindow(1029), wxTextCtrl);
    m_cboWriter = wxDynamicCast(FindWindow(1028), wxComboBox);
    PageCtlColor(this);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBurn(); }, 1016);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnErase(); }, 1015);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(); }, 1024);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnEject(); }, 1038);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnCloseTray(); }, 1039);
    Bind(
        wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnSelChangeWriter(); }, 1028);
    // A recorder plugged in (or a drives.conf line added) shows when the
    // list is next dropped down.
    Bind(
        wxEVT_COMBOBOX_DROPDOWN, [this](wxCommandEvent&) { FillWriterList(); }, 1028);
    return OnInitDialog();
}

bool CBurnDlg::OnInitDialog() {
    m_staticDesc = SetDescription(this, 1020, "IDC_STATIC_BURNDISCDESC");
    SetItemsLangText(this, {
                               {1048, "IDC_STATIC_BURNCD01"},
                               {1049, "IDC_STATIC_BURNCD02"},
                               {1050, "IDC_STATIC_BURNCD03"},
                               {1051, "IDC_STATIC_BURNCD04"},
                               {1024, "IDC_STATIC_BURNCD05"},
                               {1038, "IDC_STATIC_BURNCD06"},
                               {1039, "IDC_STATIC_BURNCD07"},
                               {1015, "IDC_STATIC_BURNCD08"},
                               {1016, "IDC_STATIC_BURNCD09"},
                           });
    engine::SetOptionsFromRegistry(engine::kOptionsHive, engine::kOptionsKey);
    wxString text;
    if (m_editLabel)
        m_editLabel->ChangeValue(GetLangText("ID_DEFAULTLABEL", text));
    if (m_cboImageType) {
        m_cboImageType->Clear();
        m_cboImageType->Append(GetLangText("ID_ISO_IMAGE", text));
        m_cboImageType->Append(GetLangText("ID_BIN_IMAGE", text));
        m_cboImageType->SetSelection(0);
    }
    FillWriterList();
    if (m_editLabel)
        m_editLabel->Disable();
    UpdateData(false);
    FitControls(this);
    return true;
}

// Every optical drive from C: to Z: that the engine can describe, as
// "E: VENDOR PRODUCT". The chosen one stays chosen when it is listed again,
// else the first is; it becomes the engine's current recorder.
void CBurnDlg::FillWriterList() {
    if (!m_cboWriter)
        return;
    const wxString chosen = m_cboWriter->GetStringSelection();
    m_cboWriter->Clear();
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        const char16_t root[] = {letter, u':', u'\\', 0};
        if (port::GetDriveTypeW(root) != port::DRIVE_CDROM)
            continue;
        engine::SetDevice(letter);
        char vendor[8], product[16], revision[8];
        if (engine::GetDeviceInformation(vendor, product, revision) != 0)
            continue;
        m_cboWriter->Append(ToWx(port::DriveListName(letter, {vendor, 8}, {product, 16})));
    }
    if (m_cboWriter->GetCount() == 0) {
        m_strWriter.clear();
        return;
    }
    if (chosen.empty() || !m_cboWriter->SetStringSelection(chosen))
        m_cboWriter->SetSelection(0);
    m_strWriter = m_cboWriter->GetStringSelection();
    engine::SetDevice(static_cast<char16_t>(m_strWriter[0].GetValue()));
}

void CBurnDlg::UpdateData(bool fromControls) {
    if (fromControls) {
        if (m_editImagePath)
            m_strImagePath = m_editImagePath->GetValue();
        if (m_cboWriter)
            m_strWriter = m_cboWriter->GetStringSelection();
    } else {
        if (m_editImagePath)
            m_editImagePath->ChangeValue(m_strImagePath);
        if (m_cboWriter && !m_strWriter.empty())
            m_cboWriter->SetStringSelection(m_strWriter);
    }
}

void CBurnDlg::OnBrowse() {
    if (!m_cboImageType)
        return;
    int sel = m_cboImageType->GetSelection();
    if (sel == kIsoImage)
        BrowseImage(kIsoImage);
    else if (sel == kBinCueImage)
        BrowseImage(kBinCueImage);
}

void CBurnDlg::BrowseImage(ImageKind kind) {
    port::FileDialogRequest request;
    request.owner = this;
    // Any case of the extension, as a Windows user would expect.
    request.filter = kind == kIsoImage ? FileFilter("ID_FILTER_ISO", "*.[iI][sS][oO]", false)
                                       : FileFilter("ID_FILTER_CUE", "*.[cC][uU][eE]", false);
    request.mustExist = true;
    if (auto path = port::ShowFileDialog(request)) {
        m_strImagePath = wxString::FromUTF8(*path);
        if (m_editLabel)
            m_editLabel->ChangeValue(ToWx(vdrive::ReadVolumeLabel(ToU16(m_strImagePath))));
    }
    UpdateData(false);
}

void CBurnDlg::ChooseImage(const wxString& path) {
    if (m_cboImageType)
        m_cboImageType->SetSelection(path.Lower().EndsWith(".cue") ? kBinCueImage : kIsoImage);
    m_strImagePath = path;
    if (m_editLabel)
        m_editLabel->ChangeValue(ToWx(vdrive::ReadVolumeLabel(ToU16(m_strImagePath))));
    UpdateData(false);
}

void CBurnDlg::OnSelChangeWriter() {
    UseShownRecorder();
}

// The engine's current recorder is process-wide, and other pages set it
// too (the Copy Disc page while it fills its drive list): each action makes
// the recorder this page shows the current one first.
bool CBurnDlg::UseShownRecorder() {
    if (!m_cboWriter || m_cboWriter->GetSelection() == wxNOT_FOUND)
        return false;
    wxString item = m_cboWriter->GetStringSelection();
    return !item.empty() && engine::SetDevice(static_cast<char16_t>(item[0].GetValue())) == 0;
}

void CBurnDlg::OnEject() {
    if (UseShownRecorder())
        engine::EjectDevice();
}

void CBurnDlg::OnCloseTray() {
    if (UseShownRecorder())
        engine::CloseDevice();
}

void CBurnDlg::OnErase() {
    if (!UseShownRecorder()) {
        if (!m_cboWriter || m_cboWriter->GetCount() == 0)
            InfoBox(LangText("ID_NORECORDER"));
        return;
    }
    wxString title;
    engine::EraseDialog(ToU16(GetLangText("ID_ERASEDISC", title)).c_str());
}

void CBurnDlg::AddImageToProject() {
    const int sel = m_cboImageType ? m_cboImageType->GetSelection() : wxNOT_FOUND;
    if (sel != kIsoImage && sel != kBinCueImage)
        return;
    std::u16string source = ToU16(m_strImagePath);
    engine::FileRecord record{};
    record.SourcePath = source.c_str();
    record.ImageDir = sel == kBinCueImage ? u"\\" : nullptr;
    record.ImageName = nullptr;
    record.Flag = sel == kBinCueImage ? 1 : 0;
    record.Reserved = 0;
    engine::AddFile(record);
}

void CBurnDlg::OnBurn() {
    UpdateData(true);
    wxString text;
    if (!m_cboWriter || m_cboWriter->GetCount() == 0) {
        InfoBox(GetLangText("ID_NORECORDER", text));
        return;
    }
    if (m_strImagePath.empty()) {
        InfoBox(GetLangText("ID_NOTHINGTOBURN", text));
        return;
    }
    try {
        if (m_strWriter.empty())
            throw std::runtime_error("no recorder selected");
        engine::SetDevice(static_cast<char16_t>(m_strWriter[0].GetValue()));
        engine::EngineOptions options;
        engine::FillUndefined(options);
        engine::GetOptions(&options);
        // The label: the low 8 bits of each character, at most 127, then 0.
        std::u16string label = m_editLabel ? ToU16(m_editLabel->GetValue()) : std::u16string();
        std::memset(options.VolumeLabel, 0, sizeof options.VolumeLabel);
        const std::size_t n = std::min<std::size_t>(label.size(), sizeof options.VolumeLabel - 1);
        for (std::size_t i = 0; i < n; ++i)
            options.VolumeLabel[i] = static_cast<char>(label[i] & 0xFF);
        options.CloseDisc = 1;
        options.Verify = 1;
        options.UnderrunProtection = 1;
        options.EjectWhenDone = 1;
        engine::SetOptions(options);
        engine::SaveOptionsToRegistry(engine::kOptionsHive, engine::kOptionsKey);
        engine::ClearAll();
        engine::DeleteProject();
        const bool iso = m_cboImageType && m_cboImageType->GetSelection() == kIsoImage;
        engine::CreateProject(iso ? engine::kProjectData : engine::kProjectBinCue);
        AddImageToProject();
        std::u16string path = iso ? ToU16(m_strImagePath) : std::u16string();
        // The engine's dialog takes over; it records the work kind once a
        // burn really starts there (it may close without burning).
        engine::BurnDialog(0, 0, 1, ToU16(GetLangText("ID_BURNDISC", text)).c_str(), path.c_str());
    } catch (...) {
        ErrorBox(GetLangText("ID_UNKNOWNERROR", text));
    }
}

} // namespace ui
