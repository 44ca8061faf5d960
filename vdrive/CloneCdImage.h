// Reads a CloneCD descriptor (.ccd) with its .img of 2352-byte sectors beside it (same name); the
// .sub of subchannel data is not needed.
#pragma once

#include "vdrive/DiscImage.h"

#include <string>

namespace vdrive {

// The tracks of the image whose descriptor is at `path`; false with `fault`
// naming the file and line or field at fault.
bool ReadCloneCd(const std::string& path, Disc& out, DiscFault& fault);

} // namespace vdrive
