#include "engine/EventRelay.h"

namespace engine {

namespace {
constexpr int kPageFiles = 16130;
} // namespace

bool ShowsProgress(JobKind kind, int currentPage) {
    return (kind == JobKind::ImageBuild || kind == JobKind::None) && currentPage == kPageFiles;
}

CompletionAction DecideCompletion(JobKind kind, const char16_t* errorText, bool stoppedByUser) {
    const bool failed = errorText && *errorText;
    switch (kind) {
    case JobKind::ImageBuild:
        if (!failed)
            return {"ID_BUILDIMAGEDONE", true};
        if (stoppedByUser)
            return {"ID_INTERRUPTBYUSER", true};
        return {"ID_BUILDIMAGEERROR", false};
    case JobKind::Burn:
        return {failed ? "ID_BURNDISCERROR" : "ID_BURNDISCDONE", false};
    case JobKind::TestBurn:
        return {failed ? "ID_BURNDISCERROR" : "ID_TESTBURNDONE", false};
    case JobKind::None:
    case JobKind::DiscCopy:
    case JobKind::Erase:
        break;
    }
    return {};
}

} // namespace engine
