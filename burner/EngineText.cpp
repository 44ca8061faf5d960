#include "burner/EngineText.h"

#include "burner/State.h"
#include "port/Utf.h"
#include "text/Placeholders.h"
#include "text/ProfileReader.h"

using namespace text;

namespace burner {

std::string EngineText(std::string_view key) {
    std::u16string section, file;
    {
        std::lock_guard lock(State().mutex);
        section = State().languageSection;
        file = State().languageFile;
    }
    char16_t buffer[kLangTextBufferSize] = {};
    std::u16string k = port::ToUtf16(key);
    if (!section.empty() && !file.empty()) {
        CProfileReader reader;
        reader.ReadString(section, k, file, buffer);
    }
    std::string text =
        port::ToUtf8(std::u16string_view(buffer, port::U16Length(buffer, kLangTextBufferSize)));
    return text.empty() ? std::string(key) : text;
}

std::string EngineTextf(std::string_view key, std::initializer_list<std::string_view> args) {
    return FillPlaceholders(EngineText(key), args);
}

} // namespace burner
