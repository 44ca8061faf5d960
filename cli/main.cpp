// spindle-cli: every job of the program from a shell, on the same code as the
// pages.
#include "cli/Commands.h"
#include "cli/Report.h"

#include "port/DosDevices.h"

#include "SpindleVersion.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char* name;
    const char* usage; // after "spindle-cli "
    const char* what;
    int (*run)(const cli::Args&);
};

const Command kCommands[] = {
    {"mount", "mount IMAGE [LETTER]", "mount an ISO image on a drive letter", cli::Mount},
    {"dismount", "dismount LETTER", "dismount a virtual drive", cli::Dismount},
    {"list", "list [--json]", "list the virtual drives", cli::List},
    {"drives", "drives", "show the whole drive table", cli::Drives},
    {"label", "label IMAGE [NEW]", "read or rewrite an image's volume label", cli::Label},
    {"build-iso", "build-iso [--label L] [--force] [--quiet] OUT SOURCE...", "build an ISO image",
     cli::BuildIso},
    {"copy-disc", "copy-disc [--label L] [--ignore-read-errors] LETTER OUT",
     "copy a disc into an image", cli::CopyDisc},
    {"burn", "burn [--cue] [--speed N] [--simulate] [--verify] [--copies N] [--eject] IMAGE LETTER",
     "burn an ISO image or a BIN/CUE image (its cue sheet)", cli::Burn},
    {"erase", "erase [--full] LETTER", "erase a rewritable disc", cli::Erase},
    {"eject", "eject LETTER", "open a recorder's tray", cli::Eject},
    {"close-tray", "close-tray LETTER", "close a recorder's tray", cli::CloseTray},
    {"devices", "devices [--json]", "list the optical drives: letter, vendor, product",
     cli::Devices},
};

const Command* Find(const char* name) {
    for (const Command& c : kCommands)
        if (!std::strcmp(name, c.name))
            return &c;
    return nullptr;
}

void Usage(FILE* out) {
    std::fprintf(out, "usage: spindle-cli COMMAND [ARGS]\n"
                      "       spindle-cli COMMAND --help\n"
                      "       spindle-cli --version\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n      %s\n", c.usage, c.what);
    std::fprintf(out,
                 "\nexit status:\n"
                 "  0    success\n"
                 "  1    failure; stderr says why, as \"spindle-cli: COMMAND: ... (error N)\"\n"
                 "       where N is the error number\n"
                 "  2    wrong usage\n"
                 "  130  stopped by Ctrl-C\n");
}

} // namespace

namespace cli {

const char* UsageOf(const char* command) {
    const Command* c = Find(command);
    return c ? c->usage : "COMMAND [ARGS]";
}

} // namespace cli

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return cli::kExitUsage;
    }
    if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") ||
        !std::strcmp(argv[1], "help")) {
        Usage(stdout);
        return cli::kExitOk;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("spindle-cli %s\n", spindle::kVersion);
        return cli::kExitOk;
    }
    const Command* c = Find(argv[1]);
    if (!c) {
        cli::Tell(nullptr, std::string("'") + argv[1] + "' is no command");
        Usage(stderr);
        return cli::kExitUsage;
    }
    cli::Args args(argv + 2, argv + argc);
    if (cli::AsksForHelp(args)) {
        // The longer help of a subcommand that has one, else its usage.
        if (c->run == cli::BuildIso || c->run == cli::CopyDisc)
            return c->run({"--help"});
        std::printf("usage: spindle-cli %s\n%s\n", c->usage, c->what);
        return cli::kExitOk;
    }
    // Commands on the drive table say which drives.conf lines it passed over.
    if (c->run != cli::Label && c->run != cli::BuildIso)
        for (const std::string& problem : port::DrivesConfProblems())
            cli::Tell(c->name, problem + "; the line is passed over");
    return c->run(args);
}
