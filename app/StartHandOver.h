// The open window's side of a later start: `spindle FILE` (or --burn) while
// the window is open hands its arguments over (port/HandOver.h); they are read
// with the same parser as a first start's and shown in the window, which comes
// to the front. The later start ends once the window has taken them.
#pragma once

#include "app/StartArguments.h"
#include "port/HandOver.h"

#include <atomic>
#include <string>
#include <vector>

namespace ui {

class CMainDlg;

// Chooses the page and file a start asks for in the window.
void OpenStartPage(CMainDlg& dialog, const StartArguments& start);

class StartHandOver {
public:
    StartHandOver() = default;
    ~StartHandOver() { Close(); }
    StartHandOver(const StartHandOver&) = delete;
    StartHandOver& operator=(const StartHandOver&) = delete;

    // Takes later starts for `dialog`, through the socket beside the
    // instance lock `name` (which the caller holds). False when the socket
    // cannot be made: later starts then cannot hand over.
    bool Open(const std::string& name, CMainDlg* dialog);
    // The window is going: a later start still waiting is told so, and no
    // more are taken. Call before the window is destroyed.
    void Close();

private:
    // On the listener's thread: empty once shown, else why not.
    std::string Take(const std::vector<std::string>& args);
    // On the GUI thread.
    std::string Show(const StartArguments& start);

    CMainDlg* m_pDialog = nullptr;
    std::atomic<bool> m_closing{false};
    port::HandOverListener m_listener;
};

} // namespace ui
