// Device names, the attach records and the query record, byte for byte; the
// records are built with the drive manager's own builders where they exist,
// so both ends are checked against each other.
#include "driver/DeviceName.h"
#include "driver/Records.h"
#include "port/Utf.h"
#include "vdrive/DriveRecords.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace driver;
using namespace port;

namespace {

std::span<const std::uint8_t> Sent(const vdrive::AttachRecordW& r) {
    return {r.bytes.data(), r.sentSize};
}
std::span<const std::uint8_t> Sent(const vdrive::AttachRecord& r) {
    return {r.bytes.data(), r.sentSize};
}

} // namespace

TEST(DeviceName, ParsesOnlyTheDriversSixtyFourDevices) {
    struct Case {
        const char* name;
        bool ok;
        Family family;
        unsigned number;
    } cases[] = {
        {"\\Device\\FileDisk\\FileDiskCd0", true, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd31", true, Family::Cd, 31},
        {"\\Device\\FileDisk\\FileDisk5", true, Family::Disk, 5},
        {"\\Device\\FileDisk\\FileDisk31", true, Family::Disk, 31},
        {"\\device\\filedisk\\filediskcd12", true, Family::Cd, 12},
        {"\\Device\\FileDisk\\FileDiskCd32", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd40", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd07", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDisk", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd1x", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd-1", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskCd 1", false, Family::Cd, 0},
        {"\\Device\\FileDisk\\FileDiskXy1", false, Family::Cd, 0},
        {"\\Device\\Harddisk0\\Partition1", false, Family::Cd, 0},
        {"", false, Family::Cd, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto id = ParseDeviceName(c.name);
        ASSERT_EQ(id.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(id->family, c.family);
            EXPECT_EQ(id->number, c.number);
        }
    }
    // An embedded zero ends nothing: the name simply does not match.
    EXPECT_FALSE(ParseDeviceName(std::string("\\Device\\FileDisk\\FileDiskCd1\0", 29)));
    for (Family f : {Family::Cd, Family::Disk})
        for (unsigned n = 0; n < kDeviceCount; ++n)
            EXPECT_EQ(ParseDeviceName(DeviceName({f, n})), (DeviceId{f, n}));
}

TEST(AttachRecordW, ParsesWhatTheDriveManagerSends) {
    auto rec = vdrive::BuildAttachRecordW(u"\\??\\/img/ünï a.iso", 0, 0, true);
    ASSERT_TRUE(rec);
    AttachRequest req;
    ASSERT_EQ(ParseAttachRecordW(Sent(*rec), req), ERROR_SUCCESS);
    EXPECT_EQ(req.ntName, "\\??\\/img/ünï a.iso");
    EXPECT_TRUE(req.readOnly);

    // The longest name the record holds: 275 units and the terminator.
    std::u16string longest = u"\\??\\/" + std::u16string(270, u'x');
    rec = vdrive::BuildAttachRecordW(longest, 0, 0, true);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->sentSize, 596u);
    ASSERT_EQ(ParseAttachRecordW(Sent(*rec), req), ERROR_SUCCESS);
    EXPECT_EQ(req.ntName.size(), 275u);
}

TEST(AttachRecordW, RefusesEveryMalformedRecord) {
    auto good = vdrive::BuildAttachRecordW(u"\\??\\C:\\a.iso", 0, 0, true);
    ASSERT_TRUE(good);
    ASSERT_EQ(good->sentSize, 70u);
    std::vector<std::uint8_t> base(good->bytes.begin(), good->bytes.begin() + 70);
    AttachRequest req;

    // Every length but the right one.
    std::vector<std::uint8_t> buf(700, 0);
    std::copy(base.begin(), base.end(), buf.begin());
    for (size_t len = 0; len <= buf.size(); ++len) {
        if (len == 70)
            continue;
        SCOPED_TRACE(len);
        ErrorCode e = ParseAttachRecordW({buf.data(), len}, req);
        EXPECT_TRUE(e == ERROR_INVALID_PARAMETER || e == ERROR_BAD_LENGTH) << e;
    }

    auto with = [&](auto change) {
        std::vector<std::uint8_t> b = base;
        change(b);
        return ParseAttachRecordW(b, req);
    };
    auto setLen = [](std::vector<std::uint8_t>& b, std::uint32_t n) {
        for (int i = 0; i < 4; ++i)
            b[40 + i] = static_cast<std::uint8_t>(n >> (8 * i));
    };
    // Terminator missing.
    EXPECT_EQ(with([](auto& b) { b[68] = 'x'; }), ERROR_INVALID_PARAMETER);
    // Name lengths that disagree with the bytes sent, or overflow.
    for (std::uint32_t n : {11u, 13u, 276u, 277u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        EXPECT_EQ(with([&](auto& b) { setLen(b, n); }), ERROR_INVALID_PARAMETER) << n;
    // An embedded zero unit and an unpaired surrogate are not names.
    EXPECT_EQ(with([](auto& b) {
                  b[50] = 0;
                  b[51] = 0;
              }),
              ERROR_INVALID_NAME);
    EXPECT_EQ(with([](auto& b) {
                  b[50] = 0x00;
                  b[51] = 0xD8;
              }),
              ERROR_INVALID_NAME);
    // An empty name: 46 bytes, length 0.
    std::vector<std::uint8_t> empty(46, 0);
    EXPECT_EQ(ParseAttachRecordW(empty, req), ERROR_INVALID_NAME);
}

TEST(AttachRecord, ParsesTheClassicRecordAndRefusesMalformedOnes) {
    auto rec = vdrive::BuildAttachRecord(u"\\??\\C:\\a.iso", 0, true);
    ASSERT_EQ(rec.sentSize, 28u);
    AttachRequest req;
    ASSERT_EQ(ParseAttachRecord(Sent(rec), req), ERROR_SUCCESS);
    EXPECT_EQ(req.ntName, "\\??\\C:\\a.iso");
    EXPECT_TRUE(req.readOnly);

    std::vector<std::uint8_t> base(rec.bytes.begin(), rec.bytes.begin() + 28);
    std::vector<std::uint8_t> buf(400, 0);
    std::copy(base.begin(), base.end(), buf.begin());
    for (size_t len = 0; len <= buf.size(); ++len) {
        if (len == 28)
            continue;
        SCOPED_TRACE(len);
        ErrorCode e = ParseAttachRecord({buf.data(), len}, req);
        EXPECT_TRUE(e == ERROR_INVALID_PARAMETER || e == ERROR_BAD_LENGTH) << e;
    }
    auto with = [&](auto change) {
        std::vector<std::uint8_t> b = base;
        change(b);
        return ParseAttachRecord(b, req);
    };
    EXPECT_EQ(with([](auto& b) { b[24] = 'x'; }), ERROR_INVALID_PARAMETER); // no terminator
    EXPECT_EQ(with([](auto& b) { b[15] = 0; }), ERROR_INVALID_NAME);        // embedded zero
    EXPECT_EQ(with([](auto& b) {
                  b[15] = 0xC0;
                  b[16] = 0xAF;
              }),
              ERROR_INVALID_NAME); // overlong UTF-8
    EXPECT_EQ(with([](auto& b) { b[15] = 0xFF; }), ERROR_INVALID_NAME);
    EXPECT_EQ(with([](auto& b) {
                  b[10] = 0xFF;
                  b[11] = 0xFF;
              }),
              ERROR_INVALID_PARAMETER);

    // What the sender makes of a name too long for 260 bytes: length 0.
    auto tooLong = vdrive::BuildAttachRecord(u"\\??\\/" + std::u16string(300, u'y'), 0, true);
    EXPECT_EQ(tooLong.sentSize, 15u);
    EXPECT_EQ(ParseAttachRecord(Sent(tooLong), req), ERROR_INVALID_NAME);
    // The longest that fits: 259 bytes and the terminator.
    auto longest = vdrive::BuildAttachRecord(u"\\??\\/" + std::u16string(254, u'y'), 0, true);
    EXPECT_EQ(longest.sentSize, 275u);
    EXPECT_EQ(ParseAttachRecord(Sent(longest), req), ERROR_SUCCESS);
}

TEST(HostPath, OnlyAbsolutePosixPathsInNtForm) {
    struct Case {
        const char* nt;
        const char* path; // nullptr: refused
    } cases[] = {
        {"\\??\\/home/me/a.iso", "/home/me/a.iso"},
        {"\\??\\/", "/"},
        {"\\??\\", nullptr},
        {"\\??\\a.iso", nullptr},
        {"\\??\\/img/bad\ndrive9 = Q.iso", nullptr},
        {"\\??\\/img/cr\r.iso", nullptr},
        {"\\??\\C:\\img\\a.iso", nullptr},
        {"\\??\\UNC\\srv\\share\\a.iso", nullptr},
        {"/home/me/a.iso", nullptr},
        {"\\a.iso", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nt);
        std::string path;
        ErrorCode e = HostPathFromNtName(c.nt, path);
        if (c.path) {
            EXPECT_EQ(e, ERROR_SUCCESS);
            EXPECT_EQ(path, c.path);
        } else {
            EXPECT_EQ(e, ERROR_INVALID_NAME);
        }
    }
}

TEST(QueryRecord, ReadsBackThroughTheDriveManagersParser) {
    auto rec = BuildQueryRecord(0x123456789A, true, 'K', "\\??\\/img/ä.iso");
    ASSERT_EQ(rec.size(), 276u);
    EXPECT_EQ(rec[9], 'K');
    auto info = vdrive::ParseQueryRecord(rec.data(), rec.size());
    EXPECT_EQ(info.fileSize, 0x123456789A);
    EXPECT_NE(info.readOnly, 0u);
    EXPECT_EQ(info.imageName, u"\\??\\/img/ä.iso");

    // A name past the record's 264 bytes is cut, never in the middle of a
    // character.
    std::string name = "\\??\\/" + std::string(258, 'a') + "ééé"; // 'é' at bytes 263..264
    rec = BuildQueryRecord(1, true, 'K', name);
    ASSERT_EQ(rec.size(), 276u);
    std::uint16_t n = static_cast<std::uint16_t>(rec[10] | (rec[11] << 8));
    EXPECT_EQ(n, 263u);
    EXPECT_TRUE(IsValidUtf8(std::string_view(reinterpret_cast<const char*>(rec.data() + 12), n)));
}
