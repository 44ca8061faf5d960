#include "port/SingleInstance.h"

#include "port/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace port {

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    std::string path = RuntimeDir() + "/" + name + ".lock";
    // Close-on-exec: programs the instance starts (file manager, browser) must
    // not inherit the lock and keep the name taken after it ends.
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_alreadyExists = errno == EWOULDBLOCK;
        close(m_fd);
        m_fd = -1;
    }
}

SingleInstanceLock::~SingleInstanceLock() {
    if (m_fd >= 0)
        close(m_fd);
}

} // namespace port
