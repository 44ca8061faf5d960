// A libisofs content stream over a host file that reads it in large blocks.
// libisofs asks its streams for 2 KiB at a time; serving those from a 1 MiB
// buffer turns some 500 read() calls per MiB into one. The buffer lives only
// while the file is open, so memory stays flat whatever the file sizes.
//
// A stream that cannot open or read its file, or finds it changed in size,
// records that in the build's shared state (the first failure wins) and stops
// delivering data; the build then ends with that message instead of an image
// silently padded with zeros.
#pragma once

#include "engine/BuildError.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <sys/types.h>

extern "C" {
#include <libisofs/libisofs.h>
}

namespace burner {

// State shared by the streams of one build and the thread that writes the
// image out.
class BuildFailure {
public:
    explicit BuildFailure(const std::atomic<bool>& stop) : m_stop(stop) {}
    void Set(engine::BuildError error);
    bool Failed() const { return m_failed.load(std::memory_order_acquire); }
    engine::BuildError Error() const;
    std::string Message() const { return engine::DescribeBuildError(Error()); }
    bool StopRequested() const { return m_stop.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>& m_stop;
    mutable std::mutex m_mutex;
    engine::BuildError m_error;
    std::atomic<bool> m_failed{false};
};

// Creates a stream for `path`, which must be `size` bytes long when it is
// read; `dev` and `ino` identify the file, so that one file added twice is
// stored once. The caller owns one reference.
int NewHostFileStream(const std::string& path, std::uint64_t size, dev_t dev, ino_t ino,
                      BuildFailure* failure, IsoStream** out);

} // namespace burner
