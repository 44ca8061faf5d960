#include "port/FullPath.h"

#include "port/LastError.h"
#include "port/Utf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

// "..": the kernel takes the parent of the folder that the path so far
// names, after following its links, so "lnk/.." is the parent of the link's
// target, not the folder holding the link. When the path so far names no
// folder the kernel's open fails there, and the ".." stays so that the full
// path fails the same way instead of naming another file.
void StepUp(std::vector<std::string>& parts) {
    if (parts.empty())
        return; // "/.." is "/"
    const std::string soFar = Join(parts);
    struct stat st {};
    std::vector<char> real(PATH_MAX + 1);
    if (stat(soFar.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        !realpath(soFar.c_str(), real.data())) {
        parts.push_back("..");
        return;
    }
    parts.clear();
    std::string_view rest(real.data());
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        if (slash != 0)
            parts.push_back(std::string(rest.substr(0, slash)));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    if (!parts.empty())
        parts.pop_back();
}

} // namespace

std::optional<std::string> FullPath(std::string_view path) {
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    std::string joined;
    if (path.front() != '/') {
        std::vector<char> cwd(PATH_MAX + 1);
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE) {
                FailWithErrno();
                return std::nullopt;
            }
            cwd.resize(cwd.size() * 2);
        }
        joined = cwd.data();
        joined += '/';
    }
    joined += path;
    bool trailingSlash = joined.back() == '/';

    std::vector<std::string> parts;
    std::string_view rest(joined);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            StepUp(parts);
            continue;
        }
        parts.push_back(std::string(part));
    }
    std::string out;
    for (const std::string& p : parts) {
        out += '/';
        out += p;
    }
    if (out.empty() || trailingSlash)
        out += '/';
    return out;
}

std::uint32_t GetFullPathNameW(const char16_t* path, std::uint32_t bufferLength, char16_t* buffer,
                               char16_t** filePart) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto full = FullPath(PathToUtf8(std::u16string_view(path, U16Length(path))));
    if (!full)
        return 0;
    std::u16string wide = PathToUtf16(*full);
    if (!buffer || wide.size() + 1 > bufferLength)
        return static_cast<std::uint32_t>(wide.size() + 1);
    std::copy(wide.begin(), wide.end(), buffer);
    buffer[wide.size()] = u'\0';
    if (filePart) {
        size_t slash = wide.rfind(u'/');
        *filePart = slash + 1 < wide.size() ? buffer + slash + 1 : nullptr;
    }
    return static_cast<std::uint32_t>(wide.size());
}

} // namespace port
