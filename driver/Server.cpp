#include "driver/Server.h"

#include "driver/Session.h"
#include "port/DriverWire.h"
#include "port/FileOps.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace driver {

namespace {

// Signals are for the FUSE loop's threads; the server's threads never take them.
void BlockSignals() {
    sigset_t set;
    sigfillset(&set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// recv() gives 0 both for an empty message and for the end of the
// connection; only the latter raises a hang-up.
bool PeerGone(int fd) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return poll(&p, 1, 0) != 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR));
}

} // namespace

Server::~Server() {
    Stop();
}

bool Server::Listen(const std::string& socketPath) {
    sockaddr_un addr{};
    if (socketPath.size() >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    m_listenFd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    addr.sun_family = AF_UNIX;
    socketPath.copy(addr.sun_path, socketPath.size());
    unlink(socketPath.c_str());
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(m_listenFd, 64) != 0) {
        int err = errno;
        close(m_listenFd);
        m_listenFd = -1;
        errno = err;
        return false;
    }
    m_path = socketPath;
    return true;
}

void Server::Start() {
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

bool Server::Stop(std::chrono::milliseconds wait) {
    {
        std::lock_guard lock(m_mutex);
        if (m_listenFd < 0)
            return true;
        if (m_stopping)
            return m_connections.empty();
        m_stopping = true;
        for (int fd : m_connections)
            shutdown(fd, SHUT_RDWR);
    }
    shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    close(m_listenFd);
    if (!m_path.empty())
        unlink(m_path.c_str());
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, wait, [this] { return m_connections.empty(); });
}

void Server::AcceptLoop() {
    BlockSignals();
    for (;;) {
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            int err = errno;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    return;
            }
            // Out of descriptors or memory for a moment: try again shortly
            // rather than stop serving.
            if (err != EINTR && err != ECONNABORTED)
                usleep(10000);
            continue;
        }
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_connections.size() >= kMaxConnections) {
            close(fd);
            if (m_stopping)
                return;
            continue;
        }
        m_connections.insert(fd);
        std::thread([this, fd] { Serve(fd); }).detach();
    }
}

void Server::Serve(int fd) {
    BlockSignals();
    {
        Session session(m_table);
        std::vector<std::uint8_t> buf(port::wire::kWireMaxMessage + 1);
        bool hello = true;
        for (;;) {
            // MSG_TRUNC gives the real length of an oversized message.
            ssize_t n = recv(fd, buf.data(), buf.size(), MSG_TRUNC);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (n == 0 && PeerGone(fd)))
                break;
            auto len = static_cast<size_t>(n);
            std::vector<std::uint8_t> reply;
            bool keep = true;
            if (len > port::wire::kWireMaxMessage) {
                reply = hello ? port::wire::Encode(port::wire::HelloReply{port::ERROR_INVALID_PARAMETER})
                              : port::wire::Encode(port::wire::Reply{port::ERROR_INVALID_PARAMETER, {}});
                keep = !hello;
            } else if (hello) {
                reply = session.OnHello(buf.data(), len, keep);
                hello = false;
            } else {
                reply = session.OnRequest(buf.data(), len);
            }
            if (!port::SendAll(fd, reply.data(), reply.size()) || !keep)
                break;
        }
    } // the session ends (and settles a pending close) before the fd is released
    std::lock_guard lock(m_mutex);
    m_connections.erase(fd);
    close(fd);
    m_idle.notify_all();
}

} // namespace driver
