#include "burner/EngineText.h"

#include "burner/State.h"
#include "port/Utf.h"
#include "text/ProfileReader.h"

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

std::string EngineTextf(std::string_view key, std::initializer_list<std::string> args) {
    const std::string pattern = EngineText(key);
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            char c = pattern[i + 1];
            if (c == '%') {
                out += '%';
                ++i;
                continue;
            }
            if ((c == 's' || c == 'd' || c == 'u') && next != args.end()) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace burner
