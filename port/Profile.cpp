#include "port/Profile.h"

#include "port/Paths.h"
#include "port/ProfileSyntax.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

bool ReadAll(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
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

// Holds an exclusive lock on the profile's lock file for one update.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd >= 0)
            flock(m_fd, LOCK_EX);
    }
    ~FileLock() {
        if (m_fd >= 0)
            close(m_fd); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

bool WriteAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string ProfilePath() { return ConfigDir() + "/spindle.ini"; }

std::string EscapeProfileValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    for (char c : value) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c; break;
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

std::string GetProfileString(std::string_view section, std::string_view key, std::string_view def) {
    std::string text;
    if (!ReadAll(ProfilePath(), text))
        return std::string(def);
    bool inSection = false, sectionSeen = false;
    std::string result(def);
    ini::ForEachLine(StripBom(text), [&](std::string_view line) {
        std::string_view name, value;
        switch (ini::ParseLine(line, name, value)) {
        case ini::LineKind::Section:
            if (inSection)
                return false;
            if (!sectionSeen && ini::EqualNoCase(name, section))
                inSection = sectionSeen = true;
            return true;
        case ini::LineKind::Entry:
            if (inSection && ini::EqualNoCase(name, key)) {
                result = UnescapeProfileValue(value);
                return false;
            }
            return true;
        default:
            return true;
        }
    });
    return result;
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value) {
    if (!ValidName(section) || !ValidName(key))
        return false;
    const std::string path = ProfilePath();
    FileLock lock(path + ".lock");
    std::string text;
    ReadAll(path, text);

    std::vector<std::string_view> lines;
    ini::ForEachLine(std::string_view(text), [&](std::string_view line) {
        lines.push_back(line);
        return true;
    });

    const std::string entry = std::string(key) + "=" + EscapeProfileValue(value);
    // Where the section starts, the line of the key, and after which line a
    // new key goes (the section's last entry, or its header).
    std::ptrdiff_t header = -1, keyLine = -1, insertAfter = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name, val;
        auto kind = ini::ParseLine(lines[i], name, val);
        if (kind == ini::LineKind::Section) {
            if (header >= 0)
                break;
            if (ini::EqualNoCase(name, section))
                header = insertAfter = static_cast<std::ptrdiff_t>(i);
        } else if (kind == ini::LineKind::Entry && header >= 0) {
            insertAfter = static_cast<std::ptrdiff_t>(i);
            if (ini::EqualNoCase(name, key)) {
                keyLine = static_cast<std::ptrdiff_t>(i);
                break;
            }
        }
    }

    std::string out;
    out.reserve(text.size() + entry.size() + section.size() + 8);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (static_cast<std::ptrdiff_t>(i) == keyLine) {
            out += entry;
            out += '\n';
            continue;
        }
        out += lines[i];
        out += '\n';
        if (keyLine < 0 && static_cast<std::ptrdiff_t>(i) == insertAfter) {
            out += entry;
            out += '\n';
        }
    }
    if (header < 0) {
        if (!out.empty() && out.size() >= 2 && out[out.size() - 2] != '\n')
            out += '\n';
        out += "[" + std::string(section) + "]\n" + entry + "\n";
    }
    return WriteAtomically(path, out);
}

} // namespace port
