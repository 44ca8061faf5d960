// UTF-8 <-> UTF-16 conversion. UTF-8 stands in for the system's 8-bit code
// page; UTF-16 is used wherever a record, a length or a per-code-unit rule is
// counted in UTF-16 code units. Invalid input is replaced with U+FFFD, never
// dropped silently and never read past its end.
#pragma once

#include <string>
#include <string_view>

namespace port {

std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

// Length of a zero-terminated UTF-16 string, reading at most `max` units.
std::size_t U16Length(const char16_t* s, std::size_t max = static_cast<std::size_t>(-1));

// Whether a byte of UTF-8 text is a C0 control character or DEL: a byte that
// breaks a line or a column, or steers a terminal.
constexpr bool IsControlByte(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// UTF-8 text for one line of a terminal or a tab-separated list: line feed,
// carriage return and tab written as "\n", "\r" and "\t", the other control
// characters as "\xHH" (C1 ones, U+0080 to U+009F, as "\u00HH"); everything
// else as it stands.
std::string EscapeControls(std::string_view text);

} // namespace port
