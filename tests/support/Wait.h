// Bounded waits of the tests. A wait ends on the thing waited for (a
// process's end, a condition that holds); its limit, made for the plain
// build, is only an upper bound, stretched for slower builds.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace spindle_test {

// The factor in SPINDLE_TEST_TIME_SCALE (at least 1): upper bounds of waits
// made for the plain build are stretched by it in slower ones.
int TimeScale();
// A wait's upper bound, made for the plain build, stretched by TimeScale().
std::chrono::milliseconds Scaled(std::chrono::milliseconds limit);

// Checks `done` until it holds or Scaled(limit) has passed; whether it held.
// For conditions nothing announces (a file another process writes, a window
// on the X server): the check is repeated at short, growing intervals.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Checks `done` at once and again at each change of an entry of `folders`
// (a file made, written and closed, moved in or out, removed) and, with
// `mounts`, of this process's mount table, until it holds or Scaled(limit)
// has passed; whether it held. A folder that does not exist yet, and
// changes these do not announce, are caught by a check every 200 ms.
bool WaitOnChanges(const std::function<bool()>& done, std::chrono::milliseconds limit,
                   const std::vector<std::string>& folders, bool mounts = false);

// How many threads this process has now; a test waits for the count to
// come back down to know that the threads a component started have ended.
int ThreadCount();

// Waits up to `ms` milliseconds for a process (not necessarily a child) to
// end, without polling; true when it has ended.
bool WaitForExit(pid_t pid, int ms);

// Waits up to Scaled(limit) for a child process to end, without polling,
// and reaps it: its exit status (128 + the signal for a killed one), or -1
// when it is still running (a limit of 0 only looks).
int WaitChild(pid_t pid, std::chrono::milliseconds limit);

} // namespace spindle_test
