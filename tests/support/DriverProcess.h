// A private spindle-driver for one test, run in the foreground as a child of
// the test with the test's environment (its runtime folder). The start waits
// on the driver's readiness pipe; the end is SIGTERM (which unmounts its
// drives) and a wait for the process.
#pragma once

#include "tests/support/Wait.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace spindle_test {

// Whether /dev/fuse exists here at all.
bool FuseAvailable();
// Whether something is mounted at `path` in this process's mount table.
bool Mounted(const std::string& path);
// Skips the test (GoogleTest) on a machine without FUSE.
#define SPINDLE_REQUIRE_FUSE()                                                                     \
    if (!spindle_test::FuseAvailable())                                                            \
    GTEST_SKIP() << "/dev/fuse is missing: no FUSE on this machine"

// Stops a driver that serves the runtime folder `runtime` but is no child of
// the test (one started in the background by a mount): SIGTERM to the process
// its driver.lock names, then a wait for it to end (SIGKILL after 30 s). The
// number of drivers it found running there (0 or 1).
int StopDriverOf(const std::string& runtime);

// How many spindle-driver processes run for the runtime folder `runtime`
// (named in their environment).
int DriversOf(const std::string& runtime);

class DriverProcess {
public:
    // Starts the driver with `args` and returns once it reports ready or
    // failed (or 30 s passed). With `errFile`, its stderr is appended there.
    explicit DriverProcess(const std::vector<std::string>& args = {},
                           const std::string& errFile = {});
    ~DriverProcess();
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;

    bool ready() const { return m_status == 0; }
    // The status the driver reported at start (its exit status on failure),
    // -1 when it said nothing.
    int startStatus() const { return m_status; }
    pid_t pid() const { return m_pid; }

    // SIGTERM (or `signal`) and wait; the exit status, 128 + the signal for a
    // killed driver, -1 when none runs.
    int Stop(int signal = 15);

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

} // namespace spindle_test
