// Building the index of an image (in the indexing child, see
// ImageIndexer.cpp): the first data track's tree as libisofs imports it,
// read through the track's sector layout, and a WAV file per audio track.
#include "driver/ImageFile.h"
#include "driver/TreeCheck.h"
#include "port/IsoDescriptor.h"

extern "C" {
#include <libisofs/libisofs.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <sys/stat.h>

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
    case NodeKind::Dir:
        return 0555;
    case NodeKind::Symlink:
        return 0777;
    case NodeKind::File:
    case NodeKind::Special:
        break;
    }
    // Readable by everyone, never writable; execute bits as recorded.
    return static_cast<std::uint16_t>((iso_node_get_permissions(n) & 0111) | 0444);
}

// Reads `len` bytes at a byte offset of the data track's user data.
using UserReader = std::function<bool(std::uint64_t pos, void* buf, std::size_t len)>;

// The data track as libisofs reads it: blocks of 2048 bytes of user data.
// A plain image whose size is not padded to a whole number of blocks ends in
// a short block, read with zeros after the end of the file as the kernel
// reads it; so is the block right after the end, which libisofs asks for
// after a folder that fills the last block. Any other failed read is
// counted: libisofs only reports it as a message and shows the folder empty.
struct BlockSource {
    UserReader read;
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
        const auto want =
            static_cast<std::size_t>(std::min(kBlock, self.size - std::min(at, self.size)));
        if (at > end || (want > 0 && !self.read(at, buffer, want))) {
            ++*self.failures;
            return static_cast<int>(ISO_DATA_SOURCE_MISHAP);
        }
        std::memset(buffer + want, 0, kBlock - want);
        return ISO_SUCCESS;
    }
};

// Imports the data track with libisofs; `joliet` false leaves the Joliet
// tree unread, `iso1999` false the enhanced one. `failures` counts the
// blocks that could not be read.
int Import(const UserReader& read, std::uint64_t size, std::uint32_t start, bool joliet,
           bool iso1999, ImportedImage& imported, int& failures) {
    auto* src = static_cast<IsoDataSource*>(calloc(1, sizeof(IsoDataSource)));
    if (!src)
        return -1;
    src->refcount = 1; // freed (with free()) by libisofs at the last unref
    src->open = BlockSource::Open;
    src->close = BlockSource::Close;
    src->read_block = BlockSource::ReadBlock;
    src->free_data = BlockSource::Free;
    src->data = new BlockSource{read, size, &failures};
    IsoReadOpts* ro = nullptr;
    if (iso_read_opts_new(&ro, 0) < 0) {
        iso_data_source_unref(src);
        return -1;
    }
    // Rock Ridge is preferred over Joliet by default; plain ISO 9660 names
    // lose their ";1".
    iso_read_opts_set_start_block(ro, start);
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

// Loops and exploding trees are refused before libisofs sees them; a Joliet
// or enhanced tree that is unusable is left out and the image is shown from
// its ISO 9660 tree. False when there is no usable tree.
bool ImportTrees(const UserReader& read, std::uint64_t size, std::uint32_t start,
                 ImportedImage& imported, std::vector<std::uint32_t>& form2Extents) {
    TreeReport trees = CheckTrees(read, size, {}, start);
    form2Extents = std::move(trees.form2Extents);
    if (trees.primary != TreeState::Fine)
        return false;
    bool joliet = trees.joliet != TreeState::Damaged;
    const bool iso1999 = trees.iso1999 != TreeState::Damaged;
    int failures = 0;
    int rc = Import(read, size, start, joliet, iso1999, imported, failures);
    // A Joliet descriptor the walk accepted may still fail libisofs's own
    // checks, or hold a folder it could not read (which it would show
    // empty): the ISO 9660 tree is shown instead.
    if ((rc < 0 || failures > 0) && joliet && trees.joliet == TreeState::Fine) {
        imported = ImportedImage();
        failures = 0;
        rc = Import(read, size, start, false, iso1999, imported, failures);
    }
    return rc >= 0;
}

// Blocks searched for the root folder of a volume that counts its addresses
// from the start of the disc.
constexpr std::uint64_t kRootSearchBlocks = 4096;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The disc address, in blocks, of the data track's first block as its
// volume counts. A volume written as a later session (the data of a CD-Extra
// after its audio, the last session of a multisession disc) names blocks by
// their address on the disc, not in its track; its root folder then lies
// that many blocks before the block its descriptor names. A folder's "."
// record names the folder's own block, so the root is looked for by it
// among the blocks after the descriptors. 0 for a volume of its own (every
// plain image) and whenever no such root is found.
std::uint32_t VolumeStart(const UserReader& read, std::uint64_t size) {
    std::uint8_t d[2048];
    for (std::uint64_t i = port::iso::kPrimarySector;; ++i) {
        if (i >= port::iso::kPrimarySector + 64 || !read(i * 2048, d, sizeof d) ||
            !port::iso::HasStandardId(d) || d[0] == port::iso::kTypeTerminator)
            return 0;
        if (d[0] == port::iso::kTypePrimary)
            break;
    }
    const std::uint32_t root = Le32(d + port::iso::kRootRecordOffset + 2);
    auto namesItself = [&](std::uint64_t block) {
        std::uint8_t r[34];
        return block * 2048 + sizeof r <= size && read(block * 2048, r, sizeof r) && r[0] >= 34 &&
               (r[25] & 0x02) != 0 && r[32] == 1 && r[33] == 0 && Le32(r + 2) == root;
    };
    if (namesItself(root))
        return 0;
    const std::uint64_t last = std::min<std::uint64_t>(
        {root, size / 2048, port::iso::kPrimarySector + 1 + kRootSearchBlocks});
    for (std::uint64_t block = port::iso::kPrimarySector + 1; block < last; ++block)
        if (namesItself(block))
            return static_cast<std::uint32_t>(root - block);
    return 0;
}

bool IsSpecialType(mode_t mode) {
    const mode_t type = mode & S_IFMT;
    return type == S_IFCHR || type == S_IFBLK || type == S_IFIFO || type == S_IFSOCK;
}

using BootCatalog = std::optional<std::pair<std::uint32_t, std::uint64_t>>;

// Where the boot catalog lies and how long it is, when it has a node.
BootCatalog FindBootCatalog(IsoImage* image) {
    BootCatalog found;
    IsoBoot* catNode = nullptr;
    std::uint32_t lba = 0;
    char* content = nullptr;
    off_t size = 0;
    // (Asked of bootable images only: libisofs 1.5.4 crashes on others.)
    if (iso_image_get_boot_image(image, nullptr, nullptr, nullptr) == 1 &&
        iso_image_get_bootcat(image, &catNode, &lba, &content, &size) == 1 && size >= 0)
        found.emplace(lba, static_cast<std::uint64_t>(size));
    free(content);
    return found;
}

void SetTimes(Node& n, IsoNode* from) {
    n.mtime = iso_node_get_mtime(from);
    n.atime = iso_node_get_atime(from);
    n.ctime = iso_node_get_ctime(from);
}

// Sectors of a Form 2 extent of `size` bytes as recorded. Authoring tools
// record sectors * 2048; a size that is a whole number of 2324-byte payloads
// but not of blocks was recorded as the payload's.
std::uint64_t Form2Sectors(std::uint64_t size) {
    if (size % 2048 != 0 && size % kForm2Bytes == 0)
        return size / kForm2Bytes;
    return (size + 2047) / 2048;
}

// Where `block` of the volume lies in the track's user data, counted in
// `unit`-byte sectors; far past the end (read as an I/O error) for a block
// before the track.
std::uint64_t TrackOffset(std::uint64_t block, std::uint32_t start, std::uint64_t unit) {
    return block >= start ? (block - start) * unit : ~std::uint64_t{0} >> 1;
}

// A regular file: its extents, and whether it is stored zisofs-compressed or
// in Form 2 sectors (`form2`: sorted first blocks of Form 2 extents).
// `start`: the volume's first block (see VolumeStart).
void FillFile(Node& n, IsoFile* file, std::vector<Extent>& extents,
              const std::vector<std::uint32_t>& form2, std::uint32_t start) {
    n.kind = NodeKind::File;
    n.size = static_cast<std::uint64_t>(iso_file_get_size(file));
    int count = 0;
    struct iso_file_section* sections = nullptr;
    if (iso_file_get_old_image_sections(file, &count, &sections, 0) == 1 && sections) {
        n.firstExtent = static_cast<std::uint32_t>(extents.size());
        n.form2 = count > 0 && std::binary_search(form2.begin(), form2.end(), sections[0].block);
        std::uint64_t form2Size = 0;
        for (int i = 0; i < count; ++i) {
            const std::uint64_t block = sections[i].block;
            if (n.form2) {
                const std::uint64_t bytes = Form2Sectors(sections[i].size) * kForm2Bytes;
                extents.push_back({TrackOffset(block, start, kForm2Bytes), bytes});
                form2Size += bytes;
            } else {
                extents.push_back({TrackOffset(block, start, 2048), sections[i].size});
            }
        }
        n.extentCount = static_cast<std::uint32_t>(count);
        if (n.form2)
            n.size = form2Size;
    }
    free(sections);
    // Files stored zisofs-compressed come with a decompressing filter on
    // their stream.
    int type = 0, log2 = 0;
    std::uint8_t algo[2] = {0, 0}, algoNum = 0;
    if (iso_stream_get_zisofs_par(iso_file_get_stream(file), &type, algo, &algoNum, &log2, 0) ==
            1 &&
        type == -1 && !n.form2)
        n.compressed = true;
}

// The tree walk: turns libisofs's nodes into the index, breadth first, so
// that the children of each folder get consecutive numbers and can be sorted
// for lookups by name.
class TreeBuilder {
public:
    TreeBuilder(std::vector<Node>& nodes, std::vector<Extent>& extents, BootCatalog boot,
                std::vector<std::uint32_t> form2, std::uint32_t start)
        : m_nodes(nodes), m_extents(extents), m_boot(boot), m_form2(std::move(form2)),
          m_start(start) {
        std::sort(m_form2.begin(), m_form2.end());
    }

    bool Build(IsoDir* root) {
        std::deque<std::pair<IsoDir*, std::uint32_t>> queue{{root, ImageFile::kRoot}};
        while (!queue.empty()) {
            auto [dir, index] = queue.front();
            queue.pop_front();
            if (!AddChildren(dir, index, queue))
                return false;
        }
        return true;
    }

private:
    using Queue = std::deque<std::pair<IsoDir*, std::uint32_t>>;

    // The children of `dir` that can be shown, sorted by name, each name once.
    void Collect(IsoDir* dir) {
        m_children.clear();
        IsoDirIter* it = nullptr;
        if (iso_dir_get_children(dir, &it) != 1)
            return;
        IsoNode* child = nullptr;
        while (iso_dir_iter_next(it, &child) == 1) {
            // Names no file system can show ("/", over 255 bytes) are left out.
            const char* name = iso_node_get_name(child);
            std::string_view nv = name ? name : "";
            if (nv.empty() || nv == "." || nv == ".." || nv.size() > 255 || nv.find('/') != nv.npos)
                continue;
            if (iso_node_get_type(child) == LIBISO_SPECIAL &&
                !IsSpecialType(iso_node_get_mode(child)))
                continue;
            m_children.emplace_back(name, child);
        }
        iso_dir_iter_free(it);
        std::sort(m_children.begin(), m_children.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        // A damaged image may hold two entries of one name; keep the first.
        m_children.erase(
            std::unique(m_children.begin(), m_children.end(),
                        [](const auto& a, const auto& b) { return a.first == b.first; }),
            m_children.end());
    }

    bool AddChildren(IsoDir* dir, std::uint32_t index, Queue& queue) {
        Collect(dir);
        if (m_nodes.size() + m_children.size() > 0xFFFFFFF0u)
            return false;
        m_nodes[index].firstChild = static_cast<std::uint32_t>(m_nodes.size());
        m_nodes[index].childCount = static_cast<std::uint32_t>(m_children.size());
        for (auto& [name, isoNode] : m_children) {
            Node n;
            n.name = std::move(name);
            n.parent = index;
            SetTimes(n, isoNode);
            Fill(n, isoNode, queue);
            n.perm = ShownPerm(isoNode, n.kind);
            m_nodes.push_back(std::move(n));
        }
        return true;
    }

    void Fill(Node& n, IsoNode* isoNode, Queue& queue) {
        switch (iso_node_get_type(isoNode)) {
        case LIBISO_DIR:
            n.kind = NodeKind::Dir;
            queue.emplace_back(reinterpret_cast<IsoDir*>(isoNode),
                               static_cast<std::uint32_t>(m_nodes.size()));
            break;
        case LIBISO_SYMLINK:
            n.kind = NodeKind::Symlink;
            if (const char* dest = iso_symlink_get_dest(reinterpret_cast<IsoSymlink*>(isoNode)))
                n.linkTarget = dest;
            n.size = n.linkTarget.size();
            break;
        case LIBISO_SPECIAL:
            // Device nodes, FIFOs and sockets, as Rock Ridge recorded them.
            n.kind = NodeKind::Special;
            n.special = iso_node_get_mode(isoNode) & S_IFMT;
            n.rdev = iso_special_get_dev(reinterpret_cast<IsoSpecial*>(isoNode));
            break;
        case LIBISO_BOOT:
            // The El Torito boot catalog: a file of the catalog's block.
            n.kind = NodeKind::File;
            if (m_boot) {
                n.size = m_boot->second;
                n.firstExtent = static_cast<std::uint32_t>(m_extents.size());
                n.extentCount = 1;
                m_extents.push_back({TrackOffset(m_boot->first, m_start, 2048), n.size});
            }
            break;
        default:
            FillFile(n, reinterpret_cast<IsoFile*>(isoNode), m_extents, m_form2, m_start);
            break;
        }
    }

    std::vector<Node>& m_nodes;
    std::vector<Extent>& m_extents;
    BootCatalog m_boot;
    std::vector<std::uint32_t> m_form2;
    std::uint32_t m_start = 0;
    std::vector<std::pair<std::string, IsoNode*>> m_children;
};

// "Track07.wav" for track 7.
std::string WavName(int number, bool clash) {
    char name[40];
    snprintf(name, sizeof name, clash ? "Track%02d (audio).wav" : "Track%02d.wav", number);
    return name;
}

} // namespace

ErrorCode ImageFile::IndexHere() {
    m_nodes.emplace_back();
    m_nodes[kRoot].kind = NodeKind::Dir;
    m_nodes[kRoot].perm = 0555;
    m_nodes[kRoot].mtime = m_nodes[kRoot].atime = m_nodes[kRoot].ctime = m_mtime;
    const bool audio = std::any_of(m_tracks.begin(), m_tracks.end(), [](const OpenTrack& t) {
        return t.disc.form == vdrive::SectorForm::Audio;
    });
    // A data track without a readable file system still lets its disc's
    // audio tracks be played.
    ErrorCode e = DataTrack() ? IndexDataTrack() : ERROR_UNRECOGNIZED_VOLUME;
    if (e != ERROR_SUCCESS && !audio)
        return e;
    if (e != ERROR_SUCCESS) {
        m_nodes.resize(1);
        m_nodes[kRoot].childCount = 0;
        m_extents.clear();
    }
    AddWavFiles();
    return ERROR_SUCCESS;
}

ErrorCode ImageFile::IndexDataTrack() {
    std::lock_guard lock(g_libisofsMutex);
    InitLibisofs();
    UserReader inTrack = [this](std::uint64_t pos, void* buf, std::size_t len) {
        return ReadUser(pos, buf, len);
    };
    // libisofs and the tree walk read the volume by its own addresses.
    const std::uint32_t start = VolumeStart(inTrack, DataTrack()->userSize);
    const std::uint64_t skip = std::uint64_t{start} * 2048;
    UserReader read = [this, skip](std::uint64_t pos, void* buf, std::size_t len) {
        return pos >= skip && ReadUser(pos - skip, buf, len);
    };
    ImportedImage imported;
    std::vector<std::uint32_t> form2;
    if (!ImportTrees(read, DataTrack()->userSize + skip, start, imported, form2))
        return ERROR_UNRECOGNIZED_VOLUME;
    // Only a Mode 2 track's sectors can be Form 2; elsewhere the mark is
    // wrong and the file is read as recorded.
    const vdrive::SectorForm form = DataTrack()->disc.form;
    if (form != vdrive::SectorForm::Mode2_2352 && form != vdrive::SectorForm::Mode2_2336)
        form2.clear();
    if (const char* vid = iso_image_get_volume_id(imported.image))
        m_volumeId = vid;
    IsoDir* root = iso_image_get_root(imported.image);
    SetTimes(m_nodes[kRoot], reinterpret_cast<IsoNode*>(root));
    TreeBuilder builder(m_nodes, m_extents, FindBootCatalog(imported.image), std::move(form2),
                        start);
    return builder.Build(root) ? ERROR_SUCCESS : ERROR_UNRECOGNIZED_VOLUME;
}

// The audio tracks join the root's children (which are consecutive from
// node 1, ahead of every deeper node): the nodes after them move up, and
// every index into the table is shifted to match.
void ImageFile::AddWavFiles() {
    std::vector<Node> wavs;
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        const vdrive::DiscTrack& t = m_tracks[i].disc;
        if (t.form != vdrive::SectorForm::Audio)
            continue;
        Node n;
        n.name = WavName(t.number, false);
        if (Find(kRoot, n.name))
            n.name = WavName(t.number, true);
        if (Find(kRoot, n.name))
            continue;
        n.kind = NodeKind::File;
        n.perm = 0444;
        n.size = kWavHeaderSize + m_tracks[i].userSize;
        n.mtime = n.atime = n.ctime = m_mtime;
        n.track = static_cast<std::uint32_t>(i + 1);
        wavs.push_back(std::move(n));
    }
    if (wavs.empty())
        return;
    const auto added = static_cast<std::uint32_t>(wavs.size());
    const std::uint32_t first = m_nodes[kRoot].childCount + 1; // where deeper nodes start
    for (Node& n : m_nodes) {
        if (n.parent >= first)
            n.parent += added;
        if (n.childCount > 0 && n.firstChild >= first)
            n.firstChild += added;
    }
    if (m_nodes[kRoot].childCount == 0)
        m_nodes[kRoot].firstChild = 1;
    m_nodes[kRoot].childCount += added;
    m_nodes.insert(m_nodes.begin() + first, wavs.begin(), wavs.end());
    std::sort(m_nodes.begin() + 1, m_nodes.begin() + first + added,
              [](const Node& a, const Node& b) { return a.name < b.name; });
    // Children of the root's folders name their parent by index: renumber.
    for (std::uint32_t i = 1; i < first + added; ++i)
        for (std::uint32_t c = 0; c < m_nodes[i].childCount; ++c)
            m_nodes[m_nodes[i].firstChild + c].parent = i;
}

} // namespace driver
