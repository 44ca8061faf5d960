// The virtual drive manager: the whole protocol with spindle-driver. It finds
// a free device of the driver, binds a drive letter to it in the DOS device
// table and hands the driver the image (mount), asks a drive which image it
// holds (query), and takes the image away and frees the letter (dismount).
//
// Nothing is remembered between calls: the DOS device table and the driver
// hold the truth, and every call asks them anew. All calls block until the
// driver answers and never touch a window.
#pragma once

#include "port/Errors.h"
#include "vdrive/DriveRecords.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vdrive {

enum class DeviceFamily { Cd, Disk };

inline constexpr std::uint32_t kDeviceKindCd = 1;
inline constexpr std::uint32_t kDeviceKindDisk = 3; // every other value selects a CD device

// Longest image path a request carries, in UTF-16 code units.
inline constexpr std::size_t kMaxRequestPath = 275;
// Buffer GetFullPathNameW is given: "\??\" and the full path fit 276 units.
inline constexpr std::uint32_t kFullPathBuffer = 272;

struct MountRequest {
    std::u16string imagePath;
    bool convertPath = true; // turn imagePath into NT form with ToNtPath
    bool readOnly = true;
    std::int64_t fileSize = 0;
    std::int64_t secondValue = 0;
    std::uint32_t deviceKind = kDeviceKindCd;
};

// Which device numbers of each family some drive letter points at.
struct DeviceUseTable {
    std::array<bool, kDevicesPerFamily> cd{};
    std::array<bool, kDevicesPerFamily> disk{};
};

struct DismountResult {
    bool ok = false;
    port::ErrorCode error = port::ERROR_SUCCESS;
    bool driveInUse = false; // a file of the drive is held open; the drive still works
};

// "\Device\FileDisk\FileDiskCd<n>" or "\Device\FileDisk\FileDisk<n>".
std::u16string DeviceName(DeviceFamily family, unsigned number);

// The runtime folder's lock file that mounts hold from their scan of the
// drive table to the driver's answer, and a starting driver while it clears
// letters left by an earlier one, so that it never takes a mount's new letter.
std::string MountLockPath();

bool IsDriveLetterUsed(char16_t letter);
DeviceUseTable ScanFileDiskDevices();

// "a.iso" in /img -> "\??\/img/a.iso"; "\\srv\share\a" -> "\??\UNC\srv\share\a";
// "\x" unchanged. A full path longer than 272 units gives the bare "\??\".
std::u16string ToNtPath(std::u16string_view path);
// The reverse, for display and the drives list; other names unchanged.
std::u16string FromNtPath(std::u16string_view name);

// Mounts the request's image on the letter. Errors: ERROR_BUSY when the letter
// already opens as a drive, ERROR_INVALID_DRIVE when every device of the
// family is bound (or the letter is not A..Z), ERROR_FILENAME_EXCED_RANGE when
// the path does not fit the records (its NT form must also come back whole
// from a query: at most 260 code units and 264 bytes of UTF-8),
// ERROR_INVALID_NAME when the path holds a line break (no list of drives
// could hold it), ERROR_PATH_NOT_FOUND when the driver is not running, else
// the driver's error. A failed mount leaves no letter behind.
bool MountImage(char16_t letter, const MountRequest& request, port::ErrorCode& error);

// MountImage against a device-use table the caller scanned (a test can
// present every device as bound, which 26 letters alone cannot).
bool MountImageWithDevices(char16_t letter, const MountRequest& request, const DeviceUseTable& used,
                           port::ErrorCode& error);

// The lowest device number of the family that no letter points at.
std::optional<unsigned> FreeDevice(const DeviceUseTable& used, DeviceFamily family);

// One attempt: probe the letter, bind it to the device, open it, send the
// record. On failure the binding it made is removed again.
bool AttachImage(unsigned device, DeviceFamily family, char16_t letter, std::uint32_t code,
                 const std::uint8_t* record, std::size_t length, port::ErrorCode& error);

// The image a driver drive holds; nullopt for a letter that is not the
// driver's, or a device that gives no answer.
std::optional<MountedImageInfo> QueryMountedImage(char16_t letter);
// The same, saying why there is no answer: ERROR_FILE_NOT_FOUND for a letter
// that is not the driver's, ERROR_NOT_READY for a device without an image,
// any other error when the driver could not be reached or asked.
std::optional<MountedImageInfo> QueryMountedImage(char16_t letter, port::ErrorCode& error);

// Closes the image and removes the letter. While a file of the drive is held
// open the driver refuses: driveInUse is set and the drive keeps working.
// With no driver running, a letter still bound to one of its devices holds
// nothing and is simply freed.
DismountResult DismountDrive(char16_t letter);

} // namespace vdrive
