#include "tests/support/Terminal.h"

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace spindle_test {

Outcome RunOnTerminal(const std::vector<std::string>& argv, const TerminalTalk& talk) {
    Outcome run;
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return run;
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) { // EIO once the child is gone
        run.out.append(buf, static_cast<std::size_t>(n));
        if (talk)
            talk(pid, master, run.out);
    }
    ::close(master);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    return run;
}

} // namespace spindle_test
