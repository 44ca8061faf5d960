#include "app/AboutDlg.h"

#include "controls/HyperLink.h"
#include "controls/UiScale.h"
#include "pages/Layouts.h"
#include "port/Paths.h"
#include "text/LangTextUi.h"

#include "SpindleVersion.h"

#include <wx/button.h>
#include <wx/filename.h>
#include <wx/statbmp.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>
#include <cmath>

using namespace text;

namespace ui {

namespace {

// The banner picture's size at scale 1.
constexpr int kBannerWidth = 437;
constexpr int kBannerHeight = 64;

} // namespace

CAboutDlg::CAboutDlg(wxWindow* parent) {
    if (!wxXmlResource::Get()->LoadDialog(this, parent, kLayoutAbout))
        return;
    m_bLoaded = true;
    ApplyNumericIds(this);
    // The box's size in units of its own font, like its controls.
    if (const wxSize size = LayoutSizeDlu(kLayoutAbout); size != wxDefaultSize) {
        SetClientSize(ConvertDialogToPixels(size));
        Centre();
    }
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
        m_btnClose->SetLabel(GetLangText("IDC_CLOSE", text)); // with its mnemonic

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
        const wxString line = version->GetLabelText();
        const wxString filled = FillPlaceholders(line, {spindle::kVersion});
        if (filled != line)
            version->SetLabelText(filled);
    }

    if (m_ctrlHomePage)
        m_ctrlHomePage->SetTarget(GetLangText("IDC_STATIC_GOHOMEPAGE", text));
    if (m_ctrlSupport)
        m_ctrlSupport->SetTarget(GetLangText("IDC_STATIC_GOSUPPORT", text));
    return true;
}

void CAboutDlg::ShowBanner() {
    auto* banner = wxDynamicCast(FindWindow(IDC_ABOUT_BANNER), wxStaticBitmap);
    if (!banner)
        return;
    // As wide as the box, in the picture's proportions, and no taller than
    // the layout's strip for it.
    const int width = GetClientSize().x;
    const int height =
        std::min<int>(std::lround(1.0 * width * kBannerHeight / kBannerWidth), banner->GetSize().y);
    const std::string dir = port::ResourceDir() + "res/";
    const wxBitmap bitmap = LoadScaledArt(
        {{kBannerWidth, dir + "banner.png"}, {2 * kBannerWidth, dir + "banner@2x.png"}},
        wxSize(width, height), DeviceScale());
    if (!bitmap.IsOk())
        return; // a missing picture leaves the strip empty
    banner->SetBitmap(bitmap);
    banner->SetSize(bitmap.GetLogicalSize());
}

} // namespace ui
