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

// File names, which may be any bytes and not only UTF-8. Each byte that is
// not part of valid UTF-8 becomes the lone low surrogate U+DC00 + byte
// (U+DC80 to U+DCFF) and comes back as that byte, so every name survives
// the trip through UTF-16 exactly. No valid UTF-8 text converts to a lone
// surrogate, so the escape is unambiguous. Valid UTF-8 converts exactly as
// with ToUtf16 and ToUtf8; other lone surrogates still become U+FFFD.
std::u16string PathToUtf16(std::string_view path);
std::string PathToUtf8(std::u16string_view path);

// Whether a UTF-16 unit is such an escaped byte.
constexpr bool IsEscapedByte(char32_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

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
