// Writers of the disc image formats Spindle mounts, for tests: a disc given
// as its tracks (an ISO image's 2048-byte sectors as data tracks, raw
// samples as audio tracks) written as a cue sheet with BIN files, a CloneCD
// set, a Nero image or an Alcohol set. Sectors are laid out as a disc holds
// them (sync, header with the address, mode byte, XA subheader); EDC and ECC
// are left zero.
#pragma once

#include "vdrive/DiscImage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace spindle_test {

struct WrapTrack {
    vdrive::SectorForm form = vdrive::SectorForm::Mode1_2048;
    // A data track: user bytes (padded to whole 2048-byte sectors). An audio
    // track: 16-bit little-endian stereo samples (padded to 2352 bytes).
    std::string data;
    int pregap = 0; // sectors of gap no file holds (cue PREGAP; addresses only elsewhere)
    int index0 = 0; // sectors of silence stored before INDEX 01 (cue INDEX 00, Nero DAO)
    // Mode 2 tracks: `form2` (padded to whole 2324-byte sectors) is stored
    // in Form 2 sectors from sector `form2First` (counted from INDEX 01) on,
    // in place of the data's sectors there.
    std::uint64_t form2First = 0;
    std::string form2 = {};
};

struct WrapDisc {
    std::vector<WrapTrack> tracks;
    // The address of each track's INDEX 01 when written.
    std::vector<std::uint32_t> Starts() const;
    // Sectors of each track from INDEX 01.
    std::uint64_t Sectors(std::size_t track) const;
};

// The disc's sector `lba` of a track, as the file holds it; `form2` (Mode 2
// forms): a Form 2 sector of 2324 user bytes.
std::string EncodeSector(vdrive::SectorForm form, const std::string& user, std::uint32_t lba,
                         bool form2 = false);

// Marks the file at `path` ("DIR/NAME", without ";1") of the ISO image's
// primary tree Mode 2 Form 2 in its XA record (the image must have XA
// records: `genisoimage -XA`). Returns the first block of its extent and
// its sectors, or nothing when the file or its XA record is not there.
std::optional<std::pair<std::uint32_t, std::uint32_t>> MarkForm2(std::string& iso,
                                                                 const std::string& path);

// Each writer puts its files into `dir` under the name `base` and returns
// the path of the file a user picks (the sheet or descriptor).
struct CueOptions {
    bool filePerTrack = false; // one FILE line per track
    bool motorola = false;     // FILE ... MOTOROLA, audio samples big-endian
};
std::string WriteCue(const WrapDisc& disc, const std::string& dir, const std::string& base,
                     const CueOptions& options = {});
// Data tracks must be Mode1_2352 or Mode2_2352 (CloneCD stores raw sectors only).
std::string WriteCloneCd(const WrapDisc& disc, const std::string& dir, const std::string& base,
                         bool withSub);
struct NeroOptions {
    bool newFooter = true; // "NER5", 64-bit offsets, CUEX/DAOX/ETN2; else "NERO" and CUES/DAOI/ETNF
    bool trackAtOnce = false; // ETNF/ETN2 tracks; else DAOI/DAOX
};
std::string WriteNero(const WrapDisc& disc, const std::string& dir, const std::string& base,
                      const NeroOptions& options);
// withSub: 96 bytes of subchannel data after each sector (2352-byte forms).
std::string WriteAlcohol(const WrapDisc& disc, const std::string& dir, const std::string& base,
                         bool withSub = false);

} // namespace spindle_test
