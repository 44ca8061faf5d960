#include "driver/Records.h"

#include "port/FileDiskRecords.h"
#include "port/Utf.h"

#include <algorithm>

namespace driver {

using namespace port;

namespace {

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(U16(p)) | (static_cast<std::uint32_t>(U16(p + 2)) << 16);
}

std::int64_t I64(const std::uint8_t* p) {
    std::uint64_t v = U32(p) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
    return static_cast<std::int64_t>(v);
}

// UTF-16 to the path's bytes, refusing zero units and unpaired surrogates
// other than the escaped bytes of a name that is not UTF-8.
bool Utf16ToUtf8Strict(const std::u16string& in, std::string& out) {
    for (size_t i = 0; i < in.size(); ++i) {
        char16_t c = in[i];
        if (c == 0)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF && !IsEscapedByte(c)) {
            return false;
        }
    }
    out = PathToUtf8(in);
    return true;
}

} // namespace

bool IsValidUtf8(std::string_view s) {
    // Anything the converter had to repair does not survive the round trip.
    return ToUtf8(ToUtf16(s)) == s;
}

ErrorCode ParseAttachRecordW(std::span<const std::uint8_t> in, AttachRequest& out) {
    namespace w = vdrive::attach_w;
    if (in.size() < w::SentSize(0))
        return ERROR_BAD_LENGTH;
    if (in.size() > w::kBufferSize)
        return ERROR_BAD_LENGTH;
    const std::uint32_t units = U32(in.data() + w::kNameLength);
    if (units >= w::kNameCapacity)
        return ERROR_INVALID_PARAMETER;
    if (in.size() != w::SentSize(units))
        return ERROR_INVALID_PARAMETER;
    std::u16string name(units, u'\0');
    for (std::uint32_t i = 0; i < units; ++i)
        name[i] = static_cast<char16_t>(U16(in.data() + w::kName + 2 * i));
    if (U16(in.data() + w::kName + 2 * units) != 0)
        return ERROR_INVALID_PARAMETER; // terminator missing
    if (units == 0)
        return ERROR_INVALID_NAME;
    AttachRequest r;
    if (!Utf16ToUtf8Strict(name, r.ntName))
        return ERROR_INVALID_NAME;
    r.fileSize = I64(in.data() + w::kFileSize);
    r.readOnly = in[w::kReadOnly] != 0;
    out = std::move(r);
    return ERROR_SUCCESS;
}

ErrorCode ParseAttachRecord(std::span<const std::uint8_t> in, AttachRequest& out) {
    namespace a = vdrive::attach;
    if (in.size() < a::SentSize(0))
        return ERROR_BAD_LENGTH;
    if (in.size() > a::kBufferSize)
        return ERROR_BAD_LENGTH;
    const std::uint16_t bytes = U16(in.data() + a::kNameLength);
    if (bytes > a::kNameCapacity)
        return ERROR_INVALID_PARAMETER;
    if (in.size() != a::SentSize(bytes))
        return ERROR_INVALID_PARAMETER;
    // A name length of 0 is what the sender writes when its conversion failed.
    if (bytes <= 1)
        return ERROR_INVALID_NAME;
    const auto* name = reinterpret_cast<const char*>(in.data() + a::kName);
    if (name[bytes - 1] != '\0')
        return ERROR_INVALID_PARAMETER; // terminator missing
    std::string_view text(name, bytes - 1u);
    if (text.find('\0') != std::string_view::npos || !IsValidUtf8(text))
        return ERROR_INVALID_NAME;
    AttachRequest r;
    r.ntName.assign(text);
    r.fileSize = I64(in.data() + a::kFileSize);
    r.readOnly = in[a::kReadOnly] != 0;
    out = std::move(r);
    return ERROR_SUCCESS;
}

ErrorCode HostPathFromNtName(const std::string& ntName, std::string& path) {
    static constexpr std::string_view kPrefix = "\\??\\";
    std::string_view n(ntName);
    if (n.substr(0, kPrefix.size()) != kPrefix)
        return ERROR_INVALID_NAME;
    n.remove_prefix(kPrefix.size());
    // A line break would split the path in the list of drives to restore.
    if (n.empty() || n.front() != '/' ||
        n.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
        return ERROR_INVALID_NAME;
    path.assign(n);
    return ERROR_SUCCESS;
}

std::vector<std::uint8_t> BuildQueryRecord(std::int64_t fileSize, bool readOnly, char letter,
                                           const std::string& ntName) {
    namespace q = vdrive::query;
    std::vector<std::uint8_t> rec(q::kBufferSize, 0);
    auto size = static_cast<std::uint64_t>(fileSize);
    for (int i = 0; i < 8; ++i)
        rec[q::kFileSize + i] = static_cast<std::uint8_t>(size >> (8 * i));
    rec[q::kReadOnly] = readOnly ? 1 : 0;
    rec[q::kDriveLetter] = static_cast<std::uint8_t>(letter);
    size_t n = std::min(ntName.size(), q::kNameCapacity);
    // Do not cut a multi-byte character in two.
    if (n < ntName.size())
        while (n > 0 && (static_cast<unsigned char>(ntName[n]) & 0xC0) == 0x80)
            --n;
    rec[q::kNameLength] = static_cast<std::uint8_t>(n);
    rec[q::kNameLength + 1] = static_cast<std::uint8_t>(n >> 8);
    std::copy_n(ntName.begin(), n, rec.begin() + q::kName);
    return rec;
}

} // namespace driver
