// The driver's device names: "\Device\FileDisk\FileDiskCd<n>" (CD devices) and
// "\Device\FileDisk\FileDisk<n>" (disk devices), n from 0 to 31 in decimal
// without leading zeros.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace driver {

enum class Family { Cd, Disk };

struct DeviceId {
    Family family = Family::Cd;
    unsigned number = 0;
    bool operator==(const DeviceId&) const = default;
};

inline constexpr unsigned kDeviceCount = 32; // per family

// The device a name (UTF-8) designates, or nothing when the name is not one of
// the driver's 64 devices. The prefix is compared without regard to ASCII
// case, as object names are.
std::optional<DeviceId> ParseDeviceName(std::string_view name);

std::string DeviceName(DeviceId id);

// Index 0..63 of a device: CD devices first.
inline unsigned DeviceIndex(DeviceId id) {
    return (id.family == Family::Cd ? 0 : kDeviceCount) + id.number;
}

} // namespace driver
