#include "CloseWindow.h"

#include <X11/Xlib.h>

#include <string>

bool CloseWindowTitled(const char* title) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name) {
                if (std::string(name) == title)
                    found = children[i];
                XFree(name);
            }
        }
        XFree(children);
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
    XCloseDisplay(display);
    return found != 0;
}
