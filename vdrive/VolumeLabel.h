// The volume label of an ISO 9660 image file, read and rewritten in place in
// its volume descriptors: the primary one at 0x8000 and the first
// supplementary (Joliet) one among sectors 17 to 100. Nothing else of the
// file is read or changed.
#pragma once

#include "port/Errors.h"

#include <optional>
#include <string>
#include <string_view>

namespace vdrive {

// The Joliet label when the image has one (the first supplementary
// descriptor whose escape sequences name UCS-2), else the primary identifier (its
// padding blanks kept). Empty when the file cannot be opened exclusively or
// holds no ISO 9660 primary descriptor.
std::u16string ReadVolumeLabel(std::u16string_view imagePath);

// Writes the label into the Joliet identifier (at most 16 characters, UTF-16
// big-endian, zero padded) and the primary identifier (at most 32 bytes,
// zero padded). False, with nothing written, when the file cannot be opened
// exclusively for writing (spindle-driver holds its mounted images shared),
// is not an ISO 9660 image with a whole descriptor set (terminator
// included), or the label holds an unpaired surrogate.
bool WriteVolumeLabel(std::u16string_view imagePath, std::u16string_view label);

// The same two operations telling why they fail: the open's error, or
// ERROR_UNRECOGNIZED_VOLUME for a file without an ISO 9660 primary descriptor
// (or, for a write, without a whole descriptor set), ERROR_INVALID_DATA for a
// label that is not whole text.
// A read that succeeds may still give an empty label.
std::optional<std::u16string> ReadVolumeLabel(std::u16string_view imagePath,
                                              port::ErrorCode& error);
bool WriteVolumeLabel(std::u16string_view imagePath, std::u16string_view label,
                      port::ErrorCode& error);
// The write with a label given as UTF-8 (a command line argument): bytes that
// are not UTF-8 give ERROR_INVALID_DATA and nothing is written.
bool WriteVolumeLabelUtf8(std::u16string_view imagePath, std::string_view label,
                          port::ErrorCode& error);

} // namespace vdrive
