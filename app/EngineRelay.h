// The engine's progress and completion reports, carried out on the GUI
// thread: the decision (engine/EventRelay.h) is taken when the report
// arrives, on the engine's thread; the message box, the Stop button and the
// files page's progress bar are reached through the application's queue.
#pragma once

namespace ui {

void RelayProcessEvent(float percent);
void RelayBurnDone(const char16_t* errorText);

} // namespace ui
