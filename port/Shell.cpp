#include "port/Shell.h"

#include "port/DesktopEntry.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace port {
namespace {

std::mutex g_hookLock;
LauncherHook g_hook;

// How long xdg-open is given to decide before it counts as started.
constexpr int kDefaultHandlerWaitMs = 5000;

int SpawnErrorResult(int error) {
    switch (error) {
    case ENOENT:
        return kShellFileNotFound;
    case ENOTDIR:
        return kShellPathNotFound;
    case EACCES:
    case EPERM:
        return kShellAccessDenied;
    case ENOMEM:
        return kShellOutOfMemory;
    case ENOEXEC:
        return kShellBadProgram;
    default:
        return 0;
    }
}

// Starts argv in a session of its own, stdin from /dev/null. 0 or errno.
int Spawn(const std::vector<std::string>& args, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    const int error = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Reaps a child that is left to run on its own.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// Waits up to timeoutMs for pid to end; its wait status, or nothing.
std::optional<int> WaitFor(pid_t pid, int timeoutMs) {
    int status = 0;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        int ready;
        while ((ready = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        ::close(fd);
        if (ready == 0)
            return std::nullopt;
    }
    // Without pidfd (an old kernel) this waits for the end.
    pid_t done;
    while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (done != pid)
        return std::nullopt;
    return status;
}

// xdg-open's wait status as a result: 0 done, 1 bad arguments, 2 a file
// does not exist, 3 a tool it needs is missing, 4 the action failed.
int DefaultHandlerResult(int status) {
    if (!WIFEXITED(status))
        return kShellNoAssociation;
    switch (WEXITSTATUS(status)) {
    case 0:
        return kShellOpened;
    case 2:
        return kShellFileNotFound;
    default:
        return kShellNoAssociation;
    }
}

// Waits for xdg-open's verdict: its result, or success when it still runs
// after the wait (it has started something then; it is reaped later).
int AwaitDefaultHandler(pid_t pid) {
    const std::optional<int> status = WaitFor(pid, kDefaultHandlerWaitMs);
    if (!status) {
        ReapLater(pid);
        return kShellOpened;
    }
    return DefaultHandlerResult(*status);
}

int OpenWithDefaultHandler(const LaunchRequest& request) {
    pid_t pid = 0;
    if (const int error = Spawn({"xdg-open", request.target}, pid))
        return error == ENOENT ? kShellNoAssociation : SpawnErrorResult(error);
    if (!request.verdict)
        return AwaitDefaultHandler(pid);
    std::thread([pid, verdict = request.verdict] { verdict(AwaitDefaultHandler(pid)); }).detach();
    return kShellOpened;
}

// The default web browser for target after the default handler gave
// `result`: the browser's result, or `result` when there is no browser.
int OpenWithBrowser(const std::string& target, int result) {
    const std::optional<std::string> exec = DefaultAppExec("text/html");
    if (!exec)
        return result;
    // The target is one argument of its own, whatever blanks or quotes it
    // holds: it is never parsed as part of the command line.
    std::vector<std::string> command = SplitExecLine(CutAtFieldCode(*exec));
    if (command.empty())
        return result;
    command.push_back(target);
    return Launch({target, std::move(command), {}});
}

} // namespace

LauncherHook SetLauncherHook(LauncherHook hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    std::swap(g_hook, hook);
    return hook;
}

int Launch(const LaunchRequest& request) {
    LauncherHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_hook;
    }
    return hook ? hook(request) : RunLaunch(request);
}

int RunLaunch(const LaunchRequest& request) {
    if (request.command.empty())
        return OpenWithDefaultHandler(request);
    pid_t pid = 0;
    if (const int error = Spawn(request.command, pid))
        return SpawnErrorResult(error);
    ReapLater(pid);
    return kShellOpened;
}

std::string BrowserCommandLine(const std::string& exec, const std::string& target) {
    return CutAtFieldCode(exec) + " " + target;
}

int OpenWithShell(const std::string& target) {
    if (target.empty())
        return kShellFileNotFound;
    const int result = Launch({target, {}, {}});
    return result > 32 ? result : OpenWithBrowser(target, result);
}

int OpenWithShell(const std::string& target, std::function<void(int result)> lateFailure) {
    if (target.empty())
        return kShellFileNotFound;
    auto verdict = [target, lateFailure = std::move(lateFailure)](int result) {
        if (result > 32)
            return;
        result = OpenWithBrowser(target, result);
        if (result <= 32 && lateFailure)
            lateFailure(result);
    };
    const int result = Launch({target, {}, std::move(verdict)});
    return result > 32 ? result : OpenWithBrowser(target, result);
}

} // namespace port
