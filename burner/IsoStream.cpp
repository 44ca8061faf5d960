// Host file stream for libisofs with large reads.
#include "burner/IsoStream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {

void BuildFailure::Set(engine::BuildError error) {
    std::lock_guard lock(m_mutex);
    if (m_failed.load(std::memory_order_relaxed))
        return;
    m_error = std::move(error);
    m_failed.store(true, std::memory_order_release);
}

engine::BuildError BuildFailure::Error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

namespace {

constexpr std::size_t kReadBlock = 1 << 20;
constexpr unsigned int kFsId = 0x53504E44; // identifies streams made here

// The layout of libisofs's struct iso_stream, which its header hides from
// C++ (it has a member named "class").
struct StreamLayout {
    IsoStreamIface* iface;
    int refcount;
    void* data;
};
static_assert(sizeof(StreamLayout) == 3 * sizeof(void*));

struct HostFile {
    std::string path;
    std::uint64_t size = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    BuildFailure* failure = nullptr;

    int fd = -1;
    char* buf = nullptr;
    std::size_t bufCap = 0, bufLen = 0, bufPos = 0;
    std::uint64_t fileRead = 0;  // bytes read from the file
    std::uint64_t delivered = 0; // bytes handed to libisofs
    off_t dataAt = 0;            // where the next data after a hole starts
    bool broken = false;

    void Fail(port::ErrorCode code) {
        broken = true;
        failure->Set({code, path});
    }
};

HostFile* Data(IsoStream* s) {
    return static_cast<HostFile*>(reinterpret_cast<StreamLayout*>(s)->data);
}

int Err(unsigned int code) {
    return static_cast<int>(code);
}

void CloseFile(HostFile* f) {
    if (f->fd >= 0)
        ::close(f->fd);
    f->fd = -1;
    std::free(f->buf);
    f->buf = nullptr;
    f->bufCap = f->bufLen = f->bufPos = 0;
}

int StreamOpen(IsoStream* s) {
    HostFile* f = Data(s);
    CloseFile(f);
    f->fileRead = f->delivered = 0;
    f->dataAt = 0;
    f->broken = false;
    if (f->failure->Failed() || f->failure->StopRequested()) {
        f->broken = true;
        return Err(ISO_FILE_ERROR);
    }
    f->fd = ::open(f->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f->fd < 0) {
        f->Fail(port::ErrorFromErrno(errno));
        return Err(ISO_FILE_ERROR);
    }
    struct stat st;
    if (::fstat(f->fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) != f->size) {
        f->Fail(engine::ERROR_BUILD_CHANGED);
        CloseFile(f);
        return Err(ISO_FILE_ERROR);
    }
    ::posix_fadvise(f->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::uint64_t want = f->size < kReadBlock ? f->size : kReadBlock;
    f->bufCap = want ? static_cast<std::size_t>(want) : 1;
    f->buf = static_cast<char*>(std::malloc(f->bufCap));
    if (!f->buf) {
        f->Fail(port::ERROR_NOT_ENOUGH_MEMORY);
        CloseFile(f);
        return Err(ISO_OUT_OF_MEM);
    }
    return 1;
}

int StreamClose(IsoStream* s) {
    CloseFile(Data(s));
    return 1;
}

off_t StreamSize(IsoStream* s) {
    return static_cast<off_t>(Data(s)->size);
}

bool Refill(HostFile* f) {
    if (f->failure->StopRequested())
        return false; // the writer gives the reason
    std::uint64_t left = f->size - f->fileRead;
    std::size_t want = left < f->bufCap ? static_cast<std::size_t>(left) : f->bufCap;
    auto pos = static_cast<off_t>(f->fileRead);
    // A hole of a sparse file is zeros: fill them in rather than have the
    // kernel read them into the page cache.
    if (f->dataAt <= pos) {
        off_t data = ::lseek(f->fd, pos, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // No data up to the end: a trailing hole, unless the file shrank.
            struct stat st;
            if (::fstat(f->fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < f->size) {
                f->Fail(engine::ERROR_BUILD_CHANGED);
                return false;
            }
            data = static_cast<off_t>(f->size);
        }
        f->dataAt = data >= 0 ? data : pos;
    }
    if (f->dataAt > pos) {
        auto zeros = static_cast<std::uint64_t>(f->dataAt - pos);
        if (zeros < want)
            want = static_cast<std::size_t>(zeros);
        std::memset(f->buf, 0, want);
        f->bufLen = want;
        f->bufPos = 0;
        f->fileRead += want;
        return true;
    }
    ssize_t n;
    do {
        n = ::pread(f->fd, f->buf, want, pos);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        f->Fail(port::ErrorFromErrno(errno));
        return false;
    }
    if (n == 0) {
        f->Fail(engine::ERROR_BUILD_CHANGED);
        return false;
    }
    f->bufLen = static_cast<std::size_t>(n);
    f->bufPos = 0;
    f->fileRead += static_cast<std::uint64_t>(n);
    return true;
}

int StreamRead(IsoStream* s, void* out, std::size_t count) {
    HostFile* f = Data(s);
    if (f->broken || f->fd < 0)
        return Err(ISO_FILE_READ_ERROR);
    std::uint64_t left = f->size - f->delivered;
    if (left == 0)
        return 0;
    std::size_t want = left < count ? static_cast<std::size_t>(left) : count;
    auto* dst = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < want) {
        if (f->bufPos == f->bufLen && !Refill(f)) {
            f->broken = true;
            return Err(ISO_FILE_READ_ERROR);
        }
        std::size_t n = f->bufLen - f->bufPos;
        if (n > want - done)
            n = want - done;
        std::memcpy(dst + done, f->buf + f->bufPos, n);
        f->bufPos += n;
        done += n;
    }
    f->delivered += done;
    return static_cast<int>(done);
}

int StreamRepeatable(IsoStream*) {
    return 1;
}

void StreamId(IsoStream* s, unsigned int* fsId, dev_t* dev, ino_t* ino) {
    HostFile* f = Data(s);
    *fsId = kFsId;
    *dev = f->dev;
    *ino = f->ino;
}

void StreamFree(IsoStream* s) {
    HostFile* f = Data(s);
    CloseFile(f);
    delete f;
}

int StreamUpdateSize(IsoStream*) {
    return 1;
}

IsoStreamIface kHostFileIface = {
    1,          {'u', 's', 'e', 'r'}, StreamOpen,       StreamClose,
    StreamSize, StreamRead,           StreamRepeatable, StreamId,
    StreamFree, StreamUpdateSize,     nullptr,          nullptr,
    nullptr,
};

} // namespace

int NewHostFileStream(const std::string& path, std::uint64_t size, dev_t dev, ino_t ino,
                      BuildFailure* failure, IsoStream** out) {
    auto* layout = static_cast<StreamLayout*>(std::malloc(sizeof(StreamLayout)));
    if (!layout)
        return Err(ISO_OUT_OF_MEM);
    auto* f = new HostFile;
    f->path = path;
    f->size = size;
    f->dev = dev;
    f->ino = ino;
    f->failure = failure;
    layout->iface = &kHostFileIface;
    layout->refcount = 1;
    layout->data = f;
    *out = reinterpret_cast<IsoStream*>(layout);
    return 1;
}

} // namespace burner
