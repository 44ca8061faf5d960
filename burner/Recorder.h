// The engine's current recorder: the drive that SetDevice chose, as an
// address libburn takes ("/dev/sr0", "stdio:/home/me/disc.iso"). Device
// information, tray control, burning and erasing all act on it.
#pragma once

#include <string>
#include <string_view>

namespace burner {

// The libburn address of a drive-table target that can be a recorder: an
// optical device (/dev/srN, /dev/scdN) as it stands, or a "stdio:PATH" file
// standing in for one. Empty for any other target (a folder, a virtual drive).
std::string RecorderAddressOf(std::string_view target);

// The current recorder's address; empty when SetDevice chose none.
std::string CurrentRecorderAddress();

// True for a "stdio:" pseudo-drive (a file standing in for a recorder).
bool IsPseudoDrive(std::string_view address);

} // namespace burner
