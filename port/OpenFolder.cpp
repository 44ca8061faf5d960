#include "port/OpenFolder.h"

#include "port/Paths.h"
#include "port/Shell.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

int OpenFolder(const std::string& folder) {
    // Run as a command rather than through the default-handler path, which
    // waits for xdg-open's verdict: the page must not wait on a file manager.
    return Launch({folder, {"xdg-open", folder}});
}

std::string DriveFolder(char16_t letter) {
    return RuntimeDir() + "/drives/" + std::string(1, static_cast<char>(letter)) + "/";
}

std::string DesktopFolder(char16_t letter) {
    const std::string link = RuntimeDir() + "/desktop/" + std::string(1, static_cast<char>(letter));
    char target[PATH_MAX];
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        const std::string folder(target, static_cast<size_t>(n));
        // Only a live mount: a folder on another file system than its parent.
        struct stat st {
        }, parent{};
        if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            stat((folder + "/..").c_str(), &parent) == 0 && st.st_dev != parent.st_dev)
            return folder + "/";
    }
    return DriveFolder(letter);
}

} // namespace port
