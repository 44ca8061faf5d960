// A small lock-free cache of drawing contexts shared by every skin image and
// every thread. Slots are taken and returned with atomic exchanges only:
// taking tries the slots in order and keeps the first non-empty one;
// returning pushes the context into slot 0 and carries whatever it displaces
// on to the next slot, so at most kSlots contexts are ever kept. A context
// left over after the last slot is handed back to the caller to delete.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace ui {

template <typename T, std::size_t kSlots = 4> class CDcCache {
public:
    CDcCache() {
        for (auto& s : m_slots)
            s.store(nullptr);
    }
    CDcCache(const CDcCache&) = delete;
    CDcCache& operator=(const CDcCache&) = delete;

    // A cached context, or nullptr when every slot is empty.
    T* Take() {
        for (auto& slot : m_slots) {
            if (T* p = slot.exchange(nullptr))
                return p;
        }
        return nullptr;
    }

    // Puts p back; returns the context that no longer fits (nullptr if none).
    [[nodiscard]] T* Give(T* p) {
        for (auto& slot : m_slots) {
            p = slot.exchange(p);
            if (!p)
                return nullptr;
        }
        return p;
    }

    // Number of filled slots (a snapshot; for tests and diagnostics).
    std::size_t Count() const {
        std::size_t n = 0;
        for (auto& slot : m_slots)
            n += slot.load() != nullptr;
        return n;
    }

    static constexpr std::size_t Slots() { return kSlots; }

private:
    std::array<std::atomic<T*>, kSlots> m_slots;
};

} // namespace ui
