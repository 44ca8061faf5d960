#include "port/SectorRead.h"

#include "port/FileOps.h"
#include "port/LastError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

namespace {

// Reads until `size` bytes, the end, or an error; errno tells the error.
bool PreadAll(int fd, std::int64_t offset, char* buffer, std::uint32_t size, std::uint32_t& done) {
    std::size_t got = 0;
    const bool ok = ReadAll(fd, buffer, size, got, offset);
    done = static_cast<std::uint32_t>(got);
    return ok;
}

// Reads with O_DIRECT set on the descriptor for this read only. False with
// errno EINVAL when the device or the alignment does not allow it.
bool DirectRead(int fd, std::int64_t offset, char* buffer, std::uint32_t size,
                std::uint32_t& done) {
    done = 0;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) {
        errno = EINVAL;
        return false;
    }
    const bool ok = PreadAll(fd, offset, buffer, size, done);
    const int err = errno;
    ::fcntl(fd, F_SETFL, flags);
    errno = err;
    return ok;
}

} // namespace

bool ReadSectorsAt(HANDLE handle, std::int64_t offset, void* buffer, std::uint32_t size,
                   std::uint32_t* read) {
    std::uint32_t done = 0;
    if (read)
        *read = 0;
    const int fd = ReadDescriptor(handle);
    if (fd < 0)
        return false;
    if (offset < 0 || (size && !buffer))
        return FailWith(ERROR_INVALID_PARAMETER);
    char* out = static_cast<char*>(buffer);
    struct stat st {};
    bool ok = false;
    if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
        ok = DirectRead(fd, offset, out, size, done);
        if (!ok && errno == EINVAL && done == 0)
            ok = PreadAll(fd, offset, out, size, done);
    } else {
        ok = PreadAll(fd, offset, out, size, done);
    }
    if (read)
        *read = done;
    return ok || FailWithErrno();
}

} // namespace port
