// Option defaults, their resolution and the INI store.
#include "burner/Options.h"

#include "port/Paths.h"
#include "port/Utf.h"

#include <cerrno>
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace burner {

namespace {

constexpr std::uint8_t kByteDefault = 0xFF;

bool ByteFlag(std::uint8_t v, bool dflt) {
    if (v == kByteDefault)
        return dflt;
    return v != 0;
}

std::size_t LabelLength(const engine::EngineOptions& o) {
    std::size_t n = 0;
    while (n < sizeof o.VolumeLabel && o.VolumeLabel[n] != '\0')
        ++n;
    return n;
}

// Text values are written in double quotes; a quote, a backslash and the
// control characters are escaped so that any value reads back unchanged.
std::string Quote(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Unquote(std::string_view v, std::string& out) {
    if (v.size() < 2 || v.front() != '"' || v.back() != '"')
        return false;
    v = v.substr(1, v.size() - 2);
    out.clear();
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\') {
            out += v[i];
            continue;
        }
        if (i + 1 >= v.size())
            return false;
        char n = v[++i];
        if (n == '"' || n == '\\') {
            out += n;
        } else if (n == 'x' && i + 2 < v.size() && HexDigit(v[i + 1]) >= 0 &&
                   HexDigit(v[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(v[i + 1]) * 16 + HexDigit(v[i + 2]));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

bool ParseInt(std::string_view v, long long lo, long long hi, long long& out) {
    std::string s(v);
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < lo || n > hi)
        return false;
    out = n;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool IsSectionLine(std::string_view line, std::string& name) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']')
        return false;
    name = std::string(line.substr(1, line.size() - 2));
    return true;
}

std::vector<std::string> ReadLines(const std::string& file, bool& exists) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    exists = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

struct Field {
    const char* name;
    enum Kind { Byte, Int } kind;
    std::size_t offset;
    long long lo, hi;
};

constexpr long long kIntMin = INT32_MIN;
constexpr long long kIntMax = INT32_MAX;

// Every field but the two texts, by the name it has in the INI file. Any
// value the record can hold is stored, so a record reads back unchanged.
const Field kFields[] = {
    {"WriteSpeed", Field::Int, offsetof(engine::EngineOptions, WriteSpeed), kIntMin, kIntMax},
    {"CloseDisc", Field::Byte, offsetof(engine::EngineOptions, CloseDisc), 0, 255},
    {"Simulate", Field::Byte, offsetof(engine::EngineOptions, Simulate), 0, 255},
    {"Verify", Field::Byte, offsetof(engine::EngineOptions, Verify), 0, 255},
    {"Joliet", Field::Byte, offsetof(engine::EngineOptions, Joliet), 0, 255},
    {"RockRidge", Field::Byte, offsetof(engine::EngineOptions, RockRidge), 0, 255},
    {"UnderrunProtection", Field::Byte, offsetof(engine::EngineOptions, UnderrunProtection), 0,
     255},
    {"IsoLevel", Field::Int, offsetof(engine::EngineOptions, IsoLevel), kIntMin, kIntMax},
    {"Reserved664", Field::Byte, offsetof(engine::EngineOptions, Reserved664), 0, 255},
    {"EjectWhenDone", Field::Byte, offsetof(engine::EngineOptions, EjectWhenDone), 0, 255},
    {"Copies", Field::Int, offsetof(engine::EngineOptions, Copies), kIntMin, kIntMax},
};

long long GetField(const engine::EngineOptions& o, const Field& f) {
    const auto* base = reinterpret_cast<const unsigned char*>(&o);
    if (f.kind == Field::Byte)
        return base[f.offset];
    std::int32_t v;
    std::memcpy(&v, base + f.offset, sizeof v);
    return v;
}

void SetField(engine::EngineOptions& o, const Field& f, long long v) {
    auto* base = reinterpret_cast<unsigned char*>(&o);
    if (f.kind == Field::Byte) {
        base[f.offset] = static_cast<unsigned char>(v);
    } else {
        auto i = static_cast<std::int32_t>(v);
        std::memcpy(base + f.offset, &i, sizeof i);
    }
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::u16string u;
    for (char c : bytes)
        u.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return port::ToUtf8(u);
}

// Keeps the low 8 bits of each UTF-16 unit, like the label conversion of
// the files page, and at most `max` of them.
std::string Utf8ToLatin1(std::string_view utf8, std::size_t max) {
    std::string out;
    for (char16_t c : port::ToUtf16(utf8)) {
        if (out.size() == max)
            break;
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

} // namespace

engine::EngineOptions DefaultOptions() {
    engine::EngineOptions o;
    std::memset(&o, 0xFF, sizeof o);
    o.VolumeLabel[0] = '\0';
    o.TempFolder[0] = u'\0';
    return o;
}

void TerminateTexts(engine::EngineOptions& o) {
    o.VolumeLabel[sizeof o.VolumeLabel - 1] = '\0';
    o.TempFolder[sizeof o.TempFolder / sizeof o.TempFolder[0] - 1] = u'\0';
}

std::string LabelText(const engine::EngineOptions& o) {
    return Latin1ToUtf8(std::string_view(o.VolumeLabel, LabelLength(o)));
}

ResolvedOptions Resolve(const engine::EngineOptions& o) {
    ResolvedOptions r;
    r.volumeLabel = LabelText(o);
    r.writeSpeedKBs = o.WriteSpeed > 0 ? o.WriteSpeed : 0;
    r.closeDisc = ByteFlag(o.CloseDisc, true);
    r.simulate = ByteFlag(o.Simulate, false);
    r.tempFolder = port::ToUtf8(
        std::u16string_view(o.TempFolder, port::U16Length(o.TempFolder, 260)));
    if (r.tempFolder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        r.tempFolder = tmp && *tmp ? tmp : "/tmp";
    }
    r.verify = ByteFlag(o.Verify, false);
    r.joliet = ByteFlag(o.Joliet, true);
    r.rockRidge = ByteFlag(o.RockRidge, true);
    r.underrunProtection = ByteFlag(o.UnderrunProtection, true);
    r.isoLevel = (o.IsoLevel >= 1 && o.IsoLevel <= 3) ? o.IsoLevel : 3;
    r.ejectWhenDone = ByteFlag(o.EjectWhenDone, false);
    r.copies = (o.Copies >= 1 && o.Copies <= 99) ? o.Copies : 1;
    return r;
}

std::string OptionsFilePath() { return port::ConfigDir() + "/engine-options.ini"; }

port::ErrorCode SaveOptions(const std::string& file, const std::string& section,
                            const engine::EngineOptions& in) {
    engine::EngineOptions o = in;
    TerminateTexts(o);

    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, exists);
    std::ostringstream text;
    bool skipping = false;
    for (const std::string& line : lines) {
        std::string name;
        if (IsSectionLine(line, name))
            skipping = (name == section);
        if (!skipping)
            text << line << '\n';
    }
    text << '[' << section << "]\n";
    text << "VolumeLabel=" << Quote(LabelText(o)) << '\n';
    text << "TempFolder="
         << Quote(port::ToUtf8(std::u16string_view(o.TempFolder, port::U16Length(o.TempFolder, 260))))
         << '\n';
    for (const Field& f : kFields)
        text << f.name << '=' << GetField(o, f) << '\n';

    std::string tmp = file + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << text.str();
        out.flush();
        if (!out) {
            int err = errno;
            std::remove(tmp.c_str());
            return port::ErrorFromErrno(err ? err : EIO);
        }
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
        int err = errno;
        std::remove(tmp.c_str());
        return port::ErrorFromErrno(err);
    }
    return port::ERROR_SUCCESS;
}

port::ErrorCode LoadOptions(const std::string& file, const std::string& section,
                            engine::EngineOptions& o) {
    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, exists);
    if (!exists)
        return port::ERROR_FILE_NOT_FOUND;

    bool inSection = false, found = false;
    engine::EngineOptions r = DefaultOptions();
    for (const std::string& raw : lines) {
        std::string name;
        if (IsSectionLine(raw, name)) {
            inSection = (name == section);
            found = found || inSection;
            continue;
        }
        if (!inSection)
            continue;
        std::string_view line = raw;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        std::string text;
        if (key == "VolumeLabel" && Unquote(value, text)) {
            std::string bytes = Utf8ToLatin1(text, sizeof r.VolumeLabel - 1);
            std::memcpy(r.VolumeLabel, bytes.c_str(), bytes.size() + 1);
        } else if (key == "TempFolder" && Unquote(value, text)) {
            std::u16string u = port::ToUtf16(text);
            if (u.size() < 260)
                std::memcpy(r.TempFolder, u.c_str(), (u.size() + 1) * sizeof(char16_t));
        } else {
            for (const Field& f : kFields) {
                long long n;
                if (key == f.name && ParseInt(value, f.lo, f.hi, n))
                    SetField(r, f, n);
            }
        }
    }
    if (!found)
        return port::ERROR_FILE_NOT_FOUND;
    o = r;
    return port::ERROR_SUCCESS;
}

} // namespace burner
