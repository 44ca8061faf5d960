// One disc image opened read-only: its tracks (vdrive::Disc), the index of
// the first data track's directory tree built once by libisofs (Rock Ridge
// names first, then Joliet, then plain ISO 9660), and one WAV file at the
// root per audio track. File data is never copied into a converted image: a
// file is a list of extents in the data track's 2048-byte user data, and a
// read is mapped through the track's sector layout to the image files.
//
// WAV names: Track01.wav, Track02.wav, ... by track number. Should the data
// track's root hold a file of that name, the data track's file keeps it and
// the WAV is called "Track01 (audio).wav"; if that name is taken as well,
// the WAV is left out.
#pragma once

#include "port/Errors.h"
#include "vdrive/DiscImage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace driver {

struct Extent {
    std::uint64_t offset = 0; // in the data track's user data (ISO block * 2048)
    std::uint64_t size = 0;
};

// Special: a device node, FIFO or socket recorded by Rock Ridge, shown as
// such (its type and device number in `special` and `rdev`); it has no data.
enum class NodeKind : std::uint8_t { Dir, File, Symlink, Special };

struct Node {
    std::string name;       // empty for the root
    std::string linkTarget; // symlinks only
    std::uint64_t size = 0; // files: data size; symlinks: target length
    std::uint64_t rdev = 0; // special files: the device number
    std::int64_t mtime = 0;
    std::int64_t atime = 0;
    std::int64_t ctime = 0;
    std::uint32_t parent = 0;
    std::uint32_t firstChild = 0; // directories: children are contiguous, sorted by name
    std::uint32_t childCount = 0;
    std::uint32_t firstExtent = 0;
    std::uint32_t extentCount = 0;
    std::uint32_t special = 0; // special files: S_IFCHR, S_IFBLK, S_IFIFO or S_IFSOCK
    std::uint16_t perm = 0;    // permission bits shown (always readable)
    NodeKind kind = NodeKind::File;
    // Stored zisofs-compressed (Rock Ridge ZF): `size` is the size after
    // decompression; the extents hold the compressed form.
    bool compressed = false;
    // Stored in Mode 2 Form 2 sectors (its XA record says so, on a Mode 2
    // track): the file is the 2324 user bytes of each of its sectors, and its
    // extents count in those units (block * 2324) instead of 2048.
    bool form2 = false;
    // A WAV file of audio track tracks()[track - 1]; 0 for the file system's files.
    std::uint32_t track = 0;
};

// A piece of a read: `size` bytes at `offset` of the image file open at `fd`.
struct ReadPiece {
    int fd = -1;
    std::uint64_t offset = 0;
    std::size_t size = 0;
};

// The answer to a read: `size` bytes waiting in the pipe `pipeFd` (moved
// there by splice, never copied), or at `data` when `pipeFd` is -1.
struct ReadReply {
    int pipeFd = -1;
    const char* data = nullptr;
    std::size_t size = 0;
};

// A track of the image with its file open.
struct OpenTrack {
    vdrive::DiscTrack disc;
    int fd = -1;                // shared by the tracks of one file
    std::uint64_t fileSize = 0; // of its file when opened
    std::uint64_t userSize = 0; // bytes of user data (2048 per data sector, 2352 per audio one)
};

// The size of the header that comes before a WAV file's samples.
constexpr std::uint64_t kWavHeaderSize = 44;

// User bytes of a Mode 2 Form 2 sector: after its 8-byte subheader come 2324
// bytes of data and 4 of (optional) EDC. A Form 2 file reads as these
// payloads back to back, not as 2336-byte sectors: the subheader and EDC
// describe each sector and are no part of the data (a Video CD's MPEG
// stream is exactly its 2324-byte packs in a row).
constexpr std::uint64_t kForm2Bytes = 2324;

class ImageFile {
public:
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Opens and indexes the image at `path` (a plain image or a descriptor
    // that vdrive::ReadDisc reads). Errors: ERROR_FILE_NOT_FOUND (missing),
    // ERROR_ACCESS_DENIED, ERROR_UNRECOGNIZED_VOLUME (not a readable image:
    // no ISO 9660 data track and no audio track).
    static port::ErrorCode Open(const std::string& path, std::shared_ptr<ImageFile>& out);
    // The same for a disc already read: its descriptor is opened (and held
    // shared) and every file its tracks name.
    static port::ErrorCode Open(const vdrive::Disc& disc, std::shared_ptr<ImageFile>& out);

    static constexpr std::uint32_t kRoot = 0;
    // How long indexing may take (30 s unless changed, for tests) and how
    // much memory it may use.
    static void SetIndexTimeLimit(int seconds);
    static constexpr std::uint64_t kIndexMemory = std::uint64_t{4} << 30;

    // The descriptor (for a plain image, the image itself).
    int fd() const { return m_fd; }
    // Bytes of the image: the descriptor for a plain image, else the files
    // its tracks name.
    std::uint64_t imageSize() const { return m_imageSize; }
    const std::vector<OpenTrack>& tracks() const { return m_tracks; }
    const std::string& volumeId() const { return m_volumeId; }
    std::size_t nodeCount() const { return m_nodes.size(); }
    const Node& node(std::uint32_t i) const { return m_nodes[i]; }

    // The child of directory `dir` called `name`.
    std::optional<std::uint32_t> Find(std::uint32_t dir, std::string_view name) const;

    // The path "a/b/c" below the root (tests, tools).
    std::optional<std::uint32_t> FindPath(std::string_view path) const;

    // Where `len` bytes at `off` of file `file` live in the image files;
    // `len` is first cut at the file's end. A plain image gives one piece per
    // extent; raw sectors give a piece per sector. Fails (false) when a piece
    // would lie past the end of its file or outside the file's extents or
    // its track (a damaged or truncated image), so the caller reports an I/O
    // error instead of garbage. A WAV file's header is not in the image: its
    // files map from kWavHeaderSize on, and fail below.
    bool MapRead(std::uint32_t file, std::uint64_t off, std::size_t len,
                 std::vector<ReadPiece>& out) const;

    // Reads up to `len` bytes at `off` of file `file` (cut at its end) the
    // cheapest way: spliced into this thread's pipe when the bytes lie in a
    // few pieces as stored, else copied (raw sectors, compressed files,
    // byte-swapped audio, a WAV header). 0, or EIO for damaged or cut data.
    // The reply stays valid until the next read on this thread; after a pipe
    // reply is sent, call AfterReply.
    int Read(std::uint32_t file, std::uint64_t off, std::size_t len, ReadReply& out) const;
    static void AfterReply();

    // Whether a kernel cache (one per FUSE session, told apart by `cache`)
    // may keep what it holds of `file` when it is opened again: true unless
    // a file of the image changed (size, times, identity) since `file` was
    // last opened there.
    bool KeepCache(std::uint32_t file, const void* cache) const;

    // Reads `len` bytes at `off` of a compressed file, decompressed (cut at
    // the file's end). False for damaged data.
    bool ReadCompressed(std::uint32_t file, std::uint64_t off, std::size_t len,
                        std::string& out) const;

private:
    ImageFile() = default;
    port::ErrorCode OpenFiles(const vdrive::Disc& disc);
    // Indexes in a child process, so that an image crafted to make libisofs
    // loop, eat memory or crash costs a refusal, not the driver.
    // An image refused a moment ago (unchanged since) is refused again
    // without a second indexing.
    port::ErrorCode Index();
    port::ErrorCode IndexInChild();
    port::ErrorCode IndexHere();
    port::ErrorCode IndexDataTrack();
    void AddWavFiles();
    // Maps `len` bytes at `pos` of a track's user data to pieces (appended);
    // `form2`: user data counted in 2324-byte Form 2 sectors.
    bool MapTrack(const OpenTrack& t, std::uint64_t pos, std::uint64_t len,
                  std::vector<ReadPiece>& out, bool form2 = false) const;
    // Reads `len` bytes at `pos` of the data track's user data.
    bool ReadUser(std::uint64_t pos, void* buf, std::size_t len) const;
    bool CopyPieces(const std::vector<ReadPiece>& pieces, std::string& out) const;
    bool ReadWav(const Node& n, std::uint64_t off, std::size_t len, std::string& out) const;
    std::string StateStamp() const;
    std::string Serialize() const;
    bool Deserialize(const std::string& data);
    // Reads stored (not decompressed) bytes of a file through its extents.
    bool ReadStored(const Node& n, std::uint64_t off, std::size_t len, void* buf) const;
    std::uint64_t StoredSize(const Node& n) const;
    const OpenTrack* DataTrack() const { return m_data < 0 ? nullptr : &m_tracks[m_data]; }

    int m_fd = -1;
    std::vector<int> m_files; // every file opened, the descriptor's fd first
    std::vector<OpenTrack> m_tracks;
    int m_data = -1;          // the first data track, -1 for none
    std::int64_t m_mtime = 0; // of the descriptor: the times of the WAV files
    std::uint64_t m_imageSize = 0;
    std::string m_volumeId;
    std::vector<Node> m_nodes;
    std::vector<Extent> m_extents;
    // Per file opened so far: the image's state at its last open.
    mutable std::mutex m_cacheMutex;
    mutable std::map<std::pair<const void*, std::uint32_t>, std::string> m_openedAt;
};

} // namespace driver
