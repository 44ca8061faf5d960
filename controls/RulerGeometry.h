// Where the capacity ruler draws each of its parts, computed without a
// window: the control paints exactly this list, and tests check it against
// the numbers the ruler is specified by. Colours are 0x00BBGGRR values.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace ui {

struct RulerMark {
    int position; // scale units
    std::uint32_t colour;
    int solid; // 1 solid, 0 dotted (drawn alike at width 2)
};

struct RulerBand {
    int start; // scale units
    std::uint32_t colour;
};

// What the ruler shows: its scale and the value to mark.
struct RulerScale {
    int max = 0;       // value at the right end; > 0
    int smallStep = 0; // between short ticks; > 0
    int labelStep = 0; // between labelled long ticks; > 0
    std::vector<RulerMark> marks;
    std::vector<RulerBand> bands;
    int value = 0;
};

struct RulerLine {
    int x0, y0, x1, y1;
};

struct RulerRect {
    int x, y, width, height;
    std::uint32_t colour;
};

struct RulerLabel {
    int x, y;      // the text's top centre
    int number;    // drawn as number + unit
    int width = 0; // the text's width; it starts at x - width / 2
};

struct RulerLayout {
    std::vector<RulerLine> shortTicks; // current pen (black, 1 px)
    std::vector<RulerLine> longTicks;  // current pen
    std::vector<RulerLabel> labels;
    std::vector<RulerLine> marks; // pen of width 2 in markColours
    std::vector<std::uint32_t> markColours;
    std::vector<RulerRect> rects; // shadow, band, shadow, band, ... in order
};

inline constexpr std::uint32_t kRulerShadow = 0x323232;

// Every pixel value is the exact value cut toward zero. labelWidth gives
// the width in pixels of the label of a number (none: labels have no
// width). A label stands centred under its tick, moved inward where it
// would reach past either end, and right by up to a fifth of its width to
// keep a blank's width (4 pixels) after the label before it;
// one that would still come too near that label is left out. A mark that would cross a label stops
// above it, so that no mark strikes a label's text.
RulerLayout LayoutRuler(const RulerScale& scale, int width, int height,
                        const std::function<int(int number)>& labelWidth = {});

} // namespace ui
