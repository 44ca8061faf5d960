#include "engine/WorkState.h"

#include "engine/PageIds.h"

std::atomic<int> g_nCurrentPage{ID_PAGE_CREATE};
std::atomic<int> g_bStoppedByUser{0};

namespace engine {

namespace {
std::atomic<WorkKind> g_workKind{WorkKind::None};
} // namespace

void SetWorkKind(WorkKind kind) {
    g_workKind.store(kind, std::memory_order_relaxed);
}

WorkKind CurrentWorkKind() {
    return g_workKind.load(std::memory_order_relaxed);
}

} // namespace engine
