// The one formatter of catalogue texts. A text comes from a file anyone can
// edit, so it never reaches a printf-style call: each printf placeholder
// (%s, %d, %i, %u, %c, %x, ... with any flags, width, precision or length
// marks, as in "%-5lu") is replaced by the next argument's text, in order,
// and "%%" becomes "%". A placeholder with no argument left, and every other
// "%", stays as written, so a gap in a translation is seen, never filled
// with another argument's bytes.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace text {

// UTF-8 and UTF-16 texts: '%' and the placeholder letters are ASCII, so
// the same rule serves both.
std::string FillPlaceholders(std::string_view pattern,
                             std::initializer_list<std::string_view> args);
std::u16string FillPlaceholders(std::u16string_view pattern, std::span<const std::u16string> args);

} // namespace text
