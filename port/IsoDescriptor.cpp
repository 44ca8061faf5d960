#include "port/IsoDescriptor.h"

#include <cstring>

namespace port::iso {

bool HasStandardId(const std::uint8_t* d) {
    return std::memcmp(d + 1, "CD001", 5) == 0;
}

bool IsDescriptor(const std::uint8_t* d, std::uint8_t type) {
    return d[0] == type && HasStandardId(d);
}

bool IsJoliet(const std::uint8_t* d) {
    return IsDescriptor(d, kTypeSupplementary) && d[88] == '%' && d[89] == '/' &&
           (d[90] == '@' || d[90] == 'C' || d[90] == 'E');
}

bool IsEnhanced(const std::uint8_t* d) {
    return IsDescriptor(d, kTypeSupplementary) && d[6] == 2;
}

std::u16string JolietIdentifier(const std::uint8_t* d) {
    std::u16string id;
    for (std::size_t i = 0; i < kIdSize / 2; ++i) {
        auto unit = static_cast<char16_t>((d[kIdOffset + 2 * i] << 8) | d[kIdOffset + 2 * i + 1]);
        if (unit == u'\0')
            break;
        id.push_back(unit);
    }
    return id;
}

std::optional<std::uint32_t> FindJoliet(const SectorReader& read, std::uint8_t* buf, bool named) {
    for (std::uint32_t sector = kPrimarySector + 1; sector <= kLastScannedSector; ++sector) {
        if (!read(sector, buf) || IsDescriptor(buf, kTypeTerminator))
            return std::nullopt;
        if (IsJoliet(buf) && (!named || !JolietIdentifier(buf).empty()))
            return sector;
    }
    return std::nullopt;
}

} // namespace port::iso
