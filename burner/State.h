// Process-wide state of the engine: its language, the registered callbacks,
// the options in force, the project and the image build that may be running.
#pragma once

#include "burner/IsoBuilder.h"
#include "burner/Project.h"
#include "engine/Engine.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace burner {

struct Callbacks {
    engine::ProcessEventCallback process = nullptr;
    void* processUser = nullptr;
    engine::BurnDoneEventCallback burnDone = nullptr;
    void* burnDoneUser = nullptr;
    engine::AddFileEventCallback addFile = nullptr;
    void* addFileUser = nullptr;
    engine::CreateDirEventCallback createDir = nullptr;
    void* createDirUser = nullptr;
};

// One image build on the engine thread.
struct BuildJob {
    std::uint64_t epoch = 0; // EngineState::epoch when it started
    std::unique_ptr<ImageBuildJob> work;
    std::thread::id thread;
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false; // the image or its partial file is dealt with
    std::string tempPath;  // the partial image while there is one
};

struct EngineState {
    std::mutex mutex;
    bool initialized = false;
    // libisofs and libburn are up. They outlive DeInitialize while a build
    // thread still runs (one that shut the engine down from its own report,
    // or one that did not stop in time); the last build thread to end then
    // shuts them down, unless the engine was initialized again meanwhile.
    bool librariesUp = false;
    // Counts DeInitialize calls: a build started in an earlier epoch makes
    // no more reports, even to callbacks registered after a new Initialize.
    std::uint64_t epoch = 0;
    std::u16string languageSection;
    std::u16string languageFile;
    Callbacks callbacks;
    engine::EngineOptions options{}; // DefaultOptions() from the first use
    int projectType = 0;             // 0: none, else engine::kProjectData / kProjectBinCue
    Project project;
    std::string cueSheet;            // the cue file of a BIN/CUE project
    std::shared_ptr<BuildJob> build; // the running build, if any
    int liveBuildThreads = 0;
    std::condition_variable buildThreadsDone;
};

EngineState& State();

// A copy of the callbacks, taken under the lock, for calling outside it.
Callbacks CurrentCallbacks();

// Shuts libisofs and libburn down. The caller holds State().mutex and no
// build thread is left.
void FinishLibraries();

// Stops a running build and waits until its partial file is removed (not
// for its completion report). Called by Abort and DeInitialize.
void StopBuild(bool waitForThreads);

} // namespace burner
