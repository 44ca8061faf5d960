// Placeholder until the image build lands; replaced by the real command.
#include "cli/Commands.h"

#include <cstdio>

namespace cli {
int BuildIso(const Args&) {
    std::fprintf(stderr, "spindle-cli: image building is not built yet\n");
    return 1;
}
} // namespace cli
