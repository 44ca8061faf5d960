// Texts of the engine's own dialogs, looked up by key in the language file
// and section handed over by SetLanguage ("langburu.ini" beside the
// program). A missing text shows as its key, so a gap in a language file is
// seen rather than shown as an empty label.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace burner {

// UTF-8 text of the key.
std::string EngineText(std::string_view key);

// The text with its placeholders filled by args in order (text/Placeholders.h).
std::string EngineTextf(std::string_view key, std::initializer_list<std::string_view> args);

} // namespace burner
