// Opening a folder with the desktop's default handler for folders (the file
// manager), as "explorer.exe K:\" opens a drive. One replaceable hook, so
// tests record the call instead of starting a file manager. No wx here.
#pragma once

#include <functional>
#include <string>

namespace port {

// Returns a result in ShellExecuteW's terms: above 32 when the handler was
// started, 2 when no handler program is found, 31 when it cannot be run.
using OpenFolderHook = std::function<int(const std::string& folder)>;

// Installs a hook and returns the one it replaces; an empty hook restores
// the default, which runs "xdg-open FOLDER" detached from the program.
OpenFolderHook SetOpenFolderHook(OpenFolderHook hook);

int OpenFolder(const std::string& folder);

// The folder of virtual drive K: in the runtime folder: ".../drives/K/".
std::string DriveFolder(char16_t letter);

} // namespace port
