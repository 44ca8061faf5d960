// Long work as one shape: a job runs on the caller's thread with Run(observer)
// and ends early when Stop() is called from any other thread. It opens no
// window and prints nothing: whoever drives it (a page through JobHandOver,
// spindle-cli through its terminal observer, a test) hears of its progress,
// its status line, its questions and its end through one JobObserver.
#pragma once

#include "port/Errors.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

enum class JobKind { None, DiscCopy, ImageBuild, Burn, TestBurn, Erase };

// What the status line says: the step and how far it is.
struct JobStatus {
    enum class Step {
        Idle,      // nothing shown
        Blank,     // nothing shown, but a line was set (one blank)
        Preparing, // the job looks at its source and target
        Reading,   // a disc copy reads: `done` of `total` bytes, `unreadable` sectors
        Writing,   // copy `copy` of `copies` is written
        Closing,
        Verifying,
        Erasing,
    } step = Step::Idle;
    std::int64_t done = 0;
    std::int64_t total = 0;
    std::int64_t unreadable = 0;
    int copy = 1;
    int copies = 1;
    int bufferFill = -1; // the write buffer's fill in percent, -1: none
};

// A question, or a note that only informs (its one answer is Ok). `what` is
// the job's own number for it (a disc copy's CopyMessage); `path`, `error`
// and `count` fill its text. A question for a text (OnAskText) offers
// `path` as the answer already given.
enum class Answer { Ok, Yes, No };
struct JobQuestion {
    int what = 0;
    bool yesNo = false; // answers Yes or No; else Ok
    std::u16string path;
    port::ErrorCode error = port::ERROR_SUCCESS;
    std::int64_t count = 0;
    // The answer of a box that could not be shown or was closed.
    Answer Closed() const { return yesNo ? Answer::No : Answer::Ok; }
};

// How a job ended: an error number (ERROR_SUCCESS: done;
// ERROR_OPERATION_ABORTED: stopped by the user) and the path or item it
// concerns.
struct JobOutcome {
    JobKind kind = JobKind::None;
    port::ErrorCode error = port::ERROR_SUCCESS;
    std::string item; // UTF-8
    bool Done() const { return error == port::ERROR_SUCCESS; }
    bool Stopped() const { return error == port::ERROR_OPERATION_ABORTED; }
};

// Every call comes on the job's thread; OnQuestion waits for its answer.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    virtual void OnProgress(float /*percent*/) {} // of the whole job, 0 to 100
    virtual void OnStatus(const JobStatus& /*status*/) {}
    virtual Answer OnQuestion(const JobQuestion& question) { return question.Closed(); }
    virtual std::u16string OnAskText(const JobQuestion& question) { return question.path; }
    // Last call of every run, however it ended.
    virtual void OnEnd(const JobOutcome& /*outcome*/) {}
};

class Job {
public:
    virtual ~Job() = default;
    virtual JobKind Kind() const = 0;
    // Does the work and ends with observer.OnEnd(outcome), returning it too.
    virtual JobOutcome Run(JobObserver& observer) = 0;
    virtual void Stop() { m_stop = true; }
    bool StopRequested() const { return m_stop; }

protected:
    std::atomic<bool> m_stop{false};
};

// The words for a job the user stopped, wherever they are said.
std::string_view StoppedByUserText();

// While a job's report runs through the engine's C callbacks (Engine.h), the
// job it comes from; JobKind::None outside such a report. The event relay
// reads it to tell a build's report from a burn's.
JobKind ReportingJob();
// The outcome a burn-done report announces, during that report; else null.
const JobOutcome* ReportedOutcome();

// Marks the calling thread as making a report of `kind` (with `outcome` for
// an end) until destroyed.
class ReportScope {
public:
    explicit ReportScope(JobKind kind, const JobOutcome* outcome = nullptr);
    ~ReportScope();
    ReportScope(const ReportScope&) = delete;
    ReportScope& operator=(const ReportScope&) = delete;

private:
    JobKind m_kind;
    const JobOutcome* m_outcome;
};

} // namespace engine
