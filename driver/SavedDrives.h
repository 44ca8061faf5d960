// The drives a driver had at its last clean stop, mounted again at its next
// start with --restore (the systemd user unit starts it so at each login).
//
// The list is StateDir()/drives.ini, in the form of the mounted-drive list
// (vdrive/DrivesFile.h). A clean stop replaces it whole; a driver that is
// killed leaves the last one as it was. At a start each listed image is
// mounted on its letter through the drive manager, as `spindle-cli mount
// IMAGE LETTER` does; a drive that cannot come back (its image is gone, its
// letter is taken) is passed over with one sentence on stderr.
#pragma once

#include "driver/DeviceTable.h"

#include <atomic>
#include <functional>
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
    ~DriveRestorer();
    DriveRestorer(const DriveRestorer&) = delete;
    DriveRestorer& operator=(const DriveRestorer&) = delete;

    // Stops after the drive being mounted and waits for the thread. True when
    // every listed drive was tried (restored or passed over), so the list may
    // be replaced; false when the stop came first and some were not tried.
    bool Finish();

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_complete{false};
    std::thread m_thread;
};

} // namespace driver
