#include "port/DriveFiles.h"
#include "port/DosDevices.h"
#include "port/DriveInfo.h"
#include "port/FileDiskRecords.h"
#include "port/LastError.h"
#include "tests/support/TempEnv.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace port;
using spindle_test::TempEnv;

namespace {

HANDLE Open(const std::u16string& path, std::uint32_t access, std::uint32_t share = 3,
            std::uint32_t disposition = OPEN_EXISTING) {
    return CreateFileW(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
}

} // namespace

TEST(DriveFiles, DrivePathOpensWhatTheTableNames) {
    TempEnv env;
    env.EmptyTable();
    std::string image = env.Write("disc.iso", std::string(4096, 'x'));
    PushDosDevice("C:", "/");
    PushDosDevice("R:", "stdio:" + image);
    PushDosDevice("K:", "\\Device\\FileDisk\\FileDiskCd0");
    PushDosDevice("M:", "/no/such/dir");
    PushDosDevice("S:", "stdio:" + env.root() + "/not-yet-burnt.iso");

    struct Case {
        char16_t letter;
        ErrorCode error;
    };
    const Case cases[] = {
        {u'C', ERROR_SUCCESS},        // a directory: the drive exists
        {u'R', ERROR_SUCCESS},        // a stand-in disc file
        {u'S', ERROR_SUCCESS},        // a stand-in drive with no disc yet
        {u'K', ERROR_PATH_NOT_FOUND}, // a driver device, no driver running
        {u'M', ERROR_FILE_NOT_FOUND}, // a target that has gone
        {u'Q', ERROR_FILE_NOT_FOUND}, // undefined
    };
    for (const Case& c : cases) {
        UniqueHandle h(Open(DrivePath(c.letter), GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(h.valid(), c.error == ERROR_SUCCESS) << char(c.letter);
        if (!h.valid()) {
            EXPECT_EQ(GetLastError(), c.error) << char(c.letter);
        }
    }

    UniqueHandle dir(Open(DrivePath(u'c'), GENERIC_READ));
    std::uint32_t n = 7;
    EXPECT_FALSE(DeviceIoControl(dir.get(), 0x8000E004, nullptr, 0, nullptr, 0, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(n, 0u);

    UniqueHandle empty(Open(DrivePath(u'S'), GENERIC_READ));
    EXPECT_FALSE(DeviceIoControl(empty.get(), IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0,
                                 &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    char byte = 0;
    EXPECT_FALSE(ReadFile(empty.get(), &byte, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);

    UniqueHandle file(Open(DrivePath(u'R'), GENERIC_READ));
    std::array<std::uint8_t, 8> len{};
    ASSERT_TRUE(DeviceIoControl(file.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, len.data(), 8,
                                &n, nullptr));
    EXPECT_EQ(len[0] | (len[1] << 8), 4096);
    EXPECT_TRUE(DeviceIoControl(file.get(), IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, &n,
                                nullptr));
    EXPECT_FALSE(DeviceIoControl(file.get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &n,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
}

TEST(DriveFiles, MalformedDrivePathsAreNotFound) {
    TempEnv env;
    env.EmptyTable();
    for (const char16_t* p :
         {u"\\\\.\\", u"\\\\.\\K", u"\\\\.\\KK:", u"\\\\.\\1:", u"\\\\.\\K:\\x"}) {
        EXPECT_EQ(Open(p, GENERIC_READ), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
}

TEST(DriveFiles, ShareModesHoldBetweenHandles) {
    TempEnv env;
    std::u16string path = u"" + std::u16string(env.root().begin(), env.root().end()) + u"/f.bin";
    UniqueHandle w(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_TRUE(w.valid());
    EXPECT_EQ(Open(path, GENERIC_READ, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // Held without sharing: every other open is refused, and CREATE_ALWAYS
    // must not truncate the data on its way to failing.
    std::uint32_t put = 0;
    ASSERT_TRUE(WriteFile(w.get(), "hello", 5, &put, nullptr));
    EXPECT_EQ(Open(path, GENERIC_READ, 3), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open(path, GENERIC_WRITE, 3, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    w.reset();

    UniqueHandle r1(Open(path, GENERIC_READ, FILE_SHARE_READ));
    UniqueHandle r2(Open(path, GENERIC_READ, FILE_SHARE_READ));
    ASSERT_TRUE(r1.valid() && r2.valid());
    std::int64_t size = 0, pos = 0;
    ASSERT_TRUE(GetFileSizeEx(r1.get(), &size));
    EXPECT_EQ(size, 5);
    ASSERT_TRUE(SetFilePointerEx(r1.get(), 1, &pos, FILE_BEGIN));
    char buf[8] = {};
    std::uint32_t got = 0;
    ASSERT_TRUE(ReadFile(r1.get(), buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "ello");
    EXPECT_EQ(Open(path, GENERIC_READ, 0), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(Open(u"/", GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(DriveInfo, TypesLabelsAndSizesFollowTheTarget) {
    TempEnv env;
    env.EmptyTable();
    env.Write("src/a.txt", "data");
    std::string iso = env.root() + "/disc.iso";
    ASSERT_EQ(std::system(("genisoimage -quiet -J -R -V 'Holiday 2024' -o " + iso + " " +
                           env.root() + "/src")
                              .c_str()),
              0);
    PushDosDevice("C:", "/");
    PushDosDevice("R:", "stdio:" + iso);
    PushDosDevice("K:", "\\Device\\FileDisk\\FileDiskCd4");
    PushDosDevice("L:", "\\Device\\FileDisk\\FileDisk4");
    PushDosDevice("N:", "/dev/null"); // a device that is no disk at all

    struct Case {
        const char16_t* root;
        std::uint32_t type;
    };
    const Case cases[] = {
        {u"C:\\", DRIVE_FIXED},   {u"r:", DRIVE_CDROM},         {u"K:/", DRIVE_CDROM},
        {u"L:\\", DRIVE_FIXED},   {u"Q:\\", DRIVE_NO_ROOT_DIR}, {u"C:\\x", DRIVE_NO_ROOT_DIR},
        {u"N:\\", DRIVE_UNKNOWN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetDriveTypeW(c.root), c.type) << std::string(c.root, c.root + 2);

    char16_t label[255] = {}, fs[16] = {};
    ASSERT_TRUE(GetVolumeInformationW(u"R:\\", label, 255, nullptr, nullptr, nullptr, fs, 16));
    EXPECT_EQ(std::u16string(label), u"Holiday 2024");
    EXPECT_EQ(std::u16string(fs), u"CDFS");
    EXPECT_FALSE(GetVolumeInformationW(u"R:\\", label, 5, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(GetVolumeInformationW(u"K:\\", label, 255, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    std::uint64_t total = 0, avail = 1;
    ASSERT_TRUE(GetDiskFreeSpaceExW(u"R:\\", &avail, &total, nullptr));
    EXPECT_EQ(total, std::filesystem::file_size(iso));
    EXPECT_EQ(avail, 0u);
    ASSERT_TRUE(GetDiskFreeSpaceExW(u"C:\\", &avail, &total, nullptr));
    EXPECT_GT(total, 0u);
    EXPECT_FALSE(GetDiskFreeSpaceExW(u"Q:\\", nullptr, &total, nullptr));

    // A file that holds no ISO volume is named as such.
    PushDosDevice("S:", "stdio:" + env.Write("junk.bin", std::string(40000, 'j')));
    EXPECT_FALSE(GetVolumeInformationW(u"S:\\", label, 255, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
}

TEST(DriveFiles, QueriedImagePathReadsTheReplysNameField) {
    namespace q = vdrive::query;
    struct Case {
        std::string field;    // bytes at kName
        std::uint16_t length; // the record's name length
        std::string want;
    };
    const Case cases[] = {
        {"\\??\\/srv/a.iso", 14, "/srv/a.iso"},
        {"/srv/b.iso", 10, "/srv/b.iso"},
        {std::string("/c.iso\0junk", 11), 11, "/c.iso"}, // ends at a zero byte
        {"/d.iso", 3, "/d."},                            // only the bytes the length gives
        {std::string(q::kNameCapacity, 'x'), 0xFFFF, std::string(q::kNameCapacity, 'x')},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, q::kBufferSize> rec{};
        rec[q::kNameLength] = static_cast<std::uint8_t>(c.length);
        rec[q::kNameLength + 1] = static_cast<std::uint8_t>(c.length >> 8);
        std::copy(c.field.begin(), c.field.end(), rec.begin() + q::kName);
        EXPECT_EQ(QueriedImagePath(rec.data()), c.want) << c.field;
    }
}
