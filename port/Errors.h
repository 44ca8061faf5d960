// Error numbers of the platform's error code set. They travel up through the
// drive table, the driver protocol and the drive manager as plain numbers; the
// pages turn them into catalogue texts. errno maps onto them in one place.
#pragma once

#include <cstdint>

namespace port {

using ErrorCode = std::uint32_t;

inline constexpr ErrorCode ERROR_SUCCESS = 0;
inline constexpr ErrorCode ERROR_INVALID_FUNCTION = 1;
inline constexpr ErrorCode ERROR_FILE_NOT_FOUND = 2;
inline constexpr ErrorCode ERROR_PATH_NOT_FOUND = 3;
inline constexpr ErrorCode ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr ErrorCode ERROR_ACCESS_DENIED = 5;
inline constexpr ErrorCode ERROR_INVALID_HANDLE = 6;
inline constexpr ErrorCode ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr ErrorCode ERROR_INVALID_DATA = 13;
inline constexpr ErrorCode ERROR_INVALID_DRIVE = 15;
inline constexpr ErrorCode ERROR_WRITE_PROTECT = 19;
inline constexpr ErrorCode ERROR_NOT_READY = 21;
inline constexpr ErrorCode ERROR_CRC = 23;
inline constexpr ErrorCode ERROR_BAD_LENGTH = 24;
inline constexpr ErrorCode ERROR_SEEK = 25;
inline constexpr ErrorCode ERROR_WRITE_FAULT = 29;
inline constexpr ErrorCode ERROR_READ_FAULT = 30;
inline constexpr ErrorCode ERROR_GEN_FAILURE = 31;
inline constexpr ErrorCode ERROR_SHARING_VIOLATION = 32;
inline constexpr ErrorCode ERROR_HANDLE_EOF = 38;
inline constexpr ErrorCode ERROR_HANDLE_DISK_FULL = 39;
inline constexpr ErrorCode ERROR_NOT_SUPPORTED = 50;
inline constexpr ErrorCode ERROR_FILE_EXISTS = 80;
inline constexpr ErrorCode ERROR_INVALID_PARAMETER = 87;
inline constexpr ErrorCode ERROR_BROKEN_PIPE = 109;
inline constexpr ErrorCode ERROR_DISK_FULL = 112;
inline constexpr ErrorCode ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr ErrorCode ERROR_INVALID_NAME = 123;
inline constexpr ErrorCode ERROR_DIR_NOT_EMPTY = 145;
inline constexpr ErrorCode ERROR_BUSY = 170;
inline constexpr ErrorCode ERROR_ALREADY_EXISTS = 183;
inline constexpr ErrorCode ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr ErrorCode ERROR_MORE_DATA = 234;
inline constexpr ErrorCode ERROR_OPERATION_ABORTED = 995;
inline constexpr ErrorCode ERROR_IO_DEVICE = 1117;
inline constexpr ErrorCode ERROR_UNRECOGNIZED_VOLUME = 1005;
inline constexpr ErrorCode ERROR_MEDIA_CHANGED = 1110;
inline constexpr ErrorCode ERROR_NOT_FOUND = 1168;

// The error number for an errno value (0 gives ERROR_SUCCESS; an unknown value
// gives ERROR_GEN_FAILURE).
ErrorCode ErrorFromErrno(int err);

// A short English explanation of an error number, for the command line tool.
const char* DescribeError(ErrorCode code);

} // namespace port
