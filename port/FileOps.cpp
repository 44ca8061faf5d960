#include "port/FileOps.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

namespace {

// Closes fd keeping errno, and returns false (for failure paths).
bool CloseFailed(int fd) {
    int err = errno;
    close(fd);
    errno = err;
    return false;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         int openFlags) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | openFlags);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        CloseFailed(fd);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : (S_ISREG(st.st_mode) ? EFBIG : EINVAL);
        return std::nullopt;
    }
    std::string data;
    data.reserve(static_cast<std::size_t>(st.st_size));
    char buf[16384];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            CloseFailed(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        // A file that grows while it is read is still held to the bound.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
            close(fd);
            errno = EFBIG;
            return std::nullopt;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return data;
}

std::string ReadFailureText(int err, std::size_t maxBytes) {
    if (err == EINVAL || err == EISDIR)
        return "it is not a regular file";
    if (err == EFBIG)
        return "it is larger than " + std::to_string(maxBytes) + " bytes";
    return std::strerror(err);
}

bool ReadAll(int fd, void* buffer, std::size_t size, std::size_t& done, std::int64_t offset) {
    char* p = static_cast<char*>(buffer);
    done = 0;
    while (done < size) {
        const ssize_t n = offset < 0
                              ? read(fd, p + done, size - done)
                              : pread(fd, p + done, size - done,
                                      static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool SendAll(int fd, const void* data, std::size_t n) {
    for (;;) {
        ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0)
            return false;
        if (static_cast<std::size_t>(sent) != n) {
            errno = EMSGSIZE;
            return false;
        }
        return true;
    }
}

bool ReplaceFile(const std::string& path, std::string_view data, unsigned mode) {
    // A hidden name beside the file, so that a listing of the folder passes
    // over it.
    static std::atomic<unsigned> counter{0};
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string temp = dir + "." + path.substr(dir.size()) + ".tmp." + std::to_string(getpid()) +
                       "." + std::to_string(counter.fetch_add(1));
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    auto fail = [&] {
        int err = errno ? errno : EIO;
        close(fd);
        unlink(temp.c_str());
        errno = err;
        return false;
    };
    // A private file stays private, a shared one shared.
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && fchmod(fd, old.st_mode & 07777) != 0)
        return fail();
    if (!WriteAll(fd, data.data(), data.size()))
        return fail();
    if (close(fd) != 0) {
        int err = errno;
        unlink(temp.c_str());
        errno = err;
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(temp.c_str());
        errno = err;
        return false;
    }
    return true;
}

FileLock::FileLock(const std::string& path)
    : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
    if (m_fd >= 0) {
        while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        close(m_fd); // releases the lock
}

} // namespace port
