#include "vdrive/VolumeLabel.h"

#include "port/DriveFiles.h"
#include "port/LastError.h"
#include "port/Utf.h"
#include "vdrive/DiscImage.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace vdrive {

using namespace port;

namespace {

constexpr std::int64_t kSector = 2048;
constexpr std::int64_t kPrimaryOffset = 16 * kSector;
constexpr int kFirstScanSector = 17;
constexpr int kScanSectors = 84; // sectors 17 to 100
constexpr std::size_t kIdOffset = 40;
constexpr std::size_t kIdSize = 32;
constexpr std::size_t kJolietUnits = kIdSize / 2;
constexpr std::uint8_t kTypePrimary = 1;
constexpr std::uint8_t kTypeSupplementary = 2;
constexpr std::uint8_t kTypeTerminator = 255;

using Sector = std::array<std::uint8_t, kSector>;

// Where the 2048 user bytes of the data track's sectors lie in the open
// file: sector n at first + n * stride, for n below `sectors`. A plain ISO
// image is its own data track.
struct SectorMap {
    std::uint64_t first = 0;
    std::uint64_t stride = kSector;
    std::uint64_t sectors = UINT64_MAX;
};

// Only real volume descriptors are read or written: a file that is not an
// ISO 9660 image has no label and is never changed.
bool IsDescriptor(const Sector& s, std::uint8_t type) {
    return s[0] == type && std::memcmp(s.data() + 1, "CD001", 5) == 0;
}

// A supplementary descriptor is Joliet when its escape sequences name UCS-2
// (levels 1 to 3); others (such as an enhanced descriptor) hold 8-bit names.
bool IsJoliet(const Sector& s) {
    return IsDescriptor(s, kTypeSupplementary) && s[88] == '%' && s[89] == '/' &&
           (s[90] == '@' || s[90] == 'C' || s[90] == 'E');
}

bool ReadSector(HANDLE h, const SectorMap& map, std::int64_t sector, Sector& s) {
    std::uint32_t got = 0;
    if (sector < 0 || static_cast<std::uint64_t>(sector) >= map.sectors)
        return false;
    const auto offset =
        static_cast<std::int64_t>(map.first + static_cast<std::uint64_t>(sector) * map.stride);
    return SetFilePointerEx(h, offset, nullptr, FILE_BEGIN) &&
           ReadFile(h, s.data(), static_cast<std::uint32_t>(s.size()), &got, nullptr) &&
           got == s.size();
}

bool WriteSector(HANDLE h, std::int64_t offset, const Sector& s) {
    std::uint32_t put = 0;
    return SetFilePointerEx(h, offset, nullptr, FILE_BEGIN) &&
           WriteFile(h, s.data(), static_cast<std::uint32_t>(s.size()), &put, nullptr) &&
           put == s.size();
}


std::u16string JolietIdentifier(const Sector& s) {
    std::u16string id;
    for (std::size_t i = 0; i < kJolietUnits; ++i) {
        auto unit = static_cast<char16_t>((s[kIdOffset + 2 * i] << 8) | s[kIdOffset + 2 * i + 1]);
        if (unit == u'\0')
            break;
        id.push_back(unit);
    }
    return id;
}

// A whole descriptor set: after the primary descriptor, every sector up to
// a terminator within the scanned ones carries the standard identifier. A
// file that merely holds "\x01CD001" at 0x8000 is no image to write into.
bool IsWholeDescriptorSet(HANDLE h) {
    Sector s{};
    for (int i = 0; i < kScanSectors; ++i) {
        if (!ReadSector(h, SectorMap{}, kFirstScanSector + i, s) ||
            std::memcmp(s.data() + 1, "CD001", 5) != 0)
            return false;
        if (s[0] == kTypeTerminator)
            return true;
    }
    return false;
}

// A label that UTF-8 cannot carry (an unpaired surrogate) would be stored
// as U+FFFD; it is refused instead.
bool IsWholeText(std::u16string_view label) {
    for (std::size_t i = 0; i < label.size(); ++i) {
        bool high = label[i] >= 0xD800 && label[i] <= 0xDBFF;
        bool low = label[i] >= 0xDC00 && label[i] <= 0xDFFF;
        if (low || (high && (i + 1 == label.size() || label[i + 1] < 0xDC00 || label[i + 1] > 0xDFFF)))
            return false;
        i += high ? 1 : 0;
    }
    return true;
}

// Offset of the first supplementary descriptor before a terminator, if any.
// With `label` given, stops at the first one whose identifier is not empty.
std::optional<std::int64_t> FindJoliet(HANDLE h, const SectorMap& map, Sector& s,
                                       std::u16string* label) {
    for (int i = 0; i < kScanSectors; ++i) {
        std::int64_t offset = (kFirstScanSector + i) * kSector;
        if (!ReadSector(h, map, kFirstScanSector + i, s) || IsDescriptor(s, kTypeTerminator))
            return std::nullopt;
        if (!IsJoliet(s))
            continue;
        if (!label)
            return offset;
        *label = JolietIdentifier(s);
        if (!label->empty())
            return offset;
    }
    return std::nullopt;
}

// The primary identifier is 8-bit text in the system code page (UTF-8).
// Bytes that are not UTF-8 are read one character each, as other tools
// write them.
std::u16string PrimaryIdentifier(const Sector& s) {
    const char* id = reinterpret_cast<const char*>(s.data() + kIdOffset);
    std::size_t n = 0;
    while (n < kIdSize && id[n])
        ++n;
    std::string_view text(id, n);
    std::u16string wide = ToUtf16(text);
    if (ToUtf8(wide) == text)
        return wide;
    std::u16string latin;
    for (char c : text)
        latin.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return latin;
}

// The label as UTF-8 cut to the 32-byte field without splitting a character.
std::string PrimaryBytes(std::u16string_view label) {
    std::string out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        std::size_t len = (label[i] >= 0xD800 && label[i] <= 0xDBFF && i + 1 < label.size()) ? 2 : 1;
        std::string ch = ToUtf8(label.substr(i, len));
        if (out.size() + ch.size() > kIdSize)
            break;
        out += ch;
        i += len - 1;
    }
    return out;
}

// Opens the image exclusively; `error` is the open's error, else 0.
UniqueHandle OpenImage(std::u16string_view path, bool write, ErrorCode& error) {
    std::u16string p(path);
    std::uint32_t access = GENERIC_READ | (write ? GENERIC_WRITE : 0);
    UniqueHandle h(CreateFileW(p.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    error = h.valid() ? ERROR_SUCCESS : GetLastError();
    return h;
}

// The image's data track as a file to read and its sector map: the image
// itself for a plain ISO image, else the track's file (opened as the image
// is). Other formats are read through vdrive's disc map.
UniqueHandle OpenDataTrack(std::u16string_view imagePath, SectorMap& map, ErrorCode& error) {
    UniqueHandle h = OpenImage(imagePath, false, error);
    Disc disc;
    DiscFault fault;
    if (!h.valid() || !ReadDisc(PathToUtf8(imagePath), disc, fault)) {
        error = h.valid() ? fault.code : error;
        return UniqueHandle();
    }
    const DiscTrack* track = FirstDataTrack(disc);
    if (!track) {
        error = ERROR_UNRECOGNIZED_VOLUME;
        return UniqueHandle();
    }
    map = {UserDataOffset(*track, 0), track->stride, track->sectors};
    if (track->file == disc.descriptor)
        return h; // a plain image, or a Nero image that holds its own tracks
    return OpenImage(PathToUtf16(track->file), false, error);
}

// True for a plain ISO image: one MODE1/2048 track of the whole file.
bool IsPlainImage(std::u16string_view imagePath) {
    Disc disc;
    DiscFault fault;
    return ReadDisc(PathToUtf8(imagePath), disc, fault) && disc.tracks.size() == 1 &&
           disc.tracks[0].file == disc.descriptor && disc.tracks[0].offset == 0 &&
           disc.tracks[0].form == SectorForm::Mode1_2048;
}

} // namespace

std::optional<std::u16string> ReadVolumeLabel(std::u16string_view imagePath, ErrorCode& error) {
    SectorMap map;
    UniqueHandle h = OpenDataTrack(imagePath, map, error);
    if (!h.valid())
        return std::nullopt;
    Sector s{};
    std::u16string joliet;
    bool haveJoliet = FindJoliet(h.get(), map, s, &joliet).has_value();
    if (!ReadSector(h.get(), map, kPrimaryOffset / kSector, s) || !IsDescriptor(s, kTypePrimary)) {
        error = ERROR_UNRECOGNIZED_VOLUME;
        return std::nullopt;
    }
    if (s[kIdOffset] == 0 && haveJoliet)
        return std::u16string();
    return haveJoliet ? joliet : PrimaryIdentifier(s);
}

std::u16string ReadVolumeLabel(std::u16string_view imagePath) {
    ErrorCode error = ERROR_SUCCESS;
    return ReadVolumeLabel(imagePath, error).value_or(std::u16string());
}

bool WriteVolumeLabel(std::u16string_view imagePath, std::u16string_view label,
                      ErrorCode& error) {
    label = label.substr(0, std::min(label.size(), label.find(u'\0')));
    if (!IsWholeText(label)) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    // Labels are written into plain images only; a descriptor or the files
    // it names are left as they are.
    if (!IsPlainImage(imagePath)) {
        UniqueHandle probe = OpenImage(imagePath, false, error);
        if (probe.valid())
            error = ERROR_NOT_SUPPORTED;
        return false;
    }
    UniqueHandle h = OpenImage(imagePath, true, error);
    if (!h.valid())
        return false;
    Sector primary{};
    if (!ReadSector(h.get(), SectorMap{}, kPrimaryOffset / kSector, primary) ||
        !IsDescriptor(primary, kTypePrimary) || !IsWholeDescriptorSet(h.get())) {
        error = ERROR_UNRECOGNIZED_VOLUME;
        return false;
    }
    Sector s{};
    if (auto offset = FindJoliet(h.get(), SectorMap{}, s, nullptr)) {
        std::u16string_view j = label.substr(0, std::min(label.size(), kJolietUnits));
        // Never leave half of a surrogate pair at the end.
        if (j.size() == kJolietUnits && j.back() >= 0xD800 && j.back() <= 0xDBFF)
            j.remove_suffix(1);
        std::memset(s.data() + kIdOffset, 0, kIdSize);
        for (std::size_t i = 0; i < j.size(); ++i) {
            s[kIdOffset + 2 * i] = static_cast<std::uint8_t>(j[i] >> 8);
            s[kIdOffset + 2 * i + 1] = static_cast<std::uint8_t>(j[i]);
        }
        if (!WriteSector(h.get(), *offset, s)) {
            error = GetLastError();
            return false;
        }
    }
    std::string bytes = PrimaryBytes(label);
    std::memset(primary.data() + kIdOffset, 0, kIdSize);
    std::memcpy(primary.data() + kIdOffset, bytes.data(), bytes.size());
    if (!WriteSector(h.get(), kPrimaryOffset, primary)) {
        error = GetLastError();
        return false;
    }
    return true;
}

bool WriteVolumeLabel(std::u16string_view imagePath, std::u16string_view label) {
    ErrorCode error = ERROR_SUCCESS;
    return WriteVolumeLabel(imagePath, label, error);
}

bool WriteVolumeLabelUtf8(std::u16string_view imagePath, std::string_view label,
                          ErrorCode& error) {
    std::u16string wide = ToUtf16(label);
    if (ToUtf8(wide) != label) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    return WriteVolumeLabel(imagePath, wide, error);
}

} // namespace vdrive
