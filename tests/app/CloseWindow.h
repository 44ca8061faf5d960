// Closing a top-level window of another process from a test, kept apart
// from the test's code because Xlib's macros clash with other headers.
#pragma once

// Asks the first top-level window titled `title` to close, as a window
// manager does when the user clicks its close button (WM_DELETE_WINDOW).
// False when no such window is found.
bool CloseWindowTitled(const char* title);
