#include "vdrive/VirtualDrive.h"

#include "port/DosDevices.h"
#include "port/DriveFiles.h"
#include "port/DriveLetter.h"
#include "port/FileOps.h"
#include "port/FullPath.h"
#include "port/LastError.h"
#include "port/Paths.h"
#include "port/Utf.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vdrive {

using namespace port;

namespace {

constexpr std::uint32_t kTargetBuffer = 260;
// spindle-driver itself gives files closed just before half a second to go,
// so a few attempts suffice; each refused one costs that half second.
constexpr int kDismountAttempts = 3;
constexpr auto kDismountRetryDelay = std::chrono::milliseconds(25);
constexpr std::u16string_view kNtPrefix = u"\\??\\";
constexpr std::u16string_view kNtUncPrefix = u"\\??\\UNC\\";

bool IsLetter(char16_t letter) {
    return letter >= u'A' && letter <= u'Z';
}

std::u16string DosName(char16_t letter) {
    return std::u16string(1, letter) + u":";
}

// The first target of a DOS name, empty when it cannot be read.
std::u16string FirstTarget(std::u16string_view dosName) {
    char16_t buf[kTargetBuffer];
    buf[0] = u'\0';
    std::u16string name(dosName);
    if (!QueryDosDeviceW(name.c_str(), buf, kTargetBuffer))
        buf[0] = u'\0';
    return std::u16string(buf, U16Length(buf, kTargetBuffer));
}

// Reads a decimal number the way _wtoi does: blanks, a sign, then digits.
long long LeadingNumber(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+'))
        negative = s[i++] == u'-';
    long long n = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        if (n < INT_MAX)
            n = n * 10 + (s[i] - u'0');
    }
    return negative ? -n : n;
}

HANDLE OpenDrive(char16_t letter, std::uint32_t access) {
    std::u16string path = DrivePath(letter);
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
}

bool RemoveBinding(char16_t letter, const std::u16string& device) {
    std::u16string name = DosName(letter);
    return DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                            name.c_str(), device.c_str());
}

// The NT form of a request's path, or nullopt when it does not fit.
std::optional<std::u16string> RequestName(const MountRequest& request) {
    std::u16string_view path = request.imagePath;
    path = path.substr(0, std::min(path.size(), path.find(u'\0')));
    if (path.size() > kMaxRequestPath)
        return std::nullopt;
    if (!request.convertPath)
        return std::u16string(path);
    std::u16string name = ToNtPath(path);
    // A path that could not be completed comes back as the bare prefix.
    if ((name == kNtPrefix && !path.empty()) || name.size() > kMaxRequestPath)
        return std::nullopt;
    return name;
}

// The name a mount may hand the driver: one that the driver's query gives
// back whole, so that the drive can always be listed with its image and
// its image read through the drive.
std::optional<std::u16string> MountName(const MountRequest& request) {
    auto name = RequestName(request);
    if (name && !FitsQueryRecord(*name))
        return std::nullopt;
    return name;
}

// Holds the runtime folder's mount lock while it lives (best effort: without
// the lock file a mount goes on unserialised).
class MountLock : public FileLock {
public:
    MountLock() : FileLock(MountLockPath()) {}
};

} // namespace

std::string MountLockPath() {
    return RuntimeDir() + "/mount.lock";
}

std::u16string DeviceName(DeviceFamily family, unsigned number) {
    std::u16string name(family == DeviceFamily::Cd ? kCdDevicePrefix : kDiskDevicePrefix);
    return name + ToUtf16(std::to_string(number));
}

bool IsDriveLetterUsed(char16_t letter) {
    char16_t buf[kTargetBuffer];
    buf[0] = u'\0';
    std::u16string name = DosName(letter);
    if (QueryDosDeviceW(name.c_str(), buf, kTargetBuffer))
        return buf[0] != u'\0';
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

DeviceUseTable ScanFileDiskDevices() {
    DeviceUseTable table;
    const std::u16string_view cd = kCdDevicePrefix;
    const std::u16string_view disk = kDiskDevicePrefix;
    for (char16_t c = u'a'; c <= u'z'; ++c) {
        std::u16string target = FirstTarget(DosName(c));
        std::u16string_view t = target;
        if (t.starts_with(cd)) {
            long long n = LeadingNumber(t.substr(cd.size()));
            if (n >= 0 && n < kDevicesPerFamily)
                table.cd[static_cast<std::size_t>(n)] = true;
        } else if (t.starts_with(disk)) {
            long long n = LeadingNumber(t.substr(disk.size()));
            if (n >= 0 && n < kDevicesPerFamily)
                table.disk[static_cast<std::size_t>(n)] = true;
        }
    }
    return table;
}

std::u16string ToNtPath(std::u16string_view path) {
    std::u16string result(kNtPrefix);
    if (path.empty() || path[0] != u'\\') {
        char16_t full[kFullPathBuffer];
        std::u16string p(path);
        std::uint32_t n = GetFullPathNameW(p.c_str(), kFullPathBuffer, full, nullptr);
        if (n > 0 && n < kFullPathBuffer)
            result.append(full, n);
        return result;
    }
    if (path.size() >= 2 && path[1] == u'\\')
        return result + u"UNC" + std::u16string(path.substr(1));
    return std::u16string(path);
}

std::u16string FromNtPath(std::u16string_view name) {
    if (name.starts_with(kNtUncPrefix))
        return u"\\" + std::u16string(name.substr(7));
    if (name.starts_with(kNtPrefix))
        return std::u16string(name.substr(kNtPrefix.size()));
    return std::u16string(name);
}

std::optional<unsigned> FreeDevice(const DeviceUseTable& used, DeviceFamily family) {
    const auto& flags = family == DeviceFamily::Cd ? used.cd : used.disk;
    for (unsigned n = 0; n < kDevicesPerFamily; ++n) {
        if (!flags[n])
            return n;
    }
    return std::nullopt;
}

bool MountImage(char16_t letter, const MountRequest& request, ErrorCode& error) {
    // Mounts of other processes wait from the scan to the driver's answer:
    // two mounts that scanned at once would pick the same free device, and
    // the later one would be refused as if its letter were taken.
    MountLock lock;
    return MountImageWithDevices(letter, request, ScanFileDiskDevices(), error);
}

bool MountImageWithDevices(char16_t letter, const MountRequest& request, const DeviceUseTable& used,
                           ErrorCode& error) {
    letter = port::UpperLetter(letter);
    if (!IsLetter(letter)) {
        error = ERROR_INVALID_DRIVE;
        return false;
    }
    // The drive lists keep one path a line: a line break would end it there.
    if (request.imagePath.find_first_of(u"\r\n") != std::u16string::npos) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    auto name = MountName(request);
    if (!name) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    DeviceFamily family =
        request.deviceKind == kDeviceKindDisk ? DeviceFamily::Disk : DeviceFamily::Cd;
    bool readOnly = family == DeviceFamily::Cd || request.readOnly;

    auto wide = BuildAttachRecordW(*name, request.fileSize, request.secondValue, readOnly);
    if (!wide) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    AttachRecord classic; // all zero unless the second value is 0
    if (request.secondValue == 0)
        classic = BuildAttachRecord(*name, request.fileSize, readOnly);
    else
        classic.sentSize = attach::SentSize(0);

    std::optional<unsigned> device = FreeDevice(used, family);
    if (!device) {
        error = ERROR_INVALID_DRIVE;
        return false;
    }
    if (AttachImage(*device, family, letter, IOCTL_FILEDISK_OPEN_FILE_W, wide->bytes.data(),
                    wide->sentSize, error))
        return true;
    return AttachImage(*device, family, letter, IOCTL_FILEDISK_OPEN_FILE, classic.bytes.data(),
                       classic.sentSize, error);
}

bool AttachImage(unsigned device, DeviceFamily family, char16_t letter, std::uint32_t code,
                 const std::uint8_t* record, std::size_t length, ErrorCode& error) {
    letter = port::UpperLetter(letter);
    {
        UniqueHandle probe(OpenDrive(letter, GENERIC_READ | GENERIC_WRITE));
        if (probe.valid()) {
            error = ERROR_BUSY;
            return false;
        }
    }
    std::u16string deviceName = DeviceName(family, device);
    std::u16string dosName = DosName(letter);
    if (!DefineDosDeviceW(DDD_RAW_TARGET_PATH, dosName.c_str(), deviceName.c_str())) {
        error = GetLastError();
        return false;
    }
    UniqueHandle drive(OpenDrive(letter, GENERIC_READ | GENERIC_WRITE));
    if (!drive.valid()) {
        error = GetLastError();
        RemoveBinding(letter, deviceName);
        return false;
    }
    std::uint32_t returned = 0;
    if (!DeviceIoControl(drive.get(), code, record, static_cast<std::uint32_t>(length), nullptr, 0,
                         &returned, nullptr)) {
        error = GetLastError();
        drive.reset();
        RemoveBinding(letter, deviceName);
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

std::optional<MountedImageInfo> QueryMountedImage(char16_t letter) {
    ErrorCode error = ERROR_SUCCESS;
    return QueryMountedImage(letter, error);
}

std::optional<MountedImageInfo> QueryMountedImage(char16_t letter, ErrorCode& error) {
    letter = port::UpperLetter(letter);
    error = ERROR_FILE_NOT_FOUND;
    if (!IsLetter(letter))
        return std::nullopt;
    if (!FirstTarget(DosName(letter)).starts_with(std::u16string_view(kDevicePrefix)))
        return std::nullopt;
    UniqueHandle drive(OpenDrive(letter, GENERIC_READ));
    std::array<std::uint8_t, query::kBufferSize> out{};
    std::uint32_t returned = 0;
    if (!drive.valid() ||
        !DeviceIoControl(drive.get(), IOCTL_FILEDISK_QUERY_FILE, nullptr, 0, out.data(),
                         static_cast<std::uint32_t>(out.size()), &returned, nullptr)) {
        error = GetLastError();
        return std::nullopt;
    }
    error = ERROR_SUCCESS;
    return ParseQueryRecord(out.data(), out.size());
}

namespace {

// Closes the image of a driver drive; false with the result filled in when
// the driver refuses.
bool CloseImage(HANDLE drive, DismountResult& result) {
    // A file closed just before may still count as open for a moment: the
    // file system hears of the close after close() has returned. So a
    // refused dismount is tried again a few times before it is reported.
    for (int attempt = 1;; ++attempt) {
        std::uint32_t returned = 0;
        if (!DeviceIoControl(drive, IOCTL_FILEDISK_CLOSE_FILE, nullptr, 0, nullptr, 0, &returned,
                             nullptr)) {
            result.error = GetLastError();
            return false;
        }
        // The driver keeps the image while a file of the drive is open, and
        // refuses here; the drive then goes on working.
        if (DeviceIoControl(drive, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned,
                            nullptr))
            break;
        result.error = GetLastError();
        if (result.error != ERROR_BUSY || attempt == kDismountAttempts) {
            result.driveInUse = true;
            return false;
        }
        std::this_thread::sleep_for(kDismountRetryDelay);
    }
    result.error = ERROR_SUCCESS;
    return true;
}

// A drive the driver still shows under a letter that no longer points at it
// (the drive table edited or cleared by another program): the device that
// shows the letter is found by asking each one, and its image closed. The
// result is left as it came (ERROR_FILE_NOT_FOUND) when there is none.
DismountResult DismountUnboundDrive(char16_t letter, DismountResult result) {
    struct stat st {};
    std::string folder = RuntimeDir() + "/drives/" + std::string(1, static_cast<char>(letter));
    if (stat(folder.c_str(), &st) != 0)
        return result;
    for (DeviceFamily family : {DeviceFamily::Cd, DeviceFamily::Disk}) {
        for (unsigned n = 0; n < kDevicesPerFamily; ++n) {
            UniqueHandle drive(OpenDriverDevice(letter, ToUtf8(DeviceName(family, n))));
            if (!drive.valid())
                return result; // no driver to ask
            std::array<std::uint8_t, query::kBufferSize> out{};
            std::uint32_t returned = 0;
            if (!DeviceIoControl(drive.get(), IOCTL_FILEDISK_QUERY_FILE, nullptr, 0, out.data(),
                                 static_cast<std::uint32_t>(out.size()), &returned, nullptr) ||
                out[query::kDriveLetter] != letter)
                continue;
            DismountResult closed;
            closed.ok = CloseImage(drive.get(), closed);
            return closed;
        }
    }
    return result;
}

} // namespace

DismountResult DismountDrive(char16_t letter) {
    DismountResult result;
    letter = port::UpperLetter(letter);
    if (!IsLetter(letter)) {
        result.error = ERROR_INVALID_DRIVE;
        return result;
    }
    // The binding this dismount removes; a definition stacked on top of it
    // in the meantime stays.
    std::u16string device = FirstTarget(DosName(letter));
    UniqueHandle drive(OpenDrive(letter, GENERIC_READ | GENERIC_WRITE));
    if (!drive.valid()) {
        result.error = GetLastError();
        if (result.error == ERROR_FILE_NOT_FOUND)
            return DismountUnboundDrive(letter, result);
        // With no driver running no device holds an image: a binding left
        // from an earlier driver only blocks its letter, so it goes.
        if (result.error == ERROR_PATH_NOT_FOUND &&
            device.starts_with(std::u16string_view(kDevicePrefix)) &&
            RemoveBinding(letter, device)) {
            result.error = ERROR_SUCCESS;
            result.ok = true;
        }
        return result;
    }
    if (!CloseImage(drive.get(), result))
        return result;
    drive.reset();
    std::u16string name = DosName(letter);
    bool removed = device.empty() ? DefineDosDeviceW(DDD_REMOVE_DEFINITION, name.c_str(), nullptr)
                                  : RemoveBinding(letter, device);
    if (!removed) {
        result.error = GetLastError();
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace vdrive
