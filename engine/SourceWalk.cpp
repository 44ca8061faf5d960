#include "engine/SourceWalk.h"

#include "port/Utf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

// A regular file that says it is empty may be a kernel file whose content is
// made when read: one byte tells.
bool HasHiddenContent(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char byte;
    ssize_t n = ::read(fd, &byte, 1);
    ::close(fd);
    return n > 0;
}

using FolderSet = std::set<std::pair<dev_t, ino_t>>;

class Walker {
public:
    Walker(SourceWalkHandler& h, bool sortNames) : m_handler(h), m_sort(sortNames) {}

    bool Visit(SourceEntry e) {
        if (e.kind == SourceKind::File)
            return m_handler.AddFile(e);
        if (e.kind == SourceKind::Skipped)
            return m_handler.Skip(e);
        const auto id = std::make_pair(e.dev, e.ino);
        if (m_above.count(id)) {
            e.kind = SourceKind::Skipped;
            e.why = SkipReason::FolderLoop;
            return m_handler.Skip(e);
        }
        if (!m_handler.EnterFolder(e))
            return false;
        m_above.insert(id);
        const bool goOn = VisitContents(e);
        m_above.erase(id);
        return goOn && m_handler.LeaveFolder(e);
    }

private:
    bool VisitContents(const SourceEntry& folder) {
        DIR* d = ::opendir(folder.path.c_str());
        if (!d)
            return m_handler.ListFailed(folder, errno);
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(d);
        if (m_sort)
            std::sort(names.begin(), names.end());
        const std::string prefix = folder.path.back() == '/' ? folder.path : folder.path + "/";
        for (const std::string& name : names)
            if (!Visit(InspectSource(prefix + name)))
                return false;
        return true;
    }

    SourceWalkHandler& m_handler;
    bool m_sort;
    FolderSet m_above; // folders on the way down
};

} // namespace

SourceEntry InspectSource(const std::string& path) {
    SourceEntry e;
    e.path = path;
    e.name = HostBaseName(path);
    // The engine takes UTF-16 paths: a name in another encoding would reach
    // it changed and could not be read back.
    if (port::ToUtf8(port::ToUtf16(path)) != path) {
        e.why = SkipReason::NotUtf8;
        return e;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        e.err = errno;
        struct stat link;
        const bool isLink = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        if (isLink && e.err == ENOENT)
            e.why = SkipReason::DanglingLink;
        else if (isLink && e.err == ELOOP)
            e.why = SkipReason::LinkLoop;
        else
            e.why = SkipReason::Unreadable;
        return e;
    }
    e.dev = st.st_dev;
    e.ino = st.st_ino;
    if (S_ISDIR(st.st_mode)) {
        e.kind = SourceKind::Folder;
    } else if (!S_ISREG(st.st_mode)) {
        e.why = SkipReason::Special;
    } else if (st.st_size == 0 && HasHiddenContent(path)) {
        e.why = SkipReason::KernelFile;
    } else {
        e.kind = SourceKind::File;
        e.size = static_cast<std::uint64_t>(st.st_size);
    }
    return e;
}

std::string DescribeSkip(const SourceEntry& e) {
    switch (e.why) {
    case SkipReason::DanglingLink:
        return "the link leads nowhere";
    case SkipReason::LinkLoop:
        return "the link leads round in a loop";
    case SkipReason::FolderLoop:
        return "it links back to a folder above it";
    case SkipReason::Special:
        return "not a file or folder";
    case SkipReason::KernelFile:
        return "a kernel file that reports no size; its content cannot be stored";
    case SkipReason::NotUtf8:
        return "its name is not UTF-8 text";
    case SkipReason::Unreadable:
        return std::strerror(e.err);
    case SkipReason::None:
        break;
    }
    return {};
}

bool WalkSource(const std::string& source, SourceWalkHandler& handler, bool sortNames) {
    return Walker(handler, sortNames).Visit(InspectSource(source));
}

std::string HostBaseName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return std::string(
        slash == std::string_view::npos || path.size() == 1 ? path : path.substr(slash + 1));
}

std::string SourceName(const std::string& path) {
    std::string name = HostBaseName(path);
    if (name != "." && name != ".." && name != "/")
        return name;
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real)) {
        name = HostBaseName(real);
        if (name != "/")
            return name;
    }
    return "root";
}

std::u16string ImageChildPath(std::u16string_view folderPath, std::u16string_view name) {
    std::u16string out(folderPath);
    if (out.empty() || out.back() != u'\\')
        out += u'\\';
    return out.append(name);
}

} // namespace engine
