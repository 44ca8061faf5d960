// The DOS device table: which DOS name ("K:") points at which target
// ("\Device\FileDisk\FileDiskCd0", "/dev/sr0", "stdio:/home/me/disc.iso", "/").
//
// It lives in the runtime folder as dosdevices/, one file per defined name
// (upper case), holding the name's definitions newest first, one a line, in
// UTF-8. Like the system's table it is volatile and shared by every process
// of the user; every change takes a lock and replaces the file by rename, so
// a reader sees either the old or the new list, never half of one.
//
// When the table is first created it is seeded with the machine's drives:
// C: -> "/", each optical drive (/dev/srN) on the next free letter from D:,
// then the lines of drives.conf in the config folder ("R = stdio:PATH"; a
// "media = ..." line there is the driver's, see DrivesConfMedia).
// A drives.conf changed later is taken in on the next use of the table: the
// letters it defines that the table lacks are added, the others left alone.
// An optical drive plugged in later gets the next free letter from D: at the
// next use of the table (each drive once: a letter the user removed stays
// removed).
#pragma once

#include "port/Errors.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace port {

inline constexpr std::uint32_t DDD_RAW_TARGET_PATH = 0x1;
inline constexpr std::uint32_t DDD_REMOVE_DEFINITION = 0x2;
inline constexpr std::uint32_t DDD_EXACT_MATCH_ON_REMOVE = 0x4;
inline constexpr std::uint32_t DDD_NO_BROADCAST_SYSTEM = 0x8;

// Longest DOS name and longest target accepted, in UTF-8 bytes.
inline constexpr std::size_t kMaxDosNameBytes = 64;
inline constexpr std::size_t kMaxDosTargetBytes = 4096;

// Folder of the table; the table is created and seeded on first use.
std::string DosDeviceDir();

// The lines of drives.conf that cannot be read, each as "drives.conf line N:
// why" (empty when there is no file or every line is fine).
std::vector<std::string> DrivesConfProblems();

// The value of drives.conf's "media = ..." line (the last one that can be
// read): "off", an absolute folder or "~/folder", where spindle-driver shows
// each mounted drive to the desktop. Empty when there is no such line.
std::string DrivesConfMedia();

// Creates and seeds the table if it does not exist yet. False (with the last
// error set) when the runtime folder cannot hold it.
bool EnsureDosDeviceTable();

// The definitions of a name, newest first. Fails with ERROR_FILE_NOT_FOUND
// when the name is not defined, ERROR_INVALID_NAME for a malformed name.
std::optional<std::vector<std::string>> DosDeviceTargets(std::string_view name);

// The first (newest) target of a name, or empty when undefined.
std::string FirstDosDeviceTarget(std::string_view name);

// Every defined name, sorted.
std::vector<std::string> DosDeviceNames();

// Adds a definition on top of the name's list.
bool PushDosDevice(std::string_view name, std::string_view target);

// Removes the newest definition (no target), or the newest one equal to
// `target` (exact) or beginning with it. ERROR_FILE_NOT_FOUND when nothing
// matches.
bool RemoveDosDevice(std::string_view name, std::optional<std::string_view> target, bool exact);

// QueryDosDeviceW: with a name, the name's targets as a multi-string (each
// terminated, one more terminator at the end); without one, every defined
// name. Returns the code units stored, or 0 with the last error set:
// ERROR_INSUFFICIENT_BUFFER when `max` is too small, ERROR_FILE_NOT_FOUND when
// the name is undefined.
std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t max);

// DefineDosDeviceW: pushes `targetPath` on the name, or with
// DDD_REMOVE_DEFINITION removes a definition (see RemoveDosDevice).
bool DefineDosDeviceW(std::uint32_t flags, const char16_t* deviceName, const char16_t* targetPath);

} // namespace port
