// What a drive letter is and what its volume holds: GetDriveTypeW,
// GetVolumeInformationW and GetDiskFreeSpaceExW over the DOS device table.
//
//   target                     type      label / total size
//   \Device\FileDisk\...Cd<n>  CD-ROM    from the image the driver holds
//   \Device\FileDisk\...<n>    fixed     from the image the driver holds
//   /dev/srN                   CD-ROM    from the medium
//   another block device       fixed     from the medium
//   stdio:PATH, a file         CD-ROM    from the file
//   a directory                fixed     empty / the file system's size
//   undefined                  no root   fails
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace port {

inline constexpr std::uint32_t DRIVE_UNKNOWN = 0;
inline constexpr std::uint32_t DRIVE_NO_ROOT_DIR = 1;
inline constexpr std::uint32_t DRIVE_REMOVABLE = 2;
inline constexpr std::uint32_t DRIVE_FIXED = 3;
inline constexpr std::uint32_t DRIVE_REMOTE = 4;
inline constexpr std::uint32_t DRIVE_CDROM = 5;
inline constexpr std::uint32_t DRIVE_RAMDISK = 6;

inline constexpr std::uint32_t FILE_READ_ONLY_VOLUME = 0x00080000;
inline constexpr std::uint32_t FILE_UNICODE_ON_DISK = 0x00000004;
inline constexpr std::uint32_t FILE_CASE_PRESERVED_NAMES = 0x00000002;

// The drive letter named by a root ("K:\", "K:" or "K:/", any case), or 0.
char16_t DriveLetterOfRoot(const char16_t* root);

// The drive type of a root; DRIVE_NO_ROOT_DIR for an undefined or malformed one.
std::uint32_t GetDriveTypeW(const char16_t* rootPathName);

// Fills whichever outputs are given. Fails with the last error set: the
// driver's or the device's error, ERROR_NOT_READY when no image or medium is
// there, ERROR_UNRECOGNIZED_VOLUME when it holds no ISO 9660 volume,
// ERROR_INSUFFICIENT_BUFFER when a name does not fit its buffer.
bool GetVolumeInformationW(const char16_t* rootPathName, char16_t* volumeNameBuffer,
                           std::uint32_t volumeNameSize, std::uint32_t* serialNumber,
                           std::uint32_t* maxComponentLength, std::uint32_t* fileSystemFlags,
                           char16_t* fileSystemNameBuffer, std::uint32_t fileSystemNameSize);

// Sizes in bytes; a read-only medium has no free space.
bool GetDiskFreeSpaceExW(const char16_t* directoryName, std::uint64_t* freeBytesAvailable,
                         std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes);

// How a drive list names a drive: "R: YOYODYNE WARP DRIVE". The vendor and
// product fields are fixed-width and padded (blanks, or a zero byte and
// whatever follows it); the padding goes and one blank parts the two. Each
// byte is one character (Latin-1), as the drive reports it.
std::u16string DriveListName(char16_t letter, std::string_view vendor, std::string_view product);

} // namespace port
