// Top-level windows of another process, counted and closed from a test, kept
// apart from the test's code because Xlib's macros clash with other headers.
#pragma once

#include <sys/types.h>

// Opens the test's own connection to the X server and keeps it to the end of
// the process. Xvfb starts afresh whenever its last client leaves, and a
// program that is connecting at that moment fails to start: a test that
// looks at the screen while a program starts keeps this connection open.
// False when there is no display.
bool HoldXConnection();

// Top-level windows of process pid that are on screen (mapped), found by the
// process id the toolkit stores on each of them. Untitled windows count too.
int ShownWindowsOf(pid_t pid);

// Asks the first top-level window titled `title` to close, as a window
// manager does when the user clicks its close button (WM_DELETE_WINDOW).
// False when no such window is found.
bool CloseWindowTitled(const char* title);
