#include "port/DriveInfo.h"
#include "port/IsoDescriptor.h"

#include "port/DosDevices.h"
#include "port/DriveFiles.h"
#include "port/DriveLetter.h"
#include "port/DriverWire.h"
#include "port/FileDiskRecords.h"
#include "port/LastError.h"
#include "port/Utf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace port {

namespace {

enum class Target { None, FileDiskCd, FileDisk, Device, File, Directory, Missing };

struct Resolved {
    Target kind = Target::None;
    std::string path;     // host path for Device, File, Directory
    bool block = false;   // a Device that is a block device
    bool optical = false; // ... and an optical drive
};

// Block major of SCSI CD-ROM drives (/dev/srN).
constexpr unsigned kOpticalMajor = 11;

constexpr std::string_view kCdPrefix = "\\Device\\FileDisk\\FileDiskCd";
constexpr std::string_view kDiskPrefix = "\\Device\\FileDisk\\";

Resolved Resolve(char16_t letter) {
    Resolved r;
    if (!letter)
        return r;
    std::string target = FirstDosDeviceTarget(std::string(1, static_cast<char>(letter)) + ":");
    if (target.empty())
        return r;
    if (target.starts_with(kCdPrefix)) {
        r.kind = Target::FileDiskCd;
        return r;
    }
    if (target.starts_with(kDiskPrefix)) {
        r.kind = Target::FileDisk;
        return r;
    }
    r.path = target.starts_with("stdio:") ? target.substr(6) : target;
    struct stat st {};
    if (r.path.empty() || r.path.front() != '/' || stat(r.path.c_str(), &st) != 0)
        r.kind = target.starts_with("stdio:") ? Target::File : Target::Missing;
    else if (S_ISDIR(st.st_mode))
        r.kind = Target::Directory;
    else if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
        r.kind = Target::Device;
        r.block = S_ISBLK(st.st_mode);
        r.optical = r.block && major(st.st_rdev) == kOpticalMajor;
    } else
        r.kind = Target::File;
    return r;
}

// What an ISO 9660 volume says about itself.
struct IsoVolume {
    std::u16string label;
    std::uint64_t size = 0;
    std::uint32_t serial = 0;
};

bool ReadAt(int fd, std::uint8_t* buf, size_t n, off_t offset) {
    size_t done = 0;
    while (done < n) {
        ssize_t got = pread(fd, buf + done, n - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

std::u16string TrimRight(std::u16string s) {
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\0'))
        s.pop_back();
    return s;
}

std::optional<IsoVolume> ReadIsoVolume(int fd) {
    std::array<std::uint8_t, iso::kSectorSize> pvd{};
    auto read = [fd](std::uint32_t sector, std::uint8_t* buf) {
        return ReadAt(fd, buf, iso::kSectorSize, static_cast<off_t>(sector) * iso::kSectorSize);
    };
    if (!read(iso::kPrimarySector, pvd.data()) ||
        !iso::IsDescriptor(pvd.data(), iso::kTypePrimary)) {
        SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return std::nullopt;
    }
    IsoVolume v;
    std::string id(reinterpret_cast<const char*>(pvd.data() + iso::kIdOffset), iso::kIdSize);
    v.label = TrimRight(ToUtf16(id.c_str()));
    std::uint32_t blocks = wire::GetU32(pvd.data() + 80);
    std::uint16_t blockSize = wire::GetU16(pvd.data() + 128);
    v.size = static_cast<std::uint64_t>(blocks) * (blockSize ? blockSize : 2048);
    std::uint32_t hash = 2166136261u;
    for (std::uint8_t b : pvd)
        hash = (hash ^ b) * 16777619u;
    v.serial = hash;
    // A Joliet descriptor carries the label as UTF-16 big-endian.
    std::array<std::uint8_t, iso::kSectorSize> svd{};
    if (iso::FindJoliet(read, svd.data(), true)) {
        std::u16string joliet = TrimRight(iso::JolietIdentifier(svd.data()));
        if (!joliet.empty())
            v.label = joliet;
    }
    return v;
}

std::optional<IsoVolume> ReadIsoVolumeAt(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A stand-in disc whose file is gone is an empty drive.
        if (errno == ENOENT || errno == ENOMEDIUM)
            SetLastError(ERROR_NOT_READY);
        else
            FailWithErrno();
        return std::nullopt;
    }
    auto v = ReadIsoVolume(fd);
    if (!v && errno == ENOMEDIUM)
        SetLastError(ERROR_NOT_READY);
    close(fd);
    return v;
}

// Asks the driver which image the letter's device holds: path and size.
std::optional<std::pair<std::string, std::uint64_t>> QueryDriverImage(char16_t letter) {
    UniqueHandle h(CreateFileW(DrivePath(letter).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr));
    if (!h.valid())
        return std::nullopt;
    std::array<std::uint8_t, vdrive::query::kBufferSize> out{};
    std::uint32_t got = 0;
    if (!DeviceIoControl(h.get(), vdrive::IOCTL_FILEDISK_QUERY_FILE, nullptr, 0, out.data(),
                         static_cast<std::uint32_t>(out.size()), &got, nullptr)) {
        SetLastError(ERROR_NOT_READY);
        return std::nullopt;
    }
    std::uint64_t size = 0;
    std::memcpy(&size, out.data(), 8);
    return std::make_pair(QueriedImagePath(out.data()), size);
}

// Whether the optical drive at `path` holds a disc it can read; false with
// ERROR_NOT_READY when not (no disc, tray open, drive not ready yet).
bool OpticalDiscPresent(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FailWithErrno();
    const int status = ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    const int err = errno;
    close(fd);
    // A drive that cannot say is asked for its size as before.
    if (status < 0)
        return err == ENOMEDIUM ? FailWith(ERROR_NOT_READY) : true;
    return status == CDS_DISC_OK || status == CDS_NO_INFO || FailWith(ERROR_NOT_READY);
}

bool StoreName(const std::u16string& name, char16_t* buf, std::uint32_t size) {
    if (!buf)
        return true;
    if (name.size() + 1 > size)
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    std::copy(name.begin(), name.end(), buf);
    buf[name.size()] = u'\0';
    return true;
}

void Put(std::uint64_t* p, std::uint64_t v) {
    if (p)
        *p = v;
}

} // namespace

char16_t DriveLetterOfRoot(const char16_t* root) {
    if (!root)
        return 0;
    // A root names its colon: "K" alone is no root.
    std::u16string_view r(root, U16Length(root, 4));
    return r.size() >= 2 ? ParseDriveLetter(r) : 0;
}

std::uint32_t GetDriveTypeW(const char16_t* rootPathName) {
    Resolved r = Resolve(DriveLetterOfRoot(rootPathName));
    switch (r.kind) {
    case Target::Device:
        return r.optical ? DRIVE_CDROM : r.block ? DRIVE_FIXED : DRIVE_UNKNOWN;
    case Target::FileDiskCd:
    case Target::File:
        return DRIVE_CDROM;
    case Target::FileDisk:
    case Target::Directory:
        return DRIVE_FIXED;
    case Target::Missing:
    case Target::None:
        break;
    }
    return DRIVE_NO_ROOT_DIR;
}

bool GetVolumeInformationW(const char16_t* rootPathName, char16_t* volumeNameBuffer,
                           std::uint32_t volumeNameSize, std::uint32_t* serialNumber,
                           std::uint32_t* maxComponentLength, std::uint32_t* fileSystemFlags,
                           char16_t* fileSystemNameBuffer, std::uint32_t fileSystemNameSize) {
    char16_t letter = DriveLetterOfRoot(rootPathName);
    Resolved r = Resolve(letter);
    std::optional<IsoVolume> iso;
    std::u16string fsName = u"CDFS";
    std::uint32_t flags = FILE_READ_ONLY_VOLUME | FILE_UNICODE_ON_DISK | FILE_CASE_PRESERVED_NAMES;
    switch (r.kind) {
    case Target::None:
    case Target::Missing:
        return FailWith(r.kind == Target::None ? ERROR_INVALID_DRIVE : ERROR_PATH_NOT_FOUND);
    case Target::FileDiskCd:
    case Target::FileDisk: {
        auto image = QueryDriverImage(letter);
        if (!image)
            return false;
        iso = ReadIsoVolumeAt(image->first);
        break;
    }
    case Target::Device:
    case Target::File:
        iso = ReadIsoVolumeAt(r.path);
        break;
    case Target::Directory: {
        struct statvfs sv {};
        if (statvfs(r.path.c_str(), &sv) != 0)
            return FailWithErrno();
        iso = IsoVolume{u"", 0, static_cast<std::uint32_t>(sv.f_fsid)};
        fsName = u"POSIX";
        flags = FILE_UNICODE_ON_DISK | FILE_CASE_PRESERVED_NAMES | 0x1 /* case-sensitive */;
        if (sv.f_flag & ST_RDONLY)
            flags |= FILE_READ_ONLY_VOLUME;
        break;
    }
    }
    if (!iso)
        return false;
    if (!StoreName(iso->label, volumeNameBuffer, volumeNameSize) ||
        !StoreName(fsName, fileSystemNameBuffer, fileSystemNameSize))
        return false;
    if (serialNumber)
        *serialNumber = iso->serial;
    if (maxComponentLength)
        *maxComponentLength = 255;
    if (fileSystemFlags)
        *fileSystemFlags = flags;
    return true;
}

bool GetDiskFreeSpaceExW(const char16_t* directoryName, std::uint64_t* freeBytesAvailable,
                         std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) {
    char16_t letter = DriveLetterOfRoot(directoryName);
    Resolved r = Resolve(letter);
    std::uint64_t total = 0;
    switch (r.kind) {
    case Target::None:
    case Target::Missing:
        return FailWith(r.kind == Target::None ? ERROR_INVALID_DRIVE : ERROR_PATH_NOT_FOUND);
    case Target::FileDiskCd:
    case Target::FileDisk: {
        auto image = QueryDriverImage(letter);
        if (!image)
            return false;
        total = image->second;
        struct stat st {};
        if (total == 0 && stat(image->first.c_str(), &st) == 0)
            total = static_cast<std::uint64_t>(st.st_size);
        break;
    }
    case Target::Device: {
        // An optical drive without a disc (or with its tray open) has no
        // size: the kernel reports a made-up capacity of about 1 GiB there.
        if (r.optical && !OpticalDiscPresent(r.path))
            return false;
        // A disc's size is that of its volume when it holds one; else the
        // medium's capacity.
        if (auto iso = ReadIsoVolumeAt(r.path); iso && iso->size) {
            total = iso->size;
            break;
        }
        int fd = open(r.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return FailWithErrno();
        int rc = ioctl(fd, BLKGETSIZE64, &total);
        int err = errno;
        close(fd);
        if (rc != 0 || total == 0)
            return FailWith(rc != 0 && err != ENOMEDIUM ? ErrorFromErrno(err) : ERROR_NOT_READY);
        break;
    }
    case Target::File: {
        struct stat st {};
        if (stat(r.path.c_str(), &st) != 0)
            return errno == ENOENT ? FailWith(ERROR_NOT_READY) : FailWithErrno();
        total = static_cast<std::uint64_t>(st.st_size);
        break;
    }
    case Target::Directory: {
        struct statvfs sv {};
        if (statvfs(r.path.c_str(), &sv) != 0)
            return FailWithErrno();
        Put(totalBytes, static_cast<std::uint64_t>(sv.f_blocks) * sv.f_frsize);
        Put(freeBytesAvailable, static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize);
        Put(totalFreeBytes, static_cast<std::uint64_t>(sv.f_bfree) * sv.f_frsize);
        return true;
    }
    }
    Put(totalBytes, total);
    Put(freeBytesAvailable, 0);
    Put(totalFreeBytes, 0);
    return true;
}

namespace {

// A padded field: up to its first zero byte, without blanks at either end.
std::u16string Unpadded(std::string_view field) {
    field = field.substr(0, field.find('\0'));
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    field = field.substr(first, field.find_last_not_of(' ') - first + 1);
    std::u16string text;
    for (char c : field)
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    return text;
}

} // namespace

std::u16string DriveListName(char16_t letter, std::string_view vendor, std::string_view product) {
    std::u16string name{letter, u':'};
    for (const std::u16string& part : {Unpadded(vendor), Unpadded(product)})
        if (!part.empty())
            name += u' ' + part;
    return name;
}

} // namespace port
