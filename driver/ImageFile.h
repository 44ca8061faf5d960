// One ISO 9660 image opened read-only, with the index of its directory tree
// built once by libisofs (Rock Ridge names first, then Joliet, then plain
// ISO 9660). File data is never copied: a file is a list of extents in the
// image, and reads go straight to the image file at those offsets.
#pragma once

#include "port/Errors.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace driver {

struct Extent {
    std::uint64_t offset = 0; // in the image file
    std::uint64_t size = 0;
};

// Special: a device node, FIFO or socket recorded by Rock Ridge, shown as
// such (its type and device number in `special` and `rdev`); it has no data.
enum class NodeKind : std::uint8_t { Dir, File, Symlink, Special };

struct Node {
    std::string name;        // empty for the root
    std::string linkTarget;  // symlinks only
    std::uint64_t size = 0;  // files: data size; symlinks: target length
    std::uint64_t rdev = 0;  // special files: the device number
    std::int64_t mtime = 0;
    std::int64_t atime = 0;
    std::int64_t ctime = 0;
    std::uint32_t parent = 0;
    std::uint32_t firstChild = 0; // directories: children are contiguous, sorted by name
    std::uint32_t childCount = 0;
    std::uint32_t firstExtent = 0;
    std::uint32_t extentCount = 0;
    std::uint32_t special = 0; // special files: S_IFCHR, S_IFBLK, S_IFIFO or S_IFSOCK
    std::uint16_t perm = 0;  // permission bits shown (always readable)
    NodeKind kind = NodeKind::File;
    // Stored zisofs-compressed (Rock Ridge ZF): `size` is the size after
    // decompression; the extents hold the compressed form.
    bool compressed = false;
};

// A piece of a read: `size` bytes at `offset` of the image file.
struct ReadPiece {
    std::uint64_t offset = 0;
    std::size_t size = 0;
};

class ImageFile {
public:
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Opens and indexes the image at `path`. Errors: ERROR_FILE_NOT_FOUND
    // (missing), ERROR_ACCESS_DENIED, ERROR_UNRECOGNIZED_VOLUME (not a
    // readable ISO 9660 image).
    static port::ErrorCode Open(const std::string& path, std::shared_ptr<ImageFile>& out);

    static constexpr std::uint32_t kRoot = 0;
    // How long indexing may take (30 s unless changed, for tests) and how
    // much memory it may use.
    static void SetIndexTimeLimit(int seconds);
    static constexpr std::uint64_t kIndexMemory = std::uint64_t{4} << 30;

    int fd() const { return m_fd; }
    std::uint64_t imageSize() const { return m_imageSize; }
    const std::string& volumeId() const { return m_volumeId; }
    std::size_t nodeCount() const { return m_nodes.size(); }
    const Node& node(std::uint32_t i) const { return m_nodes[i]; }

    // The child of directory `dir` called `name`.
    std::optional<std::uint32_t> Find(std::uint32_t dir, std::string_view name) const;

    // The path "a/b/c" below the root (tests, tools).
    std::optional<std::uint32_t> FindPath(std::string_view path) const;

    // Where `len` bytes at `off` of file `file` live in the image; `len` is
    // first cut at the file's end. Fails (false) when a piece would lie past
    // the end of the image file or outside the file's extents (a damaged or
    // truncated image), so the caller reports an I/O error instead of garbage.
    bool MapRead(std::uint32_t file, std::uint64_t off, std::size_t len,
                 std::vector<ReadPiece>& out) const;

    // Reads `len` bytes at `off` of a compressed file, decompressed (cut at
    // the file's end). False for damaged data.
    bool ReadCompressed(std::uint32_t file, std::uint64_t off, std::size_t len,
                        std::string& out) const;

private:
    ImageFile() = default;
    // Indexes in a child process, so that an image crafted to make libisofs
    // loop, eat memory or crash costs a refusal, not the driver.
    // An image refused a moment ago (unchanged since) is refused again
    // without a second indexing.
    port::ErrorCode Index();
    port::ErrorCode IndexInChild();
    port::ErrorCode IndexHere();
    std::string Serialize() const;
    bool Deserialize(const std::string& data);
    // Reads stored (not decompressed) bytes of a file through its extents.
    bool ReadStored(const Node& n, std::uint64_t off, std::size_t len, void* buf) const;
    std::uint64_t StoredSize(const Node& n) const;

    int m_fd = -1;
    std::uint64_t m_imageSize = 0;
    std::string m_volumeId;
    std::vector<Node> m_nodes;
    std::vector<Extent> m_extents;
};

} // namespace driver
