#include "vdrive/CueDisc.h"

#include "vdrive/CueSheet.h"

namespace vdrive {

namespace {

// Sectors of the track in its file before its INDEX 01 (its INDEX 00 part).
std::int64_t BeforeIndex1(const CueTrack& t) {
    for (const CueIndex& x : t.indexes) {
        if (x.number == 1)
            return x.sector;
    }
    return 0;
}

} // namespace

bool ReadCueDisc(const std::string& path, Disc& out, DiscFault& fault) {
    CueSheet sheet;
    if (!LoadCueSheet(path, sheet, fault))
        return false;
    // Disc addresses run on through every file: each track's sectors in its
    // file, and the PREGAPs that no file holds.
    std::uint64_t lba = 0;
    for (const CueTrack& t : sheet.tracks) {
        const std::int64_t skip = BeforeIndex1(t);
        DiscTrack d;
        d.number = t.number;
        d.form = t.mode;
        d.file = t.file;
        d.stride = static_cast<std::uint32_t>(SectorBytes(t.mode));
        d.offset = static_cast<std::uint64_t>(t.offset + skip * d.stride);
        d.sectors = static_cast<std::uint64_t>(t.sectors - skip);
        d.start = static_cast<std::uint32_t>(lba + t.pregap + skip);
        d.swapBytes = t.swapBytes;
        lba += static_cast<std::uint64_t>(t.pregap + t.sectors);
        out.tracks.push_back(d);
    }
    return true;
}

} // namespace vdrive
