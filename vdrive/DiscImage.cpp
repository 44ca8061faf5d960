#include "vdrive/DiscImage.h"

#include "vdrive/AlcoholImage.h"
#include "vdrive/CloneCdImage.h"
#include "vdrive/CueDisc.h"
#include "vdrive/DiscFile.h"
#include "vdrive/NeroImage.h"

#include <cctype>
#include <cstring>

namespace vdrive {

namespace {

enum class Kind { Plain, Cue, CloneCd, Nero, Alcohol };

std::string LowerExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool HasNeroFooter(const DiscFile& file) {
    unsigned char tail[12];
    if (file.Size() >= 12 && file.Read(file.Size() - 12, tail, 12) &&
        std::memcmp(tail, "NER5", 4) == 0)
        return true;
    return file.Size() >= 8 && file.Read(file.Size() - 8, tail, 8) &&
           std::memcmp(tail, "NERO", 4) == 0;
}

// Binary descriptors by their signatures; text ones by their extension, or
// the CloneCD section that opens them.
Kind KindOf(const std::string& path, const DiscFile& file) {
    char head[16] = {};
    const bool hasHead = file.Read(0, head, sizeof head);
    if (hasHead && std::memcmp(head, "MEDIA DESCRIPTOR", 16) == 0)
        return Kind::Alcohol;
    const std::string ext = LowerExtension(path);
    if (ext == "cue")
        return Kind::Cue;
    if (ext == "ccd" || (file.Read(0, head, 9) && std::memcmp(head, "[CloneCD]", 9) == 0))
        return Kind::CloneCd;
    if (HasNeroFooter(file))
        return Kind::Nero;
    return Kind::Plain;
}

bool ReadPlain(const std::string& path, const DiscFile& file, Disc& out) {
    DiscTrack t;
    t.file = path;
    t.sectors = file.Size() / 2048;
    out.tracks.push_back(t);
    return true;
}

} // namespace

bool ReadDisc(const std::string& path, Disc& out, DiscFault& fault) {
    out = {};
    fault = {};
    out.descriptor = path;
    DiscFile file;
    if (!file.Open(path, fault))
        return false;
    bool read = false;
    switch (KindOf(path, file)) {
    case Kind::Plain:
        return ReadPlain(path, file, out);
    case Kind::Cue:
        read = ReadCueDisc(path, out, fault);
        break;
    case Kind::CloneCd:
        read = ReadCloneCd(path, out, fault);
        break;
    case Kind::Nero:
        read = ReadNero(path, out, fault);
        break;
    case Kind::Alcohol:
        read = ReadAlcohol(path, out, fault);
        break;
    }
    if (!read) {
        out.tracks.clear();
        return false;
    }
    return CheckTracksFit(out, fault) || (out.tracks.clear(), false);
}

const DiscTrack* FirstDataTrack(const Disc& disc) {
    for (const DiscTrack& t : disc.tracks) {
        if (t.form != SectorForm::Audio)
            return &t;
    }
    return nullptr;
}

std::uint64_t UserDataOffset(const DiscTrack& track, std::uint64_t sector) {
    std::uint64_t inSector = 0;
    switch (track.form) {
    case SectorForm::Mode1_2352:
        inSector = 16;
        break;
    case SectorForm::Mode2_2352:
        inSector = 24;
        break;
    case SectorForm::Mode2_2336:
        inSector = 8;
        break;
    default:
        break;
    }
    return track.offset + sector * track.stride + inSector;
}

} // namespace vdrive
