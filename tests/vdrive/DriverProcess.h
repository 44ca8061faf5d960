// A private spindle-driver for one test, in the test's runtime folder,
// stopped with SIGTERM (which unmounts its drives) when the test ends.
#pragma once

#include "port/DriverWire.h"

#include <chrono>
#include <csignal>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef SPINDLE_BIN_DIR
#error "SPINDLE_BIN_DIR must name the folder of spindle-driver"
#endif

namespace spindle_test {

inline bool FuseAvailable() {
    struct stat st {};
    return stat("/dev/fuse", &st) == 0;
}

class DriverProcess {
public:
    explicit DriverProcess(const std::string& runtimeDir) : socket_(runtimeDir + "/" + port::wire::kSocketName) {
        pid_ = fork();
        if (pid_ == 0) {
            std::string bin = std::string(SPINDLE_BIN_DIR) + "/spindle-driver";
            execl(bin.c_str(), bin.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // The driver creates its socket once its drive folder is mounted.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!Answers() && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ready_ = Answers();
    }
    ~DriverProcess() { Stop(); }
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;

    bool ready() const { return ready_; }

    // SIGTERM and wait; the exit status of the driver.
    int Stop() {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    bool Answers() const {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        socket_.copy(addr.sun_path, sizeof addr.sun_path - 1);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        return ok;
    }

    std::string socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace spindle_test
