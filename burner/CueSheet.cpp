#include "burner/CueSheet.h"

namespace burner {

namespace {

// The parser's verdict, and a refusal of the tracks no disc is burnt from.
std::string Burnable(bool parsed, const vdrive::DiscFault& fault, CueSheet& out) {
    if (!parsed)
        return fault.detail;
    for (const CueTrack& t : out.tracks) {
        if (t.mode == TrackMode::Mode2_2336)
            return "Line " + std::to_string(t.line) +
                   " of the cue sheet: track mode MODE2/2336 is not supported";
    }
    return {};
}

} // namespace

std::string ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out) {
    vdrive::DiscFault fault;
    const bool parsed = vdrive::ParseCueSheet(text, baseDir, out, fault);
    return Burnable(parsed, fault, out);
}

std::string LoadCueSheet(const std::string& path, CueSheet& out) {
    vdrive::DiscFault fault;
    const bool parsed = vdrive::LoadCueSheet(path, out, fault);
    return Burnable(parsed, fault, out);
}

} // namespace burner
