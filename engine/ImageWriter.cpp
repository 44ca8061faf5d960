#include "engine/ImageWriter.h"

#include <cstring>

namespace engine {

namespace {

bool AllZero(const char* data, std::uint32_t size) {
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

} // namespace

std::unique_ptr<CImageWriter> CImageWriter::Create(const std::u16string& path) {
    port::HANDLE file = port::CreateFileW(path.c_str(), port::GENERIC_WRITE, 0, nullptr,
                                          port::CREATE_NEW, 0, nullptr);
    if (file == port::INVALID_HANDLE_VALUE)
        return nullptr;
    return std::unique_ptr<CImageWriter>(new CImageWriter(file));
}

bool CImageWriter::Skip() {
    if (m_pendingZeros == 0)
        return true;
    if (!port::SetFilePointerEx(m_file.get(), m_pendingZeros, nullptr, port::FILE_CURRENT))
        return false;
    m_pendingZeros = 0;
    return true;
}

bool CImageWriter::Write(const char* data, std::uint32_t size) {
    if (AllZero(data, size)) {
        m_pendingZeros += size;
        return true;
    }
    std::uint32_t written = 0;
    return Skip() && port::WriteFile(m_file.get(), data, size, &written, nullptr);
}

bool CImageWriter::Finish() {
    if (m_pendingZeros == 0)
        return true;
    // Writing the last zero byte itself sets the length.
    m_pendingZeros -= 1;
    const char zero = 0;
    std::uint32_t written = 0;
    return Skip() && port::WriteFile(m_file.get(), &zero, 1, &written, nullptr);
}

} // namespace engine
