// The application profile: per-user settings of the program (the recent-path
// lists of the create and mount pages) in ConfigDir()/spindle.ini, a plain
// UTF-8 INI file. Section and key names compare without regard to case; the
// first of duplicate sections or keys counts.
//
// Values are stored as they stand (backslashes included), except that '%',
// line feed and carriage return are written as %25, %0A and %0D, and a value
// with blanks at either end or a quote at its start is wrapped in double
// quotes. Reading undoes exactly that, so every string reads back unchanged.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace port {

std::string ProfilePath();

// The value of [section] key, or def when the file, section or key is missing.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view def = {});

// Sets [section] key to value, creating the file and section as needed. The
// file is replaced atomically under a lock, so concurrent writers lose
// nothing. False when a name cannot be stored (empty, or with '[', ']', '=',
// ';' at its start, or a line break) or the file cannot be written.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value);

// The same store for any INI file: the rules above, the same escaping, lock
// and atomic replace.
using ProfileEntries = std::vector<std::pair<std::string, std::string>>;

// The entries of [section] in the file at path, in file order, values
// unescaped; of duplicate keys only the first. False when the file or the
// section is missing.
bool ReadProfileSection(const std::string& path, std::string_view section, ProfileEntries& entries);

// Replaces [section] of the file at path (its header through its last entry)
// with entries, or adds the section at the end; the rest of the file is kept.
// False when a name cannot be stored (errno EINVAL) or the file cannot be
// written (errno says why).
bool WriteProfileSection(const std::string& path, std::string_view section,
                         const ProfileEntries& entries);

std::string EscapeProfileValue(std::string_view value);
std::string UnescapeProfileValue(std::string_view stored);

} // namespace port
