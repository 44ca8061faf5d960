// A burn or erase job on a thread of its own, as the engine runs it for its
// dialogs: progress goes to the observer and to the engine's process
// callback; a burn ends with exactly one burn-done report (null text on
// success, else what went wrong), an erase with none (the page would read
// it as a burn). The report is made as one of the job's kind (a burn, or
// a test run that writes nothing: engine/Job.h), which is what the program
// reads it as. Then the observer hears OnEnd.
#pragma once

#include "burner/BurnJob.h"

#include <memory>
#include <mutex>
#include <thread>

namespace burner {

class BurnRun {
public:
    BurnRun(std::unique_ptr<Job> job, engine::JobObserver* observer, bool reportBurnDone);
    ~BurnRun(); // stops the job and waits for it
    BurnRun(const BurnRun&) = delete;
    BurnRun& operator=(const BurnRun&) = delete;

    void Start();
    void Stop();
    void Wait();
    bool Running() const;
    BurnOutcome Outcome() const;

private:
    class Relay;
    void Body();

    std::unique_ptr<Job> m_job;
    engine::JobObserver* m_observer;
    bool m_reportBurnDone;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    bool m_running = false;
    BurnOutcome m_outcome;
};

// The job the engine's options and project ask for, on the recorder at
// `address`: the ISO file at isoPath, else the cue sheet of the BIN/CUE
// project. Null with `failure` set when there is nothing (valid) to burn
// (BadImage) or no recorder is chosen (NoRecorder).
std::unique_ptr<BurnJob> MakeBurnJob(const std::string& address, const std::string& isoPath,
                                     BurnOutcome& failure);

// The burn settings of the engine's options in force.
BurnSettings CurrentBurnSettings();

} // namespace burner
