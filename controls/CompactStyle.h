// Dialog-unit layouts were made for controls with thin frames; GTK's default
// theme pads buttons, entries and combo boxes to 34 px. This installs a small
// style sheet for the whole application that takes those minimums down so a
// control keeps the rectangle its layout gives it and its text stays whole.
#pragma once

namespace ui {

// Installs the style sheet once (later calls do nothing). False when the
// toolkit's style functions cannot be reached (not running on GTK 3).
bool ApplyCompactStyle();

} // namespace ui
