#include "pages/UnmountDlg.h"

#include "controls/PageLook.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "text/LangTextUi.h"

#include <wx/listctrl.h>

bool CUnmountDlg::Create(wxWindow* parent)
{
    if (!LoadPageLayout(this, parent, kLayoutUnmount))
        return false;
    m_listDrives = wxDynamicCast(FindWindow(1000), wxListCtrl);
    // This page keeps the toolkit's own colours for its controls.
    return OnInitDialog();
}

bool CUnmountDlg::OnInitDialog()
{
    m_staticDesc = SetDescription(this, 1019, "IDC_STATIC_UNMOUNTDESC");
    SetItemsLangText(this, {
                               {1002, "IDC_STATIC_UNMOUNT01"},
                               {1001, "IDC_STATIC_UNMOUNT02"},
                           });
    if (m_listDrives) {
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
            m_listDrives->InsertColumn(index++, heading, column.format, column.width);
        }
    }
    RefreshList();
    FitControls(this);
    return true;
}

void CUnmountDlg::RefreshList()
{
    ++m_nRefreshCount;
    if (m_listDrives)
        m_listDrives->DeleteAllItems();
}
