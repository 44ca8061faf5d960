#include "port/DesktopEntry.h"

#include "port/FileOps.h"
#include "port/ProfileSyntax.h"

#include <cstdlib>
#include <sys/stat.h>

namespace port {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// $name, or home + fallback when it is unset or empty.
std::string HomeDir(const char* name, const char* fallback) {
    std::string dir = Env(name);
    if (dir.empty())
        dir = Env("HOME") + fallback;
    return dir;
}

std::vector<std::string> DirList(const char* name, const char* fallback) {
    std::vector<std::string> dirs = SplitList(Env(name), ':');
    if (dirs.empty())
        dirs = SplitList(fallback, ':');
    return dirs;
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The raw value of key in [group] of a desktop-style file; nothing when the
// file, group or key is missing. Only the first group of that name counts.
std::optional<std::string> ReadKey(const std::string& path, std::string_view group,
                                   std::string_view key) {
    const auto text = ReadWholeFile(path);
    if (!text)
        return std::nullopt;
    std::optional<std::string> found;
    bool inGroup = false, seenGroup = false;
    ini::ForEachLine(std::string_view(*text), [&](std::string_view line) {
        if (!line.empty() && line.front() == '#')
            return true;
        std::string_view name, value;
        switch (ini::ParseLine(line, name, value)) {
        case ini::LineKind::Section:
            if (seenGroup)
                return false;
            inGroup = name == group;
            seenGroup = inGroup;
            return true;
        case ini::LineKind::Entry:
            if (inGroup && name == key) {
                found = std::string(value);
                return false;
            }
            return true;
        default:
            return true;
        }
    });
    return found;
}

std::vector<std::string> ApplicationDirs() {
    std::vector<std::string> dirs{HomeDir("XDG_DATA_HOME", "/.local/share") + "/applications"};
    for (const std::string& dir : DirList("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        dirs.push_back(dir + "/applications");
    return dirs;
}

// The file of desktop entry id under dir: "a-b-c.desktop" may lie as
// a-b-c.desktop, a/b-c.desktop, a/b/c.desktop, ... (a prefix per subfolder).
std::optional<std::string> FindEntryIn(const std::string& dir, const std::string& id) {
    if (IsFile(dir + "/" + id))
        return dir + "/" + id;
    for (std::size_t dash = id.find('-'); dash != std::string::npos;
         dash = id.find('-', dash + 1)) {
        if (dash == 0)
            continue;
        if (auto found = FindEntryIn(dir + "/" + id.substr(0, dash), id.substr(dash + 1)))
            return found;
    }
    return std::nullopt;
}

std::optional<std::string> EntryExec(const std::string& id) {
    if (id.find('/') != std::string::npos || id.empty())
        return std::nullopt; // an id names a file below the folders, never a path
    for (const std::string& dir : ApplicationDirs()) {
        if (auto path = FindEntryIn(dir, id)) {
            auto exec = ReadKey(*path, "Desktop Entry", "Exec");
            if (exec && !exec->empty())
                return UnescapeDesktopValue(*exec);
            return std::nullopt; // the first entry of that id hides later ones
        }
    }
    return std::nullopt;
}

std::vector<std::string> ListFiles() {
    std::vector<std::string> desktops;
    for (std::string name : SplitList(Env("XDG_CURRENT_DESKTOP"), ':')) {
        for (char& c : name)
            c = static_cast<char>(ini::FoldCase(c));
        desktops.push_back(name);
    }
    std::vector<std::string> dirs{HomeDir("XDG_CONFIG_HOME", "/.config")};
    for (const std::string& dir : DirList("XDG_CONFIG_DIRS", "/etc/xdg"))
        dirs.push_back(dir);
    for (const std::string& dir : ApplicationDirs())
        dirs.push_back(dir);
    std::vector<std::string> files;
    for (const std::string& dir : dirs) {
        for (const std::string& desktop : desktops)
            files.push_back(dir + "/" + desktop + "-mimeapps.list");
        files.push_back(dir + "/mimeapps.list");
    }
    for (const std::string& dir : ApplicationDirs())
        files.push_back(dir + "/defaults.list");
    return files;
}

} // namespace

std::optional<std::string> DefaultAppExec(const std::string& mimeType) {
    for (const std::string& list : ListFiles()) {
        auto ids = ReadKey(list, "Default Applications", mimeType);
        if (!ids)
            continue;
        for (const std::string& id : SplitList(*ids, ';'))
            if (auto exec = EntryExec(std::string(ini::Trim(std::string_view(id)))))
                return exec;
    }
    return std::nullopt;
}

std::string UnescapeDesktopValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (char c = value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\', out += c;
            break; // not an escape of this level
        }
    }
    return out;
}

std::string CutAtFieldCode(std::string_view exec) {
    std::size_t bare = std::string_view::npos;
    for (std::size_t i = 0; i + 1 < exec.size(); ++i) {
        if (exec[i] != '%')
            continue;
        const char code = exec[i + 1];
        if (code == '%') {
            ++i;
            continue;
        }
        if (code != 'u' && code != 'U' && code != 'f' && code != 'F')
            continue;
        if (i > 0 && exec[i - 1] == '"' && i + 2 < exec.size() && exec[i + 2] == '"')
            return std::string(exec.substr(0, i - 1));
        if (bare == std::string_view::npos)
            bare = i;
    }
    return std::string(exec.substr(0, bare));
}

std::vector<std::string> SplitExecLine(std::string_view exec) {
    std::vector<std::string> args;
    std::string arg;
    std::string_view raw; // the argument as written, to spot a lone field code
    bool inArg = false, quoted = false;
    std::size_t start = 0;
    auto finish = [&](std::size_t end) {
        raw = exec.substr(start, end - start);
        const bool fieldCode = raw.size() == 2 && raw[0] == '%' && raw[1] != '%';
        if (inArg && !fieldCode)
            args.push_back(arg);
        arg.clear();
        inArg = false;
    };
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        const bool percentPair = c == '%' && i + 1 < exec.size() && exec[i + 1] == '%';
        if (!inArg && !quoted)
            start = i;
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < exec.size() &&
                     std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos)
                arg += exec[++i];
            else
                arg += percentPair ? exec[++i] : c;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            finish(i);
        } else {
            inArg = true;
            if (c == '"')
                quoted = true;
            else
                arg += percentPair ? exec[++i] : c;
        }
    }
    finish(exec.size()); // an unclosed quote ends with the line
    return args;
}

} // namespace port
