// Files and drives opened the way CreateFileW opens them.
//
// A drive path "\\.\K:" opens what K:'s first target in the DOS device table
// names:
//   \Device\FileDisk\...  a connection to spindle-driver's device (its socket
//                          in the runtime folder); no driver gives
//                          ERROR_PATH_NOT_FOUND, a refused Hello its error
//   /dev/...              the device itself (opened without waiting for media)
//   stdio:PATH, a file    that file (a missing stdio: file: a drive with no disc)
//   a directory           a handle that only exists (so probes see a drive)
//   undefined             ERROR_FILE_NOT_FOUND
// Any other path is a host file; share modes are kept between Spindle's own
// handles with flock (share 0 takes the lock exclusively).
#pragma once

#include "port/Errors.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace port {

struct HandleObject;
using HANDLE = HandleObject*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

inline constexpr std::uint32_t GENERIC_READ = 0x80000000;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000;
inline constexpr std::uint32_t FILE_SHARE_READ = 0x1;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr std::uint32_t CREATE_NEW = 1;
inline constexpr std::uint32_t CREATE_ALWAYS = 2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;
inline constexpr std::uint32_t OPEN_ALWAYS = 4;
inline constexpr std::uint32_t TRUNCATE_EXISTING = 5;
inline constexpr std::uint32_t FILE_FLAG_NO_BUFFERING = 0x20000000;
inline constexpr std::uint32_t FILE_BEGIN = 0;
inline constexpr std::uint32_t FILE_CURRENT = 1;
inline constexpr std::uint32_t FILE_END = 2;

// Control codes a real optical device answers.
inline constexpr std::uint32_t IOCTL_DISK_GET_LENGTH_INFO = 0x0007405C; // out: int64
inline constexpr std::uint32_t IOCTL_STORAGE_CHECK_VERIFY = 0x002D4800; // fails 21 without a disc
inline constexpr std::uint32_t IOCTL_STORAGE_EJECT_MEDIA = 0x002D4808;
inline constexpr std::uint32_t IOCTL_STORAGE_LOAD_MEDIA = 0x002D480C;

// "\\.\K:" for a letter.
std::u16string DrivePath(char16_t letter);
// The upper-case letter of a drive path "\\.\K:" (any case), or 0.
char16_t DriveLetterOfPath(std::u16string_view path);

// The host path of the image a driver's query reply names (a record of
// vdrive::query::kBufferSize bytes), without its "\??\" prefix.
std::string QueriedImagePath(const std::uint8_t* record);

// True when a spindle-driver answers a hello on this runtime folder's
// socket (within five seconds).
bool DriverAnswers();

// A connection to spindle-driver's device `device` ("\Device\FileDisk\...")
// introduced as drive `letter`, without the drive table (a drive path opens
// one through its letter's binding). Errors as for a drive path.
HANDLE OpenDriverDevice(char16_t letter, const std::string& device);

// Security attributes and template are accepted for the shape of the call
// and must be null.
HANDLE CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   void* securityAttributes, std::uint32_t creationDisposition, std::uint32_t flags,
                   HANDLE templateFile);
bool CloseHandle(HANDLE handle);

// On a driver handle: sends the code and input, receives at most outSize
// bytes. On a device: the Linux equivalent of the codes above, else
// ERROR_INVALID_FUNCTION. `overlapped` must be null.
bool DeviceIoControl(HANDLE handle, std::uint32_t code, const void* inBuffer, std::uint32_t inSize,
                     void* outBuffer, std::uint32_t outSize, std::uint32_t* bytesReturned,
                     void* overlapped);

// Sequential reads and writes on file and device handles. A driver drive
// reads the image it holds (so a virtual disc copies like a real one) and
// refuses writes with ERROR_WRITE_PROTECT.
bool ReadFile(HANDLE handle, void* buffer, std::uint32_t size, std::uint32_t* read,
              void* overlapped);
bool WriteFile(HANDLE handle, const void* buffer, std::uint32_t size, std::uint32_t* written,
               void* overlapped);
// The descriptor ReadFile reads from: the file, the device, or the image a
// driver drive holds; -1 with the last error set when there is none.
int ReadDescriptor(HANDLE handle);
bool SetFilePointerEx(HANDLE handle, std::int64_t distance, std::int64_t* newPosition,
                      std::uint32_t method);
bool GetFileSizeEx(HANDLE handle, std::int64_t* size);

// Whether `path` names the file or device a handle reads: for a drive its
// stand-in file, its device, or the image its driver holds (a driver drive
// whose image path now names another file fails with ERROR_MEDIA_CHANGED).
// What the handle reads is opened first, as a read would open it; false, with
// the last error set, when that fails or it is neither a regular file nor a
// block device (ERROR_ACCESS_DENIED). A path that names nothing is not it.
bool ReadsFile(HANDLE handle, const std::string& path, bool* same);

// Closes the handle it holds when it goes out of scope.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE);

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

} // namespace port
