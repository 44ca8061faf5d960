// Indexing an image in a child process. libisofs trusts the image: a folder
// whose extent points back at an ancestor makes its import loop and grow
// without end, and a damaged record may crash it. The child does the import
// under a time and memory limit and hands the finished index back through a
// pipe; whatever happens to it, the driver only sees a refusal.
#include "driver/ImageFile.h"
#include "port/FileOps.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define SPINDLE_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SPINDLE_ADDRESS_SANITIZER
#endif
#endif

namespace driver {

using namespace port;

namespace {

template <typename T> void Put(std::string& out, const T& v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void PutString(std::string& out, const std::string& s) {
    Put(out, static_cast<std::uint32_t>(s.size()));
    out += s;
}

class Reader {
public:
    explicit Reader(const std::string& data) : m_data(data) {}
    template <typename T> bool Get(T& v) {
        if (m_data.size() - m_pos < sizeof v)
            return false;
        std::memcpy(&v, m_data.data() + m_pos, sizeof v);
        m_pos += sizeof v;
        return true;
    }
    bool GetString(std::string& s) {
        std::uint32_t n = 0;
        if (!Get(n) || m_data.size() - m_pos < n)
            return false;
        s.assign(m_data, m_pos, n);
        m_pos += n;
        return true;
    }
    bool AtEnd() const { return m_pos == m_data.size(); }

private:
    const std::string& m_data;
    std::size_t m_pos = 0;
};

constexpr std::uint32_t kIndexMagic = 0x58444E49; // "INDX"

std::atomic<int> g_indexSeconds{30};
constexpr std::size_t kMaxIndexBytes = std::size_t{1} << 30;

// Reads the child's output until it closes the pipe or the deadline passes.
bool ReadUntilClosed(int fd, std::string& out, std::chrono::steady_clock::time_point deadline) {
    char buf[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > kMaxIndexBytes)
            return false; // no image of this world needs that much
    }
}

// Images refused lately. The drive manager sends an open twice (the wide
// record, then the 8-bit one) when the first is refused; the second finds
// the answer here instead of indexing the same image again. An image is known
// by its file identity, times and size, and by a hash of its volume
// descriptors and first directories (a file rewritten within one tick of the
// clock keeps its times).
struct ImageIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    std::size_t head = 0;

    bool operator==(const ImageIdentity& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && head == o.head &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

std::optional<ImageIdentity> IdentityOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return std::nullopt;
    std::string head(64 * 2048, '\0');
    ssize_t n = pread(fd, head.data(), head.size(), 16 * 2048);
    head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return ImageIdentity{st.st_dev,  st.st_ino,  st.st_size,
                         st.st_mtim, st.st_ctim, std::hash<std::string>()(head)};
}

constexpr std::size_t kRefusalsKept = 16;
constexpr auto kRefusalKept = std::chrono::seconds(60);
std::mutex g_refusalsMutex;
std::deque<std::pair<ImageIdentity, std::chrono::steady_clock::time_point>> g_refusals;

bool RecentlyRefused(const ImageIdentity& id) {
    std::lock_guard lock(g_refusalsMutex);
    auto now = std::chrono::steady_clock::now();
    while (!g_refusals.empty() && now - g_refusals.front().second > kRefusalKept)
        g_refusals.pop_front();
    for (const auto& r : g_refusals)
        if (r.first == id)
            return true;
    return false;
}

void RememberRefusal(const ImageIdentity& id) {
    std::lock_guard lock(g_refusalsMutex);
    if (g_refusals.size() >= kRefusalsKept)
        g_refusals.pop_front();
    g_refusals.emplace_back(id, std::chrono::steady_clock::now());
}

} // namespace

void ImageFile::SetIndexTimeLimit(int seconds) {
    g_indexSeconds = seconds;
}

std::string ImageFile::Serialize() const {
    std::string out;
    Put(out, kIndexMagic);
    Put(out, static_cast<std::uint64_t>(m_nodes.size()));
    Put(out, static_cast<std::uint64_t>(m_extents.size()));
    PutString(out, m_volumeId);
    for (const Node& n : m_nodes) {
        PutString(out, n.name);
        PutString(out, n.linkTarget);
        Put(out, n.size);
        Put(out, n.rdev);
        Put(out, n.mtime);
        Put(out, n.atime);
        Put(out, n.ctime);
        Put(out, n.parent);
        Put(out, n.firstChild);
        Put(out, n.childCount);
        Put(out, n.firstExtent);
        Put(out, n.extentCount);
        Put(out, n.special);
        Put(out, n.perm);
        Put(out, static_cast<std::uint8_t>(n.kind));
        Put(out, static_cast<std::uint8_t>(n.compressed));
        Put(out, static_cast<std::uint8_t>(n.form2));
        Put(out, n.track);
    }
    for (const Extent& e : m_extents) {
        Put(out, e.offset);
        Put(out, e.size);
    }
    return out;
}

bool ImageFile::Deserialize(const std::string& data) {
    Reader r(data);
    std::uint32_t magic = 0;
    std::uint64_t nodes = 0, extents = 0;
    // Every node and extent takes more than 16 bytes: counts beyond that
    // are not believed before anything is allocated.
    if (!r.Get(magic) || magic != kIndexMagic || !r.Get(nodes) || !r.Get(extents) || nodes == 0 ||
        nodes > data.size() / 16 || extents > data.size() / 16 || !r.GetString(m_volumeId))
        return false;
    m_nodes.resize(nodes);
    m_extents.resize(extents);
    for (Node& n : m_nodes) {
        std::uint8_t kind = 0, compressed = 0, form2 = 0;
        if (!r.GetString(n.name) || !r.GetString(n.linkTarget) || !r.Get(n.size) ||
            !r.Get(n.rdev) || !r.Get(n.mtime) || !r.Get(n.atime) || !r.Get(n.ctime) ||
            !r.Get(n.parent) || !r.Get(n.firstChild) || !r.Get(n.childCount) ||
            !r.Get(n.firstExtent) || !r.Get(n.extentCount) || !r.Get(n.special) || !r.Get(n.perm) ||
            !r.Get(kind) || !r.Get(compressed) || !r.Get(form2) || !r.Get(n.track) ||
            n.track > m_tracks.size() ||
            (n.track && m_tracks[n.track - 1].disc.form != vdrive::SectorForm::Audio) ||
            kind > static_cast<std::uint8_t>(NodeKind::Special))
            return false;
        n.kind = static_cast<NodeKind>(kind);
        n.compressed = compressed != 0;
        n.form2 = form2 != 0;
        const std::uint32_t type = n.special & S_IFMT;
        if (n.kind == NodeKind::Special &&
            (n.special != type ||
             (type != S_IFCHR && type != S_IFBLK && type != S_IFIFO && type != S_IFSOCK)))
            return false;
        // Every index must stay inside the tables.
        if (n.parent >= nodes || std::uint64_t{n.firstChild} + n.childCount > nodes ||
            std::uint64_t{n.firstExtent} + n.extentCount > extents)
            return false;
    }
    for (Extent& e : m_extents)
        if (!r.Get(e.offset) || !r.Get(e.size))
            return false;
    return r.AtEnd() && m_nodes[kRoot].kind == NodeKind::Dir;
}

ErrorCode ImageFile::Index() {
    auto id = IdentityOf(DataTrack() ? DataTrack()->fd : m_fd);
    if (id && RecentlyRefused(*id))
        return ERROR_UNRECOGNIZED_VOLUME;
    ErrorCode e = IndexInChild();
    if (e == ERROR_UNRECOGNIZED_VOLUME && id)
        RememberRefusal(*id);
    return e;
}

ErrorCode ImageFile::IndexInChild() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return ErrorFromErrno(errno);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        close(fds[0]);
        close(fds[1]);
        return ErrorFromErrno(err);
    }
    if (pid == 0) {
        // Ends with the driver, should the driver end first.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        close(fds[0]);
#ifndef SPINDLE_ADDRESS_SANITIZER
        // (AddressSanitizer reserves terabytes of address space up front.)
        rlimit mem{kIndexMemory, kIndexMemory};
        setrlimit(RLIMIT_AS, &mem);
#endif
        auto seconds = static_cast<rlim_t>(g_indexSeconds.load());
        rlimit cpu{seconds, seconds};
        setrlimit(RLIMIT_CPU, &cpu);
        ErrorCode e = IndexHere();
        const std::string data = e == ERROR_SUCCESS ? Serialize() : std::string();
        if (e == ERROR_SUCCESS && !port::WriteAll(fds[1], data.data(), data.size()))
            e = ERROR_NOT_ENOUGH_MEMORY;
        _exit(e == ERROR_SUCCESS ? 0 : 1);
    }
    close(fds[1]);
    std::string data;
    bool complete = ReadUntilClosed(fds[0], data,
                                    std::chrono::steady_clock::now() +
                                        std::chrono::seconds(g_indexSeconds.load()));
    close(fds[0]);
    if (!complete)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !Deserialize(data)) {
        m_nodes.clear();
        m_extents.clear();
        return ERROR_UNRECOGNIZED_VOLUME;
    }
    return ERROR_SUCCESS;
}

} // namespace driver
