// The end of the session (SIGTERM, SIGHUP) or Ctrl+C (SIGINT) while the
// program runs: a running copy or build is stopped as its Stop button would,
// then every open dialog is ended with its cancel answer, innermost first -
// the program's own, the toolkit's message boxes and the desktop's file and
// folder choosers alike - until the main window's run ends and its shutdown
// runs. A dialog that would open after that returns its cancel answer at
// once.
#pragma once

namespace ui {

class SessionEnd {
public:
    // Follows every modal dialog from here on and takes the three signals
    // over (their handlers run on the GUI thread, from the event loop).
    SessionEnd();
    ~SessionEnd();
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

    // What each of the signals does.
    static void Request();
    static bool Requested();

private:
    class Hook;
    Hook* m_hook;
};

} // namespace ui
