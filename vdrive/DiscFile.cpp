#include "vdrive/DiscFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vdrive {

bool Refuse(DiscFault& fault, port::ErrorCode code, const std::string& file, int line,
            const std::string& field, const std::string& detail) {
    fault = {code, file, line, field, detail};
    return false;
}

DiscFile::~DiscFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DiscFile::Open(const std::string& path, DiscFault& fault) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) {
        const int err = errno;
        return Refuse(fault, port::ErrorFromErrno(err), path, 0, std::string(),
                      "\"" + path + "\" cannot be read: " + std::strerror(err));
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return Refuse(fault, port::ERROR_INVALID_DATA, path, 0, std::string(),
                      "\"" + path + "\" is not a regular file");
    m_size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool DiscFile::Read(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (m_fd < 0 || offset > m_size || count > m_size - offset)
        return false;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(m_fd, out + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool RegularFileSize(const std::string& path, std::uint64_t& size) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool CheckTracksFit(const Disc& disc, DiscFault& fault) {
    if (disc.tracks.empty())
        return Refuse(fault, port::ERROR_INVALID_DATA, disc.descriptor, 0, "tracks",
                      "The image describes no track");
    for (const DiscTrack& t : disc.tracks) {
        const std::string field = "track " + std::to_string(t.number);
        std::uint64_t size = 0;
        if (!RegularFileSize(t.file, size))
            return Refuse(fault, port::ERROR_FILE_NOT_FOUND, t.file, 0, field,
                          "The file \"" + t.file + "\" of " + field + " was not found");
        const std::uint64_t stride = t.stride;
        if (t.sectors == 0 || t.offset > size || stride == 0 ||
            t.sectors > (size - t.offset) / stride)
            return Refuse(fault, port::ERROR_HANDLE_EOF, t.file, 0, field,
                          "The sectors of " + field + " lie past the end of \"" + t.file + "\"");
    }
    return true;
}

std::string WithExtension(const std::string& path, const std::string& extension) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + extension;
    return path.substr(0, dot) + extension;
}

std::uint64_t BigEndian(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

std::uint64_t LittleEndian(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace vdrive
