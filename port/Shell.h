// Opening things the way the desktop does: a web address, a "mailto:" address
// or a file, handed to the desktop's default handler, with the default web
// browser as the fallback. Every launch goes through one replaceable hook so
// that tests record what would have been opened and no real program starts.
// No wx here.
#pragma once

#include "port/DialogHooks.h"

#include <functional>
#include <string>
#include <vector>

namespace port {

// Results keep the shell's numbers: above 32 is success; otherwise
// 0 out of resources, 2 file not found, 3 path not found, 5 access denied,
// 8 out of memory, 11 not a program, 31 nothing associated with the target.
inline constexpr int kShellOpened = 42;
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellPathNotFound = 3;
inline constexpr int kShellAccessDenied = 5;
inline constexpr int kShellOutOfMemory = 8;
inline constexpr int kShellBadProgram = 11;
inline constexpr int kShellNoAssociation = 31;

struct LaunchRequest {
    std::string target;               // what is to be opened
    std::vector<std::string> command; // empty: the desktop's default handler
                                      // (xdg-open); else the program and its
                                      // arguments to run, the target last
    // For the default handler: when set, the launch returns as soon as the
    // handler has started, and its verdict is handed here later, once, on a
    // thread of the launcher's own. Empty: the launch waits for the verdict.
    std::function<void(int result)> verdict{};
};
using LauncherHook = std::function<int(const LaunchRequest&)>;

// Installs a hook and returns the one it replaces; an empty hook restores
// the real launcher (RunLaunch).
LauncherHook SetLauncherHook(LauncherHook hook);
using ScopedLauncherHook = ScopedHook<LauncherHook, &SetLauncherHook>;

// Launches through the installed hook.
int Launch(const LaunchRequest& request);

// The real launcher. The default handler is xdg-open, whose verdict counts
// for a few seconds (its exit codes map onto the numbers above; one still
// running by then has started something and counts as success): waited for,
// or with request.verdict set, handed there when it comes. A command is
// started in a session of its own and not waited for.
int RunLaunch(const LaunchRequest& request);

// Opens target: first with the desktop's default handler; when that fails,
// with the default web browser (the Exec line of the desktop entry that is
// the default for text/html, cut at its field code, the target added as the
// last argument). Returns the last result. An empty target opens nothing and
// gives kShellFileNotFound.
int OpenWithShell(const std::string& target);
// The same without waiting for the default handler: returns once it has
// started (above 32) or could not start (then the browser's result). When
// it says later that it failed, the browser is tried then, and if that fails
// too, lateFailure gets the result, on a thread of the launcher's own.
int OpenWithShell(const std::string& target, std::function<void(int result)> lateFailure);

// The browser command line of the fallback as text: the Exec line cut at its
// field code, a blank and the target.
std::string BrowserCommandLine(const std::string& exec, const std::string& target);

} // namespace port
