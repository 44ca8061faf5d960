#include "port/OpenFolder.h"

#include "port/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace port {

namespace {

std::mutex g_mutex;
OpenFolderHook g_hook;

constexpr char kOpener[] = "xdg-open";

bool OnPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (true) {
        size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        if (!dir.empty() && access((dir + "/" + std::string(program)).c_str(), X_OK) == 0)
            return true;
        if (colon == std::string_view::npos)
            return false;
        rest.remove_prefix(colon + 1);
    }
}

// Starts the opener in a grandchild that the system adopts, so nothing is
// left for this program to reap and it never waits for the file manager.
int RunOpener(const std::string& folder) {
    if (!OnPath(kOpener))
        return 2; // no handler program: SE_ERR_FNF
    pid_t child = fork();
    if (child < 0)
        return 31;
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            execlp(kOpener, kOpener, folder.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return 42;
}

} // namespace

OpenFolderHook SetOpenFolderHook(OpenFolderHook hook) {
    std::lock_guard lock(g_mutex);
    std::swap(g_hook, hook);
    return hook;
}

int OpenFolder(const std::string& folder) {
    OpenFolderHook hook;
    {
        std::lock_guard lock(g_mutex);
        hook = g_hook;
    }
    return hook ? hook(folder) : RunOpener(folder);
}

std::string DriveFolder(char16_t letter) {
    return RuntimeDir() + "/drives/" + std::string(1, static_cast<char>(letter)) + "/";
}

} // namespace port
