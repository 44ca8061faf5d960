// The real dialog hooks of the GUI: wxMessageDialog, wxFileDialog and
// wxDirDialog. The application installs them at start-up; GUI tests install
// them too and then replace single hooks with scripted answers.
#pragma once

// Message boxes are owned by the application's top window (none when there is
// none). A call from a worker thread is handed to the GUI thread and waits for
// the answer there.
void InstallWxDialogHooks();
