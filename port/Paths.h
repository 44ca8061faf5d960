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

// $SPINDLE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/spindle, else /tmp/spindle-<uid>
// (see FirstPrivateDir). Created (mode 0700) on first use.
std::string RuntimeDir();

// The first of base, base.1, base.2, ... that is a folder of this user which
// no one else can enter (creating it, or taking the group's and others' rights
// away from one of ours). Links and other users' folders are passed over: the
// runtime folder's fallback lies in /tmp, where anyone may create that name.
std::string FirstPrivateDir(const std::string& base);

// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);

} // namespace port
