#include "port/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string WithoutTrailingSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

} // namespace

std::string HomeDir() {
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()))
        return pw->pw_dir;
    return "/tmp";
}

bool MakeDirs(const std::string& path, unsigned mode) {
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ProgramDir() {
    std::string dir = Env("SPINDLE_PROGRAM_DIR");
    if (dir.empty()) {
        char buf[PATH_MAX + 1];
        ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
        if (n <= 0)
            return "./";
        dir.assign(buf, static_cast<size_t>(n));
        dir.erase(dir.rfind('/') + 1);
        return dir;
    }
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string ResourceDir() {
    const std::string program = ProgramDir();
    for (const std::string& dir : {program, program + "../share/spindle/"}) {
        if (access((dir + "languiu.ini").c_str(), F_OK) != 0)
            continue;
        char real[PATH_MAX];
        if (!realpath(dir.c_str(), real))
            return dir;
        std::string resolved(real);
        return resolved.back() == '/' ? resolved : resolved + '/';
    }
    return program;
}

std::string ConfigDir() {
    std::string dir = Env("SPINDLE_CONFIG_DIR");
    if (dir.empty()) {
        std::string xdg = Env("XDG_CONFIG_HOME");
        dir = (xdg.empty() ? HomeDir() + "/.config" : xdg) + "/spindle";
    }
    dir = WithoutTrailingSlash(dir);
    MakeDirs(dir, 0755);
    return dir;
}

std::string StateDir() {
    std::string dir = Env("SPINDLE_STATE_DIR");
    if (dir.empty()) {
        // A relative XDG_STATE_HOME is invalid and ignored, as the base
        // directory rules say.
        std::string xdg = Env("XDG_STATE_HOME");
        dir = (xdg.starts_with('/') ? xdg : HomeDir() + "/.local/state") + "/spindle";
    }
    return WithoutTrailingSlash(dir);
}

bool MakePrivateDir(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
        return false;
    }
    // Another user's folder, or one of ours where others may have put
    // things, is never used: whoever can write there could plant links or
    // stand in for the driver.
    if (st.st_uid != getuid() || (st.st_mode & 022) != 0) {
        errno = EPERM;
        return false;
    }
    if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0)
        return false;
    return true;
}

std::string FirstPrivateDir(const std::string& base) {
    for (int n = 0; n < 100; ++n) {
        std::string dir = n == 0 ? base : base + "." + std::to_string(n);
        if (MakePrivateDir(dir))
            return dir;
    }
    // Every name is taken: the caller's check refuses this one.
    return base;
}

std::string RuntimeDir() {
    std::string dir = Env("SPINDLE_RUNTIME_DIR");
    if (dir.empty()) {
        std::string xdg = Env("XDG_RUNTIME_DIR");
        if (xdg.empty())
            return FirstPrivateDir("/tmp/spindle-" + std::to_string(getuid()));
        dir = xdg + "/spindle";
    }
    dir = WithoutTrailingSlash(dir);
    MakeDirs(dir, 0700);
    return dir;
}

bool PrivateRuntimeDir(std::string& dir) {
    dir = RuntimeDir();
    return MakePrivateDir(dir);
}

std::string RuntimeDirProblem(const std::string& dir, int err) {
    switch (err) {
    case EPERM:
        return "the runtime folder " + dir +
               " belongs to another user or others may write to it; it is not used";
    case ELOOP:
        return "the runtime folder " + dir + " is a symbolic link; it is not used";
    case ENOTDIR:
        return "the runtime folder " + dir + " is not a folder";
    default:
        return "cannot create the runtime folder " + dir + ": " + std::strerror(err);
    }
}

} // namespace port
