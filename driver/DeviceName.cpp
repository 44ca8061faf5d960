#include "driver/DeviceName.h"

namespace driver {

namespace {

constexpr std::string_view kCdPrefix = "\\Device\\FileDisk\\FileDiskCd";
constexpr std::string_view kDiskPrefix = "\\Device\\FileDisk\\FileDisk";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != Lower(prefix[i]))
            return false;
    return true;
}

// "0".."31", no sign, no leading zero, nothing after the digits.
std::optional<unsigned> ParseNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 2)
        return std::nullopt;
    if (digits.size() == 2 && digits[0] == '0')
        return std::nullopt;
    unsigned n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n >= kDeviceCount)
        return std::nullopt;
    return n;
}

} // namespace

std::optional<DeviceId> ParseDeviceName(std::string_view name) {
    // The CD prefix first: the disk prefix is a prefix of it.
    if (StartsWithNoCase(name, kCdPrefix)) {
        if (auto n = ParseNumber(name.substr(kCdPrefix.size())))
            return DeviceId{Family::Cd, *n};
        return std::nullopt;
    }
    if (StartsWithNoCase(name, kDiskPrefix)) {
        if (auto n = ParseNumber(name.substr(kDiskPrefix.size())))
            return DeviceId{Family::Disk, *n};
    }
    return std::nullopt;
}

std::string DeviceName(DeviceId id) {
    std::string s(id.family == Family::Cd ? kCdPrefix : kDiskPrefix);
    s += std::to_string(id.number);
    return s;
}

} // namespace driver
