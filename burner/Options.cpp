// Option defaults, their resolution and their INI store (kept by port/Profile).
#include "burner/Options.h"

#include "engine/Label.h"
#include "port/Paths.h"
#include "port/Profile.h"
#include "port/ProfileSyntax.h"
#include "port/Utf.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace burner {

namespace {

constexpr std::uint8_t kByteDefault = 0xFF;

bool ByteFlag(std::uint8_t v, bool dflt) {
    if (v == kByteDefault)
        return dflt;
    return v != 0;
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

std::string TempFolderText(const engine::EngineOptions& o) {
    return port::ToUtf8(std::u16string_view(o.TempFolder, port::U16Length(o.TempFolder, 260)));
}

// Key names compare without regard to case, as everywhere in the INI store.
bool SameName(const std::string& key, std::string_view name) {
    return port::ini::EqualNoCase(std::string_view(key), name);
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
    return port::ToUtf8(engine::LabelFromOptions(o));
}

ResolvedOptions Resolve(const engine::EngineOptions& o) {
    ResolvedOptions r;
    r.volumeLabel = LabelText(o);
    r.writeSpeedKBs = o.WriteSpeed > 0 ? o.WriteSpeed : 0;
    r.closeDisc = ByteFlag(o.CloseDisc, true);
    r.simulate = ByteFlag(o.Simulate, false);
    r.tempFolder = TempFolderText(o);
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

std::string OptionsFilePath() {
    return port::ConfigDir() + "/engine-options.ini";
}

port::ErrorCode SaveOptions(const std::string& file, const std::string& section,
                            const engine::EngineOptions& in) {
    engine::EngineOptions o = in;
    TerminateTexts(o);

    port::ProfileEntries entries = {{"VolumeLabel", LabelText(o)},
                                    {"TempFolder", TempFolderText(o)}};
    for (const Field& f : kFields)
        entries.emplace_back(f.name, std::to_string(GetField(o, f)));
    if (!port::WriteProfileSection(file, section, entries))
        return port::ErrorFromErrno(errno ? errno : EIO);
    return port::ERROR_SUCCESS;
}

port::ErrorCode LoadOptions(const std::string& file, const std::string& section,
                            engine::EngineOptions& o) {
    port::ProfileEntries entries;
    if (!port::ReadProfileSection(file, section, entries))
        return port::ERROR_FILE_NOT_FOUND;

    engine::EngineOptions r = DefaultOptions();
    for (const auto& [key, value] : entries) {
        if (SameName(key, "VolumeLabel")) {
            engine::LabelToOptions(port::ToUtf16(value), r);
        } else if (SameName(key, "TempFolder")) {
            std::u16string u = port::ToUtf16(value);
            if (u.size() < 260)
                std::memcpy(r.TempFolder, u.c_str(), (u.size() + 1) * sizeof(char16_t));
        } else {
            for (const Field& f : kFields) {
                long long n;
                if (SameName(key, f.name) && ParseInt(value, f.lo, f.hi, n))
                    SetField(r, f, n);
            }
        }
    }
    o = r;
    return port::ERROR_SUCCESS;
}

} // namespace burner
