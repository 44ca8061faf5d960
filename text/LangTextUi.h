// wx-facing text lookups for windows and pages.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

// GetLangText for wx strings: assigns the text of key to str and returns it.
wxString& GetLangText(const wxString& key, wxString& str);

// The text of key.
wxString LangText(const wxString& key);

// Sets the text of dialog's child control `id` to the text of `key` (also when
// empty). The control must exist. On buttons, check boxes and radio buttons
// "&" marks the mnemonic ("&&" stands for itself); elsewhere texts are used as
// they stand.
void SetItemLangText(wxWindow* dialog, int id, const wxString& key);
