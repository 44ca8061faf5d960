#include "tests/support/Wait.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace spindle_test {

int TimeScale() {
    static const int scale = [] {
        const char* value = std::getenv("SPINDLE_TEST_TIME_SCALE");
        int factor = value ? std::atoi(value) : 1;
        return factor > 1 ? factor : 1;
    }();
    return scale;
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds limit) {
    return limit * TimeScale();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    using namespace std::chrono_literals;
    const auto end = std::chrono::steady_clock::now() + Scaled(limit);
    auto pause = 1ms;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return done();
        // The one pause between checks of a condition that sends no signal.
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::milliseconds>(pause * 2, 50ms);
    }
    return true;
}

bool WaitOnChanges(const std::function<bool()>& done, std::chrono::milliseconds limit,
                   const std::vector<std::string>& folders, bool mounts) {
    const auto end = std::chrono::steady_clock::now() + Scaled(limit);
    const int table = mounts ? open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC) : -1;
    const int changes = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    for (const std::string& folder : folders)
        inotify_add_watch(changes, folder.c_str(),
                          IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
    char buf[4096];
    bool held;
    while (!(held = done()) && std::chrono::steady_clock::now() < end) {
        pollfd p[2] = {{changes, POLLIN, 0}, {table, POLLPRI, 0}};
        poll(p, 2, 200);
        while (read(changes, buf, sizeof buf) > 0) {
        }
        if (table >= 0) {
            lseek(table, 0, SEEK_SET);
            while (read(table, buf, sizeof buf) > 0) {
            }
        }
    }
    if (table >= 0)
        close(table);
    close(changes);
    return held;
}

int ThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(tasks))
            count += e->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

namespace {

// Waits up to `ms` (-1: no limit) on the process's pidfd; 1 when it has
// ended, 0 when not, -1 when it cannot be watched.
int PollEnd(pid_t pid, int ms) {
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return -1;
    pollfd p{fd, POLLIN, 0};
    int n;
    while ((n = poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    close(fd);
    return n == 1 ? 1 : 0;
}

} // namespace

bool WaitForExit(pid_t pid, int ms) {
    const int ended = PollEnd(pid, ms);
    return ended < 0 ? errno == ESRCH : ended == 1;
}

int WaitChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto ms = static_cast<int>(Scaled(limit).count());
    if (PollEnd(pid, ms) == 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace spindle_test
