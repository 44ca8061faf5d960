#include "tests/support/DriverProcess.h"
#include "tests/support/Files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef SPINDLE_DRIVER_EXE
#error "SPINDLE_DRIVER_EXE must name spindle-driver"
#endif

namespace spindle_test {

bool FuseAvailable() {
    struct stat st {};
    return stat("/dev/fuse", &st) == 0;
}

bool Mounted(const std::string& path) {
    // The table writes blanks in a mount point as an escape.
    std::string escaped;
    for (char c : path)
        escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
    return ReadFile("/proc/self/mountinfo").find(" " + escaped + " ") != std::string::npos;
}

int DriversOf(const std::string& runtime) {
    int count = 0;
    const std::string wanted = "SPINDLE_RUNTIME_DIR=" + runtime;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink(entry.path() / "exe", ec);
        if (ec || exe.filename() != "spindle-driver")
            continue;
        std::ifstream env(entry.path() / "environ", std::ios::binary);
        std::string variable;
        while (std::getline(env, variable, '\0'))
            if (variable == wanted) {
                ++count;
                break;
            }
    }
    return count;
}

int StopDriverOf(const std::string& runtime) {
    int fd = open((runtime + "/driver.lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[32] = {};
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0;
    const ssize_t n = held ? pread(fd, text, sizeof text - 1, 0) : 0;
    close(fd);
    const pid_t pid = n > 0 ? static_cast<pid_t>(std::atol(text)) : 0;
    if (pid <= 1)
        return 0;
    kill(pid, SIGTERM);
    if (!WaitForExit(pid, static_cast<int>(Scaled(std::chrono::seconds(30)).count()))) {
        kill(pid, SIGKILL);
        WaitForExit(pid, static_cast<int>(Scaled(std::chrono::seconds(10)).count()));
    }
    waitpid(pid, nullptr, WNOHANG); // a child of the test is reaped too
    return 1;
}

DriverProcess::DriverProcess(const std::vector<std::string>& args, const std::string& errFile) {
    // A test's driver keeps its list of drives to restore beside its runtime
    // folder, never in the user's state folder.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    const char* runtime = std::getenv("SPINDLE_RUNTIME_DIR");
    if (!std::getenv("SPINDLE_STATE_DIR") && runtime)
        env.push_back(std::string("SPINDLE_STATE_DIR=") + runtime + "/state");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        if (!errFile.empty()) {
            int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (err < 0 || dup2(err, STDERR_FILENO) < 0)
                _exit(127);
        }
        // The write end stays open across exec, named by its number.
        int ready = dup(fds[1]);
        std::string fdArg = "--ready-fd=" + std::to_string(ready);
        std::vector<char*> argv{const_cast<char*>(SPINDLE_DRIVER_EXE), fdArg.data()};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execve(SPINDLE_DRIVER_EXE, argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    unsigned char b = 0;
    if (m_pid > 0 && poll(&p, 1, 30000 * TimeScale()) == 1 && read(fds[0], &b, 1) == 1)
        m_status = b;
    close(fds[0]);
    if (m_status != 0)
        Stop(SIGKILL);
}

DriverProcess::~DriverProcess() {
    Stop();
}

int DriverProcess::Stop(int signal) {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace spindle_test
