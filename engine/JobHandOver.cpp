#include "engine/JobHandOver.h"

#include <optional>

namespace engine {

std::shared_ptr<JobHandOver> JobHandOver::Make(JobObserver* target, Post post) {
    return std::shared_ptr<JobHandOver>(new JobHandOver(target, std::move(post)));
}

void JobHandOver::Detach() {
    {
        std::lock_guard lock(m_mutex);
        m_target = nullptr;
    }
    {
        std::lock_guard lock(m_answerMutex);
        m_detached = true;
    }
    m_answered.notify_all(); // a waiting question ends as a closed box
}

JobObserver* JobHandOver::Target() {
    std::lock_guard lock(m_mutex);
    return m_target;
}

void JobHandOver::Send(std::function<void(JobObserver&)> fn) {
    if (std::this_thread::get_id() == m_gui) {
        if (JobObserver* target = Target())
            fn(*target);
        return;
    }
    // The target dies on the GUI thread: while the lock shows one, the
    // queue is there to post to.
    std::lock_guard lock(m_mutex);
    if (!m_target)
        return;
    m_post([self = shared_from_this(), fn = std::move(fn)] {
        if (JobObserver* target = self->Target())
            fn(*target);
    });
}

void JobHandOver::OnProgress(float percent) {
    Send([percent](JobObserver& o) { o.OnProgress(percent); });
}

void JobHandOver::OnStatus(const JobStatus& status) {
    Send([status](JobObserver& o) { o.OnStatus(status); });
}

void JobHandOver::OnEnd(const JobOutcome& outcome) {
    Send([outcome](JobObserver& o) { o.OnEnd(outcome); });
}

template <class T> T JobHandOver::Ask(std::function<T(JobObserver&)> ask, T closed) {
    if (std::this_thread::get_id() == m_gui) {
        JobObserver* target = Target();
        return target ? ask(*target) : closed;
    }
    // The answer lands in the slot: given on the GUI thread, or the closed
    // box's answer when the queued call is dropped unrun (its guard goes).
    struct Slot {
        std::optional<T> value;
    };
    struct Guard {
        std::shared_ptr<JobHandOver> self;
        std::shared_ptr<Slot> slot;
        T closed;
        void Give(T value) {
            {
                std::lock_guard lock(self->m_answerMutex);
                if (!slot->value)
                    slot->value = std::move(value);
            }
            self->m_answered.notify_all();
        }
        ~Guard() {
            if (self)
                Give(closed);
        }
    };
    auto slot = std::make_shared<Slot>();
    {
        std::lock_guard lock(m_mutex);
        if (!m_target)
            return closed;
        auto guard = std::make_shared<Guard>();
        guard->self = shared_from_this();
        guard->slot = slot;
        guard->closed = closed;
        auto call = [guard, ask = std::move(ask)] {
            JobObserver* target = guard->self->Target();
            guard->Give(target ? ask(*target) : guard->closed);
        };
        if (!m_post(std::move(call)))
            return closed;
    }
    std::unique_lock lock(m_answerMutex);
    m_answered.wait(lock, [&] { return slot->value.has_value() || m_detached; });
    return slot->value ? *slot->value : closed;
}

Answer JobHandOver::OnQuestion(const JobQuestion& question) {
    return Ask<Answer>([question](JobObserver& o) { return o.OnQuestion(question); },
                       question.Closed());
}

std::u16string JobHandOver::OnAskText(const JobQuestion& question) {
    return Ask<std::u16string>([question](JobObserver& o) { return o.OnAskText(question); },
                               question.path);
}

} // namespace engine
