// The application object: start-up in a fixed order, then the main window
// run modally. There is no message loop of the program's own: OnInit returns
// false when the main window has closed, and the process ends.
#pragma once

#include "app/SessionEnd.h"
#include "app/StartArguments.h"
#include "app/StartHandOver.h"
#include "controls/SkinImage.h"
#include "port/SingleInstance.h"

#include <wx/app.h>

#include <memory>

namespace ui {

class CMainApp : public wxApp {
public:
    CMainApp();
    ~CMainApp() override;
    bool OnInit() override;

    // Colour depth of the toolbar's icons: 32, 24, 16, 8, 4 or 0.
    int m_nColorDepth = 0;
    // The skin every window paints from; lives as long as the application.
    CSkinImage m_imgSkin;
    // The command line, read before the toolkit starts (main.cpp).
    StartArguments m_start;
    // The process's exit status: 1 when a mount from the command line failed
    // or the running instance did not take a second start over.
    int m_exitCode = 0;

    // The engine's progress and completion reports.
    static void OnProcessEvent(float percent, void* user);
    static void OnBurnDone(const char16_t* errorText, void* user);

private:
    void LoadSkin();
    // A second start: hands m_start to the first instance; the exit status.
    int HandToFirstInstance();
    // spindle --mount: mounts path on the first free letter and opens it.
    bool MountAndOpen(const wxString& path);

    // The session's end or Ctrl+C (app/SessionEnd.h). One that comes while
    // the program is still starting (before the main window runs) is kept.
    // Lives until the application object goes, after the toolkit's clean-up
    // has shown (or skipped) its last log window.
    std::unique_ptr<SessionEnd> m_pSessionEnd;

    // Later starts hand their arguments to the open window.
    StartHandOver m_handOver;

    // Held to the end of the process so the name stays taken while it runs.
    std::unique_ptr<port::SingleInstanceLock> m_pInstanceLock;
};

} // namespace ui

wxDECLARE_APP(ui::CMainApp);
