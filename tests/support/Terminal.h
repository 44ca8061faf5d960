// Runs a program on a pseudo-terminal of its own, as a user at a terminal
// would run it: for questions it asks only there and progress drawn in place.
#pragma once

#include "tests/support/Files.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace spindle_test {

// What the program wrote to its terminal so far; it may answer by writing
// to `master`, or signal `pid`.
using TerminalTalk = std::function<void(pid_t pid, int master, const std::string& screen)>;

// Runs `argv` (argv[0] a path) until it ends; its exit status (-1 when it
// did not exit) and everything it wrote to the terminal (in `out`).
Outcome RunOnTerminal(const std::vector<std::string>& argv, const TerminalTalk& talk = {});

} // namespace spindle_test
