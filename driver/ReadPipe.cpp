#include "driver/ReadPipe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace driver {

namespace {

// Twice the largest read: a read at an unaligned offset spans one page more
// than its size, and each piece may add a partial page.
constexpr int kPipeBytes = 1 << 20;

} // namespace

ReadPipe& ReadPipe::ForThisThread() {
    thread_local ReadPipe pipe;
    return pipe;
}

ReadPipe::~ReadPipe() {
    Close();
}

bool ReadPipe::Open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    m_read = fds[0];
    m_write = fds[1];
    // Never wait for room: a full pipe means "read another way".
    if (fcntl(m_write, F_SETPIPE_SZ, kPipeBytes) < kPipeBytes ||
        fcntl(m_write, F_SETFL, O_NONBLOCK) != 0) {
        Close();
        return false;
    }
    return true;
}

void ReadPipe::Close() {
    if (m_read >= 0)
        close(m_read);
    if (m_write >= 0)
        close(m_write);
    m_read = m_write = -1;
}

ReadPipe::Fill ReadPipe::Load(const std::vector<ReadPiece>& pieces) {
    std::size_t total = 0;
    for (const ReadPiece& p : pieces)
        total += p.size;
    if (total > kPipeBytes / 2 || (m_read < 0 && !Open()))
        return Fill::Unavailable;
    for (const ReadPiece& p : pieces) {
        loff_t at = static_cast<loff_t>(p.offset);
        std::size_t left = p.size;
        while (left > 0) {
            ssize_t n =
                splice(p.fd, &at, m_write, nullptr, left, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                Close(); // whatever went in is not wanted
                return n == 0 ? Fill::Short : Fill::Unavailable;
            }
            left -= static_cast<std::size_t>(n);
        }
    }
    return Fill::Done;
}

void ReadPipe::Settle() {
    int left = 0;
    if (m_read >= 0 && (ioctl(m_read, FIONREAD, &left) != 0 || left != 0))
        Close();
}

} // namespace driver
