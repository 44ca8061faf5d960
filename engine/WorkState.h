// Process-wide state that the engine's callbacks read from the engine's own
// thread: the visible page, whether the user stopped the running build, and
// which kind of engine work was started last. Each is written in one piece
// by the GUI thread and read with relaxed atomics, so no reader ever sees a
// torn value and nobody takes a lock.
#pragma once

#include <atomic>

// The page shown, as its toolbar command (16129 create ... 16133 burn).
extern std::atomic<int> g_nCurrentPage;
// 1 from the files page's Stop until the next build starts, else 0.
extern std::atomic<int> g_bStoppedByUser;

namespace engine {

// The engine work whose end the next completion report announces. TestBurn:
// a simulated burn, which ends without writing anything.
enum class WorkKind { None, ImageBuild, Burn, TestBurn };

// Called just before the work starts, by whoever starts it: the files page
// before BuildISO; the engine when a burn starts in its burn dialog (not
// when the dialog opens: it may close without burning).
void SetWorkKind(WorkKind kind);
WorkKind CurrentWorkKind();

} // namespace engine
