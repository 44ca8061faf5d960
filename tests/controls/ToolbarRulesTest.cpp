// Rules of the toolbar, the drawing-context cache and the window scale that
// need no display.
#include "controls/CustomToolbarCtrl.h"
#include "controls/DcCache.h"
#include "controls/UiScale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace ui;

TEST(ToolbarWidthRule, WidestCaptionPlusTenUnlessTheButtonsWouldNotFit) {
    struct Case {
        int widest, client, count, expected;
    } cases[] = {
        {60, 780, 6, 70},   // fits: caption + 10
        {200, 780, 6, 130}, // too wide: client width / 6
        {120, 780, 6, 130}, // exactly 130 fits
        {121, 780, 6, 130}, // one more pixel does not
        {50, 100, 0, 60},   // no buttons counts as one
        {50, 0, 6, 0},      // no room at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToolbarButtonWidth(c.widest, c.client, c.count), c.expected)
            << c.widest << " " << c.client << " " << c.count;
}

TEST(ToolbarLayout, ReadsTwoDigitIndicesUpToTheFirstBadPair) {
    EXPECT_EQ(ParseToolbarLayout("000102030405"), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ParseToolbarLayout("009901"), (std::vector<int>{0, 99, 1}));
    EXPECT_EQ(ParseToolbarLayout("0102x3"), (std::vector<int>{1, 2}));
    EXPECT_EQ(ParseToolbarLayout("01020"), (std::vector<int>{1, 2}));
    EXPECT_TRUE(ParseToolbarLayout("").empty());
}

namespace {
struct Ctx {
    int n;
};
} // namespace

TEST(DcCache, EmptyCacheGivesNothingAndAReturnedContextIsReused) {
    CDcCache<Ctx> cache;
    EXPECT_EQ(cache.Take(), nullptr);
    Ctx a{1};
    EXPECT_EQ(cache.Give(&a), nullptr);
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Take(), &a);
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.Take(), nullptr);
}

TEST(DcCache, FifthReturnedContextIsHandedBackAndTheNewestWaitsFirst) {
    CDcCache<Ctx> cache;
    Ctx c[5] = {{0}, {1}, {2}, {3}, {4}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(cache.Give(&c[i]), nullptr);
    EXPECT_EQ(cache.Count(), 4u);
    // Five users were drawing at once; the last one back finds the cache full.
    Ctx* leftover = cache.Give(&c[4]);
    ASSERT_NE(leftover, nullptr);
    EXPECT_EQ(cache.Count(), 4u);
    // Slot 0 holds the newest; the oldest was carried past the last slot.
    EXPECT_EQ(leftover, &c[0]);
    EXPECT_EQ(cache.Take(), &c[4]);
}

TEST(DcCache, ConcurrentUsersNeverShareOrLoseAContext) {
    CDcCache<Ctx> cache;
    std::atomic<int> created{0}, deleted{0};
    std::atomic<int> inUse[64] = {};
    std::vector<Ctx*> all;
    std::mutex allLock;
    auto worker = [&] {
        for (int round = 0; round < 20000; ++round) {
            Ctx* ctx = cache.Take();
            if (!ctx) {
                ctx = new Ctx{created++};
                std::lock_guard<std::mutex> lock(allLock);
                all.push_back(ctx);
            }
            ASSERT_LT(ctx->n, 64);
            EXPECT_EQ(inUse[ctx->n].fetch_add(1), 0) << "context used twice at once";
            inUse[ctx->n].fetch_sub(1);
            if (Ctx* extra = cache.Give(ctx)) {
                ++deleted;
                extra->n = 63; // marked as deleted (kept alive for the check)
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i)
        threads.emplace_back(worker);
    for (auto& t : threads)
        t.join();
    EXPECT_LE(cache.Count(), 4u);
    EXPECT_EQ(static_cast<int>(cache.Count()), created - deleted);
    for (Ctx* p : all)
        delete p;
}

// The window's scale and the picture it scales from, for this desktop.
TEST(UiScaleRules, ScaleFollowsTheLargerAxisAndArtTheNearestLargerPicture) {
    EXPECT_EQ(ScaleFromBaseUnits(6, 13), 1.0);            // the agreed font at normal size
    EXPECT_DOUBLE_EQ(ScaleFromBaseUnits(8, 17), 8.0 / 6); // 1.3 times the text
    EXPECT_DOUBLE_EQ(ScaleFromBaseUnits(7, 20), 20.0 / 13);
    EXPECT_EQ(ScaleFromBaseUnits(0, 13), 1.0); // no measurement

    struct Case {
        std::vector<int> widths;
        int needed, expected;
    } cases[] = {
        {{16, 32, 48, 96}, 48, 2}, // an exact match
        {{16, 32, 48, 96}, 64, 3}, // the next larger, scaled down
        {{96, 48, 16}, 40, 1},     // any order
        {{16, 32, 48}, 128, 2},    // none large enough: the largest
        {{798}, 1596, 0},          {{}, 48, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PickArtSize(c.widths, c.needed), c.expected) << c.needed;
}
