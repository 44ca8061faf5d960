// The image indexer: the walk over the directory trees on the raw bytes, then
// the whole open (libisofs's import in its child process, the index handed
// back and checked) and a read of every file through the index.
#include "MemFile.h"
#include "driver/ImageFile.h"
#include "driver/TreeCheck.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    driver::ImageReader read = [&](std::uint64_t off, void* buf, std::size_t len) {
        if (off > size || len > size - off)
            return false;
        std::memcpy(buf, data + off, len);
        return true;
    };
    // The indexer refuses what the walk finds damaged before libisofs runs:
    // only the rest is worth a child process.
    if (driver::CheckTrees(read, size).primary != driver::TreeState::Fine)
        return 0;

    static MemFile file;
    static const bool limited = (driver::ImageFile::SetIndexTimeLimit(2), true);
    (void)limited;
    if (!file.Set(data, size))
        return 0;
    std::shared_ptr<driver::ImageFile> img;
    if (driver::ImageFile::Open(file.path(), img) != port::ERROR_SUCCESS)
        return 0;
    std::vector<driver::ReadPiece> pieces;
    std::string plain;
    for (std::uint32_t n = 0; n < img->nodeCount(); ++n) {
        const driver::Node& node = img->node(n);
        if (node.kind == driver::NodeKind::Dir) {
            if (std::uint64_t{node.firstChild} + node.childCount > img->nodeCount())
                __builtin_trap();
            for (std::uint32_t c = 0; c < node.childCount; ++c)
                if (img->Find(n, img->node(node.firstChild + c).name) != node.firstChild + c)
                    __builtin_trap(); // every child can be found by its name
        }
        if (node.kind != driver::NodeKind::File)
            continue;
        if (node.compressed) {
            img->ReadCompressed(n, 0, 1 << 20, plain);
        } else if (img->MapRead(n, 0, 1 << 20, pieces)) {
            for (const auto& p : pieces)
                if (p.offset + p.size > size)
                    __builtin_trap(); // never outside the image
        }
    }
    return 0;
}
