#include "burner/BurnRun.h"

#include "burner/Options.h"
#include "burner/State.h"
#include "engine/Job.h"
#include "port/Utf.h"

namespace burner {

// Passes the job's reports on, its progress to the engine's process
// callback too (as a report of the job's kind); holds the end back for Body.
class BurnRun::Relay : public engine::JobObserver {
public:
    Relay(engine::JobObserver* next, engine::JobKind kind) : m_next(next), m_kind(kind) {}
    void OnProgress(float percent) override {
        Callbacks cb = CurrentCallbacks();
        if (cb.process) {
            engine::ReportScope scope(m_kind);
            cb.process(percent, cb.processUser);
        }
        if (m_next)
            m_next->OnProgress(percent);
    }
    void OnStatus(const engine::JobStatus& status) override {
        if (m_next)
            m_next->OnStatus(status);
    }
    engine::Answer OnQuestion(const engine::JobQuestion& question) override {
        return m_next ? m_next->OnQuestion(question) : engine::Answer::Yes;
    }

private:
    engine::JobObserver* m_next;
    engine::JobKind m_kind;
};

BurnRun::BurnRun(std::unique_ptr<Job> job, engine::JobObserver* observer, bool reportBurnDone)
    : m_job(std::move(job)), m_observer(observer), m_reportBurnDone(reportBurnDone) {}

BurnRun::~BurnRun() {
    Stop();
    Wait();
}

void BurnRun::Start() {
    std::lock_guard lock(m_mutex);
    if (m_running || m_thread.joinable())
        return;
    m_running = true;
    m_thread = std::thread(&BurnRun::Body, this);
}

void BurnRun::Body() {
    // Its reports say which work they come from: a burn, a test run that
    // writes nothing, or an erase.
    const engine::JobKind kind = m_job->Kind();
    Relay relay(m_observer, kind);
    const engine::JobOutcome end = m_job->Run(relay);
    const BurnOutcome outcome = m_job->Outcome();
    {
        std::lock_guard lock(m_mutex);
        m_outcome = outcome;
    }
    if (m_reportBurnDone) {
        Callbacks cb = CurrentCallbacks();
        if (cb.burnDone) {
            engine::ReportScope scope(kind, &end);
            if (outcome.ok()) {
                cb.burnDone(nullptr, cb.burnDoneUser);
            } else {
                std::u16string text = port::ToUtf16(Describe(outcome));
                cb.burnDone(text.c_str(), cb.burnDoneUser);
            }
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    if (m_observer)
        m_observer->OnEnd(end);
}

void BurnRun::Stop() {
    if (m_job)
        m_job->Stop();
}

void BurnRun::Wait() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool BurnRun::Running() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

BurnOutcome BurnRun::Outcome() const {
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

BurnSettings CurrentBurnSettings() {
    engine::EngineOptions o;
    engine::GetOptions(&o);
    ResolvedOptions r = Resolve(o);
    BurnSettings s;
    s.speedKBs = r.writeSpeedKBs;
    s.simulate = r.simulate;
    s.verify = r.verify;
    s.closeDisc = r.closeDisc;
    s.underrunProtection = r.underrunProtection;
    s.eject = r.ejectWhenDone;
    s.copies = r.copies;
    return s;
}

std::unique_ptr<BurnJob> MakeBurnJob(const std::string& address, const std::string& isoPath,
                                     BurnOutcome& failure) {
    std::string cue;
    {
        std::lock_guard lock(State().mutex);
        if (isoPath.empty() && State().projectType == engine::kProjectBinCue)
            cue = State().cueSheet;
    }
    BurnImage image;
    if (BurnOutcome loaded = LoadBurnImage(isoPath, cue, image); !loaded.ok()) {
        failure = loaded;
        return nullptr;
    }
    if (address.empty()) {
        failure = Fail(BurnError::NoRecorder, "No recorder is chosen");
        return nullptr;
    }
    return std::make_unique<BurnJob>(address, std::move(image), CurrentBurnSettings());
}

} // namespace burner
