// Where Spindle keeps things: the program directory ("drives.ini"), the
// resource folder (language files, layouts), the per-user config folder
// (profile, engine options, drives.conf), the per-user state folder (the
// driver's list of drives to restore) and the volatile runtime folder
// (drive table, driver socket, drives/). Tests redirect each with an environment variable.
#pragma once

#include <string>

namespace port {

// Directory of the running executable, with a trailing "/".
// SPINDLE_PROGRAM_DIR overrides it (tests).
std::string ProgramDir();

// The folder of the program's resources (language files, res/ with layouts,
// art and manual), with a trailing "/": the program directory when it holds
// languiu.ini (the build tree), else <program dir>/../share/spindle/ when
// that does (an installed program), else the program directory.
std::string ResourceDir();

// $SPINDLE_CONFIG_DIR, else $XDG_CONFIG_HOME/spindle, else ~/.config/spindle.
// Created on first use.
std::string ConfigDir();

// $SPINDLE_STATE_DIR, else $XDG_STATE_HOME/spindle, else
// ~/.local/state/spindle: what the driver keeps from one run to the next (the
// drives to mount again at its next start). Not created here.
std::string StateDir();

// $SPINDLE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/spindle, else /tmp/spindle-<uid>
// (see FirstPrivateDir). Created (mode 0700) on first use.
std::string RuntimeDir();

// The runtime folder made ready for use: created (0700) when missing, and
// checked with lstat. False (errno set) for a link (ELOOP), something that is
// not a folder (ENOTDIR), another user's folder or one that others may write
// to (EPERM); a folder of this user that others may only read or enter is
// closed to them. Every file in the folder is then opened without following
// links.
bool PrivateRuntimeDir(std::string& dir);

// What is wrong with the runtime folder `dir`, for errno `err` of
// PrivateRuntimeDir, as a plain sentence.
std::string RuntimeDirProblem(const std::string& dir, int err);

// Creates `dir` (0700) when missing and checks it as PrivateRuntimeDir says.
bool MakePrivateDir(const std::string& dir);

// The first of base, base.1, base.2, ... that MakePrivateDir accepts. Links
// and other users' folders are passed over: the runtime folder's fallback
// lies in /tmp, where anyone may create that name. When every name is taken,
// base (which the check then refuses).
std::string FirstPrivateDir(const std::string& base);

// $HOME, else the user's home folder from the password database, else /tmp.
std::string HomeDir();

// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);

} // namespace port
