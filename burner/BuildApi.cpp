// Image builds on the engine's own thread: PrepareISO, BuildISO, Abort.
//
// Every BuildISO call ends in exactly one burn-done report: from the engine
// thread when the build ran (null text on success), at once from the
// caller's thread when it was refused (no project, no path, a build already
// running). DeInitialize stops a running build and silences it: it makes no
// more reports, even once the engine is initialized again. The build works
// on a copy of the project taken when it starts, so the project may change
// while it runs.
#include "burner/IsoBuilder.h"
#include "burner/Options.h"
#include "burner/State.h"
#include "engine/BuildError.h"
#include "port/Utf.h"

#include <chrono>

#include <unistd.h>

namespace {

using burner::State;

thread_local bool t_buildThread = false;

// The callbacks a build may still report to: none once the engine was shut
// down after it started.
burner::Callbacks CallbacksFor(const burner::BuildJob* job) {
    std::lock_guard lock(State().mutex);
    if (job && job->epoch != State().epoch)
        return {};
    return State().callbacks;
}

// The engine's C face of a build: the job's reports become the registered
// callbacks, each made as a report of an image build (engine/Job.h), so the
// program learns from the report itself which work it comes from.
class CallbackFace : public engine::JobObserver {
public:
    explicit CallbackFace(const burner::BuildJob* job) : m_job(job) {}
    void OnProgress(float percent) override {
        burner::Callbacks cb = CallbacksFor(m_job);
        engine::ReportScope scope(engine::JobKind::ImageBuild);
        if (cb.process)
            cb.process(percent, cb.processUser);
    }
    void OnEnd(const engine::JobOutcome& outcome) override {
        burner::Callbacks cb = CallbacksFor(m_job);
        if (!cb.burnDone)
            return;
        engine::ReportScope scope(engine::JobKind::ImageBuild, &outcome);
        if (outcome.Done()) {
            cb.burnDone(nullptr, cb.burnDoneUser);
        } else {
            std::u16string text =
                port::ToUtf16(engine::DescribeBuildError({outcome.error, outcome.item}));
            cb.burnDone(text.c_str(), cb.burnDoneUser);
        }
    }

private:
    const burner::BuildJob* m_job;
};

void RunBuild(std::shared_ptr<burner::BuildJob> job) {
    t_buildThread = true;
    {
        std::lock_guard lock(job->mutex);
        job->thread = std::this_thread::get_id();
    }
    // The end is told once the state shows no build, so that a new build
    // may start from the report on.
    class HoldEnd : public CallbackFace {
    public:
        using CallbackFace::CallbackFace;
        void OnEnd(const engine::JobOutcome& outcome) override { m_outcome = outcome; }
        engine::JobOutcome m_outcome;
    } face(job.get());
    job->work->Run(face);
    {
        std::lock_guard lock(job->mutex);
        job->finished = true;
    }
    job->cv.notify_all();
    {
        std::lock_guard lock(State().mutex);
        if (State().build == job)
            State().build.reset();
    }
    face.CallbackFace::OnEnd(face.m_outcome);
    {
        std::lock_guard lock(State().mutex);
        if (--State().liveBuildThreads == 0 && !State().initialized)
            burner::FinishLibraries(); // put off by a DeInitialize during the build
    }
    State().buildThreadsDone.notify_all();
}

int Refuse(port::ErrorCode code, const std::string& path = {}) {
    CallbackFace(nullptr).OnEnd({engine::JobKind::ImageBuild, code, path});
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
        job->work->Stop();
        std::unique_lock lock(job->mutex);
        // A stop asked from a report of the build itself cannot wait for it.
        if (job->thread != std::this_thread::get_id() &&
            !job->cv.wait_for(lock, std::chrono::seconds(10), [&] { return job->finished; }) &&
            !job->tempPath.empty()) {
            // The build is stuck (a stalled read, a report that does not
            // return). Having been stopped it can no longer become the image:
            // remove its partial file now rather than when it comes free,
            // which may be never.
            ::unlink(job->tempPath.c_str());
            job->tempPath.clear();
        }
    }
    if (waitForThreads) {
        // A build thread cannot wait for itself.
        const int own = t_buildThread ? 1 : 0;
        std::unique_lock lock(State().mutex);
        State().buildThreadsDone.wait_for(lock, std::chrono::seconds(10),
                                          [own] { return State().liveBuildThreads <= own; });
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
        return Refuse(port::ERROR_INVALID_PARAMETER);
    if (n == 4096)
        return Refuse(port::ERROR_FILENAME_EXCED_RANGE,
                      port::ToUtf8(std::u16string_view(imagePath, 64)) + "...");
    std::string outPath = port::ToUtf8(std::u16string_view(imagePath, n));

    std::unique_lock lock(State().mutex);
    if (!State().initialized)
        return (lock.unlock(), Refuse(port::ERROR_NOT_READY));
    if (State().projectType != kProjectData)
        return (lock.unlock(), Refuse(port::ERROR_NOT_READY));
    if (State().build)
        return (lock.unlock(), Refuse(port::ERROR_BUSY));

    burner::ResolvedOptions options = burner::Resolve(State().options);
    burner::ImageSettings settings;
    settings.volumeId = options.volumeLabel;
    settings.isoLevel = options.isoLevel;
    settings.joliet = options.joliet;
    settings.rockRidge = options.rockRidge;

    auto job = std::make_shared<burner::BuildJob>();
    job->epoch = State().epoch;
    job->work = std::make_unique<burner::ImageBuildJob>(
        State().project.Snapshot(), settings, outPath, [job = job.get()](const std::string& path) {
            std::lock_guard lock(job->mutex);
            job->tempPath = path;
        });
    State().build = job;
    ++State().liveBuildThreads;
    try {
        std::thread(RunBuild, job).detach();
    } catch (const std::system_error&) {
        State().build.reset();
        --State().liveBuildThreads;
        lock.unlock();
        return Refuse(port::ERROR_NOT_ENOUGH_MEMORY);
    }
    return 0;
}

void Abort() {
    burner::StopBuild(false);
}

} // namespace engine
