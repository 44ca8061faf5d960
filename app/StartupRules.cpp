#include "app/StartupRules.h"

#include "port/Utf.h"

namespace ui {

ComCtlVersion GetComCtlVersion() {
    // The toolkit draws icons with alpha, which is what 6.0 stands for.
    return ComCtlVersion{6, 0};
}

int ColorDepthStep(int bitsPerPixel) {
    for (int step : {32, 24, 16, 8, 4})
        if (bitsPerPixel >= step)
            return step;
    return 0;
}

int ToolbarColorDepth(int screenBitsPerPixel, ComCtlVersion version) {
    int depth = ColorDepthStep(screenBitsPerPixel);
    bool below6 = version.major < 6;
    return depth == 32 && below6 ? 16 : depth;
}

std::u16string MakeWindowTitle(const char16_t* productTitle) {
    // The title buffers hold kTitleBufferSize - 1 units and a terminator.
    std::size_t n = port::U16Length(productTitle, kTitleBufferSize - 1);
    if (n == kTitleBufferSize - 1 && productTitle[n - 1] >= 0xD800 && productTitle[n - 1] <= 0xDBFF)
        --n; // a pair cut in two would show as a replacement character
    return std::u16string(productTitle, n);
}

} // namespace ui
