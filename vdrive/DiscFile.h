// What the disc image readers share: a refusal filled in one call, bounded
// reads of a binary descriptor, and the check that every track lies whole
// inside its file.
#pragma once

#include "vdrive/DiscImage.h"

#include <cstdint>
#include <string>

namespace vdrive {

// Fills `fault` and gives false, so a reader can `return Refuse(...)`.
bool Refuse(DiscFault& fault, port::ErrorCode code, const std::string& file, int line,
            const std::string& field, const std::string& detail);

// A file opened for reading whose size is taken once: every read outside it
// fails instead of reading short.
class DiscFile {
public:
    DiscFile() = default;
    ~DiscFile();
    DiscFile(const DiscFile&) = delete;
    DiscFile& operator=(const DiscFile&) = delete;

    // False, with `fault` naming the path, when it is not a readable regular file.
    bool Open(const std::string& path, DiscFault& fault);
    std::uint64_t Size() const { return m_size; }
    // Reads `count` bytes at `offset`; false when they are not all in the file.
    bool Read(std::uint64_t offset, void* buffer, std::size_t count) const;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// Size of the regular file at path; false when it is missing or not regular.
bool RegularFileSize(const std::string& path, std::uint64_t& size);

// Each track's sectors lie whole in its file, which exists.
bool CheckTracksFit(const Disc& disc, DiscFault& fault);

// The path with its extension (from the last dot of its name) replaced.
std::string WithExtension(const std::string& path, const std::string& extension);

// Big- and little-endian numbers at p.
std::uint64_t BigEndian(const unsigned char* p, int bytes);
std::uint64_t LittleEndian(const unsigned char* p, int bytes);

} // namespace vdrive
