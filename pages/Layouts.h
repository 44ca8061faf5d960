// The page and dialog layouts (XRC files in res/). Controls carry their fixed
// numeric ids as their names, so pages find them with FindWindow(id).
#pragma once

#include <wx/gdicmn.h>

#include <string>

class wxPanel;
class wxWindow;

namespace ui {

inline constexpr char kLayoutCreate[] = "IDD_CREATE";   // create page
inline constexpr char kLayoutMount[] = "IDD_MOUNT";     // mount page
inline constexpr char kLayoutUnmount[] = "IDD_UNMOUNT"; // unmount page
inline constexpr char kLayoutBurn[] = "IDD_BURN";       // burn page
inline constexpr char kLayoutAbout[] = "IDD_ABOUT";     // about box (a wxDialog)
inline constexpr char kLayoutFiles[] = "IDD_FILES";     // files page

// Loads every layout from port::ResourceDir() + "res/" (or from dir, which
// ends in "/"). Call once before the main window is created; later calls do
// nothing. Installs the compact control style first (CompactStyle.h).
// False when a file is missing or unreadable.
bool LoadLayouts();
bool LoadLayouts(const std::string& dir);

// The size a layout gives its top-level window, in dialog units ("291,190d");
// wxDefaultSize when the layout is not loaded or gives none. A dialog's own
// size is in units of its own font, as its controls' are; the toolkit reads
// it in those of the default font, so the dialog sets it again.
wxSize LayoutSizeDlu(const char* layout);

// Gives every child of root (recursively) whose name is a non-negative
// number that number as its id. wx 3.2 already takes a numeric name as the
// id; this keeps the ids right should that mapping ever change or a name be
// registered as a symbolic id first. Loading does this for the pages; the
// about box's code may call it after loading its dialog.
void ApplyNumericIds(wxWindow* root);

// Creates page (a default-constructed panel) from its layout as a child of
// parent, at the page rectangle, with the skin as background, numeric ids
// applied. With paintSkin false the page paints its background itself
// (PageEraseBkgnd and more). False when the layout is not loaded.
bool LoadPageLayout(wxPanel* page, wxWindow* parent, const char* layout, bool paintSkin = true);

} // namespace ui
