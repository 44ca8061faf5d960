#include "vdrive/TextFile.h"

#include "port/FileOps.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vdrive {

namespace {

bool Refuse(DiscFault& fault, port::ErrorCode code, const std::string& path, std::string detail) {
    fault = {code, path, 0, std::string(), std::move(detail)};
    return false;
}

// Reads up to `want` bytes; false on a read error (errno set).
bool ReadUpTo(int fd, std::string& text, std::size_t want) {
    text.assign(want, '\0');
    std::size_t got = 0;
    const bool ok = port::ReadAll(fd, text.data(), want, got);
    text.resize(got);
    return ok;
}

} // namespace

bool ReadSmallTextFile(const std::string& path, const std::string& kind, std::string& text,
                       DiscFault& fault) {
    constexpr std::int64_t kMaxBytes = 1 << 20;
    // Type and size come first, from the open file itself. O_NONBLOCK keeps
    // the open of a FIFO from waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        return Refuse(fault, port::ErrorFromErrno(err), path,
                      "The " + kind + " \"" + path + "\" cannot be read: " + std::strerror(err));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Refuse(fault, port::ERROR_INVALID_DATA, path,
                      "\"" + path + "\" is not a " + kind + " (it is not a regular file)");
    }
    if (st.st_size > kMaxBytes) {
        ::close(fd);
        return Refuse(fault, port::ERROR_INVALID_DATA, path,
                      "\"" + path + "\" is too large to be a " + kind);
    }
    // One byte more than the size: a file that grows meanwhile is refused.
    const bool read = ReadUpTo(fd, text, static_cast<std::size_t>(st.st_size) + 1);
    const int err = errno;
    ::close(fd);
    if (!read)
        return Refuse(fault, port::ErrorFromErrno(err), path,
                      "The " + kind + " \"" + path + "\" cannot be read: " + std::strerror(err));
    if (text.size() > static_cast<std::size_t>(st.st_size))
        return Refuse(fault, port::ERROR_INVALID_DATA, path,
                      "The " + kind + " \"" + path + "\" changed while it was read");
    if (text.find('\0') != std::string::npos)
        return Refuse(fault, port::ERROR_INVALID_DATA, path,
                      "\"" + path + "\" is not a " + kind + " (it holds binary data)");
    return true;
}

} // namespace vdrive
