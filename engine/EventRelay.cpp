#include "engine/EventRelay.h"

#include "engine/PageIds.h"

namespace engine {

namespace {

constexpr int kPageCreate = ID_PAGE_CREATE;
constexpr int kPageFiles = ID_PAGE_FILES;
constexpr int kPageBurn = ID_PAGE_BURN;

WorkKind KindOfPage(int page) {
    if (page == kPageCreate || page == kPageFiles)
        return WorkKind::ImageBuild;
    if (page == kPageBurn)
        return WorkKind::Burn;
    return WorkKind::None;
}

} // namespace

bool ShowsProgress(WorkKind kind, int currentPage) {
    return kind != WorkKind::Burn && kind != WorkKind::TestBurn && currentPage == kPageFiles;
}

CompletionAction DecideCompletion(WorkKind kind, int currentPage, const char16_t* errorText,
                                  bool stoppedByUser) {
    const bool failed = errorText && *errorText;
    if (kind == WorkKind::None)
        kind = KindOfPage(currentPage);
    switch (kind) {
    case WorkKind::ImageBuild:
        if (!failed)
            return {"ID_BUILDIMAGEDONE", true};
        if (stoppedByUser)
            return {"ID_INTERRUPTBYUSER", true};
        return {"ID_BUILDIMAGEERROR", false, true};
    case WorkKind::Burn:
        return {failed ? "ID_BURNDISCERROR" : "ID_BURNDISCDONE", false, failed};
    case WorkKind::TestBurn:
        return {failed ? "ID_BURNDISCERROR" : "ID_TESTBURNDONE", false, failed};
    case WorkKind::None:
        break;
    }
    return {};
}

} // namespace engine
