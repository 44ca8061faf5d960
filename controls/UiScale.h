// How large the window is drawn on this desktop. The layouts are in dialog
// units of the agreed page font, which the desktop's text scale makes larger
// or smaller; everything else that is given in pixels (the skin, the page
// rectangle, the toolbar, bitmaps, pixel fonts) grows by the same factor, so
// the whole window grows with its pages. A display that doubles every
// logical pixel (GDK_SCALE=2) leaves the factor at 1 and asks for pictures
// of twice the resolution instead.
#pragma once

#include <wx/bitmap.h>
#include <wx/font.h>
#include <wx/gdicmn.h>

#include <string>
#include <utility>
#include <vector>

namespace ui {

// The font the main window and its pages are laid out in: DejaVu Sans
// Condensed 8 pt, whose dialog base units are 6 x 13 px at the desktop's
// normal text size.
wxFont AgreedFont();
inline constexpr int kAgreedBaseX = 6;
inline constexpr int kAgreedBaseY = 13;

// The layout scale for given dialog base units of the agreed font: the
// larger of the two axes' growth, so that the pages' dialog units always fit
// the rectangles scaled by it. Exactly 1 at 6 x 13.
double ScaleFromBaseUnits(int baseX, int baseY);

// The layout scale of this desktop, measured once from the agreed font the
// way the toolkit converts dialog units.
double UiScale();
// A length given in pixels at scale 1, at this desktop's scale (rounded).
int ScaledPx(int px);

// Device pixels per logical pixel of the screen (2 under GDK_SCALE=2).
double DeviceScale();

// The picture for a rectangle of `logical` pixels: of the files in
// `candidates` (a width in pixels and a path each, any order, missing files
// allowed), the narrowest at least `logical` x `deviceScale` wide, else the
// widest; loaded, resized to exactly that many device pixels and marked
// with the device scale, so it draws at `logical` size and full resolution.
// An invalid bitmap when no candidate loads.
wxBitmap LoadScaledArt(const std::vector<std::pair<int, std::string>>& candidates,
                       const wxSize& logical, double deviceScale);

// The index of the candidate width LoadScaledArt starts from for `needed`
// device pixels: the narrowest at least that wide, else the widest; -1 for
// an empty list.
int PickArtSize(const std::vector<int>& widths, int needed);

} // namespace ui
