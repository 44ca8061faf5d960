#include "pages/UnmountDlg.h"

#include "controls/PageLook.h"
#include "controls/UiScale.h"
#include "pages/Layouts.h"
#include "pages/MountDlg.h"
#include "pages/PageText.h"
#include "port/Utf.h"
#include "text/LangTextUi.h"
#include "text/MessageBoxes.h"
#include "vdrive/DrivesFile.h"
#include "vdrive/VirtualDrive.h"

#include <wx/listctrl.h>

using namespace text;

namespace ui {

namespace {

constexpr int kBtnDismount = 1001;
constexpr int kBtnRefresh = 1002;

} // namespace

bool CUnmountDlg::Create(wxWindow* parent) {
    if (!LoadPageLayout(this, parent, kLayoutUnmount))
        return false;
    m_listDrives = wxDynamicCast(FindWindow(1000), wxListCtrl);
    Bind(wxEVT_BUTTON, &CUnmountDlg::OnDismount, this, kBtnDismount);
    Bind(wxEVT_BUTTON, &CUnmountDlg::OnRefresh, this, kBtnRefresh);
    // This page keeps the toolkit's own colours for its controls.
    return OnInitDialog();
}

bool CUnmountDlg::OnInitDialog() {
    m_staticDesc = SetDescription(this, 1019, "IDC_STATIC_UNMOUNTDESC");
    SetItemsLangText(this, {
                               {kBtnRefresh, "IDC_STATIC_UNMOUNT01"},
                               {kBtnDismount, "IDC_STATIC_UNMOUNT02"},
                           });
    if (m_listDrives) {
        // Report view, one row at a time, grid lines (the layout's style).
        struct Column {
            const char* key;
            wxListColumnFormat format;
            int width;
        };
        static const Column columns[] = {
            {"IDC_STATIC_UNMOUNT03", wxLIST_FORMAT_LEFT, 40},
            {"IDC_STATIC_UNMOUNT04", wxLIST_FORMAT_LEFT, 170},
            {"IDC_STATIC_UNMOUNT05", wxLIST_FORMAT_RIGHT, 70},
            {"IDC_STATIC_UNMOUNT06", wxLIST_FORMAT_RIGHT, 90},
        };
        m_listDrives->DeleteAllColumns();
        long index = 0;
        for (const Column& column : columns) {
            wxString heading;
            GetLangText(wxString(column.key), heading);
            m_listDrives->InsertColumn(index++, heading, column.format, ScaledPx(column.width));
        }
    }
    RefreshList();
    FitControls(this);
    return true;
}

void CUnmountDlg::RefreshList() {
    ++m_nRefreshCount;
    if (!m_listDrives)
        return;
    m_listDrives->DeleteAllItems();
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        if (auto info = vdrive::QueryMountedImage(letter))
            AddDriveRow(letter, *info);
    }
}

void CUnmountDlg::AddDriveRow(char16_t letter, const vdrive::MountedImageInfo& info) {
    const std::u16string_view name = info.imageName;
    const wxString path = PathShown(
        ToWx(name.substr(0, 4) == u"\\??\\" ? vdrive::FromNtPath(name) : std::u16string(name)));
    const long row = m_listDrives->InsertItem(m_listDrives->GetItemCount(),
                                              wxString::Format("%c:", static_cast<char>(letter)));
    m_listDrives->SetItem(row, 1, path);
    m_listDrives->SetItem(row, 2, LangText(info.readOnly ? "ID_YES" : "ID_NO"));
    m_listDrives->SetItem(row, 3, std::to_string(static_cast<std::uint64_t>(info.fileSize)));
    m_listDrives->RefreshItem(row);
}

void CUnmountDlg::OnDismount(wxCommandEvent&) {
    if (!m_listDrives)
        return;
    const long row = m_listDrives->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (row < 0) {
        InfoBox(LangText("ID_SELECT_DRIVE_ROW"));
        return;
    }
    const wxString drive = m_listDrives->GetItemText(row, 0);
    if (drive.empty())
        return;
    const vdrive::DismountResult result =
        vdrive::DismountDrive(static_cast<char16_t>(drive[0].GetValue()));
    if (result.ok) {
        m_listDrives->DeleteItem(row);
        return;
    }
    // A drive in use stays, as the user asked nothing wrong; any other
    // failure is an error, with its reason.
    if (result.driveInUse)
        InfoBox(LangText("ID_DRIVE_USED"));
    else
        ErrorBox(FormatLangText("ID_DISMOUNT_FAILED", {DescribeErrorText(result.error),
                                                       wxString::Format("%u", result.error)}));
}

void CUnmountDlg::OnRefresh(wxCommandEvent&) {
    RefreshList();
}

std::string CUnmountDlg::WriteDrivesFile() {
    return vdrive::WriteDrivesFile();
}

} // namespace ui
