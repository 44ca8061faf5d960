// A page's drop-down of recently used image paths, kept by CRecentPaths.
#pragma once

#include "pages/RecentPaths.h"

#include <wx/string.h>

class wxComboBox;

namespace ui {

// Fills the drop-down's list from the stored paths.
void FillFromHistory(const CRecentPaths& history, wxComboBox& combo);

// Stores `path` on top of the list and shows the new list; the drop-down's
// text stays as it was. An empty path changes nothing.
void PutInHistory(const CRecentPaths& history, wxComboBox& combo, const wxString& path);

} // namespace ui
