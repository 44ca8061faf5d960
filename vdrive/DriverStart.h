// Starting spindle-driver when a mount needs it. The mount page, spindle
// --mount and spindle-cli mount call EnsureDriver before they mount: when no
// driver answers on the runtime folder's socket, `spindle-driver --daemon` is
// started in the background for the same runtime folder and waited for. A
// lock file in the runtime folder is held around the check and the start, so
// two requests that race start one driver; the second finds it answering.
// The systemd user unit stays the way to have the driver from the login on.
#pragma once

#include "vdrive/VirtualDrive.h"

#include <string>

namespace vdrive {

// The driver program to start: spindle-driver beside the running program
// (port::ProgramDir(), which covers the build tree and an installed bin/),
// else the first on PATH; empty when there is none.
std::string DriverProgram();

// Why no driver could be started: a number plus the path it concerns (the
// runtime folder, the start lock, the program's folder or file, the socket)
// and the system's errno, or the exit status and first line of complaint of
// a driver that failed. Describe is the one place their text is made.
enum class StartError {
    None,
    RuntimeDir,  // the private runtime folder is unusable (errno)
    LockNotOwn,  // the start lock is not a regular file of this user's own
    LockTimeout, // another start held the lock past the wait
    NoProgram,   // spindle-driver is neither beside the program nor on the PATH
    CannotRun,   // the program cannot be run (errno; path empty: no pipe)
    NotReady,    // it did not report ready in time
    DidNotStart, // it ended with a failure (exitStatus, driverWords)
    NoAnswer,    // it started but does not answer on its socket
};

struct StartFault {
    StartError error = StartError::None;
    std::string path;
    int osError = 0;
    int exitStatus = 0;
    std::string driverWords; // the driver's own first line, without its name
    bool ok() const { return error == StartError::None; }
};

// The fault as one sentence (no capital, no full stop) for the mount page's
// and spindle-cli's messages.
std::string Describe(const StartFault& fault);

// Makes sure a driver answers. None when one already did or one was started
// and answers now; else why not. Blocks for at most about a minute.
StartFault EnsureDriver();

// MountImage, and when it finds no driver answering (ERROR_PATH_NOT_FOUND),
// EnsureDriver and MountImage once more. A request the records refuse is
// refused before any driver is started. When the start fails, `error` stays
// ERROR_PATH_NOT_FOUND and `fault` says why.
bool MountStartingDriver(char16_t letter, const MountRequest& request, port::ErrorCode& error,
                         StartFault& fault);

} // namespace vdrive
