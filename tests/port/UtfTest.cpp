#include "port/Utf.h"

#include <gtest/gtest.h>

using port::ToUtf16;
using port::ToUtf8;

TEST(Utf, RoundTripsEveryPlane) {
    const std::string samples[] = {"", "plain.iso", "Ünïcødé ordner", "日本語のファイル",
                                   "emoji \xF0\x9F\x93\x80 disc"};
    for (const auto& s : samples)
        EXPECT_EQ(ToUtf8(ToUtf16(s)), s);
    EXPECT_EQ(ToUtf16("\xF0\x9F\x93\x80").size(), 2u); // a surrogate pair
}

TEST(Utf, BadInputBecomesReplacementNotOverread) {
    EXPECT_EQ(ToUtf16("a\xC3"), u"a\uFFFD"); // cut sequence at the end
    EXPECT_EQ(ToUtf16("\xFF"
                      "b"),
              u"\uFFFD"
              u"b");                                                        // invalid lead byte
    EXPECT_EQ(ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                        // overlong form
    EXPECT_EQ(ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");              // encoded surrogate
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD"); // lone surrogate
}

TEST(Utf, PathsKeepEveryByteThroughUtf16) {
    // Each byte that is not UTF-8 comes and goes as a lone U+DC80..U+DCFF;
    // valid text and other lone surrogates convert as with ToUtf16/ToUtf8.
    const struct {
        std::string bytes;
        std::u16string wide;
    } cases[] = {
        {"caf\xE9.iso", u"caf\xDCE9.iso"},
        {"\xC3\xA9\xF0\x9F\x93\x80\xFF", u"\u00E9\U0001F4C0\xDCFF"},
        {"a\xC3", u"a\xDCC3"},                                       // cut sequence at the end
        {"\xC0\xAF\xED\xA0\x80", u"\xDCC0\xDCAF\xDCED\xDCA0\xDC80"}, // overlong, surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(port::PathToUtf16(c.bytes), c.wide) << c.bytes;
        EXPECT_EQ(port::PathToUtf8(c.wide), c.bytes) << c.bytes;
    }
    EXPECT_EQ(port::PathToUtf8(u"\xD800|\xDC7F|\xDD00"), "\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(u"\xDCE9"), "\xEF\xBF\xBD"); // the plain conversion does not escape
}

TEST(Utf, U16LengthStopsAtLimit) {
    const char16_t s[] = u"abcdef";
    EXPECT_EQ(port::U16Length(s), 6u);
    EXPECT_EQ(port::U16Length(s, 4), 4u);
    EXPECT_EQ(port::U16Length(nullptr), 0u);
}

TEST(Utf, EscapeControlsKeepsTextOnOneLineAndColumn) {
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"Disc One", "Disc One"},
        {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
        {"\x1b[31mred\x07\x7f", "\\x1b[31mred\\x07\\x7f"},
        {"csi\u009b2J nel\u0085", "csi\\u009b2J nel\\u0085"},
        {"caf\xc3\xa9 \xc2\xa0\\ \xe6\x97\xa5", "caf\xc3\xa9 \xc2\xa0\\ \xe6\x97\xa5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(port::EscapeControls(c.text), c.shown) << c.text;
}
