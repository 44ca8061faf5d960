#include "driver/MediaFolder.h"

#include "driver/Mounts.h"
#include "port/Utf.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace driver {

namespace {

// Longest label part of a folder name, in bytes (names may have 255).
constexpr size_t kMaxLabelBytes = 200;

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The length of the well-formed UTF-8 sequence at s[i] (no overlong forms,
// surrogates or code points past U+10FFFF), 0 when there is none.
size_t Utf8SequenceAt(const std::string& s, size_t i) {
    auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned b = at(i);
    if (b < 0x80)
        return 1;
    size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF; // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        lo = b == 0xE0 ? 0xA0 : 0x80;
        hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (size_t k = 2; k < len; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return len;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::string DriveFolderName(const std::string& label, char letter, bool cd) {
    // File managers show names as UTF-8: a byte of a label in another
    // encoding is replaced like a control character.
    std::string name;
    for (size_t i = 0; i < label.size();) {
        size_t len = Utf8SequenceAt(label, i);
        name += len ? label.substr(i, len) : "_";
        i += len ? len : 1;
    }
    name = Trim(name);
    if (name.size() > kMaxLabelBytes) {
        size_t cut = kMaxLabelBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        name = Trim(name.substr(0, cut));
    }
    for (char& c : name)
        if (port::IsControlByte(c) || c == '/')
            c = '_';
    if (!name.empty() && name[0] == '.')
        name[0] = '_';
    if (name.empty())
        name = cd ? "CD Drive" : "Drive";
    return name + " (" + letter + ":)";
}

std::string ChooseMediaFolder(const std::string& setting, const std::string& user,
                              const std::string& home, bool runMediaUsable) {
    std::string path;
    if (setting == "off")
        return {};
    if (StartsWith(setting, "~/"))
        path = home.empty() ? std::string() : home + setting.substr(1);
    else if (!setting.empty())
        path = setting;
    else if (runMediaUsable && !user.empty())
        path = "/run/media/" + user;
    else if (!home.empty())
        path = home + "/Spindle";
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool ShownByDesktop(const std::string& path, const std::string& user, const std::string& home) {
    // What both GIO's own monitor and the desktop's udisks monitor accept.
    if (path.find("/.") != std::string::npos)
        return false;
    if (!home.empty() && StartsWith(path, home + "/"))
        return true;
    if (!user.empty() && StartsWith(path, "/run/media/" + user + "/"))
        return true;
    const std::string media = "/media/";
    return StartsWith(path, media) && (path.find('/', media.size()) == std::string::npos ||
                                       (!user.empty() && StartsWith(path, media + user + "/")));
}

MediaFolder::~MediaFolder() {
    if (m_fd >= 0)
        close(m_fd);
}

SetupFault MediaFolder::Open(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return {SetupError::MediaFolderCreate, path, errno};
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        SetupFault fault{SetupError::MediaFolderOpen, path,
                         errno == ELOOP || errno == ENOTDIR ? ENOTDIR : errno};
        if (fd >= 0)
            close(fd);
        return fault;
    }
    // Only this user (or root) may have put things in it: drive folders are
    // made, mounted over and removed there.
    if ((st.st_uid != getuid() && st.st_uid != 0) || (st.st_mode & S_IWOTH)) {
        close(fd);
        return {SetupError::MediaFolderNotOwn, path, 0};
    }
    char buf[PATH_MAX];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
    m_path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : path;
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
    return {};
}

bool MediaFolder::MakeDriveFolder(const std::string& name) {
    if (m_fd < 0)
        return false;
    if (mkdirat(m_fd, name.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat media {};
    struct stat st {};
    if (fstat(m_fd, &media) != 0 || fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != getuid() || st.st_dev != media.st_dev)
        return false;
    int fd = openat(m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool empty = true;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            empty = false;
    closedir(d);
    return empty;
}

void MediaFolder::RemoveDriveFolder(const std::string& name) {
    if (m_fd >= 0)
        unlinkat(m_fd, name.c_str(), AT_REMOVEDIR); // an empty folder only
}

int MediaFolder::DetachStale(const std::string& fsType, std::vector<std::string>* stuck) {
    int count = 0;
    if (m_fd < 0)
        return count;
    for (const MountEntry& m : CurrentMounts()) {
        size_t slash = m.point.rfind('/');
        if (m.type != fsType || slash == std::string::npos || m.point.substr(0, slash) != m_path)
            continue;
        std::string name = m.point.substr(slash + 1);
        // Asked of the file system itself: the kernel keeps what it learnt of
        // the mount's root (a file manager looked at it) after its driver
        // died, and a plain stat would answer from that.
        struct statx stx {};
        if (statx(m_fd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_TYPE,
                  &stx) == 0 ||
            errno != ENOTCONN)
            continue; // alive: another driver's
        if (DetachStaleMount(m.point)) {
            RemoveDriveFolder(name);
            ++count;
        } else if (stuck) {
            stuck->push_back(m.point);
        }
    }
    return count;
}

} // namespace driver
