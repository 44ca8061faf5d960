// Conversions at the files page's boundary: the tree holds wx strings, the
// engine takes UTF-16.
#pragma once

#include "port/Utf.h"

#include <wx/string.h>

#include <string>
#include <string_view>

inline std::u16string ToU16(const wxString& s) {
    return port::ToUtf16(s.utf8_string());
}
inline wxString ToWx(std::u16string_view s) {
    return wxString::FromUTF8(port::ToUtf8(s));
}
