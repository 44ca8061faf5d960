// Small file operations used all over: reading a whole file, writing or
// sending a buffer whole, replacing a file by rename, and holding a lock
// file. All of them retry on EINTR and report failure through errno.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace port {

// Largest file ReadWholeFile reads unless told otherwise: settings, lists
// and language files are a few KiB to a few dozen.
inline constexpr std::size_t kMaxSettingsFileBytes = 16u << 20;

// The whole file, for settings, profiles, lists and other small files a user
// or another program may have put there. The file is opened without blocking
// (a FIFO or a device never holds the caller) and only a regular file is
// read. Nothing (errno set) when it cannot be opened or read to its end, is
// no regular file (EISDIR for a folder, EINVAL for anything else) or is
// larger than maxBytes (EFBIG, told by its size before anything is read).
// `openFlags` are added to O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY
// (O_NOFOLLOW for a file in the runtime folder).
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t maxBytes = kMaxSettingsFileBytes,
                                         int openFlags = 0);

// What a failed ReadWholeFile's errno means, as a phrase: "it is not a
// regular file" for EINVAL and EISDIR, "it is larger than N bytes" for EFBIG,
// else the system's text.
std::string ReadFailureText(int err, std::size_t maxBytes = kMaxSettingsFileBytes);

// Reads until `size` bytes arrived, the end of the file, or an error: at
// `offset` (pread) or, when it is negative, from the file position (read).
// `done` says how many bytes arrived. False with errno set on an error.
bool ReadAll(int fd, void* buffer, std::size_t size, std::size_t& done, std::int64_t offset = -1);

// Writes n bytes, however many write() calls it takes. False with errno set.
bool WriteAll(int fd, const void* data, std::size_t n);

// Sends one message whole on a socket without raising SIGPIPE. False with
// errno set (EMSGSIZE when only part of it went).
bool SendAll(int fd, const void* data, std::size_t n);

// Replaces `path` with `data`: written to a new file beside it (never through
// a link) and renamed over it, so a reader sees the old or the new contents,
// never part of them. The new file keeps the permissions of the one it
// replaces, else gets `mode` (less the umask). False with errno set.
bool ReplaceFile(const std::string& path, std::string_view data, unsigned mode = 0666);

// Holds an exclusive lock on a lock file (created 0600 when missing, never
// opened through a link) while it lives.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // False (errno set) when the lock file could not be opened.
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace port
