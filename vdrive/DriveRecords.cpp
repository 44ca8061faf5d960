#include "vdrive/DriveRecords.h"

#include "port/Utf.h"

#include <algorithm>
#include <cstring>

namespace vdrive {

namespace {

template <typename T> void PutLe(std::uint8_t* p, T value) {
    auto v = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::u16string_view UpToZero(std::u16string_view s) {
    return s.substr(0, std::min(s.size(), s.find(u'\0')));
}

} // namespace

std::optional<AttachRecordW> BuildAttachRecordW(std::u16string_view ntName, std::int64_t fileSize,
                                                std::int64_t secondValue, bool readOnly) {
    ntName = UpToZero(ntName);
    if (ntName.size() + 1 > attach_w::kNameCapacity)
        return std::nullopt;
    AttachRecordW r;
    std::uint8_t* b = r.bytes.data();
    PutLe<std::int64_t>(b + attach_w::kFileSize, fileSize);
    PutLe<std::int64_t>(b + attach_w::kValue1, secondValue);
    PutLe<std::int64_t>(b + attach_w::kValue2, secondValue);
    b[attach_w::kReadOnly] = readOnly ? 1 : 0;
    PutLe<std::uint32_t>(b + attach_w::kNameLength, static_cast<std::uint32_t>(ntName.size()));
    for (std::size_t i = 0; i < ntName.size(); ++i)
        PutLe<std::uint16_t>(b + attach_w::kName + 2 * i, ntName[i]);
    // The terminator is already zero.
    r.sentSize = attach_w::SentSize(ntName.size());
    return r;
}

AttachRecord BuildAttachRecord(std::u16string_view ntName, std::int64_t fileSize, bool readOnly) {
    AttachRecord r;
    std::uint8_t* b = r.bytes.data();
    PutLe<std::int64_t>(b + attach::kFileSize, fileSize);
    b[attach::kReadOnly] = readOnly ? 1 : 0;
    std::string name = port::ToUtf8(UpToZero(ntName));
    std::size_t length = 0;
    if (name.size() + 1 <= attach::kNameCapacity) {
        std::memcpy(b + attach::kName, name.data(), name.size());
        length = name.size() + 1;
    }
    PutLe<std::uint16_t>(b + attach::kNameLength, static_cast<std::uint16_t>(length));
    r.sentSize = attach::SentSize(length);
    return r;
}

bool FitsQueryRecord(std::u16string_view ntName) {
    ntName = UpToZero(ntName);
    return ntName.size() <= kQueryNameUnits &&
           port::PathToUtf8(ntName).size() <= query::kNameCapacity;
}

MountedImageInfo ParseQueryRecord(const std::uint8_t* bytes, std::size_t size) {
    std::array<std::uint8_t, query::kBufferSize> rec{};
    if (bytes)
        std::memcpy(rec.data(), bytes, std::min(size, rec.size()));
    MountedImageInfo info;
    std::uint64_t fileSize = 0;
    for (int i = 7; i >= 0; --i)
        fileSize = (fileSize << 8) | rec[query::kFileSize + static_cast<std::size_t>(i)];
    info.fileSize = static_cast<std::int64_t>(fileSize);
    info.readOnly = rec[query::kReadOnly];
    std::size_t length = rec[query::kNameLength] | (rec[query::kNameLength + 1] << 8);
    length = std::min(length, query::kNameCapacity);
    std::string_view name(reinterpret_cast<const char*>(rec.data() + query::kName), length);
    name = name.substr(0, std::min(name.size(), name.find('\0')));
    std::u16string wide = port::PathToUtf16(name);
    // A name that does not fit the 260-unit field is not converted at all.
    if (wide.size() <= kQueryNameUnits)
        info.imageName = std::move(wide);
    return info;
}

} // namespace vdrive
