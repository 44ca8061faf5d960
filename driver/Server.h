// The protocol server: listens on the runtime folder's driver.sock
// (AF_UNIX, SOCK_SEQPACKET) and serves each connection on a thread of its
// own, so a slow or silent client never holds up another.
#pragma once

#include "driver/DeviceTable.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace driver {

class Server {
public:
    explicit Server(DeviceTable& table) : m_table(table) {}
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens (a stale socket file is replaced: the caller holds
    // the driver's lock). False with errno set on failure.
    bool Listen(const std::string& socketPath);
    // Starts accepting on a thread of its own.
    void Start();
    // Stops accepting, ends every connection and waits up to `wait` for
    // their threads (one may be busy opening an image). False when some are
    // still running: the server must then outlive them (the process ends).
    bool Stop(std::chrono::milliseconds wait = std::chrono::hours(1));

    static constexpr int kMaxConnections = 256;
    // A connection that has not said Hello within this time is closed; so is
    // one silent for kIdleTimeout after it. When every place is taken, the
    // connection idle the longest (greeted or not, never one whose request
    // is being served) makes room for the new.
    static constexpr std::chrono::seconds kHelloTimeout{5};
    static constexpr std::chrono::minutes kIdleTimeout{10};

private:
    void AcceptLoop();
    // Serves one connection; a connection of another user than the driver's
    // own (ownUser false) gets its Hello refused.
    void Serve(int fd, bool ownUser);
    // Shuts down the connection idle the longest; false when every one is
    // busy with a request. Called with m_mutex held.
    bool EvictOneLocked();
    // Waits for the next message within the connection's timeout.
    bool WaitForMessage(int fd, bool greeted);

    DeviceTable& m_table;
    std::string m_path;
    int m_listenFd = -1;
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    struct Connection {
        std::chrono::steady_clock::time_point lastActive; // accepted, or last answered
        bool busy = false;                                // a request of it is being served
        bool evicted = false;                             // shut down to make room
    };
    std::map<int, Connection> m_connections;
    bool m_stopping = false;
};

} // namespace driver
