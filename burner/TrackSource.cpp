#include "burner/TrackSource.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libburn/libburn.h>

namespace burner {

namespace {

constexpr unsigned char kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr int kSectorsPerRead = 256; // 512 KiB of 2048-byte sectors per read
constexpr std::size_t kChunks = 8;   // read ahead: 8 reads, 4 MiB

// The file is read on a thread of the source's own, ahead of libburn, into
// a ring of kChunks converted blocks: libburn's write loop never waits for
// the disk it reads from unless the ring ran dry. (libburn's own fifo source
// moves data 2 KiB at a time and made a burn to a file five times slower.)
struct SourceData {
    int fd = -1;
    TrackMode mode = TrackMode::Mode1_2048;
    const std::atomic<bool>* stop = nullptr;
    std::string path;            // for messages
    int track = 1;               // for messages
    std::int64_t trackStart = 0; // byte of the file where the track starts
    std::int64_t offset = 0;     // next byte of the file to read
    std::int64_t left = 0;       // file bytes still to read
    std::int64_t outSize = 0;    // bytes the source delivers in all

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<unsigned char>> ready; // converted blocks, oldest first
    std::size_t frontPos = 0;                     // bytes of ready.front() handed out
    bool ended = false;                           // the reader read its last block
    bool failed = false;
    BurnOutcome error; // why it failed; none when stopped
    bool quit = false;
    std::thread reader;

    ~SourceData() {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        changed.notify_all();
        if (reader.joinable())
            reader.join();
        if (fd >= 0)
            ::close(fd);
    }

    // What stopped the write at byte `at` of the file.
    BurnOutcome Fault(ImageFault fault, std::int64_t at) const {
        BurnOutcome o = Fail(fault, path);
        o.whileWriting = true;
        o.track = track;
        o.byte = at;
        return o;
    }

    // Reads and converts the next block; empty at the end, nullopt on a
    // failure (with `why` set unless the stop flag caused it).
    std::optional<std::vector<unsigned char>> ReadBlock(BurnOutcome& why) {
        if (left <= 0)
            return std::vector<unsigned char>();
        if (stop && *stop)
            return std::nullopt;
        const int inSize = SectorSize(mode);
        std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(kSectorsPerRead) * inSize));
        std::vector<unsigned char> raw(want);
        std::size_t got = 0;
        while (got < want) {
            ssize_t n = ::pread(fd, raw.data() + got, want - got, offset + got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = Fault(ImageFault::ReadFailed, offset + static_cast<std::int64_t>(got));
                why.osError = errno;
                return std::nullopt;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got < want || (mode != TrackMode::Mode1_2048 && got % inSize != 0)) {
            why = Fault(ImageFault::EndsEarly, offset + static_cast<std::int64_t>(got));
            return std::nullopt;
        }
        offset += got;
        left -= got;
        if (mode == TrackMode::Mode1_2048 || mode == TrackMode::Audio)
            return raw;
        std::vector<unsigned char> out(got / inSize * 2048);
        for (std::size_t i = 0; i < got / inSize; ++i) {
            if (!ConvertSector(raw.data() + i * inSize, mode, out.data() + i * 2048)) {
                const std::int64_t at =
                    offset - static_cast<std::int64_t>(got) + static_cast<std::int64_t>(i) * inSize;
                why = Fault(ImageFault::BadSector, at);
                why.sector = (at - trackStart) / inSize;
                why.sectorFault = CheckRawSector(raw.data() + i * inSize, mode);
                return std::nullopt;
            }
        }
        return out;
    }

    void ReaderLoop() {
        for (;;) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [this] { return quit || ready.size() < kChunks; });
                if (quit)
                    return;
            }
            BurnOutcome why;
            auto block = ReadBlock(why);
            std::lock_guard lock(mutex);
            if (!block) {
                failed = true;
                error = std::move(why);
            } else if (block->empty())
                ended = true;
            else
                ready.push_back(std::move(*block));
            changed.notify_all();
            if (failed || ended)
                return;
        }
    }

    int Read(unsigned char* buffer, int size) {
        std::unique_lock lock(mutex);
        if (!reader.joinable())
            reader = std::thread(&SourceData::ReaderLoop, this);
        int done = 0;
        while (done < size) {
            changed.wait(lock, [this] { return !ready.empty() || ended || failed || quit; });
            if (ready.empty())
                break;
            std::vector<unsigned char>& front = ready.front();
            std::size_t n = std::min<std::size_t>(size - done, front.size() - frontPos);
            std::memcpy(buffer + done, front.data() + frontPos, n);
            frontPos += n;
            done += static_cast<int>(n);
            if (frontPos == front.size()) {
                ready.pop_front();
                frontPos = 0;
                changed.notify_all();
            }
        }
        if (done == 0 && (failed || quit))
            return -1;
        return done;
    }

    int Fill() {
        std::lock_guard lock(mutex);
        return static_cast<int>(ready.size() * 100 / kChunks);
    }
};

int ReadXt(burn::burn_source* src, unsigned char* buffer, int size) {
    return static_cast<SourceData*>(src->data)->Read(buffer, size);
}

off_t GetSize(burn::burn_source* src) {
    return static_cast<SourceData*>(src->data)->outSize;
}

int SetSize(burn::burn_source* src, off_t size) {
    static_cast<SourceData*>(src->data)->outSize = size;
    return 1;
}

void FreeData(burn::burn_source* src) {
    delete static_cast<SourceData*>(src->data);
}

int Cancel(burn::burn_source* src) {
    auto* s = static_cast<SourceData*>(src->data);
    {
        std::lock_guard lock(s->mutex);
        s->quit = true;
    }
    s->changed.notify_all();
    return 1;
}

} // namespace

int OutputSectorSize(TrackMode mode) {
    return mode == TrackMode::Audio ? 2352 : 2048;
}

SectorFault CheckRawSector(const unsigned char* sector, TrackMode mode) {
    if (mode == TrackMode::Mode1_2048 || mode == TrackMode::Audio)
        return SectorFault::None;
    if (std::memcmp(sector, kSync, sizeof kSync) != 0)
        return SectorFault::NoSync;
    if (mode == TrackMode::Mode1_2352 && sector[15] != 1)
        return SectorFault::NotMode1;
    if (mode == TrackMode::Mode2_2352) {
        if (sector[15] != 2)
            return SectorFault::NotMode2;
        if (sector[18] & 0x20)
            return SectorFault::Form2;
    }
    return SectorFault::None;
}

bool ConvertSector(const unsigned char* in, TrackMode mode, unsigned char* out) {
    if (CheckRawSector(in, mode) != SectorFault::None)
        return false;
    // Mode 1: 12 sync + 4 header, then the user data. Mode 2 form 1 adds an
    // 8-byte subheader before it.
    std::memcpy(out, in + (mode == TrackMode::Mode1_2352 ? 16 : 24), 2048);
    return true;
}

std::int64_t TrackBytes(const TrackRange& range) {
    std::int64_t sectors = range.sectors;
    if (sectors < 0) {
        struct stat st;
        if ((range.fd >= 0 ? ::fstat(range.fd, &st) : ::stat(range.path.c_str(), &st)) != 0)
            return 0;
        return st.st_size - range.offset;
    }
    return sectors * OutputSectorSize(range.mode);
}

BurnOutcome TrackSourceError(burn::burn_source* source) {
    auto* s = static_cast<SourceData*>(source->data);
    std::lock_guard lock(s->mutex);
    return s->error;
}

BurnOutcome CheckTrackSectors(const TrackRange& range) {
    if (range.mode != TrackMode::Mode1_2352 && range.mode != TrackMode::Mode2_2352)
        return {};
    const int fd = range.fd >= 0 ? range.fd : ::open(range.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return CannotOpen(BurnError::BadImage, range.path, errno);
    auto bad = [&](ImageFault fault, std::int64_t byte) {
        BurnOutcome o = Fail(fault, range.path);
        o.track = range.track;
        o.byte = byte;
        return o;
    };
    struct Closer {
        int fd;
        bool own;
        ~Closer() {
            if (own)
                ::close(fd);
        }
    } closer{fd, range.fd < 0};
    constexpr std::int64_t kSize = 2352;
    // 1,792 sectors (about 4 MiB) per read: large sequential reads keep the
    // pass at the speed of the disk (or of the page cache).
    constexpr std::int64_t kBlockSectors = 1792;
    ::posix_fadvise(fd, range.offset, range.sectors * kSize, POSIX_FADV_SEQUENTIAL);
    std::vector<unsigned char> block(static_cast<std::size_t>(kBlockSectors * kSize));
    for (std::int64_t first = 0; first < range.sectors; first += kBlockSectors) {
        if (range.stop && *range.stop)
            return bad(ImageFault::CheckStopped, 0);
        const std::int64_t count = std::min(kBlockSectors, range.sectors - first);
        const std::size_t want = static_cast<std::size_t>(count * kSize);
        const std::int64_t at = range.offset + first * kSize;
        std::size_t got = 0;
        while (got < want) {
            ssize_t n = ::pread(fd, block.data() + got, want - got, at + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                BurnOutcome o = bad(ImageFault::ReadFailed, at + static_cast<std::int64_t>(got));
                o.osError = errno;
                return o;
            }
            if (n == 0)
                return bad(ImageFault::EndsEarly, at + static_cast<std::int64_t>(got));
            got += static_cast<std::size_t>(n);
        }
        for (std::int64_t i = 0; i < count; ++i) {
            const SectorFault why = CheckRawSector(block.data() + i * kSize, range.mode);
            if (why != SectorFault::None) {
                BurnOutcome o = bad(ImageFault::BadSector, at + i * kSize);
                o.sector = first + i;
                o.sectorFault = why;
                return o;
            }
        }
    }
    return {};
}

int TrackSourceFill(burn::burn_source* source) {
    return static_cast<SourceData*>(source->data)->Fill();
}

burn::burn_source* OpenTrackSource(const TrackRange& range, BurnOutcome& failure) {
    int fd = range.fd >= 0 ? ::fcntl(range.fd, F_DUPFD_CLOEXEC, 0)
                           : ::open(range.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = CannotOpen(BurnError::BadImage, range.path, errno);
        return nullptr;
    }
    auto* data = new SourceData;
    data->fd = fd;
    data->mode = range.mode;
    data->stop = range.stop;
    data->path = range.path;
    data->track = range.track;
    data->trackStart = range.offset;
    data->offset = range.offset;
    data->outSize = TrackBytes(range);
    data->left = range.sectors < 0
                     ? data->outSize
                     : range.sectors * static_cast<std::int64_t>(SectorSize(range.mode));
    auto* src = static_cast<burn::burn_source*>(std::calloc(1, sizeof(burn::burn_source)));
    src->refcount = 1;
    src->read = nullptr;
    src->get_size = GetSize;
    src->set_size = SetSize;
    src->free_data = FreeData;
    src->data = data;
    src->version = 1;
    src->read_xt = ReadXt;
    src->cancel = Cancel;
    return src;
}

} // namespace burner
