// A read-only FUSE file system for the disc copy tests: it serves one image
// file as /disc.iso and fails reads of chosen 2048-byte sectors with EIO, the
// way a scratched disc does. A read that reaches a bad sector returns the
// bytes before it; a read that starts on one fails.
//
// With --room BYTES it also takes new files beside /disc.iso (kept in
// memory), as a file system with BYTES of room does: a write that would make
// all of them together larger fails with ENOSPC.
//
//   bad_sector_fs IMAGE MOUNTPOINT READY_FD [--room BYTES] [SECTOR...]
//
// Once mounted it writes one byte to READY_FD and closes it. It runs in the
// foreground until unmounted (fusermount3 -u MOUNTPOINT).
#define FUSE_USE_VERSION 312
#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kName[] = "/disc.iso";
constexpr std::int64_t kSector = 2048;

int g_image = -1;
int g_readyFd = -1;
std::set<std::int64_t> g_bad;
// --room: the files written, by path, and the room they may fill; -1: none.
std::map<std::string, std::string> g_files;
std::int64_t g_room = -1;

std::int64_t Used() {
    std::int64_t used = 0;
    for (const auto& [path, data] : g_files)
        used += static_cast<std::int64_t>(data.size());
    return used;
}

// Resizes a written file within the room.
int Resize(std::string& data, std::int64_t size) {
    if (Used() - static_cast<std::int64_t>(data.size()) + size > g_room)
        return -ENOSPC;
    data.resize(static_cast<std::size_t>(size));
    return 0;
}

void* Init(fuse_conn_info*, fuse_config* config) {
    config->direct_io = 1; // every read reaches Read(), none is served from a cache
    if (g_readyFd >= 0) {
        (void)!::write(g_readyFd, "1", 1);
        ::close(g_readyFd);
        g_readyFd = -1;
    }
    return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return 0;
    }
    if (auto f = g_files.find(path); f != g_files.end()) {
        st->st_mode = S_IFREG | 0644;
        st->st_nlink = 1;
        st->st_size = static_cast<off_t>(f->second.size());
        return 0;
    }
    if (std::strcmp(path, kName) != 0)
        return -ENOENT;
    struct stat image {};
    if (::fstat(g_image, &image) != 0)
        return -errno;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = image.st_size;
    return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buf, ".", nullptr, 0, FUSE_FILL_DIR_PLUS);
    fill(buf, "..", nullptr, 0, FUSE_FILL_DIR_PLUS);
    fill(buf, kName + 1, nullptr, 0, FUSE_FILL_DIR_PLUS);
    for (const auto& [name, data] : g_files)
        fill(buf, name.c_str() + 1, nullptr, 0, FUSE_FILL_DIR_PLUS);
    return 0;
}

int Create(const char* path, mode_t, fuse_file_info* fi) {
    if (g_room < 0 || std::strcmp(path, kName) == 0)
        return -EROFS;
    g_files.try_emplace(path);
    fi->direct_io = 1;
    return 0;
}

int Write(const char* path, const char* buf, size_t size, off_t offset, fuse_file_info*) {
    auto f = g_files.find(path);
    if (f == g_files.end())
        return -EROFS;
    std::string& data = f->second;
    const std::int64_t end = offset + static_cast<std::int64_t>(size);
    if (end > static_cast<std::int64_t>(data.size()))
        if (int rc = Resize(data, end))
            return rc;
    std::memcpy(data.data() + offset, buf, size);
    return static_cast<int>(size);
}

int Truncate(const char* path, off_t size, fuse_file_info*) {
    auto f = g_files.find(path);
    return f == g_files.end() ? -EROFS : Resize(f->second, size);
}

int Unlink(const char* path) {
    return g_files.erase(path) ? 0 : std::strcmp(path, kName) == 0 ? -EROFS : -ENOENT;
}

int Rename(const char* from, const char* to, unsigned int flags) {
    auto f = g_files.find(from);
    if (flags || f == g_files.end() || std::strcmp(to, kName) == 0)
        return f == g_files.end() ? -ENOENT : -EROFS;
    std::string data = std::move(f->second);
    g_files.erase(f);
    g_files[to] = std::move(data);
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    if (g_files.count(path)) {
        fi->direct_io = 1;
        return 0;
    }
    if (std::strcmp(path, kName) != 0)
        return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    fi->direct_io = 1;
    return 0;
}

int Read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info*) {
    if (auto f = g_files.find(path); f != g_files.end()) {
        const std::string& data = f->second;
        if (offset >= static_cast<off_t>(data.size()))
            return 0;
        size = std::min<size_t>(size, data.size() - static_cast<size_t>(offset));
        std::memcpy(buf, data.data() + offset, size);
        return static_cast<int>(size);
    }
    // The first bad sector the read touches cuts it short.
    auto bad = g_bad.lower_bound(offset / kSector);
    if (bad != g_bad.end() && *bad * kSector < offset + static_cast<off_t>(size)) {
        const off_t stop = std::max<off_t>(*bad * kSector, offset);
        if (stop == offset)
            return -EIO;
        size = static_cast<size_t>(stop - offset);
    }
    ssize_t n = ::pread(g_image, buf, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s IMAGE MOUNTPOINT READY_FD [--room BYTES] [SECTOR...]\n",
                     argv[0]);
        return 2;
    }
    g_image = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (g_image < 0) {
        std::perror(argv[1]);
        return 1;
    }
    g_readyFd = std::atoi(argv[3]);
    int first = 4;
    if (argc > 5 && std::strcmp(argv[4], "--room") == 0) {
        g_room = std::atoll(argv[5]);
        first = 6;
    }
    for (int i = first; i < argc; ++i)
        g_bad.insert(std::atoll(argv[i]));

    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.read = Read;
    ops.create = Create;
    ops.write = Write;
    ops.truncate = Truncate;
    ops.unlink = Unlink;
    ops.rename = Rename;
    char* args[] = {
        argv[0],
        argv[2],
        const_cast<char*>("-f"),
        const_cast<char*>("-s"),
        const_cast<char*>("-o"),
        const_cast<char*>(g_room < 0 ? "ro,default_permissions" : "default_permissions")};
    return fuse_main(6, args, &ops, nullptr);
}
