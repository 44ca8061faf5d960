// The capacity ruler's geometry against the numbers it is specified by.
#include "controls/RulerGeometry.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kBlue = 0xD87E23, kAmber = 0x0AC8F7, kRed = 0x0511DA;

RulerScale Cd(int valueMb) {
    return {750,
            20,
            100,
            {{670, kAmber, 0}, {700, kRed, 0}},
            {{0, kBlue}, {670, kAmber}, {700, kRed}},
            valueMb};
}
RulerScale Dvd(int valueMb) {
    return {5000, 200, 1000, {{4700, kRed, 0}}, {{0, kBlue}, {4700, kRed}}, valueMb};
}

TEST(RulerGeometry, TicksLabelsAndMarksOfTheTwoScales) {
    const RulerLayout cd = LayoutRuler(Cd(0), 400, 29);
    ASSERT_EQ(cd.labels.size(), 8u); // 0 to 700; 750 is no multiple of 100
    EXPECT_EQ(cd.labels[1].x, 53);   // 100 * 400 / 750 = 53.3
    EXPECT_EQ(cd.labels[1].y, 17);   // 0.6 * 29
    EXPECT_EQ(cd.labels.back().number, 700);
    ASSERT_EQ(cd.shortTicks.size(), 37u); // every 20 up to 720
    EXPECT_EQ(cd.shortTicks.back().x0, 384);
    EXPECT_EQ(cd.shortTicks.back().y1, 5); // 0.2 * 29
    EXPECT_EQ(cd.longTicks[1].y1, 14);     // 0.5 * 29
    ASSERT_EQ(cd.marks.size(), 2u);
    EXPECT_EQ(cd.marks[0].x0, 357); // amber at 670
    EXPECT_EQ(cd.marks[0].y1, 29);
    EXPECT_EQ(cd.markColours[1], kRed);

    const RulerLayout dvd = LayoutRuler(Dvd(0), 400, 29);
    ASSERT_EQ(dvd.labels.size(), 5u); // 5000 would stand at the right end
    EXPECT_EQ(dvd.labels.back().number, 4000);
    EXPECT_EQ(dvd.shortTicks.size(), 25u); // up to 4800

    // Nothing is drawn from a scale that was never set.
    EXPECT_TRUE(LayoutRuler(RulerScale{}, 400, 29).shortTicks.empty());
}

TEST(RulerGeometry, TheBarIsShadowedColouredByBandAndClampedAtTheRightEnd) {
    struct Case {
        RulerScale scale;
        std::vector<RulerRect> rects;
    } cases[] = {
        // 0 MB: only the first band's shadow, 1 pixel wide at x = 1.
        {Cd(0), {{1, 3, 1, 9, 0x323232}, {0, 2, 0, 8, kBlue}}},
        // 669.9 MB shows as 669: blue only, to x = 356.
        {Cd(669), {{1, 3, 357, 9, 0x323232}, {0, 2, 356, 8, kBlue}}},
        // 680 MB: blue to 670, amber from 670 (x 357) to 680 (x 362).
        {Cd(680),
         {{1, 3, 363, 9, 0x323232},
          {0, 2, 362, 8, kBlue},
          {358, 3, 5, 9, 0x323232},
          {357, 2, 4, 8, kAmber}}},
        // 6000 MB on the DVD scale: drawn to the right end, red from 4700.
        {Dvd(6000),
         {{1, 3, 401, 9, 0x323232},
          {0, 2, 400, 8, kBlue},
          {377, 3, 25, 9, 0x323232},
          {376, 2, 24, 8, kRed}}},
    };
    for (const Case& c : cases) {
        const RulerLayout l = LayoutRuler(c.scale, 400, 29);
        ASSERT_EQ(l.rects.size(), c.rects.size()) << c.scale.value;
        for (std::size_t i = 0; i < l.rects.size(); ++i) {
            const RulerRect &got = l.rects[i], &want = c.rects[i];
            EXPECT_EQ(std::tie(got.x, got.y, got.width, got.height, got.colour),
                      std::tie(want.x, want.y, want.width, want.height, want.colour))
                << c.scale.value << " rect " << i;
        }
    }
}

} // namespace
