// The capacity ruler: a scale in megabytes with short and labelled long
// ticks, vertical marks at the capacity limits, and a bar from the left end
// to the value whose colour changes at each band's start. It knows nothing
// of CDs and DVDs; the files page sets its scale. Painted over the skin
// piece behind it, so it looks transparent.
#pragma once

#include "controls/RulerGeometry.h"

#include <wx/window.h>

namespace ui {

class CSizeRange : public wxWindow {
public:
    CSizeRange() = default;

    // Takes the place of the parent's child window `id` (its rectangle and
    // id); the child itself is hidden. False when there is no such child.
    bool AttachToDlgItem(int id, wxWindow* parent);

    void SetMax(int n) { m_scale.max = n; }
    void SetSmallStep(int n) { m_scale.smallStep = n; }
    void SetLabelStep(int n) { m_scale.labelStep = n; }
    void SetValue(int n) { m_scale.value = n; }
    void SetUnit(const wxString& unit) { m_strUnit = unit; }
    void AddMark(int position, std::uint32_t colour, int solid) {
        m_scale.marks.push_back({position, colour, solid});
    }
    void RemoveAllMarks() { m_scale.marks.clear(); }
    void AddBand(int start, std::uint32_t colour) { m_scale.bands.push_back({start, colour}); }
    void RemoveAllBands() { m_scale.bands.clear(); }

    const RulerScale& Scale() const { return m_scale; }
    const wxString& Unit() const { return m_strUnit; }
    int m_nCtrlId = 0;

    // Draws the ruler at `size` onto dc, the skin piece at `skinOrigin`
    // (main window client coordinates) behind it. The paint handler and
    // off-screen renderings use it alike.
    void Draw(wxDC& dc, const wxSize& size, const wxPoint& skinOrigin) const;

    // The label font: 15 px Arial (at scale 1, UiScale.h), or its
    // metric-compatible stand-in. The ruler's geometry follows the control's
    // size, which the layout gives in dialog units.
    static wxFont LabelFont();

private:
    void OnPaint(wxPaintEvent& event);

    RulerScale m_scale;
    wxString m_strUnit;
};

} // namespace ui
