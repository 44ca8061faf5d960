// Line syntax shared by the profile files Spindle reads (language files,
// the application profile): "[section]" lines, "key = value" lines, anything
// else ignored. Names compare without regard to case; blanks around names and
// values are dropped; one pair of matching quotes around a value is dropped.
// Works on UTF-8 (char) and UTF-16 (char16_t) text alike.
#pragma once

#include <string_view>
#include <type_traits>

namespace port::ini {

enum class LineKind { Other, Section, Entry };

template <class Ch> constexpr bool IsBlank(Ch c) {
    return c == Ch(' ') || c == Ch('\t') || c == Ch('\v') || c == Ch('\f');
}

template <class Ch> std::basic_string_view<Ch> Trim(std::basic_string_view<Ch> s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Folds ASCII and Latin-1 letters; names are ASCII identifiers in practice.
template <class Ch> constexpr unsigned FoldCase(Ch c) {
    unsigned u = static_cast<unsigned>(static_cast<std::make_unsigned_t<Ch>>(c));
    if ((u >= 'A' && u <= 'Z') || (sizeof(Ch) > 1 && u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return u + 0x20;
    return u;
}

template <class Ch> bool EqualNoCase(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

// Drops one pair of matching double or single quotes around a value.
template <class Ch> std::basic_string_view<Ch> Unquote(std::basic_string_view<Ch> v) {
    if (v.size() >= 2 && (v.front() == Ch('"') || v.front() == Ch('\'')) && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// Classifies one line (without its line end). For a section, name receives
// the trimmed name between the brackets; for an entry, name the trimmed key
// and value the trimmed value (quotes still on: callers decide).
template <class Ch>
LineKind ParseLine(std::basic_string_view<Ch> line, std::basic_string_view<Ch>& name,
                   std::basic_string_view<Ch>& value) {
    line = Trim(line);
    if (line.empty() || line.front() == Ch(';'))
        return LineKind::Other;
    if (line.front() == Ch('[')) {
        auto close = line.find(Ch(']'));
        if (close == line.npos)
            return LineKind::Other;
        name = Trim(line.substr(1, close - 1));
        return LineKind::Section;
    }
    auto eq = line.find(Ch('='));
    if (eq == line.npos)
        return LineKind::Other;
    name = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return name.empty() ? LineKind::Other : LineKind::Entry;
}

// Calls fn(line) for each line of text; "\r\n", "\n" and "\r" end lines.
template <class Ch, class Fn> void ForEachLine(std::basic_string_view<Ch> text, Fn&& fn) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != Ch('\n') && text[end] != Ch('\r'))
            ++end;
        if (!fn(text.substr(start, end - start)))
            return;
        if (end < text.size() && text[end] == Ch('\r') && end + 1 < text.size() &&
            text[end + 1] == Ch('\n'))
            ++end;
        start = end + 1;
    }
}

} // namespace port::ini
