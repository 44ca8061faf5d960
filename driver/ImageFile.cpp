#include "driver/ImageFile.h"
#include "driver/TreeCheck.h"

extern "C" {
#include <libisofs/libisofs.h>
}

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace driver {

using namespace port;

namespace {

// libisofs keeps process-wide state (message queue, charset); one import at
// a time.
std::mutex g_libisofsMutex;

void InitLibisofs() {
    static bool done = false;
    if (done)
        return;
    iso_init();
    // Names come out as UTF-8 whatever the daemon's locale.
    iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
    iso_set_msgs_severities(const_cast<char*>("NEVER"), const_cast<char*>("NEVER"),
                            const_cast<char*>("spindle-driver"));
    done = true;
}

struct ImportedImage {
    IsoImage* image = nullptr;
    ImportedImage() = default;
    ImportedImage(const ImportedImage&) = delete;
    ImportedImage& operator=(ImportedImage&& other) noexcept {
        std::swap(image, other.image);
        return *this;
    }
    ~ImportedImage() {
        if (image)
            iso_image_unref(image);
    }
};

std::uint16_t ShownPerm(IsoNode* n, NodeKind kind) {
    switch (kind) {
    case NodeKind::Dir: return 0555;
    case NodeKind::Symlink: return 0777;
    case NodeKind::File:
    case NodeKind::Special: break;
    }
    // Readable by everyone, never writable; execute bits as recorded.
    return static_cast<std::uint16_t>((iso_node_get_permissions(n) & 0111) | 0444);
}

// The image as libisofs reads it: blocks of 2048 bytes from the open file.
// An image whose size is not padded to a whole number of blocks ends in a
// short block, read with zeros after the end of the file as the kernel reads
// it; so is the block right after the end, which libisofs asks for after a
// folder that fills the last block. Any other failed read is counted: libisofs
// only reports it as a message and shows the folder empty.
struct BlockSource {
    int fd = -1;
    std::uint64_t size = 0;
    int* failures = nullptr;

    static int Open(IsoDataSource*) { return ISO_SUCCESS; }
    static int Close(IsoDataSource*) { return ISO_SUCCESS; }
    static void Free(IsoDataSource* src) { delete static_cast<BlockSource*>(src->data); }
    static int ReadBlock(IsoDataSource* src, std::uint32_t lba, std::uint8_t* buffer) {
        const auto& self = *static_cast<BlockSource*>(src->data);
        constexpr std::uint64_t kBlock = 2048;
        const std::uint64_t at = std::uint64_t{lba} * kBlock;
        const std::uint64_t end = (self.size + kBlock - 1) / kBlock * kBlock;
        if (at > end) {
            ++*self.failures;
            return static_cast<int>(ISO_DATA_SOURCE_MISHAP);
        }
        const auto want =
            static_cast<std::size_t>(std::min(kBlock, self.size - std::min(at, self.size)));
        std::size_t got = 0;
        while (got < want) {
            ssize_t n = pread(self.fd, buffer + got, want - got, static_cast<off_t>(at + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ++*self.failures;
                return static_cast<int>(ISO_DATA_SOURCE_MISHAP);
            }
            got += static_cast<std::size_t>(n);
        }
        std::memset(buffer + got, 0, kBlock - got);
        return ISO_SUCCESS;
    }
};

// Imports the image open at `fd` (`size` bytes) with libisofs; `joliet`
// false leaves the Joliet tree unread, `iso1999` false the enhanced one.
// `failures` counts the blocks that could not be read.
int Import(int fd, std::uint64_t size, bool joliet, bool iso1999, ImportedImage& imported,
           int& failures) {
    auto* src = static_cast<IsoDataSource*>(calloc(1, sizeof(IsoDataSource)));
    if (!src)
        return -1;
    src->refcount = 1; // freed (with free()) by libisofs at the last unref
    src->open = BlockSource::Open;
    src->close = BlockSource::Close;
    src->read_block = BlockSource::ReadBlock;
    src->free_data = BlockSource::Free;
    src->data = new BlockSource{fd, size, &failures};
    IsoReadOpts* ro = nullptr;
    if (iso_read_opts_new(&ro, 0) < 0) {
        iso_data_source_unref(src);
        return -1;
    }
    // Rock Ridge is preferred over Joliet by default; plain ISO 9660 names
    // lose their ";1".
    iso_read_opts_set_input_charset(ro, const_cast<char*>("UTF-8"));
    iso_read_opts_set_ecma119_map(ro, 1);
    iso_read_opts_set_joliet_map(ro, 1);
    iso_read_opts_set_no_md5(ro, 1);
    iso_read_opts_set_no_aaip(ro, 1);
    iso_read_opts_set_no_joliet(ro, joliet ? 0 : 1);
    iso_read_opts_set_no_iso1999(ro, iso1999 ? 0 : 1);
    int rc = iso_image_new("import", &imported.image);
    if (rc >= 0)
        rc = iso_image_import(imported.image, src, ro, nullptr);
    iso_read_opts_free(ro);
    iso_data_source_unref(src);
    return rc;
}

bool IsSpecialType(mode_t mode) {
    const mode_t type = mode & S_IFMT;
    return type == S_IFCHR || type == S_IFBLK || type == S_IFIFO || type == S_IFSOCK;
}

} // namespace

ImageFile::~ImageFile() {
    if (m_fd >= 0)
        close(m_fd);
}

ErrorCode ImageFile::Open(const std::string& path, std::shared_ptr<ImageFile>& out) {
    std::shared_ptr<ImageFile> img(new ImageFile());
    // Without waiting: opening a FIFO would otherwise block until someone
    // writes to it (holding the caller's mount for good).
    img->m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (img->m_fd < 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return ERROR_FILE_NOT_FOUND;
        if (err == EISDIR)
            return ERROR_UNRECOGNIZED_VOLUME;
        return ErrorFromErrno(err);
    }
    struct stat st {};
    if (fstat(img->m_fd, &st) != 0)
        return ErrorFromErrno(errno);
    std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode) ? ioctl(img->m_fd, BLKGETSIZE64, &size) != 0 : !S_ISREG(st.st_mode))
        return ERROR_UNRECOGNIZED_VOLUME;
    // Held shared for as long as it is mounted: a writer that asks for the
    // file alone (the volume label writer) sees it open elsewhere.
    if (flock(img->m_fd, LOCK_SH | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno);
    // Reads wait for their data as usual.
    int flags = fcntl(img->m_fd, F_GETFL);
    if (flags < 0 || fcntl(img->m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return ErrorFromErrno(errno);
    img->m_imageSize = size;
    // libisofs reads the very file opened above, not whatever the path names
    // by now.
    ErrorCode e = img->Index();
    if (e != ERROR_SUCCESS)
        return e;
    out = std::move(img);
    return ERROR_SUCCESS;
}

ErrorCode ImageFile::IndexHere() {
    std::lock_guard lock(g_libisofsMutex);
    InitLibisofs();

    // Loops and exploding trees are refused before libisofs sees them; a
    // Joliet or enhanced tree that is unusable is left out and the image is
    // shown from its ISO 9660 tree.
    const int fd = m_fd;
    TreeReport trees = CheckTrees(
        [fd](std::uint64_t off, void* buf, std::size_t len) {
            return pread(fd, buf, len, static_cast<off_t>(off)) == static_cast<ssize_t>(len);
        },
        m_imageSize);
    if (trees.primary != TreeState::Fine)
        return ERROR_UNRECOGNIZED_VOLUME;
    bool joliet = trees.joliet != TreeState::Damaged;
    const bool iso1999 = trees.iso1999 != TreeState::Damaged;
    int failures = 0;
    ImportedImage imported;
    int rc = Import(fd, m_imageSize, joliet, iso1999, imported, failures);
    // A Joliet descriptor the walk accepted may still fail libisofs's own
    // checks, or hold a folder it could not read (which it would show
    // empty): the ISO 9660 tree is shown instead.
    if ((rc < 0 || failures > 0) && joliet && trees.joliet == TreeState::Fine) {
        imported = ImportedImage();
        joliet = false;
        failures = 0;
        rc = Import(fd, m_imageSize, joliet, iso1999, imported, failures);
    }
    if (rc < 0)
        return ERROR_UNRECOGNIZED_VOLUME;

    if (const char* vid = iso_image_get_volume_id(imported.image))
        m_volumeId = vid;

    // Breadth first, so that the children of each folder get consecutive
    // numbers and can be sorted for lookups by name.
    m_nodes.emplace_back();
    m_nodes[0].kind = NodeKind::Dir;
    m_nodes[0].perm = 0555;
    IsoDir* rootDir = iso_image_get_root(imported.image);
    {
        IsoNode* r = reinterpret_cast<IsoNode*>(rootDir);
        m_nodes[0].mtime = iso_node_get_mtime(r);
        m_nodes[0].atime = iso_node_get_atime(r);
        m_nodes[0].ctime = iso_node_get_ctime(r);
    }
    // Where the boot catalog lies and how long it is, when it has a node.
    std::optional<std::pair<std::uint32_t, std::uint64_t>> bootCatalog;
    {
        IsoBoot* catNode = nullptr;
        std::uint32_t lba = 0;
        char* content = nullptr;
        off_t size = 0;
        // (Asked of bootable images only: libisofs 1.5.4 crashes on others.)
        if (iso_image_get_boot_image(imported.image, nullptr, nullptr, nullptr) == 1 &&
            iso_image_get_bootcat(imported.image, &catNode, &lba, &content, &size) == 1 && size >= 0)
            bootCatalog.emplace(lba, static_cast<std::uint64_t>(size));
        free(content);
    }
    std::deque<std::pair<IsoDir*, std::uint32_t>> queue{{rootDir, kRoot}};
    std::vector<std::pair<std::string, IsoNode*>> children;
    while (!queue.empty()) {
        auto [dir, index] = queue.front();
        queue.pop_front();
        children.clear();
        IsoDirIter* it = nullptr;
        if (iso_dir_get_children(dir, &it) != 1)
            continue;
        IsoNode* child = nullptr;
        while (iso_dir_iter_next(it, &child) == 1) {
            // Names no file system can show ("/", over 255 bytes) are left out.
            const char* name = iso_node_get_name(child);
            std::string_view nv = name ? name : "";
            if (nv.empty() || nv == "." || nv == ".." || nv.size() > 255 || nv.find('/') != nv.npos)
                continue;
            if (iso_node_get_type(child) == LIBISO_SPECIAL && !IsSpecialType(iso_node_get_mode(child)))
                continue;
            children.emplace_back(name, child);
        }
        iso_dir_iter_free(it);
        std::sort(children.begin(), children.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        // A damaged image may hold two entries of one name; keep the first.
        children.erase(std::unique(children.begin(), children.end(),
                                   [](const auto& a, const auto& b) { return a.first == b.first; }),
                       children.end());
        if (m_nodes.size() + children.size() > 0xFFFFFFF0u)
            return ERROR_UNRECOGNIZED_VOLUME;
        m_nodes[index].firstChild = static_cast<std::uint32_t>(m_nodes.size());
        m_nodes[index].childCount = static_cast<std::uint32_t>(children.size());
        for (auto& [name, isoNode] : children) {
            Node n;
            n.name = std::move(name);
            n.parent = index;
            n.mtime = iso_node_get_mtime(isoNode);
            n.atime = iso_node_get_atime(isoNode);
            n.ctime = iso_node_get_ctime(isoNode);
            auto self = static_cast<std::uint32_t>(m_nodes.size());
            switch (iso_node_get_type(isoNode)) {
            case LIBISO_DIR:
                n.kind = NodeKind::Dir;
                queue.emplace_back(reinterpret_cast<IsoDir*>(isoNode), self);
                break;
            case LIBISO_SYMLINK:
                n.kind = NodeKind::Symlink;
                if (const char* dest = iso_symlink_get_dest(reinterpret_cast<IsoSymlink*>(isoNode)))
                    n.linkTarget = dest;
                n.size = n.linkTarget.size();
                break;
            case LIBISO_SPECIAL: {
                // Device nodes, FIFOs and sockets, as Rock Ridge recorded them.
                n.kind = NodeKind::Special;
                n.special = iso_node_get_mode(isoNode) & S_IFMT;
                n.rdev = iso_special_get_dev(reinterpret_cast<IsoSpecial*>(isoNode));
                break;
            }
            case LIBISO_BOOT:
                // The El Torito boot catalog: a file of the catalog's block.
                n.kind = NodeKind::File;
                if (bootCatalog) {
                    n.size = bootCatalog->second;
                    n.firstExtent = static_cast<std::uint32_t>(m_extents.size());
                    n.extentCount = 1;
                    m_extents.push_back({std::uint64_t{bootCatalog->first} * 2048, n.size});
                }
                break;
            default: {
                n.kind = NodeKind::File;
                auto* file = reinterpret_cast<IsoFile*>(isoNode);
                n.size = static_cast<std::uint64_t>(iso_file_get_size(file));
                int count = 0;
                struct iso_file_section* sections = nullptr;
                if (iso_file_get_old_image_sections(file, &count, &sections, 0) == 1 && sections) {
                    n.firstExtent = static_cast<std::uint32_t>(m_extents.size());
                    for (int i = 0; i < count; ++i)
                        m_extents.push_back({static_cast<std::uint64_t>(sections[i].block) * 2048,
                                             sections[i].size});
                    n.extentCount = static_cast<std::uint32_t>(count);
                }
                free(sections);
                // Files stored zisofs-compressed come with a decompressing
                // filter on their stream.
                int type = 0, log2 = 0;
                std::uint8_t algo[2] = {0, 0}, algoNum = 0;
                if (iso_stream_get_zisofs_par(iso_file_get_stream(file), &type, algo, &algoNum, &log2, 0) == 1 &&
                    type == -1)
                    n.compressed = true;
                break;
            }
            }
            n.perm = ShownPerm(isoNode, n.kind);
            m_nodes.push_back(std::move(n));
        }
    }
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

bool ImageFile::MapRead(std::uint32_t file, std::uint64_t off, std::size_t len,
                        std::vector<ReadPiece>& out) const {
    out.clear();
    if (file >= m_nodes.size())
        return false;
    const Node& n = m_nodes[file];
    if (n.kind != NodeKind::File || n.compressed)
        return false;
    if (off >= n.size)
        return true;
    std::uint64_t want = std::min<std::uint64_t>(len, n.size - off);
    std::uint64_t pos = 0; // file offset where the current extent starts
    for (std::uint32_t i = 0; i < n.extentCount && want > 0; ++i) {
        const Extent& e = m_extents[n.firstExtent + i];
        if (off < pos + e.size) {
            std::uint64_t within = off - pos;
            std::uint64_t take = std::min(want, e.size - within);
            std::uint64_t at = e.offset + within;
            if (at > m_imageSize || take > m_imageSize - at)
                return false;
            out.push_back({at, static_cast<std::size_t>(take)});
            off += take;
            want -= take;
        }
        pos += e.size;
    }
    return want == 0;
}

} // namespace driver
