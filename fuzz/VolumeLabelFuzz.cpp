// The volume label reader on any file content.
#include "MemFile.h"
#include "port/Utf.h"
#include "vdrive/VolumeLabel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile file;
    static const std::u16string path = port::ToUtf16(file.path());
    if (!file.Set(data, size))
        return 0;
    port::ErrorCode error = port::ERROR_SUCCESS;
    auto label = vdrive::ReadVolumeLabel(path, error);
    if (label && label->size() > 32)
        __builtin_trap(); // no descriptor field holds more
    return 0;
}
