// Reading file data that is not a plain byte range of the image: the stored
// bytes of a file across its extents, and zisofs-compressed files.
#include "driver/ImageFile.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace driver {

std::uint64_t ImageFile::StoredSize(const Node& n) const {
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < n.extentCount; ++i)
        total += m_extents[n.firstExtent + i].size;
    return total;
}

bool ImageFile::ReadStored(const Node& n, std::uint64_t off, std::size_t len, void* buf) const {
    auto* out = static_cast<char*>(buf);
    std::uint64_t pos = 0;
    for (std::uint32_t i = 0; i < n.extentCount && len > 0; ++i) {
        const Extent& e = m_extents[n.firstExtent + i];
        if (off < pos + e.size) {
            std::uint64_t within = off - pos;
            auto take = static_cast<std::size_t>(std::min<std::uint64_t>(len, e.size - within));
            std::uint64_t at = e.offset + within;
            if (at > m_imageSize || take > m_imageSize - at)
                return false;
            if (pread(m_fd, out, take, static_cast<off_t>(at)) != static_cast<ssize_t>(take))
                return false;
            out += take;
            off += take;
            len -= take;
        }
        pos += e.size;
    }
    return len == 0;
}

// zisofs (version 1): a 16-byte header (magic, size, header size / 4, log2
// of the block size), then one 32-bit pointer per block and one past the
// last; block i is the zlib stream between pointers i and i + 1, or zeros
// when that range is empty.
bool ImageFile::ReadCompressed(std::uint32_t file, std::uint64_t off, std::size_t len,
                               std::string& out) const {
    out.clear();
    if (file >= m_nodes.size() || !m_nodes[file].compressed)
        return false;
    const Node& n = m_nodes[file];
    if (off >= n.size)
        return true;
    len = static_cast<std::size_t>(std::min<std::uint64_t>(len, n.size - off));
    static constexpr std::uint8_t kMagic[8] = {0x37, 0xE4, 0x53, 0x96, 0xC9, 0xDB, 0xD6, 0x07};
    std::uint8_t head[16];
    if (!ReadStored(n, 0, sizeof head, head) || std::memcmp(head, kMagic, 8) != 0)
        return false;
    const std::uint64_t size = head[8] | (head[9] << 8) | (head[10] << 16) | (std::uint64_t{head[11]} << 24);
    const unsigned headerSize = head[12] * 4u, log2 = head[13];
    if (size != n.size || headerSize < 16 || log2 < 15 || log2 > 17)
        return false;
    const std::uint64_t block = std::uint64_t{1} << log2;
    const std::uint64_t stored = StoredSize(n);
    std::string packed, plain;
    out.reserve(len);
    for (std::uint64_t b = off >> log2; b <= (off + len - 1) >> log2; ++b) {
        std::uint8_t ptr[8];
        if (!ReadStored(n, headerSize + 4 * b, sizeof ptr, ptr))
            return false;
        std::uint64_t from = ptr[0] | (ptr[1] << 8) | (ptr[2] << 16) | (std::uint64_t{ptr[3]} << 24);
        std::uint64_t to = ptr[4] | (ptr[5] << 8) | (ptr[6] << 16) | (std::uint64_t{ptr[7]} << 24);
        std::uint64_t want = std::min(block, n.size - b * block);
        // A zlib stream never grows by more than a few bytes per 16 KiB.
        if (from > to || to > stored || to - from > block + block / 8 + 64)
            return false;
        plain.assign(want, '\0');
        if (to > from) {
            packed.resize(to - from);
            if (!ReadStored(n, from, packed.size(), packed.data()))
                return false;
            uLongf got = static_cast<uLongf>(want);
            if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &got,
                           reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size())) != Z_OK ||
                got != want)
                return false;
        }
        std::uint64_t start = b * block;
        std::uint64_t lo = std::max(off, start), hi = std::min(off + len, start + want);
        out.append(plain, static_cast<std::size_t>(lo - start), static_cast<std::size_t>(hi - lo));
    }
    return true;
}

} // namespace driver
