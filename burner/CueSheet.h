// Cue sheets of BIN/CUE images for burning: vdrive's parser, with the track
// modes a disc can be burnt from (MODE2/2336 sectors cannot be).
#pragma once

#include "vdrive/CueSheet.h"

#include <string>
#include <string_view>

namespace burner {

using TrackMode = vdrive::SectorForm;
using CueIndex = vdrive::CueIndex;
using CueTrack = vdrive::CueTrack;
using CueSheet = vdrive::CueSheet;

// Bytes per sector of the mode in the BIN file.
inline int SectorSize(TrackMode mode) {
    return vdrive::SectorBytes(mode);
}

struct BurnOutcome;

// Parses a sheet's text; FILE names are resolved against baseDir and the
// files are looked at (existence, size). None on success, else BadImage
// with the parser's words (naming the line or file) or UnsupportedMode.
BurnOutcome ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out);

// Reads and parses the cue file at path; on failure the outcome's item is
// the path.
BurnOutcome LoadCueSheet(const std::string& path, CueSheet& out);

} // namespace burner
