// The disc image reader on Nero images (the footer, the chunks and the tracks they describe).
#include "DiscFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzDescriptor(data, size, "disc.nrg");
    return 0;
}
