#include "controls/PageLook.h"

#include "controls/SkinImage.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

bool PageEraseBkgnd(wxDC* pDC)
{
    CSkinImage* skin = AppSkin();
    if (!pDC || !skin)
        return false;
    return skin->Blit(*pDC, 0, 0, kPageWidth, kPageHeight, kPageLeft, kPageTop, wxCOPY);
}

wxPoint SkinOrigin(const wxWindow* w)
{
    wxPoint origin(0, 0);
    for (; w && !w->IsTopLevel(); w = w->GetParent())
        origin += w->GetPosition();
    return origin;
}

bool PaintSkinBehind(const wxWindow* w, wxDC& dc)
{
    CSkinImage* skin = AppSkin();
    if (!skin || !w)
        return false;
    const wxPoint at = SkinOrigin(w);
    const wxSize size = w->GetClientSize();
    return skin->Blit(dc, 0, 0, size.x, size.y, at.x, at.y, wxCOPY);
}

CtlLook ControlLook(const wxWindow* control)
{
    if (wxDynamicCast(control, wxStaticText) || wxDynamicCast(control, CTransStatic))
        return CtlLook::Transparent;
    if (wxDynamicCast(control, wxButton) || wxDynamicCast(control, wxCheckBox) ||
        wxDynamicCast(control, wxRadioButton) || wxDynamicCast(control, wxStaticBox))
        return CtlLook::ButtonSurround;
    return CtlLook::Default;
}

wxColour ButtonSurroundColour() { return wxColour(234, 243, 250); }

void PageCtlColor(wxWindow* page)
{
    if (!page)
        return;
    for (wxWindow* child : page->GetChildren()) {
        if (ControlLook(child) != CtlLook::Default && child->UseBgCol())
            child->SetBackgroundColour(wxNullColour);
    }
}

// ---------------------------------------------------------------------------

wxIMPLEMENT_DYNAMIC_CLASS(CTransStatic, wxControl);

CTransStatic::CTransStatic(wxWindow* parent, wxWindowID id, const wxString& label,
                           const wxPoint& pos, const wxSize& size)
{
    Create(parent, id, label, pos, size);
}

bool CTransStatic::Create(wxWindow* parent, wxWindowID id, const wxString& label,
                          const wxPoint& pos, const wxSize& size)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxControl::Create(parent, id, pos, size, wxBORDER_NONE, wxDefaultValidator,
                           "CTransStatic"))
        return false;
    wxControl::SetLabel(label);
    Bind(wxEVT_PAINT, &CTransStatic::OnPaint, this);
    return true;
}

void CTransStatic::SetBold(bool bold)
{
    m_bBold = bold;
    Update();
}

void CTransStatic::SetLabel(const wxString& label)
{
    if (label == GetLabel())
        return;
    wxControl::SetLabel(label);
    // The label paints the skin behind itself, so repainting it alone never
    // leaves the old text visible.
    Refresh();
}

wxFont CTransStatic::PaintFont() const
{
    // A 10 px character cell; DejaVu's cell is about 1.16 em, so a 9 px em.
    wxFont font(wxFontInfo(wxSize(0, 9))
                    .Family(wxFONTFAMILY_SWISS)
                    .FaceName(GetFont().IsOk() ? GetFont().GetFaceName() : wxString())
                    .Weight(m_bBold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL));
    return font;
}

wxSize CTransStatic::DoGetBestSize() const
{
    wxClientDC dc(const_cast<CTransStatic*>(this));
    dc.SetFont(PaintFont());
    wxCoord w = 0, h = 0;
    dc.GetTextExtent(GetLabelText(), &w, &h);
    return wxSize(w + 2, h);
}

void CTransStatic::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    PaintSkinBehind(this, dc);
    dc.SetFont(PaintFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(*wxBLACK);
    wxString text = GetLabelText();
    text.Replace("\n", " ");
    dc.DrawText(text, 2, 0);
}

CTransStatic* CTransStatic::Replace(wxWindow* parent, int id)
{
    wxWindow* old = parent ? parent->FindWindow(id) : nullptr;
    if (!old)
        return nullptr;
    const wxRect rect = old->GetRect();
    const wxString label = old->GetLabel();
    wxWindow* const before = old->GetNextSibling();
    old->Destroy();
    auto* label2 = new CTransStatic(parent, id, label, rect.GetPosition(), rect.GetSize());
    if (before)
        label2->MoveBeforeInTabOrder(before);
    return label2;
}
