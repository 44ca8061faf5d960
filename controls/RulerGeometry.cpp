#include "controls/RulerGeometry.h"

namespace {

int Cut(double v) {
    return static_cast<int>(v);
}

} // namespace

RulerLayout LayoutRuler(const RulerScale& r, int width, int height) {
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
        out.labels.push_back({Cut(x), Cut(0.6 * height), i * r.labelStep});
    }
    for (const RulerMark& m : r.marks) {
        const int x = Cut(m.position * s);
        out.marks.push_back({x, 0, x, height});
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
