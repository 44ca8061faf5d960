#include "vdrive/DriverStart.h"

#include "port/DriveFiles.h"
#include "port/DriverWire.h"
#include "port/FileOps.h"
#include "port/Paths.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vdrive {

namespace {

using Clock = std::chrono::steady_clock;

// The driver's own wait for its FUSE mount and socket is bounded well below
// these; they only keep a stuck start from holding a mount forever.
constexpr std::chrono::seconds kLockWait(60);
constexpr std::chrono::seconds kStartWait(45);
constexpr std::chrono::milliseconds kRetry(20);

StartFault Fault(StartError error, std::string path, int osError = 0) {
    StartFault f;
    f.error = error;
    f.path = std::move(path);
    f.osError = osError;
    return f;
}

// An open descriptor that closes itself.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

// The start lock of the runtime folder, taken within kLockWait. Only a
// regular file of this user, never through a link.
StartFault TakeStartLock(const std::string& runtime, Fd& lock) {
    const std::string path = runtime + "/driver-start.lock";
    lock.fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st {};
    if (lock.fd < 0 || fstat(lock.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid())
        return Fault(StartError::LockNotOwn, path);
    const auto end = Clock::now() + kLockWait;
    while (flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || Clock::now() >= end)
            return Fault(StartError::LockTimeout, path);
        std::this_thread::sleep_for(kRetry);
    }
    return {};
}

// The caller's environment with the runtime folder named explicitly, so the
// driver serves the very folder this process uses.
std::vector<std::string> DriverEnvironment(const std::string& runtime) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "SPINDLE_RUNTIME_DIR=", 20) != 0)
            env.emplace_back(*e);
    env.push_back("SPINDLE_RUNTIME_DIR=" + runtime);
    return env;
}

// Waits up to `limit` for the child to end; its exit status, or -1.
int WaitChild(pid_t pid, std::chrono::milliseconds limit) {
    Fd pidFd{static_cast<int>(syscall(SYS_pidfd_open, pid, 0))};
    pollfd p{pidFd.fd, POLLIN, 0};
    int n = 0;
    if (pidFd.fd >= 0)
        while ((n = poll(&p, 1, static_cast<int>(limit.count()))) < 0 && errno == EINTR) {
        }
    int status = 0;
    if (n != 1 && pidFd.fd >= 0)
        return -1;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The first line the driver wrote, without its program name.
std::string FirstLine(int fd) {
    char buf[1024];
    ssize_t n = read(fd, buf, sizeof buf);
    std::string text = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    text.resize(std::min(text.size(), text.find('\n')));
    const std::string prefix = "spindle-driver: ";
    if (text.starts_with(prefix))
        text.erase(0, prefix.size());
    return text;
}

// Runs `program --daemon`, which returns once its driver is ready or failed
// (exit status 0, or 2: another driver runs).
StartFault RunDaemon(const std::string& program, const std::string& runtime) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return Fault(StartError::CannotRun, "", errno);
    Fd readEnd{pipeFds[0]};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::vector<std::string> env = DriverEnvironment(runtime);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string daemonArg = "--daemon";
    char* argv[] = {const_cast<char*>(program.c_str()), daemonArg.data(), nullptr};
    pid_t pid = -1;
    const int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (err != 0)
        return Fault(StartError::CannotRun, program, err);
    const int status = WaitChild(pid, kStartWait);
    if (status < 0)
        return Fault(StartError::NotReady, program);
    if (status != 0 && status != 2) {
        StartFault fault = Fault(StartError::DidNotStart, program);
        fault.exitStatus = status;
        fault.driverWords = FirstLine(readEnd.fd);
        return fault;
    }
    return {};
}

bool ExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string DriverProgram() {
    const std::string beside = port::ProgramDir() + "spindle-driver";
    if (ExecutableFile(beside))
        return beside;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/' && ExecutableFile(dir + "/spindle-driver"))
            return dir + "/spindle-driver";
        start = end + 1;
    }
    return {};
}

std::string Describe(const StartFault& f) {
    switch (f.error) {
    case StartError::None:
        return {};
    case StartError::RuntimeDir:
        return port::RuntimeDirProblem(f.path, f.osError);
    case StartError::LockNotOwn:
        return f.path + " is not a file of this user's own, so no driver is started";
    case StartError::LockTimeout:
        return "another start of spindle-driver did not end within " +
               std::to_string(kLockWait.count()) + " seconds";
    case StartError::NoProgram:
        return "spindle-driver is neither in " + f.path + " nor on the PATH";
    case StartError::CannotRun:
        return "spindle-driver could not be started" +
               (f.path.empty() ? std::string() : " from " + f.path) + ": " +
               std::strerror(f.osError);
    case StartError::NotReady:
        return "spindle-driver did not report ready within " + std::to_string(kStartWait.count()) +
               " seconds";
    case StartError::DidNotStart:
        return "spindle-driver did not start" +
               (f.driverWords.empty() ? " (exit status " + std::to_string(f.exitStatus) + ")"
                                      : ": " + f.driverWords);
    case StartError::NoAnswer:
        return "spindle-driver started but does not answer on " + f.path;
    }
    return {};
}

StartFault EnsureDriver() {
    if (port::DriverAnswers())
        return {};
    std::string runtime;
    if (!port::PrivateRuntimeDir(runtime))
        return Fault(StartError::RuntimeDir, runtime, errno);
    Fd lock;
    if (StartFault locked = TakeStartLock(runtime, lock); !locked.ok())
        return locked;
    // Another request may have started one while this one waited for the lock.
    if (port::DriverAnswers())
        return {};
    const std::string program = DriverProgram();
    if (program.empty())
        return Fault(StartError::NoProgram, port::ProgramDir());
    if (StartFault ran = RunDaemon(program, runtime); !ran.ok())
        return ran;
    // Ready (or another driver, started outside this lock, still starting):
    // it answers on its socket within a bounded time.
    const auto end = Clock::now() + kStartWait;
    while (!port::DriverAnswers()) {
        if (Clock::now() >= end)
            return Fault(StartError::NoAnswer, runtime + "/" + port::wire::kSocketName);
        std::this_thread::sleep_for(kRetry);
    }
    return {};
}

bool MountStartingDriver(char16_t letter, const MountRequest& request, port::ErrorCode& error,
                         StartFault& fault) {
    fault = {};
    if (MountImage(letter, request, error))
        return true;
    // No driver answered that mount. One may have come up since (a racing
    // request started it): then the mount is simply tried once more.
    if (error != port::ERROR_PATH_NOT_FOUND)
        return false;
    fault = EnsureDriver();
    if (!fault.ok())
        return false;
    return MountImage(letter, request, error);
}

} // namespace vdrive
