#include "driver/Mounts.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
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
        mounts.push_back({Unescape(f[4]), Unescape(f[dash + 1])});
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

} // namespace driver
