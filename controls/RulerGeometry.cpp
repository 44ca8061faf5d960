#include "controls/RulerGeometry.h"

#include <algorithm>

namespace ui {

namespace {

int Cut(double v) {
    return static_cast<int>(v);
}

constexpr int kLabelGap = 2;   // pixels kept free beside a mark's pen
constexpr int kLabelSpace = 4; // pixels between two labels, a blank's width

void PlaceLabel(std::vector<RulerLabel>& labels, RulerLabel label, int width,
                const std::function<int(int)>& labelWidth) {
    if (labelWidth) {
        label.width = labelWidth(label.number);
        int left = label.x - label.width / 2;
        left = std::max(0, std::min(left, width - label.width));
        if (!labels.empty()) {
            // Moved right off the label before, a word's space apart, by a
            // few pixels at most (the first one, held inside the ruler, may
            // reach past its half).
            const RulerLabel& before = labels.back();
            const int free = before.x - before.width / 2 + before.width + kLabelSpace;
            if (left < free && (free - left > label.width / 5 || free + label.width > width))
                return;
            left = std::max(left, free);
        }
        label.x = left + label.width / 2;
    }
    labels.push_back(label);
}

// Where a mark's line at x ends: the ruler's foot, or above the first label
// its pen (2 pixels wide) would touch.
int MarkEnd(const std::vector<RulerLabel>& labels, int x, int height) {
    int end = height;
    for (const RulerLabel& label : labels) {
        const int left = label.x - label.width / 2;
        if (label.width > 0 && x + 1 >= left - kLabelGap && x - 1 <= left + label.width + kLabelGap)
            end = std::min(end, label.y - kLabelGap);
    }
    return end;
}

} // namespace

RulerLayout LayoutRuler(const RulerScale& r, int width, int height,
                        const std::function<int(int number)>& labelWidth) {
    RulerLayout out;
    if (r.max <= 0 || r.smallStep <= 0 || r.labelStep <= 0)
        return out; // the owner sets the scale before the first paint
    const double s = static_cast<double>(width) / r.max;

    for (int i = 0; i < r.max / r.smallStep; ++i) {
        const int x = Cut(static_cast<double>(i) * r.smallStep * s);
        out.shortTicks.push_back({x, 0, x, Cut(0.2 * height)});
    }
    for (int i = 0; i <= r.max / r.labelStep; ++i) {
        const double x = static_cast<double>(i) * r.labelStep * s;
        if (!(x < 0.95 * width))
            continue;
        out.longTicks.push_back({Cut(x), 0, Cut(x), Cut(0.5 * height)});
        PlaceLabel(out.labels, {Cut(x), Cut(0.6 * height), i * r.labelStep}, width, labelWidth);
    }
    for (const RulerMark& m : r.marks) {
        const int x = Cut(m.position * s);
        out.marks.push_back({x, 0, x, MarkEnd(out.labels, x, height)});
        out.markColours.push_back(m.colour);
    }
    const int v = r.value > r.max ? r.max : r.value;
    for (const RulerBand& b : r.bands) {
        if (b.start > v)
            continue;
        const double left = b.start * s;
        const double w = Cut(v * s) - left;
        const double top = 0.1 * height, tall = 0.3 * height;
        out.rects.push_back({Cut(left + 1), Cut(top + 1), Cut(w + 1), Cut(tall + 1), kRulerShadow});
        out.rects.push_back({Cut(left), Cut(top), Cut(w), Cut(tall), b.colour});
    }
    return out;
}

} // namespace ui
