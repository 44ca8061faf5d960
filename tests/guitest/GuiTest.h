// Helpers for GUI tests. Link with spindle_gui_test_main, which provides
// main(): it starts wx without an event loop (run the binary under
// xvfb-run), points SPINDLE_CONFIG_DIR and SPINDLE_RUNTIME_DIR at a private
// temporary folder unless they are set, scripts every message box, file and
// folder dialog (answers queued by the test, everything shown recorded),
// ends any other modal dialog at once unless a test takes it over, and lets
// no launch through (port::Launch answers "no association" unless a test
// installs its own launcher hook). With SPINDLE_TEST_WINDOW_MANAGER set it
// runs that window manager on the display for the whole run.
#pragma once

#include <wx/image.h>

#include "tests/support/DriverProcess.h"
#include "tests/support/Files.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class wxDialog;
class wxWindow;

namespace guitest {

// The private temporary folder of this test binary (removed at exit).
const std::string& TempDir();
// A fresh, empty sub-folder of TempDir().
std::string MakeTempSubdir(const std::string& name);

struct ShownBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
};
// Message boxes shown since the last ClearShown(), oldest first.
const std::vector<ShownBox>& ShownBoxes();
// Answers for the next message boxes, in order; without one a box answers
// IDOK (IDNO for a Yes/No box).
void QueueBoxAnswer(int answer);

// Answers for the next file or folder dialogs; std::nullopt = cancelled.
// Without one the dialog counts as cancelled.
void QueueFileAnswer(std::optional<std::string> path);
void QueueFolderAnswer(std::optional<std::string> path);
// Titles (or "file"/"folder" for the file and folder dialogs) of the other
// modal dialogs that were opened.
const std::vector<std::string>& OpenedDialogs();
void ClearShown();

// Takes over modal dialogs: the handler sees each dialog before it shows and
// returns the result its ShowModal() gives. Pass nullptr to restore the
// default (record the title, return wxID_CANCEL).
void SetModalHandler(std::function<int(wxDialog*)> handler);

// Processes pending events and paints (there is no running event loop).
void Yield(int rounds = 3);
// Processes events until `done` holds or Scaled(limit) has passed; whether
// it held. For what a worker thread or the toolkit ends on its own.
bool YieldUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

// A wait's upper bound, made for the plain build, stretched by the factor in
// SPINDLE_TEST_TIME_SCALE for a slower one (the sanitizers).
using spindle_test::Scaled;

// Runs dialog modally (really shown, whatever SetModalHandler says) and,
// once it is on screen with the keyboard, calls `input` once (real input
// through wxUIActionSimulator). Returns what ShowModal returned, or -1 when
// the run had not ended within `limit` (scaled), which then ends it.
int ShowModalWithInput(wxDialog& dialog, const std::function<void()>& input,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// Captures what is written to stderr (GTK's warnings go there) between
// construction and Stop().
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string Stop();

private:
    int m_saved = -1;
    std::string m_path;
};

// The screen's pixels as the X server shows them (ImageMagick's import).
// False when that fails.
bool GrabScreen(wxImage& image);

// Grabs the screen until `settled` accepts it (painting may lag behind on a
// busy machine), at most `attempts` times with events processed in between.
// Returns the last grab's verdict; image holds that grab.
bool GrabScreenWhen(wxImage& image, const std::function<bool(const wxImage&)>& settled,
                    int attempts = 6);

// Screen rectangle of a window's client area, in logical pixels.
wxRect ScreenRect(const wxWindow* window);
// The same in the screen's device pixels, as GrabScreen sees them (twice
// the logical ones under GDK_SCALE=2).
wxRect DeviceScreenRect(const wxWindow* window);

} // namespace guitest
