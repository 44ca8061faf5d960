// Bounds the driver's stop. Once the loop has been told to end (a signal or
// --stop), the rest of the stop gets a time limit; past it, `expire` runs
// (it detaches the mounts, removes the socket and ends the process), so a
// stop never hangs on a request that does not return.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace driver {

class StopGuard {
public:
    StopGuard(std::function<bool()> stopAsked, std::chrono::milliseconds limit,
              std::function<void()> expire);
    // The stop is done: the guard ends without expiring.
    ~StopGuard();
    StopGuard(const StopGuard&) = delete;
    StopGuard& operator=(const StopGuard&) = delete;

private:
    void Watch();

    std::function<bool()> m_stopAsked;
    std::chrono::milliseconds m_limit;
    std::function<void()> m_expire;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace driver
