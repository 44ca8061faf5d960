// What the engine's progress and completion reports turn into, decided
// without a window: the page wiring (app/MainApp.cpp) carries the decision
// out on the GUI thread.
#pragma once

#include "engine/WorkState.h"

namespace engine {

// Whether a progress report moves the files page's bar: only during an image
// build (or work of unknown kind) while the files page is shown.
bool ShowsProgress(WorkKind kind, int currentPage);

struct CompletionAction {
    const char* messageKey = nullptr; // text key of the message; null: no message
    bool disableStop = false;         // disable the files page's Stop button
    bool failed = false;              // the message tells of a failure: an error box
    // In every case, last, the files page's progress goes back to 0.
};

// The end of the engine's work. The work that was started decides what is
// announced, whatever page is shown; when no page said what it started, the
// visible page decides (16129 and 16130 count as a build, 16133 as a burn).
// A null or empty error text is success.
CompletionAction DecideCompletion(WorkKind kind, int currentPage, const char16_t* errorText,
                                  bool stoppedByUser);

} // namespace engine
