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

// True when a driver answers a hello on the runtime folder's socket.
bool DriverAnswers();

// The driver program to start: spindle-driver beside the running program
// (port::ProgramDir(), which covers the build tree and an installed bin/),
// else the first on PATH; empty when there is none.
std::string DriverProgram();

// Makes sure a driver answers. True when one already did or one was started
// and answers now; else false with `problem` set to one sentence that says
// why (no program found, the driver's own first line of complaint, or no
// answer in time). Blocks for at most about a minute.
bool EnsureDriver(std::string& problem);

// MountImage, and when it finds no driver answering (ERROR_PATH_NOT_FOUND),
// EnsureDriver and MountImage once more. A request the records refuse is
// refused before any driver is started. When the start fails, `error` stays
// ERROR_PATH_NOT_FOUND and `problem` says why.
bool MountStartingDriver(char16_t letter, const MountRequest& request, port::ErrorCode& error,
                         std::string& problem);

} // namespace vdrive
