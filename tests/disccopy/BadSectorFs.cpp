// A read-only FUSE file system for the disc copy tests: it serves one image
// file as /disc.iso and fails reads of chosen 2048-byte sectors with EIO, the
// way a scratched disc does. A read that reaches a bad sector returns the
// bytes before it; a read that starts on one fails.
//
//   bad_sector_fs IMAGE MOUNTPOINT READY_FD [SECTOR...]
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
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    if (std::strcmp(path, kName) != 0)
        return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    fi->direct_io = 1;
    return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset, fuse_file_info*) {
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
        std::fprintf(stderr, "usage: %s IMAGE MOUNTPOINT READY_FD [SECTOR...]\n", argv[0]);
        return 2;
    }
    g_image = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (g_image < 0) {
        std::perror(argv[1]);
        return 1;
    }
    g_readyFd = std::atoi(argv[3]);
    for (int i = 4; i < argc; ++i)
        g_bad.insert(std::atoll(argv[i]));

    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.read = Read;
    char* args[] = {argv[0],
                    argv[2],
                    const_cast<char*>("-f"),
                    const_cast<char*>("-s"),
                    const_cast<char*>("-o"),
                    const_cast<char*>("ro,default_permissions")};
    return fuse_main(6, args, &ops, nullptr);
}
