#include "burner/TrackSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libburn/libburn.h>

namespace burner {

namespace {

constexpr unsigned char kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr int kSectorsPerRead = 128; // 256 KiB of 2048-byte sectors per read

struct SourceData {
    int fd = -1;
    TrackMode mode = TrackMode::Mode1_2048;
    std::int64_t offset = 0;  // next byte of the file to read
    std::int64_t left = 0;    // file bytes still to read
    std::int64_t outSize = 0; // bytes the source delivers in all
    std::vector<unsigned char> raw;
    std::vector<unsigned char> out; // converted bytes not yet handed out
    std::size_t outPos = 0;
    bool failed = false;
    const std::atomic<bool>* stop = nullptr;
};

// Refills the output buffer; false at the end or on a failure.
bool Refill(SourceData& s) {
    s.out.clear();
    s.outPos = 0;
    if (s.left <= 0)
        return false;
    if (s.stop && *s.stop) {
        s.failed = true;
        return false;
    }
    const int inSize = SectorSize(s.mode);
    std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(s.left, static_cast<std::int64_t>(kSectorsPerRead) * inSize));
    s.raw.resize(want);
    std::size_t got = 0;
    while (got < want) {
        ssize_t n = ::pread(s.fd, s.raw.data() + got, want - got, s.offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got == 0) {
        s.failed = true; // the file shrank or cannot be read
        return false;
    }
    s.offset += got;
    s.left -= got;
    if (s.mode == TrackMode::Mode1_2048 || s.mode == TrackMode::Audio) {
        s.raw.resize(got);
        s.out.swap(s.raw);
        return true;
    }
    if (got % inSize != 0) {
        s.failed = true;
        return false;
    }
    s.out.resize(got / inSize * 2048);
    for (std::size_t i = 0; i < got / inSize; ++i) {
        if (!ConvertSector(s.raw.data() + i * inSize, s.mode, s.out.data() + i * 2048)) {
            s.failed = true;
            return false;
        }
    }
    return true;
}

int ReadXt(burn::burn_source* src, unsigned char* buffer, int size) {
    auto& s = *static_cast<SourceData*>(src->data);
    int done = 0;
    while (done < size) {
        if (s.outPos >= s.out.size() && !Refill(s))
            break;
        std::size_t n = std::min<std::size_t>(size - done, s.out.size() - s.outPos);
        std::memcpy(buffer + done, s.out.data() + s.outPos, n);
        s.outPos += n;
        done += static_cast<int>(n);
    }
    if (s.failed && done == 0)
        return -1;
    return done;
}

off_t GetSize(burn::burn_source* src) { return static_cast<SourceData*>(src->data)->outSize; }

int SetSize(burn::burn_source* src, off_t size) {
    static_cast<SourceData*>(src->data)->outSize = size;
    return 1;
}

void FreeData(burn::burn_source* src) {
    auto* s = static_cast<SourceData*>(src->data);
    if (s->fd >= 0)
        ::close(s->fd);
    delete s;
}

int Cancel(burn::burn_source*) { return 1; }

} // namespace

int OutputSectorSize(TrackMode mode) { return mode == TrackMode::Audio ? 2352 : 2048; }

std::string CheckRawSector(const unsigned char* sector, TrackMode mode) {
    if (mode == TrackMode::Mode1_2048 || mode == TrackMode::Audio)
        return {};
    if (std::memcmp(sector, kSync, sizeof kSync) != 0)
        return "the sector has no sync pattern of a raw data sector";
    if (mode == TrackMode::Mode1_2352 && sector[15] != 1)
        return "the sector is not a mode 1 sector";
    if (mode == TrackMode::Mode2_2352) {
        if (sector[15] != 2)
            return "the sector is not a mode 2 sector";
        if (sector[18] & 0x20)
            return "the sector is a mode 2 form 2 sector, which cannot be written as data";
    }
    return {};
}

bool ConvertSector(const unsigned char* in, TrackMode mode, unsigned char* out) {
    if (!CheckRawSector(in, mode).empty())
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

burn::burn_source* OpenTrackSource(const TrackRange& range, std::string& error) {
    int fd = range.fd >= 0 ? ::fcntl(range.fd, F_DUPFD_CLOEXEC, 0)
                           : ::open(range.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "\"" + range.path + "\" cannot be opened: " + std::strerror(errno);
        return nullptr;
    }
    auto* data = new SourceData;
    data->fd = fd;
    data->mode = range.mode;
    data->stop = range.stop;
    data->offset = range.offset;
    data->outSize = TrackBytes(range);
    data->left = range.sectors < 0 ? data->outSize
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
