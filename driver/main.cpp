// spindle-driver: the virtual disk driver daemon.
#include "driver/Daemon.h"

#include "port/Paths.h"

#include "SpindleVersion.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Usage(std::FILE* out) {
    std::fputs("usage: spindle-driver [--daemon] [--restore] [-v]\n"
               "       spindle-driver --status\n"
               "       spindle-driver --stop\n"
               "       spindle-driver --version\n"
               "Serves the virtual CD and disk devices on driver.sock in the runtime folder\n"
               "and shows each loaded image under drives/<letter>/ there.\n"
               "  --daemon  run in the background once ready\n"
               "  --status  exit 0 when a driver answers, 1 otherwise\n"
               "  --stop    stop the driver of this runtime folder and wait for it to end;\n"
               "            exit 0 when it stopped or none ran, 1 when it could not be stopped\n"
               "  --ready-fd=N  in the foreground, write one status byte to descriptor N\n"
               "                once ready (0) or failed (the exit status), then close it\n"
               "  --allow-other  let other users enter the drive folders too\n"
               "  --restore  mount again the drives of the last clean stop, kept in\n"
               "             $XDG_STATE_HOME/spindle/drives.ini (~/.local/state/spindle),\n"
               "             before reporting ready\n"
               "  -v        print FUSE and image messages\n",
               out);
}

int StopFailed(const std::string& why) {
    std::fprintf(stderr, "spindle-driver: %s\n", why.c_str());
    return driver::kExitFailure;
}

// The real user id of a process, or -1.
long ProcessUid(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long uid = -1;
    while (status >> key) {
        if (key == "Uid:") {
            status >> uid;
            return uid;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// True when the process runs a program named spindle-driver.
bool IsDriverProgram(pid_t pid) {
    char buf[PATH_MAX];
    ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return false;
    std::string exe(buf, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)"; // a rebuilt binary under a running driver
    if (exe.size() > deleted.size() &&
        exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
        exe.resize(exe.size() - deleted.size());
    return exe.substr(exe.rfind('/') + 1) == "spindle-driver";
}

// Stops the driver of this runtime folder only: the process named in its
// driver.lock, while that lock is held, and only when it is a spindle-driver
// of this user. Waits until the lock is released, i.e. the driver has
// unmounted its drives and ended.
int StopDriver() {
    const std::string runtime = port::RuntimeDir();
    const std::string lockPath = runtime + "/driver.lock";
    const std::string none = "no spindle-driver runs for " + runtime + "; nothing to stop";
    int fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return std::printf("%s\n", none.c_str()), driver::kExitOk;
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
        if (fd >= 0)
            close(fd);
        return StopFailed(lockPath + " is not a file of this user's own; nothing was stopped");
    }
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
        close(fd);
        return std::printf("%s\n", none.c_str()), driver::kExitOk;
    }
    char text[32] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    char* end = nullptr;
    long pid = n > 0 ? std::strtol(text, &end, 10) : 0;
    if (pid <= 1 || (*end != '\n' && *end != '\0')) {
        close(fd);
        return StopFailed(lockPath + " names no process; nothing was stopped");
    }
    if (ProcessUid(static_cast<pid_t>(pid)) != static_cast<long>(getuid()) ||
        !IsDriverProgram(static_cast<pid_t>(pid))) {
        close(fd);
        return StopFailed("process " + std::to_string(pid) + " named in " + lockPath +
                          " is no spindle-driver of this user; nothing was stopped");
    }
    if (kill(static_cast<pid_t>(pid), SIGTERM) != 0 && errno != ESRCH) {
        close(fd);
        return StopFailed("cannot stop process " + std::to_string(pid) + ": " + strerror(errno));
    }
    // The driver holds the lock until its drives are unmounted.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool ended = false;
    while (!(ended = flock(fd, LOCK_SH | LOCK_NB) == 0) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    close(fd);
    if (!ended)
        return StopFailed("the driver (process " + std::to_string(pid) +
                          ") did not end within 30 seconds");
    std::printf("stopped the spindle-driver of %s (process %ld)\n", runtime.c_str(), pid);
    return driver::kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    driver::DaemonOptions opts;
    bool status = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--daemon")) {
            opts.daemon = true;
        } else if (!std::strncmp(argv[i], "--ready-fd=", 11)) {
            char* end = nullptr;
            long fd = std::strtol(argv[i] + 11, &end, 10);
            if (end == argv[i] + 11 || *end || fd < 3 || fd > 65535) {
                std::fprintf(stderr, "spindle-driver: bad descriptor in '%s'\n", argv[i]);
                return driver::kExitFailure;
            }
            opts.readyFd = static_cast<int>(fd);
        } else if (!std::strcmp(argv[i], "--allow-other")) {
            opts.allowOther = true;
        } else if (!std::strcmp(argv[i], "--restore")) {
            opts.restore = true;
        } else if (!std::strcmp(argv[i], "--stop")) {
            return StopDriver();
        } else if (!std::strcmp(argv[i], "--status")) {
            status = true;
        } else if (!std::strcmp(argv[i], "-v") || !std::strcmp(argv[i], "--verbose")) {
            opts.verbose = true;
        } else if (!std::strcmp(argv[i], "--version")) {
            std::printf("spindle-driver %s\n", spindle::kVersion);
            return 0;
        } else if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            Usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "spindle-driver: unknown option '%s'\n", argv[i]);
            Usage(stderr);
            return driver::kExitFailure;
        }
    }
    if (status)
        return driver::DriverStatus();
    return driver::RunDriver(opts);
}
