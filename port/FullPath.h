// Completing a relative path against the current directory, the way
// GetFullPathNameW does: the file need not exist; "." and repeated slashes
// are dropped, and ".." is folded as the kernel resolves it (the parent of
// where a link leads, not of the link), so the full path names the file the
// kernel opens for the path given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace port {

// The full path of `path` (UTF-8). nullopt with ERROR_INVALID_NAME for an
// empty path, or the error of getcwd.
std::optional<std::string> FullPath(std::string_view path);

// GetFullPathNameW: stores the full path and its terminator in `buffer` and
// returns its length without the terminator. When `bufferLength` is too
// small, nothing is stored and the length needed (terminator included) is
// returned. 0 on failure, with the last error set. `filePart`, when given,
// points at the last component inside `buffer` (nullptr for a path ending in
// "/").
std::uint32_t GetFullPathNameW(const char16_t* path, std::uint32_t bufferLength, char16_t* buffer,
                               char16_t** filePart);

} // namespace port
