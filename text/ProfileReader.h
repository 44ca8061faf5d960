// Reads one value from a profile file in the program directory, with the
// rules of the platform's profile reader: names compared without regard to
// case, blanks around keys and values dropped, one pair of quotes dropped,
// unrecognised lines ignored, the first of duplicate sections or keys counts,
// values cut to 254 code units. Files may be UTF-8 (with or without a BOM) or
// UTF-16 with a BOM.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Capacity of a looked-up text buffer: 254 code units and a terminator.
inline constexpr std::size_t kLangTextBufferSize = 255;
inline constexpr std::size_t kLangTextMaxLength = kLangTextBufferSize - 1;

class CProfileReader {
public:
    virtual ~CProfileReader();

    // Reads [section] key from port::ResourceDir() + file into out, which must
    // hold kLangTextBufferSize code units; a missing file, section or key
    // gives an empty string. Always terminates out.
    void ReadString(std::u16string_view section, std::u16string_view key, std::u16string_view file,
                    char16_t* out);

    // The same rules applied to a file's text already decoded to UTF-16;
    // returns the value, at most kLangTextMaxLength units.
    static std::u16string FindValue(std::u16string_view text, std::u16string_view section,
                                    std::u16string_view key);

    // Decodes a profile file's bytes: UTF-16LE/BE with a BOM, else UTF-8
    // (a UTF-8 BOM is skipped; invalid bytes become U+FFFD).
    static std::u16string Decode(std::string_view bytes);
};

} // namespace text
