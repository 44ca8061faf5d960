#include "burner/BurnRun.h"

#include "burner/Options.h"
#include "burner/State.h"
#include "engine/WorkState.h"
#include "port/Utf.h"

namespace burner {

class BurnRun::Relay : public BurnObserver {
public:
    explicit Relay(BurnObserver* next) : m_next(next) {}
    void OnPhase(BurnPhase phase, int copy, int copies) override {
        if (m_next)
            m_next->OnPhase(phase, copy, copies);
    }
    void OnProgress(float percent, int bufferFill) override {
        Callbacks cb = CurrentCallbacks();
        if (cb.process)
            cb.process(percent, cb.processUser);
        if (m_next)
            m_next->OnProgress(percent, bufferFill);
    }
    bool OnNextDisc(int copy) override { return m_next ? m_next->OnNextDisc(copy) : true; }

private:
    BurnObserver* m_next;
};

BurnRun::BurnRun(std::unique_ptr<Job> job, BurnObserver* observer, bool reportBurnDone)
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
    // The burn-done report that ends this run is read as the end of a burn
    // (or of a test run): recorded now that a burn really starts, not when
    // its dialog opened, so an image build that ends meanwhile is still
    // announced as a build.
    if (m_reportBurnDone)
        engine::SetWorkKind(m_job->WritesNothing() ? engine::WorkKind::TestBurn
                                                   : engine::WorkKind::Burn);
    m_thread = std::thread(&BurnRun::Body, this);
}

void BurnRun::Body() {
    Relay relay(m_observer);
    BurnOutcome outcome = m_job->Run(relay);
    {
        std::lock_guard lock(m_mutex);
        m_outcome = outcome;
    }
    if (m_reportBurnDone) {
        Callbacks cb = CurrentCallbacks();
        if (cb.burnDone) {
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
        m_observer->OnFinished(outcome);
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
    if (std::string why = LoadBurnImage(isoPath, cue, image); !why.empty()) {
        failure = Fail(BurnError::BadImage, why);
        return nullptr;
    }
    if (address.empty()) {
        failure = Fail(BurnError::NoRecorder, "No recorder is chosen");
        return nullptr;
    }
    return std::make_unique<BurnJob>(address, std::move(image), CurrentBurnSettings());
}

} // namespace burner
