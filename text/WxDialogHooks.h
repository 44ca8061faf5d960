// The real dialog hooks of the GUI: wxMessageDialog, wxFileDialog and
// wxDirDialog. The application installs them at start-up; GUI tests install
// them too and then replace single hooks with scripted answers.
#pragma once

#include "port/DialogHooks.h"

#include <memory>

class wxFileDialog;

namespace text {

// Message boxes are owned by the application's top window (none when there is
// none). A call from a worker thread is handed to the GUI thread and waits for
// the answer there.
void InstallWxDialogHooks();

// The real file dialog a request asks for (not shown yet), its filters
// matching names without regard to case.
std::unique_ptr<wxFileDialog> MakeFileDialog(const port::FileDialogRequest& request);

} // namespace text
