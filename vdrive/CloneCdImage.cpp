#include "vdrive/CloneCdImage.h"

#include "vdrive/DiscFile.h"
#include "vdrive/TextFile.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>

namespace vdrive {

namespace {

constexpr std::uint32_t kRawSector = 2352;

struct IniValue {
    std::string text;
    int line = 0;
};

struct IniSection {
    std::string name; // as written
    int line = 0;
    std::map<std::string, IniValue> keys; // upper-case names
};

using Ini = std::map<std::string, IniSection>; // upper-case names

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "[Section]" and "Key=Value" lines; blank lines and ";" comments pass.
bool ParseIni(const std::string& text, const std::string& path, Ini& ini, DiscFault& fault) {
    std::istringstream in(text);
    std::string raw;
    IniSection* current = nullptr;
    for (int lineNo = 1; std::getline(in, raw); ++lineNo) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                return Refuse(fault, port::ERROR_INVALID_DATA, path, lineNo, line,
                              "A section name is not closed with \"]\"");
            const std::string name = Trim(line.substr(1, line.size() - 2));
            current = &ini[Upper(name)];
            *current = {name, lineNo, {}};
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || current == nullptr)
            return Refuse(fault, port::ERROR_INVALID_DATA, path, lineNo, line,
                          "The line is neither a section nor a key of one");
        current->keys[Upper(Trim(line.substr(0, eq)))] = {Trim(line.substr(eq + 1)), lineNo};
    }
    return true;
}

// A decimal or 0x-hexadecimal number within ±2^31.
std::optional<long> Number(const std::string& text) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || v > 0x7fffffffL || v < -0x7fffffffL)
        return std::nullopt;
    return v;
}

// Reads the key's number; false with the key named when it is missing or
// no number.
class Reader {
public:
    Reader(const std::string& path, DiscFault& fault) : m_path(path), m_fault(fault) {}

    bool Get(const IniSection& s, const char* key, long& value) {
        auto it = s.keys.find(key);
        if (it == s.keys.end())
            return Refuse(m_fault, port::ERROR_INVALID_DATA, m_path, s.line,
                          "[" + s.name + "] " + key, "The key " + std::string(key) + " is missing");
        auto v = Number(it->second.text);
        if (!v)
            return Refuse(m_fault, port::ERROR_INVALID_DATA, m_path, it->second.line,
                          "[" + s.name + "] " + key,
                          "The value of " + std::string(key) + " is not a number");
        value = *v;
        return true;
    }
    bool Has(const IniSection& s, const char* key) const { return s.keys.count(key) != 0; }

    const std::string& m_path;
    DiscFault& m_fault;
};

struct TocPoint {
    long lba = 0;
    long control = 0;
    const IniSection* entry = nullptr;
};

// The table of contents: each track's start (points 1 to 99) and the
// lead-out (point 0xA2) when given.
bool ReadToc(const Ini& ini, Reader& r, std::map<long, TocPoint>& tracks, long& leadOut) {
    leadOut = -1;
    for (const auto& [name, s] : ini) {
        if (name.rfind("ENTRY", 0) != 0)
            continue;
        long point = 0, control = 0, lba = 0;
        if (!r.Get(s, "POINT", point) || !r.Get(s, "PLBA", lba))
            return false;
        if (r.Has(s, "CONTROL") && !r.Get(s, "CONTROL", control))
            return false;
        if (point == 0xA2)
            leadOut = std::max(leadOut, lba);
        if (point >= 1 && point <= 99)
            tracks[point] = {lba, control, &s};
    }
    if (tracks.empty())
        return Refuse(r.m_fault, port::ERROR_INVALID_DATA, r.m_path, 0, "[Entry]",
                      "The descriptor lists no track");
    return true;
}

// A track's form from its [TRACK n] MODE, else from its control bits.
bool TrackForm(const Ini& ini, Reader& r, long number, const TocPoint& p, SectorForm& form) {
    auto it = ini.find("TRACK " + std::to_string(number));
    if (it == ini.end()) {
        form = (p.control & 0x04) ? SectorForm::Mode1_2352 : SectorForm::Audio;
        return true;
    }
    long mode = 0;
    if (!r.Get(it->second, "MODE", mode))
        return false;
    static const SectorForm kForms[] = {SectorForm::Audio, SectorForm::Mode1_2352,
                                        SectorForm::Mode2_2352};
    if (mode < 0 || mode > 2)
        return Refuse(r.m_fault, port::ERROR_NOT_SUPPORTED, r.m_path,
                      it->second.keys.at("MODE").line, "[" + it->second.name + "] MODE",
                      "Track mode " + std::to_string(mode) + " is not supported");
    form = kForms[mode];
    return true;
}

} // namespace

bool ReadCloneCd(const std::string& path, Disc& out, DiscFault& fault) {
    std::string text;
    Ini ini;
    if (!ReadSmallTextFile(path, "CloneCD descriptor", text, fault) ||
        !ParseIni(text, path, ini, fault))
        return false;
    if (!ini.count("CLONECD"))
        return Refuse(fault, port::ERROR_INVALID_DATA, path, 0, "[CloneCD]",
                      "The descriptor has no [CloneCD] section");
    const std::string img = WithExtension(path, ".img");
    std::uint64_t size = 0;
    if (!RegularFileSize(img, size))
        return Refuse(fault, port::ERROR_FILE_NOT_FOUND, img, 0, "img",
                      "The image data \"" + img + "\" beside the descriptor was not found");
    Reader r(path, fault);
    std::map<long, TocPoint> toc;
    long leadOut = -1;
    if (!ReadToc(ini, r, toc, leadOut))
        return false;
    const long end = leadOut >= 0 ? leadOut : static_cast<long>(size / kRawSector);
    for (auto it = toc.begin(); it != toc.end(); ++it) {
        const auto next = std::next(it);
        const long stop = next == toc.end() ? end : next->second.lba;
        const TocPoint& p = it->second;
        if (p.lba < 0 || stop <= p.lba)
            return Refuse(fault, port::ERROR_INVALID_DATA, path, p.entry->line,
                          "[" + p.entry->name + "] PLBA",
                          "Track " + std::to_string(it->first) + " has no sectors");
        DiscTrack t;
        t.number = static_cast<int>(it->first);
        if (!TrackForm(ini, r, it->first, p, t.form))
            return false;
        t.file = img;
        t.stride = kRawSector;
        t.offset = static_cast<std::uint64_t>(p.lba) * kRawSector;
        t.sectors = static_cast<std::uint64_t>(stop - p.lba);
        t.start = static_cast<std::uint32_t>(p.lba);
        out.tracks.push_back(t);
    }
    return true;
}

} // namespace vdrive
