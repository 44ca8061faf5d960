#include "vdrive/DriveRecords.h"

#include <gtest/gtest.h>

using namespace vdrive;

namespace {

std::uint64_t Le(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

TEST(Records, WideAttachRecordLayout) {
    const std::u16string name = u"\\??\\C:\\a.iso"; // 12 units
    auto r = BuildAttachRecordW(name, -5, 0x1122334455667788, true);
    ASSERT_TRUE(r);
    const std::uint8_t* b = r->bytes.data();
    EXPECT_EQ(r->sentSize, 70u);
    EXPECT_EQ(static_cast<std::int64_t>(Le(b, 8)), -5);
    EXPECT_EQ(Le(b + 8, 8), 0x1122334455667788u);
    EXPECT_EQ(Le(b + 16, 8), 0x1122334455667788u);
    EXPECT_EQ(Le(b + 24, 8), 0u);
    EXPECT_EQ(Le(b + 32, 4), 0u);
    EXPECT_EQ(b[36], 1);
    EXPECT_EQ(Le(b + 37, 3), 0u);
    EXPECT_EQ(Le(b + 40, 4), 12u);
    for (size_t i = 0; i < name.size(); ++i)
        EXPECT_EQ(Le(b + 44 + 2 * i, 2), name[i]);
    EXPECT_EQ(Le(b + 68, 2), 0u); // terminator, the last two bytes sent

    // The name field holds 275 units and a terminator; one more is refused.
    auto longest = BuildAttachRecordW(std::u16string(275, u'x'), 0, 0, false);
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->sentSize, 596u);
    EXPECT_EQ(longest->bytes[36], 0);
    EXPECT_EQ(Le(longest->bytes.data() + 594, 2), 0u);
    EXPECT_FALSE(BuildAttachRecordW(std::u16string(276, u'x'), 0, 0, false));
}

TEST(Records, ClassicAttachRecordLayout) {
    struct Case {
        std::u16string name;
        std::size_t length;
        std::string bytes;
    };
    const Case cases[] = {
        {u"\\??\\C:\\a.iso", 13, "\\??\\C:\\a.iso"},
        {u"\\??\\/m\u00fcsik/\u65e5.iso", 20, "\\??\\/m\xc3\xbcsik/\xe6\x97\xa5.iso"},
        {std::u16string(259, u'y'), 260, std::string(259, 'y')},
        {std::u16string(260, u'y'), 0, ""},      // does not fit 260 bytes
        {std::u16string(130, u'\u00e9'), 0, ""}, // 260 bytes in UTF-8
    };
    for (const Case& c : cases) {
        AttachRecord r = BuildAttachRecord(c.name, 4242, true);
        const std::uint8_t* b = r.bytes.data();
        EXPECT_EQ(Le(b, 8), 4242u);
        EXPECT_EQ(b[8], 1);
        EXPECT_EQ(b[9], 0);
        EXPECT_EQ(Le(b + 10, 2), c.length);
        EXPECT_EQ(r.sentSize, c.length + 15);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 12), c.bytes.size()), c.bytes);
        // The terminator and the three bytes sent after it are zero.
        for (std::size_t i = 12 + c.bytes.size(); i < r.sentSize; ++i)
            EXPECT_EQ(b[i], 0) << i;
    }
}

TEST(Records, QueryRecordIsReadWithinItsBounds) {
    std::array<std::uint8_t, 276> rec{};
    const std::uint64_t size = 5000000000ull;
    for (int i = 0; i < 8; ++i)
        rec[i] = static_cast<std::uint8_t>(size >> (8 * i));
    rec[8] = 7;
    const std::string name = "\\??\\/img/\xc3\xa4.iso";
    rec[10] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), rec.begin() + 12);
    MountedImageInfo info = ParseQueryRecord(rec.data(), rec.size());
    EXPECT_EQ(info.fileSize, 5000000000);
    EXPECT_NE(info.readOnly, 0u);
    EXPECT_EQ(info.imageName, u"\\??\\/img/\u00e4.iso");

    // A length past the record reads the 264 bytes there are, and stops at
    // the first zero byte.
    rec.fill('a');
    rec[10] = 0xFF;
    rec[11] = 0xFF;
    rec[100] = 0;
    EXPECT_EQ(ParseQueryRecord(rec.data(), rec.size()).imageName, std::u16string(88, u'a'));
    rec[100] = 'a';
    // 264 units do not fit the 260-unit name: no name rather than a cut one.
    EXPECT_EQ(ParseQueryRecord(rec.data(), rec.size()).imageName, u"");
    // A short answer counts as zero past its end.
    MountedImageInfo part = ParseQueryRecord(rec.data(), 9);
    EXPECT_EQ(part.imageName, u"");
    EXPECT_EQ(ParseQueryRecord(nullptr, 0).fileSize, 0);
}
