// The disc image reader on cue sheets with their BIN files.
#include "DiscFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzDescriptor(data, size, "disc.cue");
    return 0;
}
