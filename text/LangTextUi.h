// wx-facing text lookups for windows and pages.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

// GetLangText for wx strings: assigns the text of key to str and returns it.
wxString& GetLangText(const wxString& key, wxString& str);

// Sets the text of dialog's child control `id` to the text of `key` (also when
// empty). The control must exist.
void SetItemLangText(wxWindow* dialog, int id, const wxString& key);
