// The disc image reader on CloneCD descriptors with their .img.
#include "DiscFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzDescriptor(data, size, "disc.ccd");
    return 0;
}
