// The look shared by the five pages: each page paints the piece of the skin
// that lies under it, labels and button-class controls draw straight onto
// that picture, and each page's description is a CTransStatic that paints
// nothing but its text.
#pragma once

#include <wx/colour.h>
#include <wx/control.h>
#include <wx/dc.h>
#include <wx/gdicmn.h>

#include <vector>

namespace ui {

// Where every page lies in the main window's client area at scale 1.
inline constexpr int kPageLeft = 330;
inline constexpr int kPageTop = 100;
inline constexpr int kPageWidth = 450;
inline constexpr int kPageHeight = 410;

// The page rectangle at this desktop's scale (UiScale.h).
wxRect PageRect();

// Paints the page background: the piece of the application skin under the
// page rectangle, to (0, 0) of dc. False when there is no context or no skin.
bool PageEraseBkgnd(wxDC* pDC);

// Top-left corner of w in the main window's client area: the sum of the
// positions of w and its parents up to (not including) the top-level window.
wxPoint SkinOrigin(const wxWindow* w);

// Paints the piece of the application skin that lies under w onto dc (w's
// client coordinates). Used by controls that draw over the skin themselves.
bool PaintSkinBehind(const wxWindow* w, wxDC& dc);

// Fills w with its background colour: the look without a skin picture.
void PaintPlainBackground(const wxWindow* w, wxDC& dc);

// How a control on a page is coloured, by its class.
enum class CtlLook {
    Transparent, // labels: text straight on the page background
    ButtonClass, // push buttons, check boxes, radio buttons, group boxes
    Default      // edit fields, combo boxes, lists and the rest
};
CtlLook ControlLook(const wxWindow* control);

// The fill of button-class controls: RGB (234, 243, 250), a pale blue.
wxColour ButtonClassFill();

// Applies the page look to page's children. GTK draws labels, check boxes,
// radio buttons and group box captions onto the parent's surface, so they
// show what the page paints as long as nothing gave them a background of
// their own; this removes any such colour (a layout may carry one) from the
// transparent and button classes and leaves the other controls' default
// colours alone. From then on the page paints the pale blue fill under its
// button-class controls (PaintButtonClassFill), so labels show the skin and
// group boxes, check boxes and the corners of push buttons the pale blue.
void PageCtlColor(wxWindow* page);

// Paints the fill under each shown button-class child of page, in page's
// client coordinates, after its background; nothing for a page that
// PageCtlColor was not applied to.
void PaintButtonClassFill(const wxWindow* page, wxDC& dc);

// A label that paints only its text at (2, 0), in its parent's font, bold
// when asked, over whatever skin lies behind it. A text wider than the label
// continues on the next line while lines fit the label's height; what still
// does not fit is cut at the edges (no ellipsis).
class CTransStatic : public wxControl {
public:
    CTransStatic() = default;
    CTransStatic(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                 const wxSize& size);
    bool Create(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                const wxSize& size);

    void SetBold(bool bold);
    bool IsBold() const { return m_bBold; }
    void SetLabel(const wxString& label) override;

    // The font the label is painted with.
    wxFont PaintFont() const;
    // The label's text broken into lines for a width in pixels.
    std::vector<wxString> Lines(int width) const;
    // Height in pixels the whole text needs at the label's width.
    int NeededHeight() const;

    // Replaces the label `id` of parent (as loaded from a layout) with a
    // CTransStatic of the same rectangle and text. Returns it, or nullptr
    // when parent has no child with that id.
    static CTransStatic* Replace(wxWindow* parent, int id);

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);

    bool m_bBold = false;

    wxDECLARE_DYNAMIC_CLASS(CTransStatic);
};

} // namespace ui
