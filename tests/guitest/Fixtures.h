// Shared pieces of the controls' and pages' GUI tests.
#pragma once

#include "controls/SkinImage.h"

#include <wx/frame.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace guitest {

// A skin whose every pixel differs from its neighbours' (so an offset by one
// pixel shows), at the skin's size 798 x 527.
std::unique_ptr<ui::CSkinImage> MakePatternSkin();
wxColour PatternPixel(int x, int y);

// Whether the screen shows the pattern skin at every point of `area` (client
// coordinates of a window whose client area starts at `client` on the
// screen) that `skip` leaves in; grabs again while painting lags. When not,
// `why` says how many points differ and which is the first.
bool ScreenShowsPattern(const wxPoint& client, const wxRect& area, std::string& why,
                        const std::function<bool(int x, int y)>& skip = nullptr);

// Writes dir + "languiu.ini" with [LANGUAGE] CURRENT=<section> and the given
// texts, points SPINDLE_PROGRAM_DIR at dir and the catalogue at the file.
void WriteLanguageFile(const std::string& dir, const std::string& section,
                       const std::map<std::string, std::string>& texts);
// Copies the real language file of the source tree into dir with CURRENT set
// to section, and points the catalogue at it.
void UseRealLanguageFile(const std::string& dir, const std::string& section);

// What of parent's shown children is cut: lying past its client area, given
// less room than its text needs (buttons, check and radio boxes, labels), or
// a wrapping label with fewer lines than its text has. One line each.
std::vector<std::string> CutChildren(const wxWindow* parent);

// A frame shaped like the main window: the agreed font, a 798 x 527 client
// area painted with the application skin.
wxFrame* MakeSkinnedFrame();

} // namespace guitest
