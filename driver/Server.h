// The protocol server: listens on the runtime folder's driver.sock
// (AF_UNIX, SOCK_SEQPACKET) and serves each connection on a thread of its
// own, so a slow or silent client never holds up another.
#pragma once

#include "driver/DeviceTable.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
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

private:
    void AcceptLoop();
    void Serve(int fd);

    DeviceTable& m_table;
    std::string m_path;
    int m_listenFd = -1;
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::set<int> m_connections;
    bool m_stopping = false;
};

} // namespace driver
