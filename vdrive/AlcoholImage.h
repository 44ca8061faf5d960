// Reads an Alcohol descriptor (.mds) with its .mdf: sessions, their track blocks and each track's
// extra block, little-endian, reached through offsets that are all checked against the descriptor's
// size.
#pragma once

#include "vdrive/DiscImage.h"

#include <string>

namespace vdrive {

// The tracks of the image whose descriptor is at `path`; false with `fault`
// naming the file and line or field at fault.
bool ReadAlcohol(const std::string& path, Disc& out, DiscFault& fault);

} // namespace vdrive
