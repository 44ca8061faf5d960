// Reading file data: where a file's bytes lie in the image files (through
// the track's sector layout), the three ways a read is answered (spliced,
// copied, decompressed), WAV files of audio tracks, and whether the kernel's
// cache of a file is still good.
#include "driver/ImageFile.h"
#include "driver/ReadPipe.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace driver {

namespace {

// Reads at most this many pieces by splice; more (raw sectors) are copied
// in a few large reads instead of one system call per sector.
constexpr std::size_t kSplicePieces = 16;
// Pieces of one file this close together are read with one pread, the
// bytes between them thrown away (sector headers and error codes).
constexpr std::uint64_t kJoinGap = 4096;

// Where a sector's user data starts within the sector as stored.
std::uint32_t UserStart(vdrive::SectorForm form) {
    switch (form) {
    case vdrive::SectorForm::Mode1_2352:
        return 16;
    case vdrive::SectorForm::Mode2_2352:
        return 24;
    case vdrive::SectorForm::Mode2_2336:
        return 8;
    case vdrive::SectorForm::Mode1_2048:
    case vdrive::SectorForm::Audio:
        break;
    }
    return 0;
}

bool PreadAll(int fd, char* buf, std::size_t len, std::uint64_t at) {
    while (len > 0) {
        ssize_t n = pread(fd, buf, len, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    return true;
}

void PutLe(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(v >> (8 * i));
}

// The RIFF/WAVE header of `dataSize` bytes of 16-bit stereo PCM at 44.1 kHz.
std::string WavHeader(std::uint64_t dataSize) {
    const auto data =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(dataSize, 0xFFFFFFFFu - 36));
    std::string h = "RIFF";
    PutLe(h, data + 36, 4);
    h += "WAVEfmt ";
    PutLe(h, 16, 4);     // format chunk size
    PutLe(h, 1, 2);      // PCM
    PutLe(h, 2, 2);      // channels
    PutLe(h, 44100, 4);  // sample rate
    PutLe(h, 176400, 4); // bytes per second
    PutLe(h, 4, 2);      // bytes per sample frame
    PutLe(h, 16, 2);     // bits per sample
    h += "data";
    PutLe(h, data, 4);
    return h;
}

} // namespace

bool ImageFile::MapTrack(const OpenTrack& t, std::uint64_t pos, std::uint64_t len,
                         std::vector<ReadPiece>& out, bool form2) const {
    const bool audio = t.disc.form == vdrive::SectorForm::Audio;
    const std::uint64_t unit = audio ? 2352 : form2 ? kForm2Bytes : 2048;
    // Form 2 user data starts where Form 1's does (after the subheader).
    const std::uint32_t start = UserStart(t.disc.form);
    const std::uint64_t size = form2 ? t.disc.sectors * kForm2Bytes : t.userSize;
    if (pos > size || len > size - pos || t.disc.stride < start + unit)
        return false;
    const bool asStored = t.disc.stride == unit;
    const std::size_t first = out.size();
    while (len > 0) {
        const std::uint64_t within = asStored ? pos : pos % unit;
        const std::uint64_t take = asStored ? len : std::min(len, unit - within);
        const std::uint64_t at =
            t.disc.offset + (asStored ? 0 : pos / unit * t.disc.stride + start) + within;
        if (at > t.fileSize || take > t.fileSize - at)
            return false;
        // (Pieces of one call only: each extent stays a piece of its own.)
        if (out.size() > first && out.back().offset + out.back().size == at)
            out.back().size += static_cast<std::size_t>(take);
        else
            out.push_back({t.fd, at, static_cast<std::size_t>(take)});
        pos += take;
        len -= take;
    }
    return true;
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
    if (n.track)
        return off >= kWavHeaderSize && n.track <= m_tracks.size() &&
               MapTrack(m_tracks[n.track - 1], off - kWavHeaderSize, want, out);
    const OpenTrack* data = DataTrack();
    std::uint64_t pos = 0; // file offset where the current extent starts
    for (std::uint32_t i = 0; i < n.extentCount && want > 0 && data; ++i) {
        const Extent& e = m_extents[n.firstExtent + i];
        if (off < pos + e.size) {
            std::uint64_t within = off - pos;
            std::uint64_t take = std::min(want, e.size - within);
            if (!MapTrack(*data, e.offset + within, take, out, n.form2))
                return false;
            off += take;
            want -= take;
        }
        pos += e.size;
    }
    return want == 0;
}

bool ImageFile::ReadUser(std::uint64_t pos, void* buf, std::size_t len) const {
    thread_local std::vector<ReadPiece> pieces;
    pieces.clear();
    if (!DataTrack() || !MapTrack(*DataTrack(), pos, len, pieces))
        return false;
    auto* out = static_cast<char*>(buf);
    for (const ReadPiece& p : pieces) {
        if (!PreadAll(p.fd, out, p.size, p.offset))
            return false;
        out += p.size;
    }
    return true;
}

bool ImageFile::CopyPieces(const std::vector<ReadPiece>& pieces, std::string& out) const {
    std::size_t total = 0;
    for (const ReadPiece& p : pieces)
        total += p.size;
    out.resize(total);
    thread_local std::string span;
    char* to = out.data();
    for (std::size_t i = 0; i < pieces.size();) {
        // Pieces close together in one file: one read of the span.
        std::size_t j = i;
        std::uint64_t end = pieces[i].offset + pieces[i].size;
        while (j + 1 < pieces.size() && pieces[j + 1].fd == pieces[i].fd &&
               pieces[j + 1].offset >= end && pieces[j + 1].offset - end <= kJoinGap) {
            ++j;
            end = pieces[j].offset + pieces[j].size;
        }
        const std::uint64_t from = pieces[i].offset;
        if (j == i) {
            if (!PreadAll(pieces[i].fd, to, pieces[i].size, from))
                return false;
            to += pieces[i].size;
        } else {
            span.resize(static_cast<std::size_t>(end - from));
            if (!PreadAll(pieces[i].fd, span.data(), span.size(), from))
                return false;
            for (std::size_t k = i; k <= j; ++k) {
                std::memcpy(to, span.data() + (pieces[k].offset - from), pieces[k].size);
                to += pieces[k].size;
            }
        }
        i = j + 1;
    }
    return true;
}

bool ImageFile::ReadWav(const Node& n, std::uint64_t off, std::size_t len, std::string& out) const {
    out.clear();
    if (off >= n.size)
        return true;
    const OpenTrack& t = m_tracks[n.track - 1];
    const std::uint64_t end = off + std::min<std::uint64_t>(len, n.size - off);
    if (off < kWavHeaderSize)
        out = WavHeader(t.userSize)
                  .substr(off, static_cast<std::size_t>(std::min(end, kWavHeaderSize) - off));
    if (end <= kWavHeaderSize)
        return true;
    // Samples are swapped in pairs: read from an even start to an even end.
    const std::uint64_t from = std::max(off, kWavHeaderSize) - kWavHeaderSize;
    const std::uint64_t to = end - kWavHeaderSize;
    const std::uint64_t lo = from & ~std::uint64_t{1};
    const std::uint64_t hi = std::min((to + 1) & ~std::uint64_t{1}, t.userSize);
    thread_local std::vector<ReadPiece> pieces;
    thread_local std::string samples;
    pieces.clear();
    if (!MapTrack(t, lo, hi - lo, pieces) || !CopyPieces(pieces, samples))
        return false;
    if (t.disc.swapBytes)
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2)
            std::swap(samples[i], samples[i + 1]);
    out.append(samples, static_cast<std::size_t>(from - lo), static_cast<std::size_t>(to - from));
    return true;
}

int ImageFile::Read(std::uint32_t file, std::uint64_t off, std::size_t len, ReadReply& out) const {
    out = ReadReply{};
    if (file >= m_nodes.size())
        return EIO;
    const Node& n = m_nodes[file];
    thread_local std::string copy;
    thread_local std::vector<ReadPiece> pieces;
    bool copied = false;
    if (n.compressed) {
        if (!ReadCompressed(file, off, len, copy))
            return EIO;
        copied = true;
    } else if (n.track && (off < kWavHeaderSize || m_tracks[n.track - 1].disc.swapBytes)) {
        if (!ReadWav(n, off, len, copy))
            return EIO;
        copied = true;
    } else if (!MapRead(file, off, len, pieces)) {
        return EIO;
    }
    if (!copied && pieces.empty())
        return 0;
    if (!copied && pieces.size() <= kSplicePieces) {
        // The image may have been cut since it was indexed (MapRead knows
        // only its size then): every byte must still be there, or the read
        // fails.
        ReadPipe& pipe = ReadPipe::ForThisThread();
        switch (pipe.Load(pieces)) {
        case ReadPipe::Fill::Short:
            return EIO;
        case ReadPipe::Fill::Done:
            out.pipeFd = pipe.readFd();
            for (const ReadPiece& p : pieces)
                out.size += p.size;
            return 0;
        case ReadPipe::Fill::Unavailable:
            break;
        }
    }
    if (!copied && !CopyPieces(pieces, copy))
        return EIO;
    out.data = copy.data();
    out.size = copy.size();
    return 0;
}

void ImageFile::AfterReply() {
    ReadPipe::ForThisThread().Settle();
}

std::string ImageFile::StateStamp() const {
    std::string stamp;
    for (int fd : m_files) {
        struct stat st {};
        if (fstat(fd, &st) != 0)
            return "gone";
        for (auto v : {static_cast<std::int64_t>(st.st_dev), static_cast<std::int64_t>(st.st_ino),
                       static_cast<std::int64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                       st.st_ctim.tv_sec, st.st_ctim.tv_nsec})
            stamp.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    return stamp;
}

bool ImageFile::KeepCache(std::uint32_t file, const void* cache) const {
    std::string now = StateStamp();
    std::lock_guard lock(m_cacheMutex);
    auto [it, first] = m_openedAt.try_emplace({cache, file}, now);
    if (first)
        return true;
    const bool same = it->second == now;
    it->second = std::move(now);
    return same;
}

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
            if (!ReadUser(e.offset + within, out, take))
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
    const std::uint64_t size =
        head[8] | (head[9] << 8) | (head[10] << 16) | (std::uint64_t{head[11]} << 24);
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
        std::uint64_t from =
            ptr[0] | (ptr[1] << 8) | (ptr[2] << 16) | (std::uint64_t{ptr[3]} << 24);
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
                           reinterpret_cast<const Bytef*>(packed.data()),
                           static_cast<uLong>(packed.size())) != Z_OK ||
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
