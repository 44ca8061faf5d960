// Reads a cue sheet with its BIN files; the sheet's PREGAPs count in the disc addresses.
#pragma once

#include "vdrive/DiscImage.h"

#include <string>

namespace vdrive {

// The tracks of the image whose descriptor is at `path`; false with `fault`
// naming the file and line or field at fault.
bool ReadCueDisc(const std::string& path, Disc& out, DiscFault& fault);

} // namespace vdrive
