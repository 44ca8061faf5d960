// spindle-driver: the virtual disk driver daemon.
#include "driver/Daemon.h"

#include "SpindleVersion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Usage(std::FILE* out) {
    std::fputs("usage: spindle-driver [--daemon] [-v]\n"
               "       spindle-driver --status\n"
               "       spindle-driver --version\n"
               "Serves the virtual CD and disk devices on driver.sock in the runtime folder\n"
               "and shows each loaded image under drives/<letter>/ there.\n"
               "  --daemon  run in the background once ready\n"
               "  --status  exit 0 when a driver answers, 1 otherwise\n"
               "  --ready-fd=N  in the foreground, write one status byte to descriptor N\n"
               "                once ready (0) or failed (the exit status), then close it\n"
               "  --allow-other  let other users enter the drive folders too\n"
               "  -v        print FUSE and image messages\n",
               out);
}

} // namespace

int main(int argc, char** argv) {
    driver::DaemonOptions opts;
    bool status = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--daemon")) {
            opts.daemon = true;
        } else if (!std::strncmp(argv[i], "--ready-fd=", 11)) {
            char* end = nullptr;
            long fd = std::strtol(argv[i] + 11, &end, 10);
            if (end == argv[i] + 11 || *end || fd < 3 || fd > 65535) {
                std::fprintf(stderr, "spindle-driver: bad descriptor in '%s'\n", argv[i]);
                return driver::kExitFailure;
            }
            opts.readyFd = static_cast<int>(fd);
        } else if (!std::strcmp(argv[i], "--allow-other")) {
            opts.allowOther = true;
        } else if (!std::strcmp(argv[i], "--status")) {
            status = true;
        } else if (!std::strcmp(argv[i], "-v") || !std::strcmp(argv[i], "--verbose")) {
            opts.verbose = true;
        } else if (!std::strcmp(argv[i], "--version")) {
            std::printf("spindle-driver %s\n", spindle::kVersion);
            return 0;
        } else if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            Usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "spindle-driver: unknown option '%s'\n", argv[i]);
            Usage(stderr);
            return driver::kExitFailure;
        }
    }
    if (status)
        return driver::DriverStatus();
    return driver::RunDriver(opts);
}
