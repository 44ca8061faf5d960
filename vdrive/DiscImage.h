// A disc image as its tracks: where each track's sectors lie in which file,
// and how a sector is stored there. A plain ISO 9660 image is one MODE1/2048
// track of the whole file; a cue sheet with its BIN files, a CloneCD
// descriptor (.ccd with .img), a Nero image (.nrg) and an Alcohol descriptor
// (.mds with .mdf) give their own tracks. Readers of the first data track's
// file system (the driver's indexer and reads, the volume label) go through
// this map, so no converted copy of an image is ever made.
#pragma once

#include "port/Errors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vdrive {

// How one sector is stored in its file.
enum class SectorForm : std::uint8_t {
    Mode1_2048, // user data only (ISO, MODE1/2048)
    Mode1_2352, // sync, header, 2048 user bytes at 16, EDC/ECC
    Mode2_2352, // sync, header, XA subheader; form 1 user bytes at 24
    Mode2_2336, // XA subheader first; form 1 user bytes at 8
    Audio,      // 2352 bytes of 16-bit stereo samples at 44.1 kHz
};

struct DiscTrack {
    int number = 1;
    SectorForm form = SectorForm::Mode1_2048;
    std::string file;            // absolute path of the file holding its sectors
    std::uint64_t offset = 0;    // byte offset in `file` of the track's first sector (INDEX 01)
    std::uint32_t stride = 2048; // bytes from one sector to the next in `file`
                                 // (2048, 2336, 2352, or 2448 with subchannel data)
    std::uint64_t sectors = 0;   // sectors of the track in `file`, from INDEX 01
    std::uint32_t start = 0;     // disc address (LBA) of INDEX 01
    bool swapBytes = false;      // audio samples stored big-endian
};

struct Disc {
    std::string descriptor;        // the file the user picked
    std::vector<DiscTrack> tracks; // in disc order, at least one
};

// Why a descriptor was refused: an error number plus where. `file` is the
// descriptor or a file it names; `line` (cue sheets, CloneCD) is 1-based, 0
// when not a text line; `field` names the binary field or key at fault.
struct DiscFault {
    port::ErrorCode code = port::ERROR_SUCCESS;
    std::string file;
    int line = 0;
    std::string field;
    std::string detail; // what is wrong, in English, for the command line and logs
};

// Reads the descriptor at `path` (by its content, its extension deciding
// only between text formats). A file that is none of the formats is a plain
// image: one Mode1_2048 track of the whole file. False, with `fault` set, for
// a descriptor that does not parse, names a missing file, has a track past
// its data's end or a sector size its format does not allow.
bool ReadDisc(const std::string& path, Disc& out, DiscFault& fault);

// The first track holding data (not Audio), or null.
const DiscTrack* FirstDataTrack(const Disc& disc);

// Byte offset in the track's file of the 2048 user bytes of its data sector
// `sector` (counted from the track's INDEX 01).
std::uint64_t UserDataOffset(const DiscTrack& track, std::uint64_t sector);

} // namespace vdrive
