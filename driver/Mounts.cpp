#include "driver/Mounts.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace driver {

namespace {

// Mount points in mountinfo escape blanks and the like as \ooo.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
        if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out.push_back(
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

} // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    // id parent major:minor root mountpoint options [optional fields] - type source super-options
    std::vector<MountEntry> mounts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string word; fields >> word;)
            f.push_back(word);
        size_t dash = 6;
        while (dash < f.size() && f[dash] != "-")
            ++dash;
        if (f.size() < 5 || dash + 1 >= f.size())
            continue;
        unsigned major = 0, minor = 0;
        dev_t dev =
            std::sscanf(f[2].c_str(), "%u:%u", &major, &minor) == 2 ? makedev(major, minor) : 0;
        mounts.push_back({Unescape(f[4]), Unescape(f[dash + 1]), dev});
    }
    return mounts;
}

std::vector<MountEntry> CurrentMounts() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    return ParseMountInfo(text.str());
}

bool IsMountPoint(const std::string& path) {
    for (const MountEntry& m : CurrentMounts())
        if (m.point == path)
            return true;
    return false;
}

bool DetachStaleMount(const std::string& path) {
    if (!IsMountPoint(path))
        return true;
    if (umount2(path.c_str(), MNT_DETACH | UMOUNT_NOFOLLOW) == 0)
        return !IsMountPoint(path);
    // Not root: the FUSE helper may unmount the user's own mount.
    pid_t pid = fork();
    if (pid == 0) {
        // The calling thread may block signals; the helper must not inherit that.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
        }
        execlp("fusermount3", "fusermount3", "-u", "-z", "--", path.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    return !IsMountPoint(path);
}

bool ProcessesUse(const std::function<bool(dev_t dev, std::uint64_t ino)>& inside) {
    // Cached attributes only (AT_STATX_DONT_SYNC): a hung file system of
    // another process never holds the answer up, and the drives' own file
    // systems are not asked while the driver decides.
    auto uses = [&](const std::string& path) {
        struct statx stx {};
        return statx(AT_FDCWD, path.c_str(), AT_STATX_DONT_SYNC, STATX_INO, &stx) == 0 &&
               inside(makedev(stx.stx_dev_major, stx.stx_dev_minor), stx.stx_ino);
    };
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool used = false;
    while (dirent* e = used ? nullptr : readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0])))
            continue;
        const std::string dir = std::string("/proc/") + e->d_name;
        used = uses(dir + "/cwd") || uses(dir + "/root");
        DIR* fds = used ? nullptr : opendir((dir + "/fd").c_str());
        if (!fds)
            continue; // another user's, or gone
        while (dirent* fd = used ? nullptr : readdir(fds))
            used = std::isdigit(static_cast<unsigned char>(fd->d_name[0])) &&
                   uses(dir + "/fd/" + fd->d_name);
        closedir(fds);
    }
    closedir(proc);
    return used;
}

} // namespace driver
