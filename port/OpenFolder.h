// Opening a folder with the desktop's default handler for folders (the file
// manager), as "explorer.exe K:\" opens a drive. It goes through the one
// launcher hook of port/Shell.h, so tests record the call instead of
// starting a file manager. No wx here.
#pragma once

#include <string>

namespace port {

// Starts "xdg-open FOLDER" and does not wait for the file manager. Returns a
// result in the shell's terms (port/Shell.h): above 32 when the opener was
// started, 2 when there is no opener program.
int OpenFolder(const std::string& folder);

// The folder of virtual drive K: in the runtime folder: ".../drives/K/".
std::string DriveFolder(char16_t letter);

// Where the file manager lists drive K: its mount in the media folder, which
// the driver links from the runtime folder's "desktop/K"; DriveFolder where
// there is none (the desktop mounts turned off, or the drive not mounted).
std::string DesktopFolder(char16_t letter);

} // namespace port
