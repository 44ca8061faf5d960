// The text catalogue: profile reading rules, the language lookup through
// [LANGUAGE] CURRENT, bounds, encodings and long program directories.
#include "text/LangText.h"
#include "port/Utf.h"
#include "tests/support/Files.h"
#include "text/Placeholders.h"
#include "text/ProfileReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace text;

namespace fs = std::filesystem;

namespace {

struct FindCase {
    const char* name;
    const char* file;
    const char* section;
    const char* key;
    const char* expected;
};

class FindValueTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindValueTest, FollowsProfileReaderRules) {
    const FindCase& c = GetParam();
    std::u16string value = CProfileReader::FindValue(
        port::ToUtf16(c.file), port::ToUtf16(c.section), port::ToUtf16(c.key));
    EXPECT_EQ(port::ToUtf8(value), c.expected);
}

const FindCase kFindCases[] = {
    {"Plain", "[S]\nK=v\n", "S", "K", "v"},
    {"LowerCaseNames", "[english]\nid_mount_done=Mounted\n", "ENGLISH", "ID_MOUNT_DONE", "Mounted"},
    {"BlanksAroundKeyAndValue", "[S]\n  K  =   some text  \t\n", "S", "K", "some text"},
    {"DoubleQuotesKeepInnerBlanks", "[S]\nK=\"  inner  \"\n", "S", "K", "  inner  "},
    {"SingleQuotes", "[S]\nK='x y'\n", "S", "K", "x y"},
    {"OnlyOnePairOfQuotes", "[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
    {"UnmatchedQuoteKept", "[S]\nK=\"x'\n", "S", "K", "\"x'"},
    {"FirstKeyWins", "[S]\nK=first\nK=second\n", "S", "K", "first"},
    {"FirstSectionWins", "[S]\nA=1\n[S]\nK=second\n", "S", "K", ""},
    {"KeyInOtherSectionNotFound", "[A]\nK=a\n[B]\nX=b\n", "B", "K", ""},
    {"CommentsAndJunkIgnored", "junk\n;K=commented\n[S]\n; note\nno equals\nK=v\n", "S", "K", "v"},
    {"CrLfAndCrLineEnds", "[S]\r\nA=1\r\nK=v\rB=2", "S", "K", "v"},
    {"EmptyValue", "[S]\nK=\n", "S", "K", ""},
    {"EqualsInsideValue", "[S]\nK=a=b\n", "S", "K", "a=b"},
    {"NoEscapeProcessing", "[S]\nK=C:\\temp\\new %s\n", "S", "K", "C:\\temp\\new %s"},
    {"SectionNameTrimmed", "[ S ]\nK=v\n", "S", "K", "v"},
    {"KeyBeforeAnySectionIgnored", "K=v\n[S]\n", "S", "K", ""},
    {"Utf8Text", "[S]\nK=L\xC3\xB6schen\n", "S", "K", "L\xC3\xB6schen"},
};

INSTANTIATE_TEST_SUITE_P(Rules, FindValueTest, ::testing::ValuesIn(kFindCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FindValue, CutsAt254UnitsWithoutSplittingASurrogatePair) {
    std::u16string text = u"[S]\nK=" + std::u16string(300, u'x');
    EXPECT_EQ(CProfileReader::FindValue(text, u"S", u"K"), std::u16string(254, u'x'));

    // A pair straddling the cut is dropped whole, never left half.
    std::u16string pair = u"\U0001F4BF";
    text = u"[S]\nK=" + std::u16string(253, u'x') + pair + u"tail";
    EXPECT_EQ(CProfileReader::FindValue(text, u"S", u"K"), std::u16string(253, u'x'));
}

TEST(Decode, RecognisesByteOrderMarks) {
    EXPECT_EQ(CProfileReader::Decode(std::string("\xFF\xFE"
                                                 "A\0\xE4\0",
                                                 6)),
              u"A\u00E4");
    EXPECT_EQ(CProfileReader::Decode(std::string("\xFE\xFF\0A\0\xE4", 6)), u"A\u00E4");
    EXPECT_EQ(CProfileReader::Decode("\xEF\xBB\xBF[S]"), u"[S]");
    EXPECT_EQ(CProfileReader::Decode("plain"), u"plain");
    // An odd trailing byte of a UTF-16 file is ignored, not read past.
    EXPECT_EQ(CProfileReader::Decode(std::string("\xFF\xFE"
                                                 "A\0B",
                                                 5)),
              u"A");
}

// Lookups through a language file in a private program directory.
class LangFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = m_tmp.path();
        UseProgramDir(m_dir);
        g_szLangFile = u"languiu.ini";
    }
    void TearDown() override { unsetenv("SPINDLE_PROGRAM_DIR"); }
    void UseProgramDir(const fs::path& dir) { setenv("SPINDLE_PROGRAM_DIR", dir.c_str(), 1); }
    static void Write(const fs::path& path, const std::string& bytes) {
        spindle_test::WriteFile(path, bytes);
    }
    static std::string Lookup(const char* key) {
        std::u16string text;
        return port::ToUtf8(GetLangText(port::ToUtf16(key), text));
    }

    spindle_test::TempDir m_tmp{"spindle-text"};
    fs::path m_dir;
};

TEST_F(LangFileTest, CurrentSelectsTheLanguageSection) {
    Write(m_dir / "languiu.ini",
          "[LANGUAGE]\nCURRENT=German\n[English]\nID_DRIVE=Drive\nID_ONLY_EN=x\n"
          "[German]\nID_DRIVE=Laufwerk\n");
    EXPECT_EQ(Lookup("ID_DRIVE"), "Laufwerk");
    EXPECT_EQ(Lookup("ID_ONLY_EN"), "");
    EXPECT_EQ(Lookup("ID_MISSING"), "");

    // No cache: an edit shows at the next lookup.
    Write(m_dir / "languiu.ini", "[language]\ncurrent=English\n[ENGLISH]\nid_drive=Drive\n");
    EXPECT_EQ(Lookup("ID_DRIVE"), "Drive");
}

TEST_F(LangFileTest, MissingPiecesGiveEmptyTexts) {
    EXPECT_EQ(Lookup("ID_DRIVE"), ""); // no file at all
    const char* files[] = {
        "[English]\nID_DRIVE=Drive\n",                             // no LANGUAGE section
        "[LANGUAGE]\n[English]\nID_DRIVE=Drive\n",                 // no CURRENT
        "[LANGUAGE]\nCURRENT=\n[English]\nID_DRIVE=Drive\n",       // empty CURRENT
        "[LANGUAGE]\nCURRENT=French\n[English]\nID_DRIVE=Drive\n", // absent section
    };
    for (const char* file : files) {
        Write(m_dir / "languiu.ini", file);
        EXPECT_EQ(Lookup("ID_DRIVE"), "") << file;
    }
}

TEST_F(LangFileTest, BufferLookupWritesAtMost255Units) {
    Write(m_dir / "languiu.ini", "[LANGUAGE]\nCURRENT=E\n[E]\nK=" + std::string(300, 'a') + "\n");
    char16_t buffer[300];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    GetLangTextBuf(u"K", buffer);
    EXPECT_EQ(std::u16string(buffer, 254), std::u16string(254, u'a'));
    EXPECT_EQ(buffer[254], 0);
    EXPECT_EQ(buffer[255], u'#'); // nothing written past the 255 units

    // A smaller caller buffer gets a shorter text, never an overflow.
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    GetLangTextBuf(u"K", buffer, 10);
    EXPECT_EQ(std::u16string(buffer), std::u16string(9, u'a'));
    EXPECT_EQ(buffer[10], u'#');
    GetLangTextBuf(u"K", buffer, 1);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(LangFileTest, ReadsUtf16LittleEndianFiles) {
    std::u16string text =
        u"[LANGUAGE]\r\nCURRENT=Deutsch\r\n[Deutsch]\r\nID_MB=\u00DCbersicht \U0001F4BF\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    Write(m_dir / "languiu.ini", bytes);
    EXPECT_EQ(Lookup("ID_MB"), "\xC3\x9C"
                               "bersicht \xF0\x9F\x92\xBF");
}

TEST_F(LangFileTest, LongProgramDirectory) {
    // A program directory far beyond 260 characters still works.
    fs::path dir = m_dir;
    for (int i = 0; i < 4; ++i)
        dir /= std::string(90, static_cast<char>('a' + i));
    fs::create_directories(dir);
    ASSERT_GT(dir.string().size(), 300u);
    Write(dir / "languiu.ini", "[LANGUAGE]\nCURRENT=E\n[E]\nK=found\n");
    UseProgramDir(dir);
    EXPECT_EQ(Lookup("K"), "found");

    // A path too long for the system fails quietly with an empty text.
    fs::path tooLong = dir;
    for (int i = 0; i < 20; ++i)
        tooLong /= std::string(250, 'z');
    UseProgramDir(tooLong);
    EXPECT_EQ(Lookup("K"), "");
}

} // namespace

// The one formatter of catalogue texts: placeholders filled in order with any
// printf marks, "%%" kept as "%", and nothing else read as a format.
TEST(FillPlaceholders, FillsInOrderAndLeavesTheRestAsWritten) {
    struct Case {
        const char* pattern;
        std::initializer_list<std::string_view> args;
        const char* expected;
    } cases[] = {
        {"Copy %d of %u", {"1", "3"}, "Copy 1 of 3"},
        {"Writing: %d%%", {"42"}, "Writing: 42%"},
        {"drive %c: %-5lu|%s", {"K", "7", "x"}, "drive K: 7|x"},
        {"%s and %s", {"one"}, "one and %s"},             // a gap in a translation shows
        {"100%, %y, %", {"unused"}, "100%, %y, %"},       // no conversion letter
        {"caf\xc3\xa9 %s", {"%s%d"}, "caf\xc3\xa9 %s%d"}, // an argument is never a format
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillPlaceholders(c.pattern, c.args), c.expected) << c.pattern;
    const std::u16string wide[] = {u"\u00e9\U0001F600", u"2"};
    EXPECT_EQ(FillPlaceholders(u"%s \u00fc %u", wide), u"\u00e9\U0001F600 \u00fc 2");
}
