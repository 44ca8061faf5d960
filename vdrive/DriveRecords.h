// Building the driver's attach records and reading its query record, byte for
// byte as port/FileDiskRecords.h lays them out. Names in the classic records
// are 8-bit text in the system code page, which is UTF-8 here.
#pragma once

#include "port/FileDiskRecords.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vdrive {

// What QueryMountedImage reports about a drive.
struct MountedImageInfo {
    std::u16string imageName;   // as the driver reports it, normally in NT form
    std::uint32_t readOnly = 0; // not 0: read-only
    std::int64_t fileSize = 0;
};

struct AttachRecordW {
    std::array<std::uint8_t, attach_w::kBufferSize> bytes{};
    std::size_t sentSize = 0; // 46 + 2 x name length
};

struct AttachRecord {
    std::array<std::uint8_t, attach::kBufferSize> bytes{};
    std::size_t sentSize = 0; // name length + 15
};

// The wide record for an NT name (cut at its first zero unit). nullopt when
// the name does not fit the record's 275 code units.
std::optional<AttachRecordW> BuildAttachRecordW(std::u16string_view ntName, std::int64_t fileSize,
                                                std::int64_t secondValue, bool readOnly);

// The classic record. A name whose 8-bit form does not fit 260 bytes with its
// terminator is sent with name length 0.
AttachRecord BuildAttachRecord(std::u16string_view ntName, std::int64_t fileSize, bool readOnly);

// Longest name (in UTF-16 code units) a query record's 8-bit name may turn
// into; a longer one is not converted at all.
inline constexpr std::size_t kQueryNameUnits = 260;

// True when a query record can carry the NT name whole: at most 264 bytes
// of 8-bit text that turn into at most 260 code units.
bool FitsQueryRecord(std::u16string_view ntName);

// Reads a query record out of a buffer of `size` bytes (the part past `size`
// counts as zero). The name is read for at most the bytes the record holds.
MountedImageInfo ParseQueryRecord(const std::uint8_t* bytes, std::size_t size);

} // namespace vdrive
