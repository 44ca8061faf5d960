#include "driver/Server.h"

#include "driver/Session.h"
#include "port/DriverWire.h"
#include "port/FileOps.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// Only the driver's own user is served: another user who reaches the socket
// could otherwise load and read images only this user may read.
bool FromOwnUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
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
    // The socket is the user's alone, whatever the umask: it is created
    // without rights for others, and made 0600 in case the umask took more.
    mode_t oldMask = umask(0177);
    int bound = bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    umask(oldMask);
    if (bound != 0 || chmod(socketPath.c_str(), 0600) != 0 || listen(m_listenFd, 64) != 0) {
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
        for (const auto& [fd, c] : m_connections)
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
        if (m_stopping) {
            close(fd);
            return;
        }
        if (m_connections.size() >= kMaxConnections && !EvictOneLocked()) {
            close(fd);
            continue;
        }
        m_connections[fd] = Connection{std::chrono::steady_clock::now()};
        bool own = FromOwnUser(fd);
        std::thread([this, fd, own] { Serve(fd, own); }).detach();
    }
}

bool Server::EvictOneLocked() {
    auto oldest = m_connections.end();
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        const Connection& c = it->second;
        if (!c.busy && !c.evicted &&
            (oldest == m_connections.end() || c.lastActive < oldest->second.lastActive))
            oldest = it;
    }
    if (oldest == m_connections.end())
        return false;
    // Its thread sees the end of the connection and frees the place.
    oldest->second.evicted = true;
    shutdown(oldest->first, SHUT_RDWR);
    return true;
}

bool Server::WaitForMessage(int fd, bool greeted) {
    auto timeout = greeted ? std::chrono::duration_cast<std::chrono::milliseconds>(kIdleTimeout)
                           : std::chrono::duration_cast<std::chrono::milliseconds>(kHelloTimeout);
    pollfd p{fd, POLLIN, 0};
    int n;
    while ((n = poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
    }
    return n > 0;
}

void Server::Serve(int fd, bool ownUser) {
    BlockSignals();
    {
        Session session(m_table);
        std::vector<std::uint8_t> buf(port::wire::kWireMaxMessage + 1);
        bool hello = true;
        for (;;) {
            if (!WaitForMessage(fd, !hello))
                break; // silent too long
            // MSG_TRUNC gives the real length of an oversized message.
            ssize_t n = recv(fd, buf.data(), buf.size(), MSG_TRUNC);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (n == 0 && PeerGone(fd)))
                break;
            auto len = static_cast<size_t>(n);
            {
                std::lock_guard lock(m_mutex);
                m_connections[fd].busy = true;
            }
            std::vector<std::uint8_t> reply;
            bool keep = true;
            if (len > port::wire::kWireMaxMessage) {
                reply =
                    hello
                        ? port::wire::Encode(port::wire::HelloReply{port::ERROR_INVALID_PARAMETER})
                        : port::wire::Encode(port::wire::Reply{port::ERROR_INVALID_PARAMETER, {}});
                keep = !hello;
            } else if (hello && !ownUser) {
                // Another user's Hello is answered "access denied" and the
                // connection ends.
                reply = port::wire::Encode(port::wire::HelloReply{port::ERROR_ACCESS_DENIED});
                keep = false;
            } else if (hello) {
                reply = session.OnHello(buf.data(), len, keep);
                hello = false;
            } else {
                reply = session.OnRequest(buf.data(), len);
            }
            bool sent = port::SendAll(fd, reply.data(), reply.size());
            {
                std::lock_guard lock(m_mutex);
                Connection& c = m_connections[fd];
                c.busy = false;
                c.lastActive = std::chrono::steady_clock::now();
            }
            if (!sent || !keep)
                break;
        }
    } // the session ends (and settles a pending close) before the fd is released
    std::lock_guard lock(m_mutex);
    m_connections.erase(fd);
    close(fd);
    m_idle.notify_all();
}

} // namespace driver
