#include "text/Placeholders.h"

namespace text {

namespace {

constexpr std::string_view kMarks = "-+ #0123456789.hlLqjzt";
constexpr std::string_view kConversions = "cCdiuxXsS";

bool IsOneOf(char32_t c, std::string_view set) {
    return c < 0x80 && set.find(static_cast<char>(c)) != std::string_view::npos;
}

template <class Char, class Args>
std::basic_string<Char> Fill(std::basic_string_view<Char> pattern, const Args& args) {
    std::basic_string<Char> out;
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != Char('%') || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        if (pattern[i + 1] == Char('%')) {
            out += Char('%');
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < pattern.size() && IsOneOf(pattern[end], kMarks))
            ++end;
        if (next == args.end() || end == pattern.size() || !IsOneOf(pattern[end], kConversions)) {
            out += pattern[i];
            continue;
        }
        out += *next++;
        i = end;
    }
    return out;
}

} // namespace

std::string FillPlaceholders(std::string_view pattern,
                             std::initializer_list<std::string_view> args) {
    return Fill(pattern, args);
}

std::u16string FillPlaceholders(std::u16string_view pattern, std::span<const std::u16string> args) {
    return Fill(pattern, args);
}

} // namespace text
