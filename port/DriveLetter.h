// Drive letters as users and files write them. One rule everywhere a letter
// is read from the user, a file or a path: a letter A to Z in either case,
// optionally followed by ":" and then optionally by one "\" or "/".
#pragma once

#include <string_view>

namespace port {

// 'a'..'z' as 'A'..'Z'; any other unit unchanged.
constexpr char16_t UpperLetter(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}
constexpr char UpperLetter(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// "K", "k", "K:", "K:\" or "K:/" -> u'K'; 0 for anything else.
char16_t ParseDriveLetter(std::u16string_view text);
char16_t ParseDriveLetter(std::string_view text);

} // namespace port
