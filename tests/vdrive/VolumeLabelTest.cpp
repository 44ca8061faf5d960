#include "vdrive/VolumeLabel.h"

#include "port/DriveFiles.h"
#include "port/Utf.h"
#include "tests/support/Iso.h"
#include "tests/support/TempEnv.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

using namespace vdrive;
using spindle_test::TempEnv;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr size_t kPvd = 0x8000;

// A bare descriptor set: primary at sector 16, then the given types.
Bytes Image(const std::string& primaryId, std::vector<std::uint8_t> following = {255}) {
    Bytes img((17 + following.size()) * 2048, 0xA5); // filler to catch stray writes
    auto put = [&](size_t sector, std::uint8_t type) {
        std::uint8_t* d = img.data() + sector * 2048;
        std::memset(d, 0, 2048);
        d[0] = type;
        std::memcpy(d + 1, "CD001", 5);
        d[6] = 1;
        if (type == 2)
            std::memcpy(d + 88, "%/E", 3);
    };
    put(16, 1);
    std::memcpy(img.data() + kPvd + 40, primaryId.data(), std::min<size_t>(primaryId.size(), 32));
    for (size_t i = 0; i < following.size(); ++i)
        put(17 + i, following[i]);
    return img;
}

void SetJoliet(Bytes& img, size_t sector, std::u16string_view id) {
    std::uint8_t* f = img.data() + sector * 2048 + 40;
    std::memset(f, 0, 32);
    for (size_t i = 0; i < id.size() && i < 16; ++i) {
        f[2 * i] = static_cast<std::uint8_t>(id[i] >> 8);
        f[2 * i + 1] = static_cast<std::uint8_t>(id[i]);
    }
}

std::string Save(const TempEnv& env, const Bytes& img, const std::string& name = "a.iso") {
    return env.Write(name, std::string(img.begin(), img.end()));
}

Bytes Load(const std::string& path) {
    const std::string data = spindle_test::ReadFile(path);
    return Bytes(data.begin(), data.end());
}

std::u16string Read(const std::string& path) {
    return ReadVolumeLabel(port::ToUtf16(path));
}
bool Write(const std::string& path, std::u16string_view label) {
    return WriteVolumeLabel(port::ToUtf16(path), label);
}

Bytes Field(const Bytes& img, size_t sector) {
    return Bytes(img.begin() + sector * 2048 + 40, img.begin() + sector * 2048 + 72);
}

} // namespace

TEST(VolumeLabel, ReadsJolietFirstThenThePrimaryIdentifier) {
    TempEnv env;
    struct Case {
        const char* what;
        Bytes img;
        std::u16string label;
    };
    Bytes joliet = Image("PHOTOS", {2, 255});
    SetJoliet(joliet, 17, u"Photos");
    Bytes secondJoliet = Image("X", {2, 3, 2, 255});
    SetJoliet(secondJoliet, 19, u"Zweite");
    Bytes afterEnd = Image("PRIMARY", {255, 2});
    SetJoliet(afterEnd, 18, u"Hidden");
    Bytes emptyPrimary = Image("", {2, 255});
    SetJoliet(emptyPrimary, 17, u"Only");
    Bytes enhanced = Image("PLAIN", {2, 2, 255});
    std::memcpy(enhanced.data() + 17 * 2048 + 88, "\0\0\0", 3); // no Joliet escape
    SetJoliet(enhanced, 17, u"NotJoliet");
    SetJoliet(enhanced, 18, u"Joliet");
    Bytes wide = Image("?", {2, 255});
    SetJoliet(wide, 17, u"\u0414\u0438\u0441\u043a 2024 \u65e5\u672c");
    const Case cases[] = {
        {"blank padded", Image("MYDISC                          "),
         u"MYDISC" + std::u16string(26, u' ')},
        {"joliet", joliet, u"Photos"},
        {"empty joliet skipped", secondJoliet, u"Zweite"},
        {"after terminator", afterEnd, u"PRIMARY"},
        {"no primary id", emptyPrimary, u""},
        {"latin-1 primary", Image("CAF\xc9"), u"CAF\u00c9"},
        {"utf-8 primary", Image("CAF\xc3\x89"), u"CAF\u00c9"},
        {"full field", Image(std::string(32, 'Q')), std::u16string(32, u'Q')},
        {"enhanced descriptor skipped", enhanced, u"Joliet"},
        {"beyond U+00FF", wide, u"\u0414\u0438\u0441\u043a 2024 \u65e5\u672c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(Save(env, c.img)), c.label) << c.what;

    // Non-zero bytes right after a full field are not part of it.
    Bytes full = Image(std::string(32, 'Q'));
    full[kPvd + 72] = 'Z';
    EXPECT_EQ(Read(Save(env, full)), std::u16string(32, u'Q'));
}

TEST(VolumeLabel, WritesBothIdentifiersZeroPaddedAndNothingElse) {
    TempEnv env;
    Bytes img = Image("PHOTOS", {2, 255});
    SetJoliet(img, 17, u"Photos");
    std::string path = Save(env, img);
    ASSERT_TRUE(Write(path, u"Backup"));
    Bytes out = Load(path);
    Bytes primary(32, 0), joliet(32, 0);
    std::memcpy(primary.data(), "Backup", 6);
    const std::uint8_t be[] = {0, 'B', 0, 'a', 0, 'c', 0, 'k', 0, 'u', 0, 'p'};
    std::memcpy(joliet.data(), be, sizeof be);
    EXPECT_EQ(Field(out, 16), primary);
    EXPECT_EQ(Field(out, 17), joliet);
    for (size_t s : {16, 17}) {
        std::memcpy(out.data() + s * 2048 + 40, img.data() + s * 2048 + 40, 32);
    }
    EXPECT_EQ(out, img); // every other byte as it was
    EXPECT_EQ(Read(path), u"Backup");
}

TEST(VolumeLabel, LongAndNonLatinLabelsStayInsideTheFields) {
    TempEnv env;
    struct Case {
        std::u16string label, joliet;
        std::string primary;
    };
    const Case cases[] = {
        {std::u16string(40, u'L'), std::u16string(16, u'L'), std::string(32, 'L')},
        {u"\u00dcber \u0414\u0438\u0441\u043a", u"\u00dcber \u0414\u0438\u0441\u043a",
         "\xc3\x9c"
         "ber \xd0\x94\xd0\xb8\xd1\x81\xd0\xba"},
        // 11 three-byte characters: only 10 fit 32 bytes whole.
        {std::u16string(11, u'\u65e5'), std::u16string(11, u'\u65e5'),
         [] {
             std::string s;
             for (int i = 0; i < 10; ++i)
                 s += "\xe6\x97\xa5";
             return s;
         }()},
        // A surrogate pair is never split at the end of the Joliet field.
        {std::u16string(15, u'a') + u"\U0001F4BF", std::u16string(15, u'a'),
         std::string(15, 'a') + "\xf0\x9f\x92\xbf"},
    };
    for (const Case& c : cases) {
        Bytes img = Image("OLD", {2, 255});
        SetJoliet(img, 17, u"Old");
        img[kPvd + 72] = 0x77;
        img[17 * 2048 + 72] = 0x77;
        std::string path = Save(env, img);
        ASSERT_TRUE(Write(path, c.label));
        Bytes out = Load(path);
        EXPECT_EQ(out[kPvd + 72], 0x77);
        EXPECT_EQ(out[17 * 2048 + 72], 0x77);
        Bytes primary(32, 0);
        std::memcpy(primary.data(), c.primary.data(), c.primary.size());
        EXPECT_EQ(Field(out, 16), primary);
        EXPECT_EQ(Read(path), c.joliet);
    }
}

TEST(VolumeLabel, UnreadableFilesGiveNoLabelAndStayUntouched) {
    TempEnv env;
    // Shorter than the primary descriptor, and long enough but no ISO image:
    // no label, and a write changes nothing.
    Bytes almost = Image("SHORT");
    almost.resize(0x8000 + 2047);
    Bytes notIso(0x8000 + 3 * 2048, 'x');
    for (const Bytes& content : {almost, notIso}) {
        std::string path = Save(env, content, "other.bin");
        EXPECT_EQ(Read(path), u"");
        EXPECT_FALSE(Write(path, u"New"));
        EXPECT_EQ(Load(path), content);
    }
    EXPECT_EQ(Read(env.root() + "/missing.iso"), u"");
    EXPECT_FALSE(Write(env.root() + "/missing.iso", u"New"));
    EXPECT_FALSE(std::filesystem::exists(env.root() + "/missing.iso"));
    EXPECT_EQ(ReadVolumeLabel(u""), u"");

    // The forms that tell why: an image without a label is not a failure.
    struct Case {
        std::string path;
        bool readable;
        port::ErrorCode error;
    };
    const Case cases[] = {
        {Save(env, Image(""), "blank.iso"), true, port::ERROR_SUCCESS},
        {Save(env, notIso, "other.bin"), false, port::ERROR_UNRECOGNIZED_VOLUME},
        {Save(env, almost, "short.bin"), false, port::ERROR_UNRECOGNIZED_VOLUME},
        {env.root() + "/missing.iso", false, port::ERROR_FILE_NOT_FOUND},
        {env.root(), false, port::ERROR_ACCESS_DENIED}, // a folder
    };
    for (const Case& c : cases) {
        port::ErrorCode error = 99;
        auto label = ReadVolumeLabel(port::ToUtf16(c.path), error);
        EXPECT_EQ(label.has_value(), c.readable) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
        error = 99;
        EXPECT_EQ(WriteVolumeLabel(port::ToUtf16(c.path), u"", error), c.readable) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }

    // Held open by another program: no exclusive access.
    std::string path = Save(env, Image("HELD"));
    port::UniqueHandle other(port::CreateFileW(port::ToUtf16(path).c_str(), port::GENERIC_READ,
                                               port::FILE_SHARE_READ, nullptr, port::OPEN_EXISTING,
                                               0, nullptr));
    ASSERT_TRUE(other.valid());
    EXPECT_EQ(Read(path), u"");
    EXPECT_FALSE(Write(path, u"New"));
    port::ErrorCode error = 0;
    EXPECT_FALSE(ReadVolumeLabel(port::ToUtf16(path), error));
    EXPECT_EQ(error, port::ERROR_SHARING_VIOLATION);
    other.reset();
    EXPECT_EQ(Read(path), u"HELD");
}

// A write needs a whole descriptor set and whole text; otherwise the file
// stays as it was and the error says why.
TEST(VolumeLabel, WriteRefusesBrokenDescriptorSetsAndBrokenText) {
    TempEnv env;
    Bytes sixBytes(0x8000 + 4 * 2048, 'x'); // "\x01CD001" at 0x8000 and nothing more
    std::memcpy(sixBytes.data() + kPvd,
                "\x01"
                "CD001",
                6);
    Bytes unterminated = Image("OPEN", {2}); // ends after the Joliet descriptor
    Bytes strayAfterPrimary = Image("STRAY", {2, 255});
    std::memset(strayAfterPrimary.data() + 17 * 2048, 0, 8); // not a descriptor
    struct Case {
        const char* what;
        Bytes img;
        std::u16string label;
        port::ErrorCode error;
    };
    const Case cases[] = {
        {"six bytes", sixBytes, u"New", port::ERROR_UNRECOGNIZED_VOLUME},
        {"no terminator", unterminated, u"New", port::ERROR_UNRECOGNIZED_VOLUME},
        {"stray sector", strayAfterPrimary, u"New", port::ERROR_UNRECOGNIZED_VOLUME},
        {"lone high surrogate", Image("OK", {2, 255}), u"Disc\xD83D", port::ERROR_INVALID_DATA},
        {"lone low surrogate", Image("OK", {2, 255}),
         u"\xDCBF"
         u"Disc",
         port::ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        std::string path = Save(env, c.img, "w.iso");
        port::ErrorCode error = 0;
        EXPECT_FALSE(WriteVolumeLabel(port::ToUtf16(path), c.label, error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(Load(path), c.img) << c.what;
    }
    std::string path = Save(env, Image("OK", {2, 255}), "w.iso");
    port::ErrorCode error = 0;
    EXPECT_FALSE(WriteVolumeLabelUtf8(port::ToUtf16(path), "Disc \xff", error));
    EXPECT_EQ(error, port::ERROR_INVALID_DATA);
    EXPECT_TRUE(WriteVolumeLabelUtf8(port::ToUtf16(path), "Sch\xc3\xb6n", error));
    EXPECT_EQ(Read(path), u"Sch\u00f6n");
}

// Images from two other tools, rewritten and read back by isoinfo.
TEST(VolumeLabel, RewritesImagesOfOtherTools) {
    TempEnv env;
    env.Write("src/f.txt", "x");
    const std::string makers[] = {"genisoimage -quiet", "xorriso -as mkisofs -quiet"};
    for (const std::string& maker : makers) {
        std::string iso = env.root() + "/tool.iso";
        ASSERT_TRUE(spindle_test::MakeIso(maker, "-J -R -V Original", env.root() + "/src", iso))
            << maker;
        EXPECT_EQ(Read(iso).substr(0, 8), u"Original") << maker;
        ASSERT_TRUE(Write(iso, u"Renamed 2"));
        EXPECT_EQ(Read(iso), u"Renamed 2");
        EXPECT_EQ(spindle_test::VolumeId(iso), "Renamed 2") << maker;
        std::remove(iso.c_str());
    }
}
