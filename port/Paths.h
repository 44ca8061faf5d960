// Where Spindle keeps things: the program directory (language files, layouts,
// "drives.ini"), the per-user config folder (profile, engine options,
// drives.conf) and the volatile runtime folder (drive table, driver socket,
// drives/). Tests redirect each with an environment variable.
#pragma once

#include <string>

namespace port {

// Directory of the running executable, with a trailing "/".
// SPINDLE_PROGRAM_DIR overrides it (tests).
std::string ProgramDir();

// $SPINDLE_CONFIG_DIR, else $XDG_CONFIG_HOME/spindle, else ~/.config/spindle.
// Created on first use.
std::string ConfigDir();

// $SPINDLE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/spindle, else /tmp/spindle-<uid>.
// Created (mode 0700) on first use.
std::string RuntimeDir();

// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);

} // namespace port
