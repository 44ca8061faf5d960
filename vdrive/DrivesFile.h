// The mounted-drive list "drives.ini", written when the program closes and
// never read by it (spindle-driver keeps a list of the same form, which it
// reads back at a start with --restore):
//
//   [DRIVES]
//   drive0 = K
//   file0 = /img/a.iso
//
// one pair of lines for each drive of the driver from C to Z, numbered from
// 0, lines ending in CR LF, paths as UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vdrive {

struct ListedDrive {
    char16_t letter = 0;
    std::u16string imageName; // as the driver reports it
};

// Every letter from C to Z that the driver answers for, in order.
std::vector<ListedDrive> ListDriverDrives();

// The file's text. An image name in NT form ("\??\...") is shown as a host
// path; any other name as reported. A name holding a line break cannot stand
// on one line and is left out (MountImage refuses such paths; this keeps a
// name from elsewhere from adding lines of its own).
std::string FormatDrivesFile(const std::vector<ListedDrive>& drives);

// The drives a list names, in the order of their numbers: each "driveN" (a
// letter A to Z, either case) paired with "fileN" of the same number, taken
// from section [DRIVES]. The value is what follows the "=" and one blank, to
// the end of the line (CR LF or LF), so every name the writer wrote (host
// paths; see FormatDrivesFile) reads back as it stands. Keys without a
// partner, unknown lines and later duplicates are passed over.
std::vector<ListedDrive> ParseDrivesFile(std::string_view text);

// Writes the list of the driver's drives to "drives.ini" in the program's
// folder, or, where that folder cannot be written (an installed program), in
// the config folder. The file is replaced whole: written beside it, then
// renamed over it, so a crash never leaves half a list. Returns the path
// written, or an empty string when neither folder takes it.
std::string WriteDrivesFile();

} // namespace vdrive
