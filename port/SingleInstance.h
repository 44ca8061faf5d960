// A per-user, named single-instance lock: an exclusive flock on a file of
// that name in the runtime folder. The kernel releases it when the holder
// ends, however it ends, so a crashed instance never blocks the next start.
#pragma once

#include <string>

namespace port {

class SingleInstanceLock {
public:
    // Tries to take the lock `name` (e.g. "PreventSecondInstance").
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when another process holds the lock: this instance should end.
    // When the lock file cannot be made at all, the answer is false, so a
    // broken runtime folder never keeps the program from starting.
    bool AlreadyExists() const { return m_alreadyExists; }

private:
    int m_fd = -1;
    bool m_alreadyExists = false;
};

} // namespace port
