// Engine start-up and shutdown, language hand-over and callback registration.
#include "burner/Options.h"
#include "burner/State.h"

#include <cstring>

extern "C" {
#include <libisofs/libisofs.h>
}
#include <libburn/libburn.h>

namespace burner {

EngineState& State() {
    // Never destroyed: a build thread that outlived DeInitialize (stuck in a
    // read past the wait) may still reach it while the process exits.
    static EngineState& state = *[] {
        auto* s = new EngineState;
        s->options = DefaultOptions();
        return s;
    }();
    return state;
}

Callbacks CurrentCallbacks() {
    std::lock_guard lock(State().mutex);
    return State().callbacks;
}

void FinishLibraries() {
    if (!State().librariesUp)
        return;
    burn::burn_finish();
    iso_finish();
    State().librariesUp = false;
}

} // namespace burner

namespace engine {

using burner::State;

void FillUndefined(EngineOptions& o) {
    std::memset(&o, 0xFF, sizeof o);
    static const char kUndef[] = "BS_NDEF";
    std::memcpy(o.VolumeLabel, kUndef, sizeof kUndef);
    const char16_t kUndefW[] = u"BS_NDEF";
    std::memcpy(o.TempFolder, kUndefW, sizeof kUndefW);
}

int Initialize() {
    std::lock_guard lock(State().mutex);
    if (State().initialized)
        return 1;
    if (!State().librariesUp) {
        if (iso_init() < 0)
            return 0;
        // Names in the project are UTF-8 whatever the locale says.
        iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
        if (!burn::burn_initialize()) {
            iso_finish();
            return 0;
        }
        // The engine never prints to the user's terminal on its own.
        burn::burn_msgs_set_severities(const_cast<char*>("SORRY"), const_cast<char*>("NEVER"),
                                       const_cast<char*>("spindle: "));
        iso_set_msgs_severities(const_cast<char*>("FAILURE"), const_cast<char*>("NEVER"),
                                const_cast<char*>("spindle: "));
        State().librariesUp = true;
    }
    State().initialized = true;
    return 1;
}

void DeInitialize() {
    {
        // No reports after shutdown: a build still running ends silently.
        std::lock_guard lock(State().mutex);
        if (!State().initialized)
            return;
        State().callbacks = {};
        ++State().epoch;
    }
    burner::StopBuild(true);
    std::lock_guard lock(State().mutex);
    if (!State().initialized)
        return;
    State().initialized = false;
    State().callbacks = {};
    // A build thread still running (this one, when called from a report, or
    // one stuck past the wait) still uses libisofs: the last one to end
    // shuts the libraries down instead.
    if (State().liveBuildThreads == 0)
        burner::FinishLibraries();
}

void SetLanguage(const char16_t* languageSection, const char16_t* languageFile) {
    std::lock_guard lock(State().mutex);
    State().languageSection = languageSection ? languageSection : u"";
    State().languageFile = languageFile ? languageFile : u"";
}

void SetProcessEventCallback(ProcessEventCallback fn, void* user) {
    std::lock_guard lock(State().mutex);
    State().callbacks.process = fn;
    State().callbacks.processUser = user;
}

void SetBurnDoneEventCallback(BurnDoneEventCallback fn, void* user) {
    std::lock_guard lock(State().mutex);
    State().callbacks.burnDone = fn;
    State().callbacks.burnDoneUser = user;
}

void SetAddFileEventCallback(AddFileEventCallback fn, void* user) {
    std::lock_guard lock(State().mutex);
    State().callbacks.addFile = fn;
    State().callbacks.addFileUser = user;
}

void SetCreateDirEventCallback(CreateDirEventCallback fn, void* user) {
    std::lock_guard lock(State().mutex);
    State().callbacks.createDir = fn;
    State().callbacks.createDirUser = user;
}

void* AddFileEventUser() {
    std::lock_guard lock(State().mutex);
    return State().callbacks.addFile ? State().callbacks.addFileUser : nullptr;
}

void* CreateDirEventUser() {
    std::lock_guard lock(State().mutex);
    return State().callbacks.createDir ? State().callbacks.createDirUser : nullptr;
}

} // namespace engine
