#include "controls/PageLook.h"

#include "controls/SkinImage.h"
#include "controls/UiScale.h"

#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <set>

namespace ui {

wxRect PageRect() {
    return wxRect(ScaledPx(kPageLeft), ScaledPx(kPageTop), ScaledPx(kPageWidth),
                  ScaledPx(kPageHeight));
}

bool PageEraseBkgnd(wxDC* pDC) {
    CSkinImage* skin = AppSkin();
    if (!pDC || !skin)
        return false;
    const wxRect page = PageRect();
    return skin->Blit(*pDC, 0, 0, page.width, page.height, page.x, page.y, wxCOPY);
}

wxPoint SkinOrigin(const wxWindow* w) {
    wxPoint origin(0, 0);
    for (; w && !w->IsTopLevel(); w = w->GetParent())
        origin += w->GetPosition();
    return origin;
}

bool PaintSkinBehind(const wxWindow* w, wxDC& dc) {
    CSkinImage* skin = AppSkin();
    if (!skin || !w)
        return false;
    const wxPoint at = SkinOrigin(w);
    const wxSize size = w->GetClientSize();
    return skin->Blit(dc, 0, 0, size.x, size.y, at.x, at.y, wxCOPY);
}

void PaintPlainBackground(const wxWindow* w, wxDC& dc) {
    dc.SetBackground(wxBrush(w->GetBackgroundColour()));
    dc.Clear();
}

CtlLook ControlLook(const wxWindow* control) {
    if (wxDynamicCast(control, wxStaticText) || wxDynamicCast(control, CTransStatic))
        return CtlLook::Transparent;
    if (wxDynamicCast(control, wxButton) || wxDynamicCast(control, wxCheckBox) ||
        wxDynamicCast(control, wxRadioButton) || wxDynamicCast(control, wxStaticBox))
        return CtlLook::ButtonClass;
    return CtlLook::Default;
}

namespace {

// The pages that carry the colour handler.
std::set<const wxWindow*> g_colouredPages;

} // namespace

wxColour ButtonClassFill() {
    return wxColour(234, 243, 250);
}

void PageCtlColor(wxWindow* page) {
    if (!page)
        return;
    for (wxWindow* child : page->GetChildren()) {
        if (ControlLook(child) != CtlLook::Default && child->UseBgCol())
            child->SetBackgroundColour(wxNullColour);
    }
    if (g_colouredPages.insert(page).second) {
        page->Bind(wxEVT_DESTROY, [page](wxWindowDestroyEvent& event) {
            if (event.GetEventObject() == page)
                g_colouredPages.erase(page);
            event.Skip();
        });
    }
    page->Refresh();
}

void PaintButtonClassFill(const wxWindow* page, wxDC& dc) {
    if (!page || !g_colouredPages.count(page))
        return;
    dc.SetBrush(wxBrush(ButtonClassFill()));
    dc.SetPen(*wxTRANSPARENT_PEN);
    for (const wxWindow* child : page->GetChildren()) {
        if (!child->IsShown() || ControlLook(child) != CtlLook::ButtonClass)
            continue;
        wxRect rect = child->GetRect();
        // GTK draws a group box's frame through the middle of its caption's
        // line: the fill starts at the frame, not above it.
        if (wxDynamicCast(child, wxStaticBox)) {
            const int above = (child->GetCharHeight() + 1) / 2;
            rect.y += above;
            rect.height -= above;
        }
        dc.DrawRectangle(rect);
    }
}

// ---------------------------------------------------------------------------

wxIMPLEMENT_DYNAMIC_CLASS(CTransStatic, wxControl);

CTransStatic::CTransStatic(wxWindow* parent, wxWindowID id, const wxString& label,
                           const wxPoint& pos, const wxSize& size) {
    Create(parent, id, label, pos, size);
}

bool CTransStatic::Create(wxWindow* parent, wxWindowID id, const wxString& label,
                          const wxPoint& pos, const wxSize& size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxControl::Create(parent, id, pos, size, wxBORDER_NONE, wxDefaultValidator,
                           "CTransStatic"))
        return false;
    wxControl::SetLabel(label);
    Bind(wxEVT_PAINT, &CTransStatic::OnPaint, this);
    return true;
}

void CTransStatic::SetBold(bool bold) {
    m_bBold = bold;
    Update();
}

void CTransStatic::SetLabel(const wxString& label) {
    if (label == GetLabel())
        return;
    wxControl::SetLabel(label);
    // The label paints the skin behind itself, so repainting it alone never
    // leaves the old text visible.
    Refresh();
}

wxFont CTransStatic::PaintFont() const {
    // The layouts ask for a 10 px cell of the classic bitmap Swiss face, whose
    // smallest size is the 8 pt of the rest of the page: the page's font.
    wxFont font = GetFont();
    font.SetWeight(m_bBold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
    return font;
}

std::vector<wxString> CTransStatic::Lines(int width) const {
    wxClientDC dc(const_cast<CTransStatic*>(this));
    dc.SetFont(PaintFont());
    wxString text = GetLabelText();
    text.Replace("\n", " ");
    std::vector<wxString> lines;
    wxString line;
    for (const wxString& word : wxSplit(text, ' ', '\0')) {
        const wxString candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && dc.GetTextExtent(candidate).x > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
    }
    if (!line.empty() || lines.empty())
        lines.push_back(line);
    return lines;
}

int CTransStatic::NeededHeight() const {
    wxClientDC dc(const_cast<CTransStatic*>(this));
    dc.SetFont(PaintFont());
    return static_cast<int>(Lines(GetClientSize().x - 2).size()) * dc.GetCharHeight();
}

wxSize CTransStatic::DoGetBestSize() const {
    wxClientDC dc(const_cast<CTransStatic*>(this));
    dc.SetFont(PaintFont());
    wxString text = GetLabelText();
    text.Replace("\n", " ");
    const wxSize extent = dc.GetTextExtent(text);
    return wxSize(extent.x + 2, extent.y);
}

void CTransStatic::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (!PaintSkinBehind(this, dc))
        PaintPlainBackground(GetParent() ? GetParent() : this, dc);
    dc.SetFont(PaintFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(*wxBLACK);
    const int lineHeight = dc.GetCharHeight();
    const int height = GetClientSize().y;
    int y = 0;
    for (const wxString& line : Lines(GetClientSize().x - 2)) {
        dc.DrawText(line, 2, y);
        y += lineHeight;
        if (y + lineHeight > height)
            break; // the rest does not fit: cut
    }
}

CTransStatic* CTransStatic::Replace(wxWindow* parent, int id) {
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

} // namespace ui
