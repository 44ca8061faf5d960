// Writes an ISO 9660 image (with Joliet and Rock Ridge as asked) from a
// project tree with libisofs.
//
// The image is written to a temporary file beside the target and renamed
// into place only when it is complete, so a failed or stopped build leaves
// neither a partial image nor a changed target. Runs of zero blocks are
// skipped rather than written, so the image of a sparse file stays sparse.
#pragma once

#include "burner/Project.h"

#include <atomic>
#include <functional>
#include <string>

namespace burner {

struct ImageSettings {
    std::string volumeId; // UTF-8; empty for none
    int isoLevel = 3;     // 1, 2 or 3
    bool joliet = true;
    bool rockRidge = true;
};

// Percent done, 0 to 100, rising.
using ProgressFn = std::function<void(float)>;

// Told the temporary file's path once it exists, and "" once it is gone or
// has become the image.
using TempFileFn = std::function<void(const std::string&)>;

// Builds the image of `root` at `outPath`. Returns an empty text on success,
// else what went wrong (a source that cannot be read, a full disk, a target
// that cannot be written, "Stopped by the user" when `stop` was set).
// Blocks until done; progress is reported from the calling thread.
std::string WriteIsoImage(const ProjectNode& root, const ImageSettings& settings,
                          const std::string& outPath, const std::atomic<bool>& stop,
                          const ProgressFn& progress, const TempFileFn& tempFile = {});

// The text a stopped build ends with.
extern const char* const kStoppedText;

} // namespace burner
