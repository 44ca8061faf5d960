#include "port/DriveLetter.h"

namespace port {

namespace {

template <class Char> char16_t Parse(std::basic_string_view<Char> text) {
    if (text.empty() || text.size() > 3)
        return 0;
    if (text.size() >= 2 && text[1] != Char(':'))
        return 0;
    if (text.size() == 3 && text[2] != Char('\\') && text[2] != Char('/'))
        return 0;
    const char16_t c = UpperLetter(static_cast<char16_t>(text[0]));
    return c >= u'A' && c <= u'Z' ? c : 0;
}

} // namespace

char16_t ParseDriveLetter(std::u16string_view text) {
    return Parse(text);
}

char16_t ParseDriveLetter(std::string_view text) {
    return Parse(text);
}

} // namespace port
