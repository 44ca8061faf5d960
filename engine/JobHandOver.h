// The one adapter between a job's thread and the GUI thread: every call of
// the job's observer is handed to `post` (which runs a function on the GUI
// thread later) and reaches the target observer there; a question waits for
// its answer. Once detached (the window is gone), or when the queue drops a
// question unrun (the application ends), nothing more reaches the target and
// a question gets a closed box's answer. Calls made on the GUI thread itself
// reach the target at once.
#pragma once

#include "engine/Job.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace engine {

class JobHandOver : public JobObserver, public std::enable_shared_from_this<JobHandOver> {
public:
    // Runs a function on the GUI thread later; false when it cannot (the
    // function is then dropped).
    using Post = std::function<bool(std::function<void()>)>;

    // Made on the GUI thread; `target` is used on it only.
    static std::shared_ptr<JobHandOver> Make(JobObserver* target, Post post);

    // Later calls reach nothing, and a question waiting for its answer gets
    // a closed box's (GUI thread).
    void Detach();

    void OnProgress(float percent) override;
    void OnStatus(const JobStatus& status) override;
    Answer OnQuestion(const JobQuestion& question) override;
    std::u16string OnAskText(const JobQuestion& question) override;
    void OnEnd(const JobOutcome& outcome) override;

private:
    JobHandOver(JobObserver* target, Post post)
        : m_target(target), m_post(std::move(post)), m_gui(std::this_thread::get_id()) {}
    JobObserver* Target();
    void Send(std::function<void(JobObserver&)> fn);
    // Runs ask(target) on the GUI thread and waits for it; `closed` when
    // there is no target or the queue drops the call.
    template <class T> T Ask(std::function<T(JobObserver&)> ask, T closed);

    std::mutex m_mutex;
    JobObserver* m_target;
    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    bool m_detached = false;
    Post m_post;
    const std::thread::id m_gui;
};

} // namespace engine
