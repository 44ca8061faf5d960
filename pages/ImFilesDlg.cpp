#include "pages/ImFilesDlg.h"

#include "controls/PageLook.h"
#include "pages/Layouts.h"
#include "pages/PageText.h"
#include "port/Paths.h"
#include "port/Utf.h"
#include "text/LangTextUi.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/gauge.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/treectrl.h>

#include <filesystem>

namespace {

constexpr int kTreeIcon = 16;

wxBitmap LoadTreeIcon(const char* name)
{
    const std::string path = port::ProgramDir() + "res/icons/tree/" + name + ".png";
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
            wxImage::AddHandler(new wxPNGHandler);
        wxLogNull quiet;
        wxImage image;
        if (image.LoadFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG) && image.IsOk()) {
            if (image.GetWidth() != kTreeIcon || image.GetHeight() != kTreeIcon)
                image.Rescale(kTreeIcon, kTreeIcon, wxIMAGE_QUALITY_HIGH);
            return wxBitmap(image);
        }
    }
    // No icon file: a blank image keeps the indices of the others right.
    wxImage blank(kTreeIcon, kTreeIcon);
    blank.InitAlpha();
    for (int y = 0; y < kTreeIcon; ++y)
        for (int x = 0; x < kTreeIcon; ++x)
            blank.SetAlpha(x, y, 0);
    return wxBitmap(blank);
}

} // namespace

bool CImFilesDlg::Create(wxWindow* parent)
{
    if (!LoadPageLayout(this, parent, kLayoutFiles, false))
        return false;
    Bind(wxEVT_PAINT, &CImFilesDlg::OnPaint, this);
    m_treeFiles = wxDynamicCast(FindWindow(1001), wxTreeCtrl);
    m_progressBuild = wxDynamicCast(FindWindow(1005), wxGauge);
    m_comboMedia = wxDynamicCast(FindWindow(1036), wxChoice);
    m_btnStop = wxDynamicCast(FindWindow(1038), wxButton);
    PageCtlColor(this);
    return OnInitDialog();
}

wxString CImFilesDlg::LabelRoundTrip(const wxString& label)
{
    const std::u16string units = port::ToUtf16(label.utf8_string());
    wxString out;
    for (std::size_t i = 0; i < units.size() && i < 127; ++i) {
        const unsigned byte = units[i] & 0xFF;
        if (byte == 0)
            break; // the record's text ends at its first zero byte
        out += static_cast<wxUniChar>(byte);
    }
    return out;
}

bool CImFilesDlg::OnInitDialog()
{
    m_staticDesc = SetDescription(this, 1034, "IDC_STATIC_FILESDESC");
    SetItemsLangText(this, {
                               {1011, "IDC_STATIC_FILES01"},
                               {1012, "IDC_STATIC_FILES02"},
                               {1013, "IDC_STATIC_FILES03"},
                               {1014, "IDC_STATIC_FILES04"},
                               {1038, "IDC_STATIC_FILES05"},
                               {1037, "IDC_STATIC_FILES06"},
                           });
    m_imageList.Create(kTreeIcon, kTreeIcon, true, 3);
    m_imageList.Add(LoadTreeIcon("file"));
    m_imageList.Add(LoadTreeIcon("folder"));
    m_imageList.Add(LoadTreeIcon("folder-open"));
    wxString text;
    if (m_treeFiles) {
        m_treeFiles->SetImageList(&m_imageList);
        m_hRootItem = m_treeFiles->AddRoot(LabelRoundTrip(GetLangText("ID_ISO_VOLUME", text)), 1, 2);
        m_treeFiles->SetItemFont(m_hRootItem, GetFont());
        m_treeFiles->Unselect(); // the root starts unselected
    }
    if (m_progressBuild)
        m_progressBuild->SetRange(100);
    if (m_comboMedia) {
        m_comboMedia->Clear();
        m_comboMedia->Append(GetLangText("ID_CD_RULER", text));
        m_comboMedia->Append(GetLangText("ID_DVD_RULER", text));
        m_comboMedia->SetSelection(0);
    }
    if (m_btnStop)
        m_btnStop->Disable();
    FitControls(this);
    return true;
}

wxRect CImFilesDlg::RulerFrameRect() const
{
    const wxPoint pos = ConvertDialogToPixels(wxPoint(15, 187));
    const wxSize size = ConvertDialogToPixels(wxSize(270, 23));
    return wxRect(pos, size);
}

void CImFilesDlg::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (!PageEraseBkgnd(&dc))
        PaintPlainBackground(this, dc);
    const wxRect r = RulerFrameRect();
    dc.SetPen(wxPen(wxColour(128, 128, 128)));
    dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetRight(), r.GetTop());
    dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetLeft(), r.GetBottom());
    dc.SetPen(wxPen(*wxWHITE));
    dc.DrawLine(r.GetLeft(), r.GetBottom(), r.GetRight() + 1, r.GetBottom());
    dc.DrawLine(r.GetRight(), r.GetTop(), r.GetRight(), r.GetBottom());
}
