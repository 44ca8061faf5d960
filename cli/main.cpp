// spindle-cli: every job of the program from a shell, on the same code as the
// pages.
#include "cli/Commands.h"

#include "SpindleVersion.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const cli::Args&);
};

const Command kCommands[] = {
    {"mount", "mount IMAGE [LETTER]      mount an ISO image on a drive letter", cli::Mount},
    {"dismount", "dismount LETTER           dismount a virtual drive", cli::Dismount},
    {"list", "list                      list the virtual drives", cli::List},
    {"drives", "drives                    show the whole drive table", cli::Drives},
    {"label", "label IMAGE [NEW]         read or rewrite an image's volume label", cli::Label},
    {"build-iso", "build-iso [--label L] OUT SOURCE...   build an ISO image", cli::BuildIso},
    {"copy-disc", "copy-disc [--label L] [--ignore-read-errors] LETTER OUT   copy a disc into an image",
     cli::CopyDisc},
    {"burn", "burn [--cue] [--speed N] [--simulate] [--verify] [--copies N] [--eject] IMAGE LETTER\n"
             "                            burn an ISO image or a BIN/CUE image (its cue sheet)", cli::Burn},
    {"erase", "erase [--full] LETTER      erase a rewritable disc", cli::Erase},
    {"eject", "eject LETTER              open a recorder's tray", cli::Eject},
    {"close-tray", "close-tray LETTER         close a recorder's tray", cli::CloseTray},
    {"devices", "devices                   list the optical drives: letter, vendor, product", cli::Devices},
};

void Usage(FILE* out) {
    std::fprintf(out, "usage: spindle-cli COMMAND [ARGS]\n       spindle-cli --version\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.usage);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") ||
        !std::strcmp(argv[1], "help")) {
        Usage(stdout);
        return 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("spindle-cli %s\n", spindle::kVersion);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (!std::strcmp(argv[1], c.name))
            return c.run(cli::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "spindle-cli: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
}
