// Start-up decisions kept free of any window so they can be tested alone:
// the toolbar's colour depth and the bounded window title.
#pragma once

#include <string>

namespace ui {

// Version of the common controls the toolbar relies on. The toolkit counts
// as 6.0 (icons with alpha); an unknown version counts as 4.0.
struct ComCtlVersion {
    int major = 4;
    int minor = 0;
};
ComCtlVersion GetComCtlVersion();

// Rounds a screen depth in bits per pixel down to a step: 32, 24, 16, 8, 4
// or 0.
int ColorDepthStep(int bitsPerPixel);

// The toolbar's colour depth: the screen's step, except that 32 becomes 16
// below common controls 6.0.
int ToolbarColorDepth(int screenBitsPerPixel, ComCtlVersion version);

// Capacity of the title buffers: 199 characters and a terminator.
inline constexpr std::size_t kTitleBufferSize = 200;

// The window title made from the looked-up product title (zero-terminated,
// at most 255 units): its first 199 units, never ending in half a surrogate
// pair.
std::u16string MakeWindowTitle(const char16_t* productTitle);

} // namespace ui
