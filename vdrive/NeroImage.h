// Reads a Nero image (.nrg): its chunks behind the footer at the file's end ("NERO" with a 32-bit
// offset, "NER5" with a 64-bit one), tracks from DAOI/DAOX (disc at once) or ETNF/ETN2 (track at
// once), disc addresses from CUES/CUEX where given.
#pragma once

#include "vdrive/DiscImage.h"

#include <string>

namespace vdrive {

// The tracks of the image whose descriptor is at `path`; false with `fault`
// naming the file and line or field at fault.
bool ReadNero(const std::string& path, Disc& out, DiscFault& fault);

} // namespace vdrive
