#include "burner/CueSheet.h"

#include "burner/BurnJob.h"

namespace burner {

namespace {

// The parser's verdict, and a refusal of the tracks no disc is burnt from.
BurnOutcome Burnable(bool parsed, const vdrive::DiscFault& fault, const CueSheet& out) {
    if (!parsed)
        return Fail(BurnError::BadImage, fault.detail);
    for (const CueTrack& t : out.tracks) {
        if (t.mode == TrackMode::Mode2_2336) {
            BurnOutcome o = Fail(ImageFault::UnsupportedMode);
            o.line = t.line;
            return o;
        }
    }
    return {};
}

} // namespace

BurnOutcome ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out) {
    vdrive::DiscFault fault;
    const bool parsed = vdrive::ParseCueSheet(text, baseDir, out, fault);
    return Burnable(parsed, fault, out);
}

BurnOutcome LoadCueSheet(const std::string& path, CueSheet& out) {
    vdrive::DiscFault fault;
    const bool parsed = vdrive::LoadCueSheet(path, out, fault);
    BurnOutcome o = Burnable(parsed, fault, out);
    if (!o.ok())
        o.item = path;
    return o;
}

} // namespace burner
