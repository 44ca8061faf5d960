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
    EXPECT_EQ(ToUtf16("a\xC3"), u"a\uFFFD");          // cut sequence at the end
    EXPECT_EQ(ToUtf16("\xFF" "b"), u"\uFFFD" u"b");    // invalid lead byte
    EXPECT_EQ(ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");   // overlong form
    EXPECT_EQ(ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD"); // lone surrogate
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
