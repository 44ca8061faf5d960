// The image file a disc copy writes: created anew (never an existing file),
// opened for writing only and shared with nobody. Chunks of zeros are not written but passed
// over, so the file stays sparse there; Finish gives it its full length.
#pragma once

#include "port/DriveFiles.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

class CImageWriter {
public:
    // Null, with the last error set, when the file cannot be created or
    // already exists.
    static std::unique_ptr<CImageWriter> Create(const std::u16string& path);

    // Appends size bytes. False, with the last error set, when the write (or
    // the seek over zeros passed by before it) fails.
    bool Write(const char* data, std::uint32_t size);
    // Makes the file as long as everything appended, zeros at the end
    // included. False, with the last error set, when that fails.
    bool Finish();

private:
    explicit CImageWriter(port::HANDLE file) : m_file(file) {}
    bool Skip();

    port::UniqueHandle m_file;
    std::int64_t m_pendingZeros = 0;
};

} // namespace engine
