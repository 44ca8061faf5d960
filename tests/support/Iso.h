// ISO images for tests: a sample source tree, images of it made by
// genisoimage, xorriso and libisofs itself, and what the independent readers
// (xorriso, isoinfo) find in an image.
#pragma once

#include "tests/support/Files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace spindle_test {

// A small tree with long, Unicode and nested names, a file that is not a
// multiple of 2048 bytes, an empty file and an empty folder. Returns the
// paths relative to `root` of its files.
std::vector<std::string> MakeSampleTree(const std::string& root);

enum class IsoTool { Genisoimage, Xorriso, Libisofs };
const char* ToolName(IsoTool t);

// Runs a maker of the mkisofs kind ("genisoimage -quiet", "xorriso -as
// mkisofs") with `options` on `srcDir`, quietly; false when it failed.
bool MakeIso(const std::string& maker, const std::string& options, const std::string& srcDir,
             const std::string& iso);

// Builds an image of `srcDir` with Rock Ridge and Joliet; false when the
// tool failed.
bool BuildIso(IsoTool tool, const std::string& srcDir, const std::string& iso);

// A file made up on the fly for an image built by libisofs: zeros, with
// `marks` (offset, bytes) written over them. Lets a test put a file of
// several GiB in an image without reading or storing its data.
struct GeneratedFile {
    std::string name;
    std::uint64_t size = 0;
    std::vector<std::pair<std::uint64_t, std::string>> marks;
    // The bytes at [off, off + n) (cut at the end of the file).
    std::string Bytes(std::uint64_t off, std::size_t n) const;
};

// Builds an ISO level 3 image (Rock Ridge, Joliet) holding the generated
// file; the image file is sparse where its data are zeros.
bool BuildIsoWithGeneratedFile(const GeneratedFile& file, const std::string& iso);

// Every path of an image's Rock Ridge tree, as xorriso lists it, sorted.
std::string ImageTree(const std::string& image);
// The volume id from the primary descriptor, as isoinfo reads it.
std::string VolumeId(const std::string& image);

} // namespace spindle_test
