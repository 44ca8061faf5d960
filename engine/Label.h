// The volume label rule of the engine's option record: VolumeLabel holds
// 8-bit text, each byte the low 8 bits of one UTF-16 unit, ended by a zero
// byte, so at most 127 characters. The files page, the engine and
// spindle-cli build-iso all go through these.
#pragma once

#include "engine/Engine.h"

#include <string>
#include <string_view>

namespace engine {

inline constexpr std::size_t kMaxLabel = sizeof(EngineOptions::VolumeLabel) - 1; // 127

// Writes the low 8 bits of each unit, then a zero byte. A label over 127
// units is cut there: nothing is written past the field.
void LabelToOptions(std::u16string_view label, EngineOptions& options);

// The field as text: each byte the character of that code (0 to 255), up to
// the first zero byte (at most 127 characters when the field is terminated).
std::u16string LabelFromOptions(const EngineOptions& options);

// What a label becomes on its way through the record.
std::u16string LabelRoundTrip(std::u16string_view label);

} // namespace engine
