// Parsing of the records the drive manager sends with its control codes, and
// building of the record the driver answers a query with. Every length,
// terminator and size is checked; a bad record gives an error number, never
// a read past the bytes received.
#pragma once

#include "port/Errors.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace driver {

// What an open request asks for, whichever record carried it.
struct AttachRequest {
    std::string ntName; // UTF-8, as sent ("\??\/home/me/a.iso")
    std::int64_t fileSize = 0;
    bool readOnly = false;
};

// ImageAttachRecordW (IOCTL_FILEDISK_OPEN_FILE_W).
port::ErrorCode ParseAttachRecordW(std::span<const std::uint8_t> in, AttachRequest& out);

// ImageAttachRecord (IOCTL_FILEDISK_OPEN_FILE), 8-bit name in UTF-8.
port::ErrorCode ParseAttachRecord(std::span<const std::uint8_t> in, AttachRequest& out);

// The host path of an NT object name "\??\/abs/path"; ERROR_INVALID_NAME for
// any other form (UNC, drive-letter or relative names mean nothing here) and
// for a path holding a line break.
port::ErrorCode HostPathFromNtName(const std::string& ntName, std::string& path);

// ImageQueryRecord (276 bytes). A name longer than the record's 264 bytes is
// cut at the last whole UTF-8 character that fits.
std::vector<std::uint8_t> BuildQueryRecord(std::int64_t fileSize, bool readOnly, char letter,
                                           const std::string& ntName);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view s);

} // namespace driver
