// The capacity ruler's geometry against the numbers it is specified by.
#include "controls/RulerGeometry.h"

#include <gtest/gtest.h>

#include <string>

using namespace ui;

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

// Labels with their widths (7 pixels a character, as "700 MB" in the
// ruler's font): inside the ruler, apart, and never struck by a mark, at
// the page's size, at 1.3 times the text and on a narrow ruler.
TEST(RulerGeometry, LabelsStayInsideApartAndClearOfTheMarks) {
    const auto width = [](int number) {
        return 7 * static_cast<int>(std::to_string(number).size() + 3);
    };
    struct Case {
        RulerScale scale;
        int width, height;
        std::vector<int> numbers; // the labels shown
    } cases[] = {
        {Cd(0), 400, 29, {0, 100, 200, 300, 400, 500, 600, 700}},
        {Cd(0), 520, 38, {0, 100, 200, 300, 400, 500, 600, 700}},
        {Cd(0), 250, 29, {0, 200, 400, 600}}, // every other one gives way
        {Dvd(0), 400, 29, {0, 1000, 2000, 3000, 4000}},
        {Dvd(0), 520, 38, {0, 1000, 2000, 3000, 4000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.scale.max) + " at " + std::to_string(c.width));
        const RulerLayout l = LayoutRuler(c.scale, c.width, c.height, width);
        std::vector<int> numbers;
        int rightOfLast = -c.height; // none yet
        for (const RulerLabel& label : l.labels) {
            numbers.push_back(label.number);
            const int left = label.x - label.width / 2;
            EXPECT_EQ(label.width, width(label.number));
            EXPECT_GE(left, 0) << label.number;
            EXPECT_LE(left + label.width, c.width) << label.number;
            EXPECT_GE(left, rightOfLast + 4) << label.number;
            rightOfLast = left + label.width;
            for (const RulerLine& mark : l.marks) {
                const bool besideIt = mark.x0 + 1 < left || mark.x0 - 1 > left + label.width;
                EXPECT_TRUE(besideIt || mark.y1 < label.y)
                    << "the mark at " << mark.x0 << " strikes " << label.number;
            }
        }
        EXPECT_EQ(numbers, c.numbers);
        EXPECT_EQ(l.labels.front().x - l.labels.front().width / 2, 0) << "0 starts at the left end";
    }
}

} // namespace
