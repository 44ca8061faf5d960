// The desktop's choice of program for a kind of file, as the freedesktop.org
// conventions keep it: the mimeapps.list files that name a default desktop
// entry per MIME type, and the Exec line of that entry. Reads files only; no
// processes, no wx.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace port {

// The Exec value (escapes resolved) of the desktop entry that is the default
// application for mimeType, e.g. "text/html". The lists are searched in the
// standard order: $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, $XDG_DATA_HOME/applications,
// $XDG_DATA_DIRS/applications, each with the current desktop's
// "<desktop>-mimeapps.list" before "mimeapps.list", then the old
// "defaults.list"; the first listed entry that is installed and has an Exec
// line wins. Nothing when no list names one.
std::optional<std::string> DefaultAppExec(const std::string& mimeType);

// A desktop entry string value with its escapes \s \n \t \r \\ resolved.
std::string UnescapeDesktopValue(std::string_view value);

// The part of an Exec line before its first file or URL field code (%u, %U,
// %f, %F). A field code standing in double quotes ("%u") is looked for first
// and cut together with its opening quote; without one the first bare field
// code is cut. A line with no field code stays whole. "%%" is a literal
// percent sign, not a field code.
std::string CutAtFieldCode(std::string_view exec);

// Splits an Exec line into program and arguments: blanks separate, double
// quotes group (inside them a backslash escapes ", `, $ and \), "%%" becomes
// "%", and an argument that is only a field code (%i, %c, %k, ...) is dropped.
std::vector<std::string> SplitExecLine(std::string_view exec);

} // namespace port
