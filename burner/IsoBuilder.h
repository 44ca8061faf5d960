// Writes an ISO 9660 image (with Joliet and Rock Ridge as asked) from a
// project tree with libisofs.
//
// The image is written to a temporary file beside the target and renamed
// into place only when it is complete, so a failed or stopped build leaves
// neither a partial image nor a changed target. The temporary file has no
// name while it is written where the file system allows that, so not even a
// killed process leaves one. Runs of zero blocks are
// skipped rather than written, so the image of a sparse file stays sparse.
#pragma once

#include "burner/Project.h"
#include "engine/BuildError.h"
#include "engine/Job.h"

#include <atomic>
#include <functional>
#include <memory>
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

// Told the temporary file's path once it has one, and "" once it is gone or
// has become the image.
using TempFileFn = std::function<void(const std::string&)>;

// Builds the image of `root` at `outPath`. Returns no error on success,
// else what went wrong and where (a source that cannot be read, a full disk,
// a target that cannot be written, ERROR_OPERATION_ABORTED when `stop` was
// set).
// Blocks until done; progress is reported from the calling thread.
engine::BuildError WriteIsoImage(const ProjectNode& root, const ImageSettings& settings,
                                 const std::string& outPath, const std::atomic<bool>& stop,
                                 const ProgressFn& progress, const TempFileFn& tempFile = {});

// An image build as a job: Run writes the image of `root` at `outPath`
// (WriteIsoImage), with the observer hearing the progress and the end; its
// outcome carries the build error's number and path.
class ImageBuildJob : public engine::Job {
public:
    ImageBuildJob(std::unique_ptr<ProjectNode> root, ImageSettings settings, std::string outPath,
                  TempFileFn tempFile = {})
        : m_root(std::move(root)), m_settings(std::move(settings)), m_outPath(std::move(outPath)),
          m_tempFile(std::move(tempFile)) {}
    engine::JobKind Kind() const override { return engine::JobKind::ImageBuild; }
    engine::JobOutcome Run(engine::JobObserver& observer) override;

private:
    std::unique_ptr<ProjectNode> m_root;
    ImageSettings m_settings;
    std::string m_outPath;
    TempFileFn m_tempFile;
};

// Removes the hidden temporary images of processes that no longer run from
// a folder (left where a killed build could not use an unnamed file).
void RemoveStaleTempFiles(const std::string& folder);

} // namespace burner
