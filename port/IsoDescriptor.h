// ISO 9660 volume descriptors: where they lie, how their kinds are told
// apart, and where the Joliet one is. One reader of them for the label of a
// drive (DriveInfo), the label of an image file (vdrive's VolumeLabel) and
// the driver's walk over an image's trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace port::iso {

constexpr std::uint32_t kSectorSize = 2048;
constexpr std::uint32_t kPrimarySector = 16;
// Supplementary descriptors are looked for up to this sector.
constexpr std::uint32_t kLastScannedSector = 100;
constexpr std::uint8_t kTypePrimary = 1;
constexpr std::uint8_t kTypeSupplementary = 2;
constexpr std::uint8_t kTypeTerminator = 255;
// The volume identifier: 32 bytes (a primary descriptor), or 16 UTF-16
// big-endian units (Joliet).
constexpr std::size_t kIdOffset = 40;
constexpr std::size_t kIdSize = 32;
// The root directory record.
constexpr std::size_t kRootRecordOffset = 156;

// Whether the sector `d` carries the standard identifier "CD001".
bool HasStandardId(const std::uint8_t* d);
// Whether `d` is a volume descriptor of `type`.
bool IsDescriptor(const std::uint8_t* d, std::uint8_t type);
// A supplementary descriptor whose escape sequences name UCS-2 (levels 1 to
// 3): Joliet. Others (such as an enhanced descriptor) hold 8-bit names.
bool IsJoliet(const std::uint8_t* d);
// A supplementary descriptor of version 2: the enhanced (ISO 9660:1999) one.
bool IsEnhanced(const std::uint8_t* d);
// A Joliet descriptor's identifier, to its first zero unit.
std::u16string JolietIdentifier(const std::uint8_t* d);

// Reads 2048-byte sector `sector` of the volume into `buf`; false when it
// is not all there.
using SectorReader = std::function<bool(std::uint32_t sector, std::uint8_t* buf)>;

// The first Joliet descriptor after the primary one, before a terminator
// (sectors 17 to 100), left in `buf`; with `named`, the first whose
// identifier is not empty.
std::optional<std::uint32_t> FindJoliet(const SectorReader& read, std::uint8_t* buf, bool named);

} // namespace port::iso
