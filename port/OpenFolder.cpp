#include "port/OpenFolder.h"

#include "port/Paths.h"
#include "port/Shell.h"

namespace port {

int OpenFolder(const std::string& folder) {
    // Run as a command rather than through the default-handler path, which
    // waits for xdg-open's verdict: the page must not wait on a file manager.
    return Launch({folder, {"xdg-open", folder}});
}

std::string DriveFolder(char16_t letter) {
    return RuntimeDir() + "/drives/" + std::string(1, static_cast<char>(letter)) + "/";
}

} // namespace port
