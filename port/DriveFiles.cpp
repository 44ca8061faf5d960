#include "port/DriveFiles.h"

#include "port/DosDevices.h"
#include "port/DriveLetter.h"
#include "port/DriverWire.h"
#include "port/FileDiskRecords.h"
#include "port/FileOps.h"
#include "port/LastError.h"
#include "port/Paths.h"
#include "port/Utf.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace port {

// Empty: a stand-in disc drive whose file does not exist (yet): a drive
// without a disc.
enum class HandleKind { File, Device, Directory, Driver, Empty };

struct HandleObject {
    HandleKind kind;
    int fd;
    int dataFd = -1; // a driver handle's image, opened on the first read
};

namespace {

constexpr std::u16string_view kDevicePathPrefix = u"\\\\.\\";
constexpr std::string_view kDriverTargetPrefix = "\\Device\\FileDisk\\";
// How long a driver may take to answer one request (loading a large image
// included) before the handle gives up.
constexpr int kDriverTimeoutSeconds = 120;

HANDLE MakeHandle(HandleKind kind, int fd) {
    return new HandleObject{kind, fd, -1};
}

bool Valid(HANDLE h) {
    return h && h != INVALID_HANDLE_VALUE;
}

HANDLE Fail(ErrorCode code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

HANDLE FailErrno() {
    FailWithErrno();
    return INVALID_HANDLE_VALUE;
}

int AccessFlags(std::uint32_t access) {
    bool w = access & GENERIC_WRITE;
    bool r = (access & GENERIC_READ) || !w;
    return r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
}

// Emulates share modes between Spindle's own handles: an open that shares
// nothing excludes every other, one that shares coexists with its kind.
bool LockForShare(int fd, std::uint32_t share) {
    int op = (share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) ? LOCK_SH : LOCK_EX;
    if (flock(fd, op | LOCK_NB) == 0)
        return true;
    return FailWith(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno));
}

HANDLE OpenHostFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition) {
    int flags = AccessFlags(access) | O_CLOEXEC;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Without waiting: a FIFO would block the open until someone writes to
    // it. Only files and block devices are opened; reads then wait as usual.
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0)
        return errno == EISDIR || errno == ENXIO ? Fail(ERROR_ACCESS_DENIED) : FailErrno();
    struct stat st {};
    int fl = -1;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) ||
        (fl = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!LockForShare(fd, share)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    // Truncate only once the lock is held, so a refused open changes nothing.
    if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) &&
        ftruncate(fd, 0) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return FailErrno();
    }
    return MakeHandle(S_ISBLK(st.st_mode) ? HandleKind::Device : HandleKind::File, fd);
}

HANDLE OpenDevice(const std::string& path, std::uint32_t access) {
    // Without O_NONBLOCK an optical drive with no disc refuses the open; a
    // drive stays a drive when empty.
    int fd = open(path.c_str(), AccessFlags(access) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (access & GENERIC_WRITE) && (errno == EROFS || errno == EACCES))
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FailErrno();
    // Reads then block normally.
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0)
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return MakeHandle(HandleKind::Device, fd);
}

bool SendMessage(int fd, const std::vector<std::uint8_t>& msg) {
    if (SendAll(fd, msg.data(), msg.size()))
        return true;
    return FailWith(errno != EPIPE && errno != ECONNRESET && errno != EMSGSIZE
                        ? ErrorFromErrno(errno)
                        : ERROR_BROKEN_PIPE);
}

// Receives one message; false with ERROR_BROKEN_PIPE when the driver went away.
bool ReceiveMessage(int fd, std::vector<std::uint8_t>& buf) {
    buf.resize(wire::kWireMaxMessage + 64);
    for (;;) {
        ssize_t n = recv(fd, buf.data(), buf.size(), MSG_TRUNC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return FailWith(ERROR_NOT_READY);
        if (n <= 0)
            return FailWith(ERROR_BROKEN_PIPE);
        if (static_cast<size_t>(n) > buf.size())
            return FailWith(ERROR_INVALID_DATA);
        buf.resize(static_cast<size_t>(n));
        return true;
    }
}

HANDLE OpenDrive(char16_t letter, std::uint32_t access) {
    std::string name = std::string(1, static_cast<char>(letter)) + ":";
    auto targets = DosDeviceTargets(name);
    if (!targets)
        return INVALID_HANDLE_VALUE; // ERROR_FILE_NOT_FOUND from the table
    const std::string& target = targets->front();
    if (target.starts_with(kDriverTargetPrefix))
        return OpenDriverDevice(letter, target);
    std::string path = target.starts_with("stdio:") ? target.substr(6) : target;
    struct stat st {};
    if (path.empty() || path.front() != '/')
        return Fail(ERROR_PATH_NOT_FOUND);
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && target.starts_with("stdio:")) {
            int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            return fd < 0 ? FailErrno() : MakeHandle(HandleKind::Empty, fd);
        }
        return FailErrno();
    }
    if (S_ISDIR(st.st_mode)) {
        int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return fd < 0 ? FailErrno() : MakeHandle(HandleKind::Directory, fd);
    }
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))
        return OpenDevice(path, access);
    // A stand-in disc the user may not write to is still a drive.
    HANDLE h = OpenHostFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE && (access & GENERIC_WRITE) &&
        (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_WRITE_PROTECT))
        h = OpenHostFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    return h;
}

bool DriverRequest(int fd, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* returned) {
    if (inSize > wire::kWireMaxMessage - 16 || (inSize && !in) || (outSize && !out))
        return FailWith(ERROR_INVALID_PARAMETER);
    wire::Request req;
    req.code = code;
    req.outCapacity = outSize;
    const auto* p = static_cast<const std::uint8_t*>(in);
    req.input.assign(p, p + inSize);
    std::vector<std::uint8_t> buf;
    if (!SendMessage(fd, wire::Encode(req)) || !ReceiveMessage(fd, buf))
        return false;
    auto reply = wire::DecodeReply(buf.data(), buf.size());
    if (!reply || reply->output.size() > outSize)
        return FailWith(ERROR_INVALID_DATA);
    if (reply->error != ERROR_SUCCESS)
        return FailWith(reply->error);
    if (!reply->output.empty())
        std::memcpy(out, reply->output.data(), reply->output.size());
    if (returned)
        *returned = static_cast<std::uint32_t>(reply->output.size());
    return true;
}

bool DeviceRequest(int fd, std::uint32_t code, void* out, std::uint32_t outSize,
                   std::uint32_t* returned) {
    switch (code) {
    case IOCTL_DISK_GET_LENGTH_INFO: {
        if (outSize < 8 || !out)
            return FailWith(ERROR_INSUFFICIENT_BUFFER);
        std::uint64_t size = 0;
        if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
            struct stat st {};
            if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
                return FailWithErrno();
            size = static_cast<std::uint64_t>(st.st_size);
        }
        std::memcpy(out, &size, 8);
        if (returned)
            *returned = 8;
        return true;
    }
    case IOCTL_STORAGE_CHECK_VERIFY: {
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
            return true; // a stand-in disc file is always there
        int status = ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
        if (status < 0)
            return FailWithErrno();
        return status == CDS_DISC_OK || FailWith(ERROR_NOT_READY);
    }
    case IOCTL_STORAGE_EJECT_MEDIA:
        if (ioctl(fd, CDROMEJECT, 0) != 0)
            return FailWithErrno();
        return true;
    case IOCTL_STORAGE_LOAD_MEDIA:
        if (ioctl(fd, CDROMCLOSETRAY, 0) != 0)
            return FailWithErrno();
        return true;
    default:
        return FailWith(ERROR_INVALID_FUNCTION);
    }
}

// The image a driver drive holds, opened read-only by the path the driver
// names: without waiting (a FIFO put there must not block the reader), and
// only while the path still names the very file the driver has open, since
// an image replaced by rename after the mount is another disc
// (ERROR_MEDIA_CHANGED). -1 with the last error set when there is none.
int OpenDriverImage(int sock) {
    std::vector<std::uint8_t> rec(vdrive::query::kBufferSize, 0);
    std::uint32_t got = 0;
    if (!DriverRequest(sock, vdrive::IOCTL_FILEDISK_QUERY_FILE, nullptr, 0, rec.data(),
                       static_cast<std::uint32_t>(rec.size()), &got)) {
        SetLastError(ERROR_NOT_READY);
        return -1;
    }
    std::uint8_t id[vdrive::file_id::kBufferSize] = {};
    if (!DriverRequest(sock, vdrive::IOCTL_FILEDISK_QUERY_FILE_ID, nullptr, 0, id, sizeof id, &got))
        return -1;
    if (got != sizeof id) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }
    auto u64 = [&](std::size_t at) {
        return wire::GetU32(id + at) | (std::uint64_t{wire::GetU32(id + at + 4)} << 32);
    };
    const int fd =
        open(QueriedImagePath(rec.data()).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        FailWithErrno();
        return -1;
    }
    struct stat st {};
    int fl = -1;
    if (fstat(fd, &st) != 0 || (fl = fcntl(fd, F_GETFL)) < 0 ||
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        FailWithErrno();
        close(fd);
        return -1;
    }
    if (static_cast<std::uint64_t>(st.st_dev) != u64(vdrive::file_id::kDevice) ||
        static_cast<std::uint64_t>(st.st_ino) != u64(vdrive::file_id::kInode)) {
        close(fd);
        SetLastError(ERROR_MEDIA_CHANGED);
        return -1;
    }
    return fd;
}

// The descriptor that reads and seeks of a handle use: the file or device,
// or for a driver drive the image it holds (read-only), found by asking the
// driver. -1 with the last error set when there is none.
int DataFd(HANDLE h) {
    if (!Valid(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    switch (h->kind) {
    case HandleKind::File:
    case HandleKind::Device:
        return h->fd;
    case HandleKind::Directory:
        SetLastError(ERROR_INVALID_FUNCTION);
        return -1;
    case HandleKind::Empty:
        SetLastError(ERROR_NOT_READY);
        return -1;
    case HandleKind::Driver:
        break;
    }
    if (h->dataFd < 0)
        h->dataFd = OpenDriverImage(h->fd);
    return h->dataFd;
}

} // namespace

bool DriverAnswers() {
    const std::string path = RuntimeDir() + "/" + wire::kSocketName;
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return false;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const auto hello = wire::Encode(wire::Hello{u'A', "\\Device\\FileDisk\\FileDiskCd0"});
    std::uint8_t buf[64];
    if (!SendAll(fd, hello.data(), hello.size()))
        return false;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 && wire::DecodeHelloReply(buf, static_cast<std::size_t>(n)).has_value();
}

HANDLE OpenDriverDevice(char16_t letter, const std::string& device) {
    // Only a driver in a private folder of this user is trusted with paths.
    std::string runtime;
    if (!PrivateRuntimeDir(runtime))
        return FailErrno();
    std::string sock = runtime + "/" + wire::kSocketName;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (sock.size() >= sizeof addr.sun_path)
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return FailErrno();
    timeval tv{kDriverTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        close(fd);
        // No socket, or nobody listening on it: the driver is not running.
        return Fail(err == ENOENT || err == ECONNREFUSED || err == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                                           : ErrorFromErrno(err));
    }
    std::vector<std::uint8_t> reply;
    if (!SendMessage(fd, wire::Encode(wire::Hello{letter, device})) || !ReceiveMessage(fd, reply)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    auto hello = wire::DecodeHelloReply(reply.data(), reply.size());
    ErrorCode err = hello ? hello->error : ERROR_INVALID_DATA;
    if (err != ERROR_SUCCESS) {
        close(fd);
        return Fail(err);
    }
    return MakeHandle(HandleKind::Driver, fd);
}

std::string QueriedImagePath(const std::uint8_t* record) {
    std::size_t len = std::min<std::size_t>(wire::GetU16(record + vdrive::query::kNameLength),
                                            vdrive::query::kNameCapacity);
    std::string name(reinterpret_cast<const char*>(record + vdrive::query::kName), len);
    name = name.c_str();
    if (name.starts_with("\\??\\"))
        name.erase(0, 4);
    return name;
}

std::u16string DrivePath(char16_t letter) {
    return std::u16string(kDevicePathPrefix) + letter + u':';
}

char16_t DriveLetterOfPath(std::u16string_view path) {
    if (path.size() != 6 || !path.starts_with(kDevicePathPrefix) || path[5] != u':')
        return 0;
    return ParseDriveLetter(path.substr(4));
}

HANDLE CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   void* securityAttributes, std::uint32_t creationDisposition,
                   std::uint32_t /*flags*/, HANDLE templateFile) {
    if (!fileName || securityAttributes || (templateFile && templateFile != INVALID_HANDLE_VALUE))
        return Fail(ERROR_INVALID_PARAMETER);
    std::u16string_view name(fileName, U16Length(fileName));
    if (name.starts_with(kDevicePathPrefix)) {
        char16_t letter = DriveLetterOfPath(name);
        if (!letter)
            return Fail(ERROR_FILE_NOT_FOUND);
        return OpenDrive(letter, desiredAccess);
    }
    if (name.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    return OpenHostFile(PathToUtf8(name), desiredAccess, shareMode, creationDisposition);
}

bool CloseHandle(HANDLE handle) {
    if (!Valid(handle))
        return FailWith(ERROR_INVALID_HANDLE);
    close(handle->fd);
    if (handle->dataFd >= 0)
        close(handle->dataFd);
    delete handle;
    return true;
}

bool DeviceIoControl(HANDLE handle, std::uint32_t code, const void* inBuffer, std::uint32_t inSize,
                     void* outBuffer, std::uint32_t outSize, std::uint32_t* bytesReturned,
                     void* overlapped) {
    if (bytesReturned)
        *bytesReturned = 0;
    if (!Valid(handle))
        return FailWith(ERROR_INVALID_HANDLE);
    if (overlapped)
        return FailWith(ERROR_INVALID_PARAMETER);
    switch (handle->kind) {
    case HandleKind::Driver:
        return DriverRequest(handle->fd, code, inBuffer, inSize, outBuffer, outSize, bytesReturned);
    case HandleKind::Device:
        return DeviceRequest(handle->fd, code, outBuffer, outSize, bytesReturned);
    case HandleKind::File:
        if (code == IOCTL_DISK_GET_LENGTH_INFO || code == IOCTL_STORAGE_CHECK_VERIFY)
            return DeviceRequest(handle->fd, code, outBuffer, outSize, bytesReturned);
        return FailWith(ERROR_INVALID_FUNCTION);
    case HandleKind::Directory:
        return FailWith(ERROR_INVALID_FUNCTION);
    case HandleKind::Empty:
        return FailWith(code == IOCTL_STORAGE_CHECK_VERIFY || code == IOCTL_DISK_GET_LENGTH_INFO
                            ? ERROR_NOT_READY
                            : ERROR_INVALID_FUNCTION);
    }
    return FailWith(ERROR_INVALID_FUNCTION);
}

int ReadDescriptor(HANDLE handle) {
    return DataFd(handle);
}

bool ReadFile(HANDLE handle, void* buffer, std::uint32_t size, std::uint32_t* read,
              void* overlapped) {
    if (read)
        *read = 0;
    int fd = DataFd(handle);
    if (fd < 0)
        return false;
    if (overlapped || (size && !buffer))
        return FailWith(ERROR_INVALID_PARAMETER);
    std::uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (read)
                *read = done;
            return FailWithErrno();
        }
        if (n == 0)
            break;
        done += static_cast<std::uint32_t>(n);
    }
    if (read)
        *read = done;
    return true;
}

bool WriteFile(HANDLE handle, const void* buffer, std::uint32_t size, std::uint32_t* written,
               void* overlapped) {
    if (written)
        *written = 0;
    if (Valid(handle) && handle->kind == HandleKind::Driver)
        return FailWith(ERROR_WRITE_PROTECT); // virtual drives are read-only
    int fd = DataFd(handle);
    if (fd < 0)
        return false;
    if (overlapped || (size && !buffer))
        return FailWith(ERROR_INVALID_PARAMETER);
    std::uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (written)
                *written = done;
            return n < 0 ? FailWithErrno() : FailWith(ERROR_WRITE_FAULT);
        }
        done += static_cast<std::uint32_t>(n);
    }
    if (written)
        *written = done;
    return true;
}

bool SetFilePointerEx(HANDLE handle, std::int64_t distance, std::int64_t* newPosition,
                      std::uint32_t method) {
    int fd = DataFd(handle);
    if (fd < 0)
        return false;
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0)
        return FailWith(ERROR_INVALID_PARAMETER);
    off_t pos = lseek(fd, static_cast<off_t>(distance), whence);
    if (pos < 0)
        return errno == EINVAL ? FailWith(ERROR_SEEK) : FailWithErrno();
    if (newPosition)
        *newPosition = pos;
    return true;
}

bool ReadsFile(HANDLE handle, const std::string& path, bool* same) {
    if (!same)
        return FailWith(ERROR_INVALID_PARAMETER);
    *same = false;
    const int fd = DataFd(handle);
    if (fd < 0)
        return false;
    struct stat data {};
    struct stat named {};
    if (fstat(fd, &data) != 0)
        return FailWithErrno();
    if (!S_ISREG(data.st_mode) && !S_ISBLK(data.st_mode))
        return FailWith(ERROR_ACCESS_DENIED);
    if (stat(path.c_str(), &named) != 0)
        return true; // names nothing (or nothing this process may see)
    // Two nodes of one device are the same disc.
    *same = S_ISBLK(data.st_mode) ? S_ISBLK(named.st_mode) && named.st_rdev == data.st_rdev
                                  : named.st_dev == data.st_dev && named.st_ino == data.st_ino;
    return true;
}

bool GetFileSizeEx(HANDLE handle, std::int64_t* size) {
    int fd = DataFd(handle);
    if (fd < 0)
        return false;
    if (!size)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
        *size = static_cast<std::int64_t>(bytes);
        return true;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return FailWithErrno();
    *size = st.st_size;
    return true;
}

void UniqueHandle::reset(HANDLE h) {
    if (valid())
        CloseHandle(m_h);
    m_h = h;
}

} // namespace port
