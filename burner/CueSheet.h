// Cue sheets of BIN/CUE images: which tracks lie where in which files.
//
// Understood: FILE "name" BINARY|MOTOROLA (a relative name is taken from the
// cue sheet's own folder), TRACK nn MODE1/2048|MODE1/2352|MODE2/2352|AUDIO,
// INDEX nn mm:ss:ff, PREGAP mm:ss:ff. REM, CATALOG, TITLE, PERFORMER,
// SONGWRITER, FLAGS, ISRC, CDTEXTFILE and POSTGAP are passed over. Anything
// else, and every sheet whose tracks do not fit their files, is refused with
// a message naming the line or file, so nothing is written from a sheet that
// was misread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace burner {

enum class TrackMode { Mode1_2048, Mode1_2352, Mode2_2352, Audio };

// Bytes per sector of the mode in the BIN file.
int SectorSize(TrackMode mode);

struct CueIndex {
    int number = 0;
    std::int64_t sector = 0; // relative to the track's first sector in the file
};

struct CueTrack {
    int number = 0;
    TrackMode mode = TrackMode::Mode1_2048;
    std::string file;              // absolute path of its BIN file
    bool swapBytes = false;        // MOTOROLA (big-endian) audio
    std::int64_t offset = 0;       // byte offset of the track's first sector in the file
    std::int64_t sectors = 0;      // sectors of the track in the file
    int pregap = 0;                // PREGAP: sectors of silence written before it
    std::vector<CueIndex> indexes; // as given; INDEX 01 is always among them
};

struct CueSheet {
    std::vector<CueTrack> tracks;
    // Bytes the disc will hold (2048 per data sector, 2352 per audio sector).
    std::int64_t PayloadBytes() const;
};

// Parses a sheet's text; FILE names are resolved against baseDir and the
// files are looked at (existence, size). Returns an empty text on success,
// else what is wrong.
std::string ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out);

// Reads and parses the cue file at path.
std::string LoadCueSheet(const std::string& path, CueSheet& out);

} // namespace burner
