// Reads of single sectors that fail only for what they read.
#pragma once

#include "port/DriveFiles.h"

#include <cstdint>

namespace port {

// Reads `size` bytes at `offset` of what the handle reads. On a block device
// the read bypasses the page cache, so that a readable sector is not failed
// by an unreadable neighbour in the same 4 KiB page; `buffer`, `offset` and
// `size` must then be multiples of the device's sector size (2048 on an
// optical disc), else the read goes through the cache. `read` says how many
// bytes arrived before an error or the end of the medium.
bool ReadSectorsAt(HANDLE handle, std::int64_t offset, void* buffer, std::uint32_t size,
                   std::uint32_t* read);

} // namespace port
