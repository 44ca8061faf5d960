#include "vdrive/DrivesFile.h"

#include "port/DriveLetter.h"
#include "port/FileOps.h"
#include "port/Paths.h"
#include "port/Utf.h"
#include "vdrive/VirtualDrive.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace vdrive {

namespace {

constexpr char kFileName[] = "drives.ini";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The number after `prefix` in a key such as "drive12"; -1 when the key is
// no such key.
long KeyNumber(std::string_view key, std::string_view prefix) {
    if (key.size() <= prefix.size() || key.size() > prefix.size() + 6 ||
        !SameText(key.substr(0, prefix.size()), prefix))
        return -1;
    long n = 0;
    for (char c : key.substr(prefix.size())) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

std::vector<ListedDrive> ListDriverDrives() {
    std::vector<ListedDrive> drives;
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        if (auto info = QueryMountedImage(letter))
            drives.push_back({letter, info->imageName});
    }
    return drives;
}

std::string FormatDrivesFile(const std::vector<ListedDrive>& drives) {
    std::string text = "[DRIVES]\r\n";
    int n = 0;
    for (const ListedDrive& d : drives) {
        std::u16string_view name = d.imageName;
        std::u16string path(name.substr(0, 4) == u"\\??\\" ? FromNtPath(name) : name);
        if (path.find_first_of(u"\r\n") != std::u16string::npos)
            continue;
        text += "drive" + std::to_string(n) + " = " + static_cast<char>(d.letter) + "\r\n";
        text += "file" + std::to_string(n) + " = " + port::PathToUtf8(path) + "\r\n";
        ++n;
    }
    return text;
}

std::vector<ListedDrive> ParseDrivesFile(std::string_view text) {
    std::map<long, char16_t> letters;
    std::map<long, std::u16string> files;
    bool inSection = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (Trim(line).starts_with('[')) {
            inSection = SameText(Trim(line), "[DRIVES]");
            continue;
        }
        size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos)
            continue;
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = line.substr(eq + 1);
        if (value.starts_with(' '))
            value.remove_prefix(1);
        if (long n = KeyNumber(key, "drive"); n >= 0) {
            std::string_view letter = Trim(value);
            if (letter.size() == 1 && port::ParseDriveLetter(letter))
                letters.emplace(n, port::ParseDriveLetter(letter));
        } else if (long n = KeyNumber(key, "file"); n >= 0 && !value.empty()) {
            files.emplace(n, port::PathToUtf16(value));
        }
    }
    std::vector<ListedDrive> drives;
    for (const auto& [n, letter] : letters)
        if (auto file = files.find(n); file != files.end())
            drives.push_back({letter, file->second});
    return drives;
}

std::string WriteDrivesFile() {
    const std::string text = FormatDrivesFile(ListDriverDrives());
    for (const std::string& dir : {port::ProgramDir(), port::ConfigDir() + "/"}) {
        if (port::ReplaceFile(dir + kFileName, text, 0644))
            return dir + kFileName;
    }
    return {};
}

} // namespace vdrive
