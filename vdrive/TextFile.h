// Whole reads of the small text files that describe disc images (cue sheets,
// CloneCD descriptors).
#pragma once

#include "vdrive/DiscImage.h"

#include <string>

namespace vdrive {

// Reads the file at `path` into `text`. A file that is not a regular file,
// is larger than 1 MiB, changes while it is read or holds a NUL byte is
// refused unread or unused, with `fault` naming it as a `kind` ("cue
// sheet"): a device never ends, a FIFO blocks, and a BIN picked in place of
// its sheet is no text.
bool ReadSmallTextFile(const std::string& path, const std::string& kind, std::string& text,
                       DiscFault& fault);

} // namespace vdrive
