// Opening an image's files and finding nodes of its index.
#include "driver/ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace driver {

using namespace port;

namespace {

// Opens one file of an image without waiting: opening a FIFO would otherwise
// block until someone writes to it (holding the caller's mount for good).
// Held shared for as long as it is mounted: a writer that asks for the file
// alone (the volume label writer) sees it open elsewhere. `size` is the
// file's (or block device's) size.
ErrorCode OpenImagePart(const std::string& path, int& fd, std::uint64_t& size) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return ERROR_FILE_NOT_FOUND;
        if (err == EISDIR)
            return ERROR_UNRECOGNIZED_VOLUME;
        return ErrorFromErrno(err);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return ErrorFromErrno(errno);
    size = static_cast<std::uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode) ? ioctl(fd, BLKGETSIZE64, &size) != 0 : !S_ISREG(st.st_mode))
        return ERROR_UNRECOGNIZED_VOLUME;
    if (flock(fd, LOCK_SH | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno);
    // Reads wait for their data as usual.
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return ErrorFromErrno(errno);
    return ERROR_SUCCESS;
}

// Bytes of user data a track offers: 2352 per audio sector, 2048 per data
// sector. A plain image's last block may be short: it reads to the file's end.
std::uint64_t UserSize(const vdrive::DiscTrack& t, std::uint64_t fileSize) {
    if (t.form == vdrive::SectorForm::Audio)
        return t.sectors * 2352;
    std::uint64_t size = t.sectors * 2048;
    if (t.form == vdrive::SectorForm::Mode1_2048 && t.stride == 2048 && t.offset <= fileSize)
        size = std::min(size + 2047, fileSize - t.offset);
    return size;
}

} // namespace

ImageFile::~ImageFile() {
    for (int fd : m_files)
        close(fd);
}

ErrorCode ImageFile::Open(const std::string& path, std::shared_ptr<ImageFile>& out) {
    // Anything but a regular file holds no descriptor: a block device is a
    // plain image of its whole size, and the rest is refused on opening.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        vdrive::Disc disc;
        disc.descriptor = path;
        disc.tracks.emplace_back();
        disc.tracks[0].file = path;
        std::uint64_t size = 0;
        int fd = S_ISBLK(st.st_mode) ? open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
        if (fd >= 0 && ioctl(fd, BLKGETSIZE64, &size) == 0)
            disc.tracks[0].sectors = size / 2048;
        if (fd >= 0)
            close(fd);
        return Open(disc, out);
    }
    vdrive::Disc disc;
    vdrive::DiscFault fault;
    if (!vdrive::ReadDisc(path, disc, fault))
        return fault.code != ERROR_SUCCESS ? fault.code : ERROR_UNRECOGNIZED_VOLUME;
    return Open(disc, out);
}

ErrorCode ImageFile::Open(const vdrive::Disc& disc, std::shared_ptr<ImageFile>& out) {
    std::shared_ptr<ImageFile> img(new ImageFile());
    if (ErrorCode e = img->OpenFiles(disc))
        return e;
    // libisofs reads the very files opened here, not whatever the paths
    // name by now.
    if (ErrorCode e = img->Index())
        return e;
    out = std::move(img);
    return ERROR_SUCCESS;
}

ErrorCode ImageFile::OpenFiles(const vdrive::Disc& disc) {
    if (disc.tracks.empty())
        return ERROR_UNRECOGNIZED_VOLUME;
    std::uint64_t size = 0;
    if (ErrorCode e = OpenImagePart(disc.descriptor, m_fd, size)) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        return e;
    }
    m_files.push_back(m_fd);
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_mtime = st.st_mtim.tv_sec;
    // Each file once, however many tracks it holds.
    std::vector<std::pair<std::string, std::pair<int, std::uint64_t>>> opened;
    bool plain = true;
    for (const vdrive::DiscTrack& t : disc.tracks) {
        OpenTrack track{t, -1, 0, 0};
        auto known = std::find_if(opened.begin(), opened.end(),
                                  [&](const auto& o) { return o.first == t.file; });
        if (known != opened.end()) {
            std::tie(track.fd, track.fileSize) = known->second;
        } else if (t.file == disc.descriptor) {
            track.fd = m_fd;
            track.fileSize = size;
        } else {
            plain = false;
            ErrorCode e = OpenImagePart(t.file, track.fd, track.fileSize);
            if (track.fd >= 0)
                m_files.push_back(track.fd);
            if (e)
                return e;
        }
        if (known == opened.end())
            opened.push_back({t.file, {track.fd, track.fileSize}});
        track.userSize = UserSize(t, track.fileSize);
        if (m_data < 0 && t.form != vdrive::SectorForm::Audio)
            m_data = static_cast<int>(m_tracks.size());
        m_tracks.push_back(std::move(track));
    }
    m_imageSize = 0;
    for (const auto& o : opened)
        m_imageSize += o.second.second;
    if (plain)
        m_imageSize = size;
    return ERROR_SUCCESS;
}

std::optional<std::uint32_t> ImageFile::Find(std::uint32_t dir, std::string_view name) const {
    if (dir >= m_nodes.size() || m_nodes[dir].kind != NodeKind::Dir)
        return std::nullopt;
    const Node& d = m_nodes[dir];
    auto first = m_nodes.begin() + d.firstChild;
    auto last = first + d.childCount;
    auto it = std::lower_bound(first, last, name,
                               [](const Node& n, std::string_view v) { return n.name < v; });
    if (it == last || it->name != name)
        return std::nullopt;
    return static_cast<std::uint32_t>(it - m_nodes.begin());
}

std::optional<std::uint32_t> ImageFile::FindPath(std::string_view path) const {
    std::uint32_t cur = kRoot;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part.empty())
            continue;
        auto next = Find(cur, part);
        if (!next)
            return std::nullopt;
        cur = *next;
    }
    return cur;
}

} // namespace driver
