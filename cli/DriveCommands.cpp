// Placeholder until the drive manager lands; replaced by the real commands.
#include "cli/Commands.h"

#include <cstdio>

namespace cli {
static int NotReady() {
    std::fprintf(stderr, "spindle-cli: virtual drives are not built yet\n");
    return 1;
}
int Mount(const Args&) { return NotReady(); }
int Dismount(const Args&) { return NotReady(); }
int List(const Args&) { return NotReady(); }
int Drives(const Args&) { return NotReady(); }
int Label(const Args&) { return NotReady(); }
} // namespace cli
