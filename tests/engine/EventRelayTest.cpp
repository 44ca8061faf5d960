// The relay's decisions: which message the end of the engine's work shows,
// and whether progress moves the files page's bar.
#include "engine/EventRelay.h"
#include "engine/PageIds.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using WorkKind = engine::JobKind;

constexpr int kCreate = engine::ID_PAGE_CREATE, kFiles = engine::ID_PAGE_FILES,
              kMount = engine::ID_PAGE_MOUNT, kBurn = engine::ID_PAGE_BURN;

TEST(EventRelay, TheWorkThatWasStartedDecidesWhatIsAnnounced) {
    struct Case {
        WorkKind kind;
        int page;
        const char16_t* error;
        bool stopped;
        const char* key; // nullptr: no message
        bool disableStop;
    } cases[] = {
        // A build, wherever the user is: the mount page and the burn page too.
        {WorkKind::ImageBuild, kFiles, nullptr, false, "ID_BUILDIMAGEDONE", true},
        {WorkKind::ImageBuild, kMount, nullptr, false, "ID_BUILDIMAGEDONE", true},
        {WorkKind::ImageBuild, kBurn, u"", false, "ID_BUILDIMAGEDONE", true}, // empty = success
        {WorkKind::ImageBuild, kFiles, u"Stopped", true, "ID_INTERRUPTBYUSER", true},
        {WorkKind::ImageBuild, kMount, u"disk full", false, "ID_BUILDIMAGEERROR", false},
        // A burn is a burn even while the files page is shown.
        {WorkKind::Burn, kFiles, nullptr, false, "ID_BURNDISCDONE", false},
        {WorkKind::Burn, kFiles, u"no disc", true, "ID_BURNDISCERROR", false},
        // A test run wrote nothing, and says so.
        {WorkKind::TestBurn, kBurn, nullptr, false, "ID_TESTBURNDONE", false},
        {WorkKind::TestBurn, kFiles, u"no disc", false, "ID_BURNDISCERROR", false},
        // Work of no known kind, or that the relay does not announce: nothing,
        // whatever page is shown.
        {WorkKind::None, kCreate, nullptr, false, nullptr, false},
        {WorkKind::None, kFiles, u"x", true, nullptr, false},
        {WorkKind::Erase, kBurn, u"x", false, nullptr, false},
        {WorkKind::DiscCopy, kCreate, nullptr, false, nullptr, false},
    };
    for (const Case& c : cases) {
        const engine::CompletionAction a = engine::DecideCompletion(c.kind, c.error, c.stopped);
        const std::string got = a.messageKey ? a.messageKey : "(none)";
        EXPECT_EQ(got, c.key ? c.key : "(none)") << int(c.kind) << " page " << c.page;
        EXPECT_EQ(a.disableStop, c.disableStop) << got;
        EXPECT_EQ(a.failed, got.ends_with("ERROR")) << got; // shown in an error box
    }
}

TEST(EventRelay, ProgressMovesTheBarOnlyForABuildWhileTheFilesPageIsShown) {
    EXPECT_TRUE(engine::ShowsProgress(WorkKind::ImageBuild, kFiles));
    EXPECT_TRUE(engine::ShowsProgress(WorkKind::None, kFiles));
    EXPECT_FALSE(engine::ShowsProgress(WorkKind::ImageBuild, kCreate));
    EXPECT_FALSE(engine::ShowsProgress(WorkKind::Burn, kFiles));
    EXPECT_FALSE(engine::ShowsProgress(WorkKind::TestBurn, kFiles));
}

} // namespace
