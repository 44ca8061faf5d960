// One libburn drive held for a job: grabbed when opened, released (and its
// tray opened when asked) when closed. Also the drive's medium as the jobs
// and dialogs need it, and libburn's message queue, whose words are the only
// account of why something failed.
#pragma once

#include "burner/BurnJob.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace burn {
struct burn_drive;
struct burn_drive_info;
} // namespace burn

namespace burner {

class GrabbedDrive {
public:
    // Grabs the drive at a libburn address ("/dev/sr0", "stdio:/path").
    // forErase: a "stdio:" file is opened write-only so that libburn will
    // blank it (a read-write file is never erasable to libburn). Null with
    // `failure` (NoRecorder, with the address or file) when it cannot.
    static std::unique_ptr<GrabbedDrive> Open(const std::string& address, bool forErase,
                                              BurnOutcome& failure);
    ~GrabbedDrive();
    GrabbedDrive(const GrabbedDrive&) = delete;
    GrabbedDrive& operator=(const GrabbedDrive&) = delete;

    burn::burn_drive* drive() const { return m_drive; }
    // libburn's role: 1 a real recorder, 2..5 stdio pseudo-drives.
    int Role() const;
    bool IsReal() const { return Role() == 1; }
    // False for a drive that says it can write no kind of disc (a CD-ROM or
    // DVD-ROM drive); stdio pseudo-drives write.
    bool CanWrite() const;
    // Waits a few seconds for a drive that is still spinning up.
    MediumState Medium() const;
    std::string MediumName() const;       // "DVD+RW", "stdio file", ...
    std::int64_t FreeBytes() const;       // on the medium as it is
    std::vector<int> WriteSpeeds() const; // kB/s, fastest first; empty when unknown
    void EjectOnClose(bool eject) { m_eject = eject; }

    // Starts one of libburn's operations on the drive: `start` calls
    // burn_disc_write, burn_disc_erase or burn_disc_format. libburn refuses
    // to start one, with a message only, while the worker thread of an
    // earlier operation on a drive at the same place is still ending: a
    // blank or format reports the drive idle before its worker is gone, and
    // a drive released and grabbed again takes the place of the one before.
    // Such a refusal is retried for up to kStartWait, which keeps a burn
    // right after an erase or a cancelled burn from failing. Returns what
    // TakeLibraryMessages gave while starting (empty once it started).
    std::string Start(const std::function<void()>& start);

private:
    GrabbedDrive() = default;
    burn::burn_drive_info* m_info = nullptr;
    burn::burn_drive* m_drive = nullptr;
    int m_fd = -1;
    bool m_eject = false;
};

// How long GrabbedDrive::Start waits for an earlier operation's worker.
inline constexpr std::chrono::seconds kStartWait{10};

// Empties libburn's message queue; returns its most recent message of
// severity SORRY or worse (empty when there was none). `stillGoingOn`, when
// given, tells whether one of them refused to start an operation because
// one is still going on with the drive.
std::string TakeLibraryMessages(bool* stillGoingOn = nullptr);

} // namespace burner
