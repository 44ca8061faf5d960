#include "pages/BurnDlg.h"

#include "controls/PageLook.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "text/LangTextUi.h"

#include <wx/choice.h>
#include <wx/textctrl.h>

bool CBurnDlg::Create(wxWindow* parent)
{
    if (!LoadPageLayout(this, parent, kLayoutBurn))
        return false;
    m_cboImageType = wxDynamicCast(FindWindow(1027), wxChoice);
    m_editImagePath = wxDynamicCast(FindWindow(1026), wxTextCtrl);
    m_editLabel = wxDynamicCast(FindWindow(1029), wxTextCtrl);
    m_cboWriter = wxDynamicCast(FindWindow(1028), wxChoice);
    PageCtlColor(this);
    return OnInitDialog();
}

bool CBurnDlg::OnInitDialog()
{
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
    wxString text;
    if (m_editLabel)
        m_editLabel->ChangeValue(GetLangText("ID_DEFAULTLABEL", text));
    if (m_cboImageType) {
        m_cboImageType->Clear();
        m_cboImageType->Append(GetLangText("ID_ISO_IMAGE", text));
        m_cboImageType->Append(GetLangText("ID_BIN_IMAGE", text));
        m_cboImageType->SetSelection(0);
    }
    if (m_cboWriter)
        m_cboWriter->Clear();
    if (m_editLabel)
        m_editLabel->Disable();
    if (m_editImagePath)
        m_editImagePath->ChangeValue(m_strImagePath);
    FitControls(this);
    return true;
}
