// What the engine's progress and completion reports turn into, decided
// without a window: the page wiring (app/EngineRelay.cpp) carries the
// decision out on the GUI thread. The work a report comes from is the job
// that makes it (engine/Job.h: ReportingJob, ReportedOutcome), never the
// page that happens to be shown.
#pragma once

#include "engine/Job.h"

namespace engine {

// Whether a progress report moves the files page's bar: only during an image
// build (or work of unknown kind) while the files page is shown.
bool ShowsProgress(JobKind kind, int currentPage);

struct CompletionAction {
    const char* messageKey = nullptr; // text key of the message; null: no message
    bool disableStop = false;         // disable the files page's Stop button
    bool failed = false;              // the message tells of a failure: an error box
    // In every case, last, the files page's progress goes back to 0.
};

// The end of the engine's work, announced whatever page is shown. A null or
// empty error text is success; a failed build the user stopped says so.
// Work of no known kind announces nothing.
CompletionAction DecideCompletion(JobKind kind, const char16_t* errorText, bool stoppedByUser);

} // namespace engine
