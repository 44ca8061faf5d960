// Cue sheets of BIN/CUE images: which tracks lie where in which files. One
// parser serves mounting (vdrive's disc map) and burning (burner's tracks).
//
// Understood: FILE "name" BINARY|MOTOROLA (a relative name is taken from the
// cue sheet's own folder), TRACK nn MODE1/2048|MODE1/2352|MODE2/2352|
// MODE2/2336|AUDIO, INDEX nn mm:ss:ff, PREGAP mm:ss:ff. REM, CATALOG, TITLE,
// PERFORMER, SONGWRITER, FLAGS, ISRC, CDTEXTFILE and POSTGAP are passed over.
// Anything else, and every sheet whose tracks do not fit their files, is
// refused with the line or file named, so nothing is used from a sheet that
// was misread.
#pragma once

#include "vdrive/DiscImage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vdrive {

// Bytes per sector of a form in its file (2048, 2336 or 2352).
int SectorBytes(SectorForm form);

struct CueIndex {
    int number = 0;
    std::int64_t sector = 0; // relative to the track's first sector in the file
};

struct CueTrack {
    int number = 0;
    SectorForm mode = SectorForm::Mode1_2048;
    std::string file;              // absolute path of its BIN file
    bool swapBytes = false;        // MOTOROLA (big-endian) audio
    std::int64_t offset = 0;       // byte offset of the track's first sector in the file
    std::int64_t sectors = 0;      // sectors of the track in the file
    int pregap = 0;                // PREGAP: sectors of silence not in the file
    std::vector<CueIndex> indexes; // as given; INDEX 01 is always among them
    int line = 0;                  // the line of its TRACK command
};

struct CueSheet {
    std::vector<CueTrack> tracks;
    // Bytes a disc burnt from it holds (2048 per data sector, 2352 per audio
    // sector, PREGAPs of audio tracks included).
    std::int64_t PayloadBytes() const;
};

// Parses a sheet's text; FILE names are resolved against baseDir and the
// files are looked at (existence, size). False with `fault` set (its
// `detail` says what is wrong, naming the line or file; `sheet` is the
// sheet's own path, named by faults of its lines) when the sheet cannot be
// used.
bool ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out,
                   DiscFault& fault, const std::string& sheet = std::string());

// Reads and parses the cue file at path; a file that is no small regular
// text file is refused unread.
bool LoadCueSheet(const std::string& path, CueSheet& out, DiscFault& fault);

} // namespace vdrive
