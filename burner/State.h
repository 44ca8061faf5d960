// Process-wide state of the engine: its language and the registered callbacks.
#pragma once

#include "engine/Engine.h"

#include <atomic>
#include <mutex>
#include <string>

namespace burner {

struct Callbacks {
    engine::ProcessEventCallback process = nullptr;
    void* processUser = nullptr;
    engine::BurnDoneEventCallback burnDone = nullptr;
    void* burnDoneUser = nullptr;
    engine::AddFileEventCallback addFile = nullptr;
    void* addFileUser = nullptr;
    engine::CreateDirEventCallback createDir = nullptr;
    void* createDirUser = nullptr;
};

struct EngineState {
    std::mutex mutex;
    bool initialized = false;
    std::u16string languageSection;
    std::u16string languageFile;
    Callbacks callbacks;
};

EngineState& State();

// A copy of the callbacks, taken under the lock, for calling outside it.
Callbacks CurrentCallbacks();

} // namespace burner
