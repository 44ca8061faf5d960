// Start-up and shutdown of spindle-driver: one driver per runtime folder
// (a lock file), the FUSE mount at <runtime>/drives (a stale mount left by a
// killed driver is detached first), the socket, readiness reported to a
// parent through a pipe, and a clean unmount on SIGTERM/SIGINT.
#pragma once

#include <string>

namespace driver {

// Exit statuses of spindle-driver.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1, // bad usage, socket or folder trouble
    kExitAlreadyRunning = 2,
    kExitNoFuse = 3, // /dev/fuse missing or the mount refused
};

struct DaemonOptions {
    bool daemon = false;
    bool verbose = false;
    // Other users may enter the drive folders (FUSE's allow_other).
    bool allowOther = false;
    // Mounts the drives kept at the last clean stop (driver/SavedDrives.h)
    // before reporting ready.
    bool restore = false;
    // In the foreground: a descriptor that gets one status byte once the
    // driver is ready or has failed (-1: none).
    int readyFd = -1;
};

// Runs the driver until signalled. With `daemon`, forks; the parent returns
// once the child is ready (kExitOk) or has failed (its status).
int RunDriver(const DaemonOptions& opts);

// 0 when a driver answers on the runtime folder's socket, 1 otherwise.
int DriverStatus();

} // namespace driver
