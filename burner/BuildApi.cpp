// Image builds on the engine's own thread: PrepareISO, BuildISO, Abort.
//
// Every BuildISO call ends in exactly one burn-done report: from the engine
// thread when the build ran (null text on success), at once from the
// caller's thread when it was refused (no project, no path, a build already
// running). The build works on a copy of the project taken when it starts,
// so the project may change while it runs.
#include "burner/IsoBuilder.h"
#include "burner/Options.h"
#include "burner/State.h"
#include "port/Utf.h"

#include <chrono>

namespace {

using burner::State;

void ReportDone(const std::string& error) {
    burner::Callbacks cb = burner::CurrentCallbacks();
    if (!cb.burnDone)
        return;
    if (error.empty()) {
        cb.burnDone(nullptr, cb.burnDoneUser);
    } else {
        std::u16string text = port::ToUtf16(error);
        cb.burnDone(text.c_str(), cb.burnDoneUser);
    }
}

void ReportProgress(float percent) {
    burner::Callbacks cb = burner::CurrentCallbacks();
    if (cb.process)
        cb.process(percent, cb.processUser);
}

void RunBuild(std::shared_ptr<burner::BuildJob> job, std::unique_ptr<burner::ProjectNode> root,
              burner::ImageSettings settings, std::string outPath) {
    {
        std::lock_guard lock(job->mutex);
        job->thread = std::this_thread::get_id();
    }
    std::string error = burner::WriteIsoImage(*root, settings, outPath, job->stop, ReportProgress);
    root.reset();
    {
        std::lock_guard lock(job->mutex);
        job->finished = true;
    }
    job->cv.notify_all();
    {
        std::lock_guard lock(State().mutex);
        if (State().build == job)
            State().build.reset(); // a new build may start from the report on
    }
    ReportDone(error);
    {
        std::lock_guard lock(State().mutex);
        --State().liveBuildThreads;
    }
    State().buildThreadsDone.notify_all();
}

int Refuse(port::ErrorCode code, const std::string& why) {
    ReportDone(why);
    return static_cast<int>(code);
}

} // namespace

namespace burner {

void StopBuild(bool waitForThreads) {
    std::shared_ptr<BuildJob> job;
    {
        std::lock_guard lock(State().mutex);
        job = State().build;
    }
    if (job) {
        job->stop = true;
        std::unique_lock lock(job->mutex);
        // A stop asked from a report of the build itself cannot wait for it.
        if (job->thread != std::this_thread::get_id())
            job->cv.wait_for(lock, std::chrono::seconds(10), [&] { return job->finished; });
    }
    if (waitForThreads) {
        std::unique_lock lock(State().mutex);
        State().buildThreadsDone.wait_for(lock, std::chrono::seconds(10),
                                          [] { return State().liveBuildThreads == 0; });
    }
}

} // namespace burner

namespace engine {

int PrepareISO() {
    std::lock_guard lock(State().mutex);
    return State().projectType == kProjectData ? 0 : static_cast<int>(port::ERROR_NOT_READY);
}

int BuildISO(const char16_t* imagePath) {
    std::size_t n = imagePath ? port::U16Length(imagePath, 4096) : 0;
    if (n == 0)
        return Refuse(port::ERROR_INVALID_PARAMETER, "No image path was given");
    if (n == 4096)
        return Refuse(port::ERROR_FILENAME_EXCED_RANGE, "The image path is too long");
    std::string outPath = port::ToUtf8(std::u16string_view(imagePath, n));

    std::unique_lock lock(State().mutex);
    if (!State().initialized)
        return (lock.unlock(), Refuse(port::ERROR_NOT_READY, "The engine is not initialized"));
    if (State().projectType != kProjectData)
        return (lock.unlock(), Refuse(port::ERROR_NOT_READY, "There is no data project"));
    if (State().build)
        return (lock.unlock(), Refuse(port::ERROR_BUSY, "An image build is already running"));

    burner::ResolvedOptions options = burner::Resolve(State().options);
    burner::ImageSettings settings;
    settings.volumeId = options.volumeLabel;
    settings.isoLevel = options.isoLevel;
    settings.joliet = options.joliet;
    settings.rockRidge = options.rockRidge;

    auto job = std::make_shared<burner::BuildJob>();
    State().build = job;
    ++State().liveBuildThreads;
    try {
        std::thread(RunBuild, job, State().project.Snapshot(), settings, outPath).detach();
    } catch (const std::system_error&) {
        State().build.reset();
        --State().liveBuildThreads;
        lock.unlock();
        return Refuse(port::ERROR_NOT_ENOUGH_MEMORY, "Cannot start the engine thread");
    }
    return 0;
}

void Abort() { burner::StopBuild(false); }

} // namespace engine
