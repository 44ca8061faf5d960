#include "driver/StopGuard.h"

#include <csignal>
#include <pthread.h>

namespace driver {

namespace {

// How often the guard looks whether a stop was asked for.
constexpr std::chrono::milliseconds kPoll(100);

} // namespace

StopGuard::StopGuard(std::function<bool()> stopAsked, std::chrono::milliseconds limit,
                     std::function<void()> expire)
    : m_stopAsked(std::move(stopAsked)), m_limit(limit), m_expire(std::move(expire)) {
    // Signals stay with the file system's loop, which they end.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    m_thread = std::thread([this] { Watch(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

StopGuard::~StopGuard() {
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    m_thread.join();
}

void StopGuard::Watch() {
    std::unique_lock lock(m_mutex);
    while (!m_finished && !m_stopAsked())
        m_done.wait_for(lock, kPoll);
    if (m_finished || m_done.wait_for(lock, m_limit, [this] { return m_finished; }))
        return;
    m_expire();
}

} // namespace driver
