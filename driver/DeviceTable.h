// The driver's 64 devices (32 CD, 32 disk) and the images they hold. A loaded
// image is shown as the folder of the drive letter it was opened through, so
// the table also answers "which image is drive K" and "which image has mount
// serial s" for the file system. Thread-safe: protocol connections and FUSE
// worker threads call it at once.
#pragma once

#include "driver/DeviceName.h"
#include "driver/ImageFile.h"
#include "driver/Records.h"
#include "port/Errors.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace driver {

// One image loaded on one device. Serials are not reused (short of 2^32
// opens), so a stale reference (a FUSE inode, a pending close) never reaches
// a later image.
struct Mount {
    std::shared_ptr<const ImageFile> image;
    std::string ntName;
    DeviceId device;
    char letter = 0;
    std::uint32_t serial = 0;
    std::atomic<int> openFiles{0};
};

class DeviceTable {
public:
    // Told when a drive folder appears or goes, outside the table's lock.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void DriveChanged(char letter) = 0;
    };

    void SetObserver(Observer* o) { m_observer = o; }

    // Tells whether a letter still points at a device (the drive table can
    // be edited by any program of the user). A loaded device whose letter
    // no longer points at it, with no file open, is freed when its device or
    // letter is asked for again. Unset: every letter counts as bound.
    using BindingCheck = std::function<bool(char letter, DeviceId dev)>;
    void SetBindingCheck(BindingCheck check) { m_bound = std::move(check); }

    // Tells whether a process works in a folder of the mount or holds one
    // open (the file system only hears of open files). A mount in such use
    // is not removed. Unset: only open files count.
    using UseCheck = std::function<bool(const Mount& m)>;
    void SetUseCheck(UseCheck check) { m_used = std::move(check); }

    // Loads the image named by the request onto the device and shows it as
    // the folder `letter`. ERROR_BUSY when the device already holds an image
    // or another device is shown under that letter.
    port::ErrorCode Open(DeviceId dev, char letter, const AttachRequest& req);

    std::shared_ptr<Mount> Loaded(DeviceId dev) const;
    std::shared_ptr<Mount> ByLetter(char letter) const;
    std::shared_ptr<Mount> BySerial(std::uint32_t serial) const;
    // Letters with a loaded image, in order, with their mount serials.
    std::vector<std::pair<char, std::uint32_t>> Drives() const;

    // Removes the mount from its device unless a file of it is open or a
    // folder of it is in use (see SetUseCheck). True
    // when it is gone afterwards (also when it was gone already). The kernel
    // reports a closed file a moment after close() returns, so a caller may
    // give open files `grace` to go before the answer is no.
    bool TryRemove(const std::shared_ptr<Mount>& m,
                   std::chrono::milliseconds grace = std::chrono::milliseconds(0));

    // A file of mount `serial` is opened: counts it and returns the mount, or
    // nothing when the mount is gone. Counting happens under the same lock as
    // TryRemove's check, so a removal never races an open.
    std::shared_ptr<Mount> AcquireFile(std::uint32_t serial);
    void ReleaseFile(Mount& m);
    // Waits up to `grace` for the mount to have no open file; true if so
    // and no folder of it is in use either.
    bool WaitUntilUnused(Mount& m, std::chrono::milliseconds grace);

private:
    void Notify(char letter);
    // Drops the mounts in the way of (dev, letter) whose letter binding
    // vanished; the letters of the folders that went. A file of such a mount
    // closed just before may still have its release on the way from the
    // kernel: up to a short grace is waited for it. With `lock` on m_mutex.
    std::vector<char> DropUnboundLocked(std::unique_lock<std::mutex>& lock, DeviceId dev,
                                        char letter);

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::array<std::shared_ptr<Mount>, 2 * kDeviceCount> m_devices;
    std::map<std::uint32_t, std::shared_ptr<Mount>> m_bySerial;
    std::uint32_t m_nextSerial = 1;
    std::atomic<Observer*> m_observer{nullptr};
    BindingCheck m_bound;
    UseCheck m_used;
};

} // namespace driver
