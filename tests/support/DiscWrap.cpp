#include "tests/support/DiscWrap.h"

#include "tests/support/Files.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace spindle_test {

using vdrive::SectorForm;

namespace {

bool IsAudio(const WrapTrack& t) {
    return t.form == SectorForm::Audio;
}

std::uint32_t UnitBytes(const WrapTrack& t) {
    return IsAudio(t) ? 2352 : 2048;
}

std::uint32_t Stride(SectorForm form) {
    return form == SectorForm::Mode1_2048 ? 2048 : form == SectorForm::Mode2_2336 ? 2336 : 2352;
}

unsigned char Bcd(unsigned v) {
    return static_cast<unsigned char>((v / 10) << 4 | (v % 10));
}

void PutBig(std::string& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutLittle(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void SetLittle(std::string& out, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The track's sectors as its file holds them: INDEX 00 silence first, then
// the data or samples, from address `lba` of the INDEX 00 part on.
std::string RawTrack(const WrapTrack& t, std::uint32_t lba, bool motorola, std::uint32_t extra) {
    const std::uint32_t unit = UnitBytes(t);
    const std::uint64_t count = (t.data.size() + unit - 1) / unit;
    std::string out;
    const std::string silence(unit, '\0');
    for (int k = 0; k < t.index0; ++k)
        out += EncodeSector(t.form, silence, lba++) + std::string(extra, '\0');
    const std::uint64_t form2Count = (t.form2.size() + 2323) / 2324;
    for (std::uint64_t k = 0; k < count; ++k) {
        if (k >= t.form2First && k - t.form2First < form2Count) {
            std::string user = t.form2.substr((k - t.form2First) * 2324, 2324);
            user.resize(2324, '\0');
            out += EncodeSector(t.form, user, lba++, true) + std::string(extra, '\0');
            continue;
        }
        std::string user = t.data.substr(k * unit, unit);
        user.resize(unit, '\0');
        if (motorola && IsAudio(t)) {
            for (std::size_t i = 0; i + 1 < user.size(); i += 2)
                std::swap(user[i], user[i + 1]);
        }
        out += EncodeSector(t.form, user, lba++) + std::string(extra, '\0');
    }
    return out;
}

std::string Msf(std::uint64_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(frames / 4500),
                  static_cast<unsigned>(frames / 75 % 60), static_cast<unsigned>(frames % 75));
    return text;
}

const char* CueMode(SectorForm form) {
    switch (form) {
    case SectorForm::Mode1_2048:
        return "MODE1/2048";
    case SectorForm::Mode1_2352:
        return "MODE1/2352";
    case SectorForm::Mode2_2352:
        return "MODE2/2352";
    case SectorForm::Mode2_2336:
        return "MODE2/2336";
    default:
        return "AUDIO";
    }
}

} // namespace

std::vector<std::uint32_t> WrapDisc::Starts() const {
    std::vector<std::uint32_t> starts;
    std::uint32_t lba = 0;
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        lba += static_cast<std::uint32_t>(tracks[k].pregap + tracks[k].index0);
        starts.push_back(lba);
        lba += static_cast<std::uint32_t>(Sectors(k));
    }
    return starts;
}

std::uint64_t WrapDisc::Sectors(std::size_t track) const {
    const std::uint32_t unit = UnitBytes(tracks[track]);
    return (tracks[track].data.size() + unit - 1) / unit;
}

std::string EncodeSector(SectorForm form, const std::string& user, std::uint32_t lba, bool form2) {
    if (form == SectorForm::Audio || form == SectorForm::Mode1_2048)
        return user;
    static const std::string kSync = std::string(1, '\0') + std::string(10, '\xFF') + '\0';
    // XA subheader of a form 1 data sector: file, channel, submode (data), coding, twice.
    static const std::string kForm1Subheader("\0\0\x08\0\0\0\x08\0", 8);
    // Of a form 2 video sector: submode real-time, form 2, video.
    static const std::string kForm2Subheader("\x01\x01\x62\x0F\x01\x01\x62\x0F", 8);
    const std::string& subheader = form2 ? kForm2Subheader : kForm1Subheader;
    const std::string tail(form2 ? 4 : form == SectorForm::Mode1_2352 ? 288 : 280, '\0');
    if (form == SectorForm::Mode2_2336)
        return subheader + user + tail;
    const std::uint32_t at = lba + 150;
    std::string out = kSync;
    out += static_cast<char>(Bcd(at / 4500));
    out += static_cast<char>(Bcd(at / 75 % 60));
    out += static_cast<char>(Bcd(at % 75));
    out += form == SectorForm::Mode1_2352 ? '\x01' : '\x02';
    if (form == SectorForm::Mode2_2352)
        out += subheader;
    return out + user + tail;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> MarkForm2(std::string& iso,
                                                                 const std::string& path) {
    auto le32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(iso.at(at + static_cast<std::size_t>(i)));
        return v;
    };
    std::size_t record = 16 * 2048 + 156; // the root's, in the primary descriptor
    std::size_t from = 0;
    while (from <= path.size()) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        const std::string want = path.substr(from, slash - from);
        from = slash + 1;
        const std::size_t dir = std::size_t{le32(record + 2)} * 2048, end = dir + le32(record + 10);
        std::size_t found = 0;
        for (std::size_t at = dir; at < end && !found;) {
            const auto len = static_cast<unsigned char>(iso.at(at));
            if (len == 0) {
                at = (at / 2048 + 1) * 2048;
                continue;
            }
            std::string name = iso.substr(at + 33, static_cast<unsigned char>(iso[at + 32]));
            name = name.substr(0, name.find(';'));
            if (name == want)
                found = at;
            at += len;
        }
        if (!found)
            return std::nullopt;
        record = found;
    }
    const std::size_t nameLen = static_cast<unsigned char>(iso[record + 32]);
    const std::size_t xa = record + 33 + nameLen + (nameLen % 2 == 0 ? 1 : 0);
    if (xa + 14 > record + static_cast<unsigned char>(iso[record]) || iso.substr(xa + 6, 2) != "XA")
        return std::nullopt;
    // Attributes 0x1000 (Mode 2 Form 2) in place of 0x0800 (Form 1).
    iso[xa + 4] = static_cast<char>((iso[xa + 4] & ~0x08) | 0x10);
    return std::make_pair(le32(record + 2), (le32(record + 10) + 2047) / 2048);
}

std::string WriteCue(const WrapDisc& disc, const std::string& dir, const std::string& base,
                     const CueOptions& options) {
    const auto starts = disc.Starts();
    std::string sheet = "REM written by the tests\r\n", bin, binName;
    std::uint64_t inFile = 0; // sectors written to the current file
    for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
        const WrapTrack& t = disc.tracks[k];
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", k + 1);
        if (k == 0 || options.filePerTrack) {
            if (!binName.empty())
                WriteFile(dir + "/" + binName, bin);
            bin.clear();
            inFile = 0;
            binName = options.filePerTrack ? base + "_" + number + ".bin" : base + ".bin";
            sheet +=
                "FILE \"" + binName + "\" " + (options.motorola ? "MOTOROLA" : "BINARY") + "\r\n";
        }
        sheet += std::string("  TRACK ") + number + " " + CueMode(t.form) + "\r\n";
        if (t.pregap > 0)
            sheet += "    PREGAP " + Msf(static_cast<std::uint64_t>(t.pregap)) + "\r\n";
        if (t.index0 > 0)
            sheet += "    INDEX 00 " + Msf(inFile) + "\r\n";
        sheet += "    INDEX 01 " + Msf(inFile + static_cast<std::uint64_t>(t.index0)) + "\r\n";
        bin += RawTrack(t, starts[k] - static_cast<std::uint32_t>(t.index0), options.motorola, 0);
        inFile += static_cast<std::uint64_t>(t.index0) + disc.Sectors(k);
    }
    WriteFile(dir + "/" + binName, bin);
    WriteFile(dir + "/" + base + ".cue", sheet);
    return dir + "/" + base + ".cue";
}

std::string WriteCloneCd(const WrapDisc& disc, const std::string& dir, const std::string& base,
                         bool withSub) {
    const auto starts = disc.Starts();
    std::string img, entries;
    int entry = 0;
    auto addEntry = [&](unsigned point, unsigned control, std::int64_t plba) {
        const std::int64_t at = plba + 150;
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x", point);
        entries += "[Entry " + std::to_string(entry++) + "]\nSession=1\nPoint=" + hex +
                   "\nADR=0x01\nControl=0x0" + std::to_string(control) +
                   "\nTrackNo=0\nAMin=0\nASec=0\nAFrame=0\nALBA=-150\nZero=0\nPMin=" +
                   std::to_string(at / 4500) + "\nPSec=" + std::to_string(at / 75 % 60) +
                   "\nPFrame=" + std::to_string(at % 75) + "\nPLBA=" + std::to_string(plba) + "\n";
    };
    std::string trackSections;
    for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
        const WrapTrack& t = disc.tracks[k];
        img += RawTrack(t, starts[k], false, 0);
        const int mode = IsAudio(t) ? 0 : t.form == SectorForm::Mode1_2352 ? 1 : 2;
        trackSections += "[TRACK " + std::to_string(k + 1) + "]\nMODE=" + std::to_string(mode) +
                         "\nINDEX 1=" + std::to_string(starts[k]) + "\n";
    }
    const std::uint64_t leadOut = img.size() / 2352;
    addEntry(0xA0, 4, 0);
    addEntry(0xA1, 4, 0);
    addEntry(0xA2, 4, static_cast<std::int64_t>(leadOut));
    for (std::size_t k = 0; k < disc.tracks.size(); ++k)
        addEntry(static_cast<unsigned>(k + 1), IsAudio(disc.tracks[k]) ? 0 : 4, starts[k]);
    const std::string ccd = "[CloneCD]\nVersion=3\n[Disc]\nTocEntries=" + std::to_string(entry) +
                            "\nSessions=1\nDataTracksScrambled=0\nCDTextLength=0\n"
                            "[Session 1]\nPreGapMode=1\nPreGapSubC=0\n" +
                            entries + trackSections;
    WriteFile(dir + "/" + base + ".img", img);
    if (withSub)
        WriteFile(dir + "/" + base + ".sub", std::string(leadOut * 96, '\0'));
    WriteFile(dir + "/" + base + ".ccd", ccd);
    return dir + "/" + base + ".ccd";
}

namespace {

// The mode byte a format stores for each sector form, in SectorForm order:
// Mode1_2048, Mode1_2352, Mode2_2352, Mode2_2336, Audio.
using ModeBytes = std::array<unsigned, 5>;
unsigned ModeByte(SectorForm form, const ModeBytes& bytes) {
    return bytes[static_cast<std::size_t>(form)];
}

constexpr ModeBytes kNeroModes = {0x00, 0x05, 0x06, 0x03, 0x07};

std::string Chunk(const std::string& id, const std::string& body) {
    std::string out = id;
    PutBig(out, body.size(), 4);
    return out + body;
}

// CUES (m:s:f) or CUEX (address) points: INDEX 00 and 01 of each track,
// then the lead-out.
std::string NeroCue(const WrapDisc& disc, bool cuex, std::uint64_t leadOut) {
    const auto starts = disc.Starts();
    std::string body;
    auto point = [&](bool data, unsigned track, unsigned index, std::int64_t lba) {
        body += static_cast<char>(data ? 0x41 : 0x01);
        body += static_cast<char>(track == 0xAA ? 0xAA : Bcd(track));
        body += static_cast<char>(Bcd(index));
        body += '\0';
        if (cuex) {
            PutBig(body, static_cast<std::uint32_t>(static_cast<std::int32_t>(lba)), 4);
        } else {
            const auto at = static_cast<std::uint64_t>(lba + 150);
            body += '\0';
            body += static_cast<char>(Bcd(static_cast<unsigned>(at / 4500)));
            body += static_cast<char>(Bcd(static_cast<unsigned>(at / 75 % 60)));
            body += static_cast<char>(Bcd(static_cast<unsigned>(at % 75)));
        }
    };
    for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
        const WrapTrack& t = disc.tracks[k];
        const auto n = static_cast<unsigned>(k + 1);
        point(!IsAudio(t), n, 0, k == 0 ? -150 : starts[k] - t.index0);
        point(!IsAudio(t), n, 1, starts[k]);
    }
    point(false, 0xAA, 1, static_cast<std::int64_t>(leadOut));
    return Chunk(cuex ? "CUEX" : "CUES", body);
}

std::string NeroDao(const WrapDisc& disc, bool wide, const std::vector<std::uint64_t>& at) {
    const int n = wide ? 8 : 4;
    std::string body;
    PutBig(body, 0, 4);               // size of the chunk, as some writers repeat it
    body += std::string(14, '\0');    // UPC
    body += std::string("\0\x01", 2); // TOC type
    body += '\x01';                   // first track
    body += static_cast<char>(disc.tracks.size());
    for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
        const WrapTrack& t = disc.tracks[k];
        const std::uint32_t stride = Stride(t.form);
        body += std::string(12, '\0'); // ISRC
        PutBig(body, stride, 2);
        body += static_cast<char>(ModeByte(t.form, kNeroModes));
        body += std::string(3, '\0');
        PutBig(body, at[k], n);
        PutBig(body, at[k] + static_cast<std::uint64_t>(t.index0) * stride, n);
        PutBig(body, at[k + 1], n);
    }
    return Chunk(wide ? "DAOX" : "DAOI", body);
}

std::string NeroTao(const WrapDisc& disc, bool wide, const std::vector<std::uint64_t>& at) {
    const int n = wide ? 8 : 4;
    const auto starts = disc.Starts();
    std::string body;
    for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
        PutBig(body, at[k], n);
        PutBig(body, at[k + 1] - at[k], n);
        PutBig(body, ModeByte(disc.tracks[k].form, kNeroModes), 4);
        PutBig(body, starts[k], 4);
        PutBig(body, 0, 4);
    }
    return Chunk(wide ? "ETN2" : "ETNF", body);
}

} // namespace

std::string WriteNero(const WrapDisc& disc, const std::string& dir, const std::string& base,
                      const NeroOptions& options) {
    const auto starts = disc.Starts();
    std::string image;
    std::vector<std::uint64_t> at; // where each track's sectors begin, then the end
    for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
        at.push_back(image.size());
        WrapTrack t = disc.tracks[k];
        if (options.trackAtOnce)
            t.index0 = 0; // track at once stores no INDEX 00 part
        image += RawTrack(t, starts[k] - static_cast<std::uint32_t>(t.index0), false, 0);
    }
    at.push_back(image.size());
    const std::uint64_t chunks = image.size();
    const bool wide = options.newFooter;
    const std::uint64_t leadOut = starts.back() + disc.Sectors(disc.tracks.size() - 1);
    if (options.trackAtOnce) {
        image += NeroTao(disc, wide, at);
    } else {
        image += NeroCue(disc, wide, leadOut);
        image += NeroDao(disc, wide, at);
    }
    image += Chunk("SINF", std::string("\0\0\0", 3) + static_cast<char>(disc.tracks.size()));
    image += Chunk("END!", "");
    image += wide ? "NER5" : "NERO";
    PutBig(image, chunks, wide ? 8 : 4);
    WriteFile(dir + "/" + base + ".nrg", image);
    return dir + "/" + base + ".nrg";
}

namespace {

// Mode 2 form 1 (2352 bytes) is 0xAC.
constexpr ModeBytes kAlcoholModes = {0xAA, 0xAA, 0xAC, 0xAB, 0xA9};

// An 80-byte track block (point 0xA0 to 0xA2 for the table's other entries).
std::string AlcoholTrack(unsigned mode, bool sub, unsigned point, std::uint64_t extraAt,
                         std::uint32_t sectorSize, std::uint32_t start, std::uint64_t offset,
                         std::uint64_t footerAt) {
    std::string b(80, '\0');
    b[0] = static_cast<char>(mode);
    b[1] = static_cast<char>(sub ? 0x08 : 0);
    b[2] = static_cast<char>(mode == 0xA9 ? 0x10 : 0x14);
    b[4] = static_cast<char>(point);
    SetLittle(b, 0x0C, extraAt, 4);
    SetLittle(b, 0x10, sectorSize, 2);
    SetLittle(b, 0x24, start, 4);
    SetLittle(b, 0x28, offset, 8);
    SetLittle(b, 0x30, point <= 99 ? 1 : 0, 4);
    SetLittle(b, 0x34, footerAt, 4);
    return b;
}

} // namespace

std::string WriteAlcohol(const WrapDisc& disc, const std::string& dir, const std::string& base,
                         bool withSub) {
    const auto starts = disc.Starts();
    const std::size_t n = disc.tracks.size();
    const std::uint64_t tracksAt = 88 + 24, extrasAt = tracksAt + (3 + n) * 80;
    const std::uint64_t footerAt = extrasAt + n * 8, nameAt = footerAt + 16;
    std::string mdf, blocks, extras;
    const std::uint64_t leadOut = starts.back() + disc.Sectors(n - 1);
    for (unsigned point : {0xA0u, 0xA1u, 0xA2u})
        blocks += AlcoholTrack(0, false, point, 0, 0, point == 0xA2 ? leadOut : 0, 0, 0);
    for (std::size_t k = 0; k < n; ++k) {
        const WrapTrack& t = disc.tracks[k];
        const bool sub = withSub && Stride(t.form) == 2352;
        blocks += AlcoholTrack(ModeByte(t.form, kAlcoholModes), sub, static_cast<unsigned>(k + 1),
                               extrasAt + k * 8, Stride(t.form) + (sub ? 96 : 0), starts[k],
                               mdf.size(), footerAt);
        PutLittle(extras, k == 0 ? 150 : static_cast<std::uint64_t>(t.pregap), 4);
        PutLittle(extras, disc.Sectors(k), 4);
        WrapTrack stored = t;
        stored.index0 = 0;
        mdf += RawTrack(stored, starts[k], false, sub ? 96 : 0);
    }
    std::string mds = "MEDIA DESCRIPTOR";
    mds += std::string("\x01\x03", 2); // version
    PutLittle(mds, 0, 2);              // medium: CD-ROM
    PutLittle(mds, 1, 2);              // sessions
    mds.resize(0x50, '\0');
    PutLittle(mds, 88, 4); // session blocks
    PutLittle(mds, 0, 4);  // no DPM data
    std::string session;
    PutLittle(session, static_cast<std::uint32_t>(-150), 4);
    PutLittle(session, leadOut, 4);
    PutLittle(session, 1, 2);
    session += static_cast<char>(3 + n);
    session += '\x03';
    PutLittle(session, 1, 2);
    PutLittle(session, n, 2);
    PutLittle(session, 0, 4);
    PutLittle(session, tracksAt, 4);
    std::string footer;
    PutLittle(footer, nameAt, 4);
    PutLittle(footer, 0, 4); // names in 8-bit characters
    PutLittle(footer, 0, 8);
    mds += session + blocks + extras + footer + std::string("*.mdf", 6);
    WriteFile(dir + "/" + base + ".mdf", mdf);
    WriteFile(dir + "/" + base + ".mds", mds);
    return dir + "/" + base + ".mds";
}

} // namespace spindle_test
