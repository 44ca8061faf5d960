// wx-facing text lookups for windows and pages.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace text {

// GetLangText for wx strings: assigns the text of key to str and returns it.
wxString& GetLangText(const wxString& key, wxString& str);

// The text of key (empty when anything is missing).
wxString LangText(const wxString& key);

// Sets the text of dialog's child control `id` to the text of `key` (also when
// empty). The control must exist. On buttons, check boxes and radio buttons
// "&" marks the mnemonic ("&&" stands for itself); elsewhere texts are used as
// they stand.
void SetItemLangText(wxWindow* dialog, int id, const wxString& key);

// The pattern with its placeholders filled by the one formatter of
// text/Placeholders.h.
wxString FillPlaceholders(const wxString& pattern, std::initializer_list<wxString> args);

// The text of key, its placeholders filled by args in order.
wxString FormatLangText(const wxString& key, std::initializer_list<wxString> args);

// What an error number of port/Errors.h means, in the user's language: the
// catalogue's ID_ERROR_<number>, else port::DescribeError's words.
wxString DescribeErrorText(std::uint32_t code);

// The one conversion between wx strings and UTF-16 at the windows' edge,
// code point by code point: a lone surrogate (an escaped byte of a file
// name, port/Utf.h) survives both ways, and every other text converts as
// through UTF-8.
std::u16string ToU16(const wxString& text);
wxString ToWx(std::u16string_view text);

} // namespace text
