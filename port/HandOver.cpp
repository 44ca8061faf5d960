#include "port/HandOver.h"

#include "port/FileOps.h"
#include "port/Paths.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace port {

namespace {

constexpr std::size_t kMaxMessage = 64 * 1024;
// Every message starts with this argument, so even an empty list is a
// message of its own and not the end of the connection.
constexpr char kTag[] = "spindle-start";
// How long the first instance waits for the message once connected, and
// how long the second waits for the first to take its arguments (the
// window may be busy with a mount for a while).
constexpr int kMessageWaitMs = 5000;
constexpr int kAnswerWaitMs = 60000;
// How long the second instance tries to reach a first that is starting.
constexpr std::chrono::seconds kConnectWait(30);

bool Address(const std::string& path, sockaddr_un& addr) {
    if (path.size() >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    return true;
}

bool FromOwnUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    int n;
    while ((n = poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    return n == 1;
}

// NUL-ended arguments; false when the message is not made of them.
bool SplitArguments(const char* data, std::size_t n, std::vector<std::string>& args) {
    if (n < sizeof kTag || std::memcmp(data, kTag, sizeof kTag) != 0 || data[n - 1] != '\0')
        return false;
    data += sizeof kTag;
    n -= sizeof kTag;
    for (std::size_t start = 0; start < n;) {
        const std::size_t end = std::strlen(data + start) + start;
        args.emplace_back(data + start, end - start);
        start = end + 1;
    }
    return true;
}

int Connect(const std::string& path) {
    sockaddr_un addr{};
    if (!Address(path, addr))
        return -1;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

} // namespace

std::string HandOverSocket(const std::string& name) {
    return RuntimeDir() + "/" + name + ".sock";
}

HandOverListener::~HandOverListener() {
    Stop();
}

bool HandOverListener::Listen(const std::string& name, Receiver receiver) {
    sockaddr_un addr{};
    m_path = HandOverSocket(name);
    if (!Address(m_path, addr)) {
        errno = ENAMETOOLONG;
        return false;
    }
    m_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || pipe2(m_wake, O_CLOEXEC) != 0)
        return false;
    // The caller holds the instance lock, so a socket left here is stale.
    unlink(m_path.c_str());
    const mode_t oldMask = umask(0177);
    const int bound = bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(oldMask);
    if (bound != 0 || chmod(m_path.c_str(), 0600) != 0 || listen(m_fd, 8) != 0) {
        const int err = errno;
        Stop();
        errno = err;
        return false;
    }
    m_receiver = std::move(receiver);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void HandOverListener::Stop() {
    if (m_wake[1] >= 0) {
        const char b = 0;
        ssize_t n = write(m_wake[1], &b, 1);
        (void)n; // the pipe is empty: the byte always fits
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int* fd : {&m_fd, &m_wake[0], &m_wake[1]})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    if (!m_path.empty())
        unlink(m_path.c_str());
    m_path.clear();
}

void HandOverListener::Serve() {
    for (;;) {
        pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            return;
        if (p[1].revents)
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        int fd = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        // Another user's process that reaches the socket gets no answer.
        if (FromOwnUser(fd))
            Answer(fd);
        close(fd);
    }
}

void HandOverListener::Answer(int fd) {
    std::vector<char> buf(kMaxMessage + 1);
    if (!WaitReadable(fd, kMessageWaitMs))
        return;
    const ssize_t n = recv(fd, buf.data(), buf.size(), MSG_TRUNC);
    std::vector<std::string> args;
    std::string problem;
    if (n < 0 || static_cast<std::size_t>(n) > kMaxMessage ||
        !SplitArguments(buf.data(), static_cast<std::size_t>(n), args))
        problem = "the start arguments did not arrive whole";
    else
        problem = m_receiver(args);
    std::string reply(1, problem.empty() ? '\0' : '\1');
    reply += problem;
    SendAll(fd, reply.data(), reply.size());
}

std::string Describe(const HandOverFault& f) {
    switch (f.error) {
    case HandOverError::None:
        return {};
    case HandOverError::TooLong:
        return "the start arguments are too long to hand to the running Spindle";
    case HandOverError::Unreachable:
        return "the running Spindle cannot be reached at " + f.path;
    case HandOverError::NoAnswer:
        return "the running Spindle did not answer";
    case HandOverError::Refused:
        return f.answer;
    }
    return {};
}

HandOverFault HandOver(const std::string& name, const std::vector<std::string>& args) {
    std::string message(kTag, sizeof kTag);
    for (const std::string& a : args)
        message += a + '\0';
    const std::string path = HandOverSocket(name);
    if (message.size() > kMaxMessage)
        return {HandOverError::TooLong, path, {}};
    const auto end = std::chrono::steady_clock::now() + kConnectWait;
    int fd;
    while ((fd = Connect(path)) < 0) {
        if (std::chrono::steady_clock::now() >= end)
            return {HandOverError::Unreachable, path, {}};
        usleep(20000); // the first instance is still starting
    }
    char reply[1024];
    ssize_t n = -1;
    if (SendAll(fd, message.data(), message.size()) && WaitReadable(fd, kAnswerWaitMs))
        n = recv(fd, reply, sizeof reply, 0);
    close(fd);
    if (n <= 0)
        return {HandOverError::NoAnswer, path, {}};
    if (reply[0] != '\0')
        return {HandOverError::Refused, path,
                std::string(reply + 1, static_cast<std::size_t>(n - 1))};
    return {};
}

} // namespace port
