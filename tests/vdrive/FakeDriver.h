// A stand-in for spindle-driver on the socket of a test's runtime folder:
// it records every Hello and request and answers them as the test says.
// Connections are served one at a time, as the drive manager makes them.
#pragma once

#include "port/DriverWire.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace spindle_test {

struct DriverCall {
    std::string device;
    char16_t letter = 0;
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::uint32_t outCapacity = 0;
};

class FakeDriver {
public:
    using Handler = std::function<port::wire::Reply(const DriverCall&)>;
    using HelloHandler = std::function<std::uint32_t(const port::wire::Hello&)>;

    FakeDriver(const std::string& runtimeDir, Handler handler, HelloHandler hello = nullptr)
        : handler_(std::move(handler)), hello_(std::move(hello)) {
        listen_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = runtimeDir + "/" + port::wire::kSocketName;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listen_, 8);
        if (pipe(stop_) != 0)
            stop_[0] = stop_[1] = -1;
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeDriver() {
        if (write(stop_[1], "x", 1) < 0) {
        }
        thread_.join();
        close(listen_);
        close(stop_[0]);
        close(stop_[1]);
    }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;

    std::vector<DriverCall> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // Hellos seen (device names), probes included.
    std::vector<std::string> Hellos() {
        std::lock_guard<std::mutex> lock(mutex_);
        return hellos_;
    }

private:
    void Serve() {
        for (;;) {
            pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
                return;
            int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                ServeConnection(c);
                close(c);
            }
        }
    }
    void ServeConnection(int c) {
        std::vector<std::uint8_t> buf(port::wire::kWireMaxMessage);
        ssize_t n = recv(c, buf.data(), buf.size(), 0);
        if (n <= 0)
            return;
        auto hello = port::wire::DecodeHello(buf.data(), static_cast<size_t>(n));
        if (!hello)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hellos_.push_back(hello->device);
        }
        std::uint32_t err = hello_ ? hello_(*hello) : 0;
        auto reply = port::wire::Encode(port::wire::HelloReply{err});
        send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        if (err)
            return;
        while ((n = recv(c, buf.data(), buf.size(), 0)) > 0) {
            auto req = port::wire::DecodeRequest(buf.data(), static_cast<size_t>(n));
            if (!req)
                return;
            DriverCall call{hello->device, hello->letter, req->code, req->input, req->outCapacity};
            {
                std::lock_guard<std::mutex> lock(mutex_);
                calls_.push_back(call);
            }
            auto out = port::wire::Encode(handler_(call));
            send(c, out.data(), out.size(), MSG_NOSIGNAL);
        }
    }

    Handler handler_;
    HelloHandler hello_;
    int listen_ = -1;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<DriverCall> calls_;
    std::vector<std::string> hellos_;
};

} // namespace spindle_test
