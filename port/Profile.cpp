#include "port/Profile.h"

#include "port/FileOps.h"
#include "port/Paths.h"
#include "port/ProfileSyntax.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

// The whole file; false with errno set when it cannot be opened or read to
// its end (ENOENT: there is no such file).
bool ReadAll(const std::string& path, std::string& out) {
    auto data = ReadWholeFile(path);
    out = data ? std::move(*data) : std::string();
    return data.has_value();
}

std::string_view StripBom(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    return text;
}

bool ValidName(std::string_view name) {
    if (name.empty() || ini::Trim(name) != name)
        return false;
    if (name.front() == ';' || name.front() == '[')
        return false;
    return name.find_first_of("]=\r\n") == std::string_view::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Writes text to a temporary file beside path and renames it over path. On
// failure errno says why.
bool WriteAtomically(const std::string& path, const std::string& text) {
    return ReplaceFile(path, text);
}

using Lines = std::vector<std::string_view>;

Lines SplitLines(std::string_view text) {
    Lines lines;
    ini::ForEachLine(text, [&](std::string_view line) {
        lines.push_back(line);
        return true;
    });
    return lines;
}

// Where the first [section] stands among lines: its header, its last entry
// (the header when it has none) and, when a key is given, the line of that
// key; -1 for what is not there.
struct SectionPlace {
    std::ptrdiff_t header = -1, lastEntry = -1, keyLine = -1;
};

SectionPlace FindSection(const Lines& lines, std::string_view section, std::string_view key = {}) {
    SectionPlace at;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name, value;
        auto kind = ini::ParseLine(lines[i], name, value);
        if (kind == ini::LineKind::Section) {
            if (at.header >= 0)
                break;
            if (ini::EqualNoCase(name, section))
                at.header = at.lastEntry = static_cast<std::ptrdiff_t>(i);
        } else if (kind == ini::LineKind::Entry && at.header >= 0) {
            at.lastEntry = static_cast<std::ptrdiff_t>(i);
            if (!key.empty() && at.keyLine < 0 && ini::EqualNoCase(name, key))
                at.keyLine = static_cast<std::ptrdiff_t>(i);
        }
    }
    return at;
}

// Lines [0, from), then insert, then lines [to, end), each line ended by '\n'.
std::string Splice(const Lines& lines, std::ptrdiff_t from, std::ptrdiff_t to,
                   std::string_view insert) {
    std::string out;
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(lines.size()); ++i) {
        if (i == from)
            out += insert;
        if (i < from || i >= to) {
            out += lines[i];
            out += '\n';
        }
    }
    if (from >= static_cast<std::ptrdiff_t>(lines.size()))
        out += insert;
    return out;
}

// All lines, then a new [section] with body, set apart by a blank line.
std::string AppendSection(const Lines& lines, std::string_view section, std::string_view body) {
    std::string out = Splice(lines, static_cast<std::ptrdiff_t>(lines.size()), 0, {});
    if (out.size() >= 2 && out[out.size() - 2] != '\n')
        out += '\n';
    out += "[" + std::string(section) + "]\n";
    out += body;
    return out;
}

// Rewrites the file at path under its lock: edit turns its current lines
// into the new text.
template <class Edit> bool UpdateFile(const std::string& given, Edit&& edit) {
    // A link is followed: the file it points at is replaced, the link stays.
    std::string path = given;
    std::error_code ec;
    if (std::filesystem::is_symlink(given, ec)) {
        std::filesystem::path target = std::filesystem::weakly_canonical(given, ec);
        if (!ec)
            path = target.string();
    }
    FileLock lock(path + ".lock");
    std::string text;
    // Only a file that is not there starts empty; one that exists but cannot
    // be read is left alone rather than replaced by the new entries alone.
    if (!ReadAll(path, text) && errno != ENOENT)
        return false;
    // A byte order mark would hide the first section header from the edit,
    // which would then add a second section of that name that reads ignore.
    return WriteAtomically(path, edit(SplitLines(StripBom(text))));
}

std::string Entry(std::string_view key, std::string_view value) {
    return std::string(key) + "=" + EscapeProfileValue(value) + "\n";
}

} // namespace

std::string ProfilePath() {
    return ConfigDir() + "/spindle.ini";
}

std::string EscapeProfileValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    for (char c : value) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '\n':
            out += "%0A";
            break;
        case '\r':
            out += "%0D";
            break;
        default:
            out += c;
            break;
        }
    }
    bool quote = !out.empty() && (ini::IsBlank(out.front()) || ini::IsBlank(out.back()) ||
                                  out.front() == '"' || out.front() == '\'');
    return quote ? "\"" + out + "\"" : out;
}

std::string UnescapeProfileValue(std::string_view stored) {
    stored = ini::Unquote(ini::Trim(stored));
    std::string out;
    out.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '%' && i + 2 < stored.size() && HexValue(stored[i + 1]) >= 0 &&
            HexValue(stored[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(stored[i + 1]) * 16 + HexValue(stored[i + 2]));
            i += 2;
        } else {
            out += stored[i];
        }
    }
    return out;
}

bool ReadProfileSection(const std::string& path, std::string_view section,
                        ProfileEntries& entries) {
    entries.clear();
    std::string text;
    if (!ReadAll(path, text))
        return false;
    const Lines lines = SplitLines(StripBom(text));
    const SectionPlace at = FindSection(lines, section);
    if (at.header < 0)
        return false;
    for (std::ptrdiff_t i = at.header + 1; i <= at.lastEntry; ++i) {
        std::string_view name, value;
        if (ini::ParseLine(lines[i], name, value) != ini::LineKind::Entry)
            continue;
        bool seen = false;
        for (const auto& e : entries)
            seen = seen || ini::EqualNoCase(std::string_view(e.first), name);
        if (!seen)
            entries.emplace_back(std::string(name), UnescapeProfileValue(value));
    }
    return true;
}

std::string GetProfileString(std::string_view section, std::string_view key, std::string_view def) {
    ProfileEntries entries;
    if (ReadProfileSection(ProfilePath(), section, entries))
        for (const auto& [name, value] : entries)
            if (ini::EqualNoCase(std::string_view(name), key))
                return value;
    return std::string(def);
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value) {
    if (!ValidName(section) || !ValidName(key)) {
        errno = EINVAL;
        return false;
    }
    const std::string entry = Entry(key, value);
    return UpdateFile(ProfilePath(), [&](const Lines& lines) {
        const SectionPlace at = FindSection(lines, section, key);
        if (at.keyLine >= 0)
            return Splice(lines, at.keyLine, at.keyLine + 1, entry);
        if (at.header >= 0)
            return Splice(lines, at.lastEntry + 1, at.lastEntry + 1, entry);
        return AppendSection(lines, section, entry);
    });
}

bool WriteProfileSection(const std::string& path, std::string_view section,
                         const ProfileEntries& entries) {
    bool valid = ValidName(section);
    std::string body;
    for (const auto& [key, value] : entries) {
        valid = valid && ValidName(key);
        body += Entry(key, value);
    }
    if (!valid) {
        errno = EINVAL;
        return false;
    }
    return UpdateFile(path, [&](const Lines& lines) {
        const SectionPlace at = FindSection(lines, section);
        if (at.header >= 0) // the header line stays as it stands
            return Splice(lines, at.header + 1, at.lastEntry + 1, body);
        return AppendSection(lines, section, body);
    });
}

} // namespace port
