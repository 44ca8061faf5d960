#include "app/AboutDlg.h"

#include "controls/HyperLink.h"
#include "pages/Layouts.h"
#include "port/Paths.h"
#include "text/LangTextUi.h"

#include "SpindleVersion.h"

#include <wx/button.h>
#include <wx/filename.h>
#include <wx/statbmp.h>
#include <wx/xrc/xmlres.h>

CAboutDlg::CAboutDlg(wxWindow* parent) {
    if (!wxXmlResource::Get()->LoadDialog(this, parent, kLayoutAbout))
        return;
    m_bLoaded = true;
    ApplyNumericIds(this);
    OnInitDialog();
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange() {
    m_ctrlHomePage = new CHyperLink();
    if (!m_ctrlHomePage->SubclassDlgItem(IDC_ABOUT_HOMEPAGE, this)) {
        delete m_ctrlHomePage;
        m_ctrlHomePage = nullptr;
    }
    m_ctrlSupport = new CHyperLink();
    if (!m_ctrlSupport->SubclassDlgItem(IDC_ABOUT_SUPPORT, this)) {
        delete m_ctrlSupport;
        m_ctrlSupport = nullptr;
    }
    m_btnClose = wxDynamicCast(FindWindow(IDC_ABOUT_CLOSE), wxButton);
    // Close and Escape both end the box through this button.
    SetAffirmativeId(IDC_ABOUT_CLOSE);
}

bool CAboutDlg::OnInitDialog() {
    DoDataExchange();
    ShowBanner();

    wxString text;
    SetTitle(GetLangText("ID_ABOUTTARVEL", text));
    if (m_btnClose)
        m_btnClose->SetLabelText(GetLangText("IDC_CLOSE", text));

    const struct {
        int id;
        const char* key;
    } items[] = {{1043, "IDC_STATIC_ABOUT01"},
                 {1044, "IDC_STATIC_ABOUT02"},
                 {1045, "IDC_STATIC_ABOUT03"},
                 {1046, "IDC_STATIC_ABOUT04"},
                 {1047, "IDC_STATIC_ABOUT05"},
                 {IDC_ABOUT_HOMEPAGE, "IDC_STATIC_HOMEPAGE"},
                 {IDC_ABOUT_SUPPORT, "IDC_STATIC_SUPPORT"}};
    for (const auto& item : items)
        SetItemLangText(this, item.id, item.key);

    // The version line names this build's version where its text has "%s".
    if (auto* version = wxDynamicCast(FindWindow(1044), wxControl)) {
        wxString line = version->GetLabelText();
        if (line.Replace("%s", spindle::kVersion, false))
            version->SetLabelText(line);
    }

    if (m_ctrlHomePage)
        m_ctrlHomePage->SetTarget(GetLangText("IDC_STATIC_GOHOMEPAGE", text));
    if (m_ctrlSupport)
        m_ctrlSupport->SetTarget(GetLangText("IDC_STATIC_GOSUPPORT", text));
    return true;
}

void CAboutDlg::ShowBanner() {
    auto* banner = wxDynamicCast(FindWindow(IDC_ABOUT_BANNER), wxStaticBitmap);
    const wxString path = wxString::FromUTF8(port::ResourceDir()) + "res/banner.png";
    if (!banner || !wxFileName::FileExists(path))
        return; // a missing picture leaves the strip empty
    wxBitmap bitmap(path, wxBITMAP_TYPE_PNG);
    if (!bitmap.IsOk())
        return;
    // Shown at its own size, whatever the layout's rectangle.
    banner->SetBitmap(bitmap);
    banner->SetSize(bitmap.GetWidth(), bitmap.GetHeight());
}
