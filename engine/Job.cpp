#include "engine/Job.h"

namespace engine {

namespace {
thread_local JobKind t_kind = JobKind::None;
thread_local const JobOutcome* t_outcome = nullptr;
} // namespace

std::string_view StoppedByUserText() {
    return "Stopped by the user";
}

JobKind ReportingJob() {
    return t_kind;
}

const JobOutcome* ReportedOutcome() {
    return t_outcome;
}

ReportScope::ReportScope(JobKind kind, const JobOutcome* outcome)
    : m_kind(t_kind), m_outcome(t_outcome) {
    t_kind = kind;
    t_outcome = outcome;
}

ReportScope::~ReportScope() {
    t_kind = m_kind;
    t_outcome = m_outcome;
}

} // namespace engine
