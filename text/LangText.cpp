#include "text/LangText.h"

#include "port/Utf.h"
#include "text/ProfileReader.h"

#include <algorithm>

namespace text {

std::u16string g_szLangFile;
std::u16string g_szLangSection;

void GetLangTextBuf(std::u16string_view key, char16_t* buffer) {
    // The file is read afresh on every lookup, so an edit shows at once.
    CProfileReader reader;
    if (!g_szLangSection.empty()) {
        reader.ReadString(g_szLangSection, key, g_szLangFile, buffer);
        return;
    }
    char16_t language[kLangTextBufferSize];
    reader.ReadString(u"LANGUAGE", u"CURRENT", g_szLangFile, language);
    if (language[0] == 0) {
        buffer[0] = 0;
        return;
    }
    std::u16string_view section(language, port::U16Length(language, kLangTextBufferSize));
    reader.ReadString(section, key, g_szLangFile, buffer);
}

std::u16string GetLangTextIn(std::u16string_view section, std::u16string_view key) {
    char16_t text[kLangTextBufferSize];
    CProfileReader().ReadString(section, key, g_szLangFile, text);
    return std::u16string(text, port::U16Length(text, kLangTextBufferSize));
}

void GetLangTextBuf(std::u16string_view key, char16_t* buffer, std::size_t size) {
    if (size == 0)
        return;
    char16_t text[kLangTextBufferSize];
    GetLangTextBuf(key, text);
    std::size_t n = std::min(port::U16Length(text, kLangTextBufferSize), size - 1);
    if (n > 0 && n < port::U16Length(text, kLangTextBufferSize) && text[n - 1] >= 0xD800 &&
        text[n - 1] <= 0xDBFF)
        --n;
    std::copy_n(text, n, buffer);
    buffer[n] = 0;
}

std::u16string& GetLangText(std::u16string_view key, std::u16string& str) {
    char16_t text[kLangTextBufferSize];
    GetLangTextBuf(key, text);
    str.assign(text, port::U16Length(text, kLangTextBufferSize));
    return str;
}

} // namespace text
