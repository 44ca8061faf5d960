#include "engine/EventRelay.h"

#include "engine/PageIds.h"

namespace engine {

namespace {
constexpr int kPageFiles = ID_PAGE_FILES;
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
        return {"ID_BUILDIMAGEERROR", false, true};
    case JobKind::Burn:
        return {failed ? "ID_BURNDISCERROR" : "ID_BURNDISCDONE", false, failed};
    case JobKind::TestBurn:
        return {failed ? "ID_BURNDISCERROR" : "ID_TESTBURNDONE", false, failed};
    case JobKind::None:
    case JobKind::DiscCopy:
    case JobKind::Erase:
        break;
    }
    return {};
}

} // namespace engine
