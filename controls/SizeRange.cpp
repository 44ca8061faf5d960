#include "controls/SizeRange.h"

#include "controls/PageLook.h"
#include "controls/SkinImage.h"
#include "controls/UiScale.h"

#include <wx/dcbuffer.h>
#include <wx/graphics.h>

namespace ui {

namespace {

wxColour FromColourRef(std::uint32_t c) {
    return wxColour(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

} // namespace

bool CSizeRange::AttachToDlgItem(int id, wxWindow* parent) {
    wxWindow* item = parent ? parent->FindWindow(id) : nullptr;
    if (!item)
        return false;
    m_nCtrlId = id;
    const wxRect rect = item->GetRect();
    // The box keeps its place in the layout but draws nothing any more; the
    // ruler takes its id so that the page still finds control `id`.
    item->Hide();
    item->SetId(wxID_ANY);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!Create(parent, id, rect.GetPosition(), rect.GetSize(), wxBORDER_NONE))
        return false;
    Bind(wxEVT_PAINT, &CSizeRange::OnPaint, this);
    return true;
}

wxFont CSizeRange::LabelFont() {
    return wxFont(wxFontInfo(wxSize(0, ScaledPx(15))).FaceName("Arial"));
}

void CSizeRange::Draw(wxDC& dc, const wxSize& size, const wxPoint& skinOrigin) const {
    if (wxGraphicsContext* gc = dc.GetGraphicsContext())
        gc->SetAntialiasMode(wxANTIALIAS_NONE); // GDI's crisp lines, pixel for pixel
    CSkinImage* skin = AppSkin();
    if (!skin || !skin->Blit(dc, 0, 0, size.x + 1, size.y + 1, skinOrigin.x, skinOrigin.y)) {
        dc.SetBackground(wxBrush(GetParent() ? GetParent()->GetBackgroundColour() : *wxWHITE));
        dc.Clear();
    }
    dc.SetFont(LabelFont());
    auto label = [this](int number) { return wxString::Format("%d", number) + m_strUnit; };
    const RulerLayout layout = LayoutRuler(
        m_scale, size.x, size.y, [&](int number) { return dc.GetTextExtent(label(number)).x; });
    dc.SetPen(*wxBLACK_PEN);
    for (const RulerLine& l : layout.shortTicks)
        dc.DrawLine(l.x0, l.y0, l.x1, l.y1);
    for (const RulerLine& l : layout.longTicks)
        dc.DrawLine(l.x0, l.y0, l.x1, l.y1);

    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(*wxBLACK);
    for (const RulerLabel& l : layout.labels)
        dc.DrawText(label(l.number), l.x - l.width / 2, l.y);

    for (std::size_t i = 0; i < layout.marks.size(); ++i) {
        const RulerLine& l = layout.marks[i];
        dc.SetPen(wxPen(FromColourRef(layout.markColours[i]), 2, wxPENSTYLE_SOLID));
        dc.DrawLine(l.x0, l.y0, l.x1, l.y1);
    }
    dc.SetPen(*wxTRANSPARENT_PEN);
    for (const RulerRect& r : layout.rects) {
        if (r.width <= 0 || r.height <= 0)
            continue;
        dc.SetBrush(wxBrush(FromColourRef(r.colour)));
        dc.DrawRectangle(r.x, r.y, r.width, r.height);
    }
}

void CSizeRange::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    Draw(dc, GetSize(), SkinOrigin(this));
}

} // namespace ui
