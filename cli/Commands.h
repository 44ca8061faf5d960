// Subcommands of spindle-cli. Each takes the arguments after its own name and
// returns the process exit status (0 on success).
#pragma once

#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

// Virtual drives (DriveCommands.cpp).
int Mount(const Args& args);    // mount IMAGE [LETTER]
int Dismount(const Args& args); // dismount LETTER
int List(const Args& args);     // list [--json]
int Drives(const Args& args);   // drives
int Label(const Args& args);    // label IMAGE [NEW]

// Image building (BuildIsoCommand.cpp).
int BuildIso(const Args& args); // build-iso [--label L] [--force] [--quiet] OUT SOURCE...

// Disc copy (CopyDiscCommand.cpp).
int CopyDisc(const Args& args); // copy-disc [--label L] [--ignore-read-errors] LETTER OUT

// Recorders (BurnCommands.cpp).
int Burn(const Args& args);      // burn [--cue] [--speed N] [--simulate] [--verify] [--copies N]
                                 // [--eject] IMAGE LETTER
int Erase(const Args& args);     // erase [--full] LETTER
int Eject(const Args& args);     // eject LETTER
int CloseTray(const Args& args); // close-tray LETTER
int Devices(const Args& args);   // devices [--json]

} // namespace cli
