// The drives a driver had at its last clean stop, mounted again at its next
// start with --restore (the systemd user unit starts it so at each login).
//
// The list is StateDir()/drives.ini, in the form of the mounted-drive list
// (vdrive/DrivesFile.h). A clean stop replaces it whole; a driver that is
// killed leaves the last one as it was. At a start each listed image is
// mounted on its letter through the drive manager, as `spindle-cli mount
// IMAGE LETTER` does; a drive that cannot come back (its image is gone, its
// letter is taken) is passed over with one sentence on stderr. An image that
// lies in another listed drive is found once that drive is back, whatever the
// order of their letters. Only a regular file of at most 64 KiB is read, and
// only its first 26 drives are taken.
#pragma once

#include "driver/DeviceTable.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace driver {

// Where the list is kept.
std::string SavedDrivesPath();

// Writes the list of the table's drives whose letter still points at their
// device (`bound`). A drive whose image name holds a line break cannot be
// written in the list's form and is left out, with a word. False (said on
// stderr) when the file cannot be written.
bool SaveDrives(const DeviceTable& table, const DeviceTable::BindingCheck& bound);

// Mounts the drives of the list, one after the other, in a thread of its own
// (the driver's socket and file system must answer meanwhile), then runs
// `done`.
class DriveRestorer {
public:
    explicit DriveRestorer(std::function<void()> done);
    // Waits for the thread.
    ~DriveRestorer();
    DriveRestorer(const DriveRestorer&) = delete;
    DriveRestorer& operator=(const DriveRestorer&) = delete;

    // Stops after the drive being mounted, waiting for the thread at most
    // `wait`. True when every listed drive was tried (restored or passed
    // over), so the list may be replaced; false when the stop came first and
    // some were not tried, or the thread is still busy: then it is held by a
    // call into the driver's own file system, which fails once that is
    // unmounted, and the destructor waits for it after the unmount.
    bool Finish(std::chrono::milliseconds wait);

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    bool m_complete = false;
    std::thread m_thread;
};

} // namespace driver
