// The virtual disk driver's device names, control codes and record layouts.
// Shared by the drive manager (which builds the records) and spindle-driver
// (which parses them). All integers in the records are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdrive {

// Device names: "\Device\FileDisk\FileDiskCd%u" and "\Device\FileDisk\FileDisk%u",
// numbered 0..31 in each family.
inline constexpr char16_t kDevicePrefix[] = u"\\Device\\FileDisk\\";             // 17 units
inline constexpr char16_t kCdDevicePrefix[] = u"\\Device\\FileDisk\\FileDiskCd"; // 27 units
inline constexpr char16_t kDiskDevicePrefix[] = u"\\Device\\FileDisk\\FileDisk"; // 25 units
inline constexpr unsigned kDevicesPerFamily = 32;

// Control codes.
inline constexpr std::uint32_t IOCTL_FILEDISK_OPEN_FILE = 0x8000E000;
inline constexpr std::uint32_t IOCTL_FILEDISK_CLOSE_FILE = 0x8000E004;
inline constexpr std::uint32_t IOCTL_FILEDISK_QUERY_FILE = 0x80006008;
inline constexpr std::uint32_t IOCTL_FILEDISK_OPEN_FILE_W = 0x8000E010;
inline constexpr std::uint32_t FSCTL_DISMOUNT_VOLUME = 0x00090020;
// Spindle's own code: the device and inode numbers of the image file a device
// holds open, so that a reader that opens the image by its path can tell
// whether the path still names that file.
inline constexpr std::uint32_t IOCTL_FILEDISK_QUERY_FILE_ID = 0x800063C0;

// ImageAttachRecordW: input of IOCTL_FILEDISK_OPEN_FILE_W.
namespace attach_w {
inline constexpr std::size_t kFileSize = 0;       // int64
inline constexpr std::size_t kValue1 = 8;         // int64, the request's second value
inline constexpr std::size_t kValue2 = 16;        // int64, the same again
inline constexpr std::size_t kValue3 = 24;        // int64, 0
inline constexpr std::size_t kValue4 = 32;        // int32, 0
inline constexpr std::size_t kReadOnly = 36;      // uint8
inline constexpr std::size_t kNameLength = 40;    // uint32, UTF-16 units without terminator
inline constexpr std::size_t kName = 44;          // UTF-16, terminated
inline constexpr std::size_t kNameCapacity = 276; // units including the terminator
inline constexpr std::size_t kBufferSize = 600;
// Bytes sent for a name of n code units: 46 + 2n.
constexpr std::size_t SentSize(std::size_t n) {
    return 46 + 2 * n;
}
} // namespace attach_w

// ImageAttachRecord: input of IOCTL_FILEDISK_OPEN_FILE.
namespace attach {
inline constexpr std::size_t kFileSize = 0;    // int64
inline constexpr std::size_t kReadOnly = 8;    // uint8
inline constexpr std::size_t kDriveLetter = 9; // uint8, 0
inline constexpr std::size_t kNameLength = 10; // uint16, bytes including the terminator
inline constexpr std::size_t kName = 12;       // 8-bit text, terminated
inline constexpr std::size_t kNameCapacity = 260;
inline constexpr std::size_t kBufferSize = 296;
// Bytes sent for a name length of n bytes (terminator included): n + 15.
constexpr std::size_t SentSize(std::size_t n) {
    return n + 15;
}
} // namespace attach

// ImageQueryRecord: output of IOCTL_FILEDISK_QUERY_FILE.
namespace query {
inline constexpr std::size_t kFileSize = 0;    // int64
inline constexpr std::size_t kReadOnly = 8;    // uint8
inline constexpr std::size_t kDriveLetter = 9; // uint8
inline constexpr std::size_t kNameLength = 10; // uint16, bytes
inline constexpr std::size_t kName = 12;       // 8-bit text
inline constexpr std::size_t kNameCapacity = 264;
inline constexpr std::size_t kBufferSize = 276;
} // namespace query

// Output of IOCTL_FILEDISK_QUERY_FILE_ID.
namespace file_id {
inline constexpr std::size_t kDevice = 0; // uint64, st_dev
inline constexpr std::size_t kInode = 8;  // uint64, st_ino
inline constexpr std::size_t kBufferSize = 16;
} // namespace file_id

} // namespace vdrive
