#include "pages/MountDlg.h"

#include "controls/PageLook.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/textctrl.h>

bool CMountDlg::Create(wxWindow* parent)
{
    if (!LoadPageLayout(this, parent, kLayoutMount))
        return false;
    m_cboDrive = wxDynamicCast(FindWindow(1005), wxChoice);
    m_cboImage = wxDynamicCast(FindWindow(1023), wxComboBox);
    m_editLabel = wxDynamicCast(FindWindow(1024), wxTextCtrl);
    m_chkOpen = wxDynamicCast(FindWindow(1032), wxCheckBox);
    PageCtlColor(this);
    return OnInitDialog();
}

bool CMountDlg::OnInitDialog()
{
    m_staticDesc = SetDescription(this, 1018, "IDC_STATIC_MOUNTDESC");
    SetItemsLangText(this, {
                               {1057, "IDC_STATIC_MOUNT01"},
                               {1058, "IDC_STATIC_MOUNT02"},
                               {1059, "IDC_STATIC_MOUNT03"},
                               {1003, "IDC_STATIC_MOUNT04"},
                               {1032, "IDC_STATIC_MOUNT05"},
                               {1, "IDC_STATIC_MOUNT06"},
                           });
    if (m_editLabel)
        m_editLabel->Disable();
    if (m_chkOpen)
        m_chkOpen->SetValue(m_bOpenAfterMount != 0);
    FitControls(this);
    return true;
}
