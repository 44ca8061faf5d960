// The disc image reader on Alcohol descriptors with their .mdf.
#include "DiscFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzDescriptor(data, size, "disc.mds");
    return 0;
}
