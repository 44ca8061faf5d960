#include "CloseWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <string>
#include <vector>

namespace {

// A window that goes between the listing and the look at it is an error
// that Xlib's default handler ends the test process for; it is skipped.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

Display* Connection() {
    static Display* const display = [] {
        Display* opened = XOpenDisplay(nullptr);
        if (opened)
            XSetErrorHandler(&IgnoreXError);
        return opened;
    }();
    return display;
}

// The top-level windows, or none when there is no display.
std::vector<Window> TopLevelWindows(Display* display) {
    std::vector<Window> windows;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        windows.assign(children, children + count);
        XFree(children);
    }
    return windows;
}

} // namespace

bool HoldXConnection() {
    return Connection() != nullptr;
}

int ShownWindowsOf(pid_t pid) {
    Display* display = Connection();
    if (!display)
        return -1;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    int shown = 0;
    for (Window window : TopLevelWindows(display)) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, window, &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &items, &after, &data) == Success &&
            data) {
            // 32-bit properties come back as longs.
            if (format == 32 && items == 1 &&
                *reinterpret_cast<unsigned long*>(data) == static_cast<unsigned long>(pid))
                ++shown;
            XFree(data);
        }
    }
    return shown;
}

bool CloseWindowTitled(const char* title) {
    Display* display = Connection();
    if (!display)
        return false;
    Window found = 0;
    for (Window window : TopLevelWindows(display)) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            if (std::string(name) == title)
                found = window;
            XFree(name);
        }
        if (found)
            break;
    }
    if (found) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = found;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, found, False, NoEventMask, &event);
        XFlush(display);
    }
    return found != 0;
}
