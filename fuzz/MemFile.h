// An in-memory file with a path, for code under test that opens paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

class MemFile {
public:
    MemFile() : m_fd(memfd_create("fuzz-input", MFD_CLOEXEC)) {}
    ~MemFile() { close(m_fd); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    // Replaces the content; false when the file could not take it.
    bool Set(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(m_fd, 0) != 0)
            return false;
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};
