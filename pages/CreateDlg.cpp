#include "pages/CreateDlg.h"

#include "controls/PageLook.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/gauge.h>
#include <wx/textctrl.h>

bool CCreateDlg::Create(wxWindow* parent)
{
    if (!LoadPageLayout(this, parent, kLayoutCreate))
        return false;
    m_staticStatus = CTransStatic::Replace(this, 1018);
    m_cboDrive = wxDynamicCast(FindWindow(1011), wxChoice);
    m_editLabel = wxDynamicCast(FindWindow(1024), wxTextCtrl);
    m_cboImage = wxDynamicCast(FindWindow(1007), wxComboBox);
    m_progress = wxDynamicCast(FindWindow(1021), wxGauge);
    m_btnStop = wxDynamicCast(FindWindow(1010), wxButton);
    m_btnBuild = wxDynamicCast(FindWindow(1000), wxButton);
    PageCtlColor(this);
    return OnInitDialog();
}

bool CCreateDlg::OnInitDialog()
{
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
    if (m_progress)
        m_progress->SetRange(100);
    if (m_btnBuild)
        m_btnBuild->Enable();
    if (m_btnStop)
        m_btnStop->Disable();
    FitControls(this);
    return true;
}
