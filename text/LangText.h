// The text catalogue: every text the user sees is looked up by key in the
// language file beside the program. No wx here; the wx-facing lookups are in
// LangTextUi.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// Name of the language file, relative to the program directory. Set once at
// start-up ("languiu.ini") before the first lookup.
extern std::u16string g_szLangFile;

// The language section in use, set at start-up (UseResolvedLanguage in
// text/Language.h) before the first lookup. Empty: [LANGUAGE] CURRENT of the
// file, read at each lookup.
extern std::u16string g_szLangSection;

// Looks the key up in the language g_szLangSection, assigns the
// text (at most 254 code units, empty when anything is missing) to str and
// returns it.
std::u16string& GetLangText(std::u16string_view key, std::u16string& str);

// The same lookup into a caller's buffer of 255 code units (text + terminator).
void GetLangTextBuf(std::u16string_view key, char16_t* buffer);

// The same into a buffer of `size` code units (size >= 1): the text is cut to
// size - 1 units (never in the middle of a surrogate pair) and terminated.
void GetLangTextBuf(std::u16string_view key, char16_t* buffer, std::size_t size);

// The text of key in a named language section rather than the one in use.
std::u16string GetLangTextIn(std::u16string_view section, std::u16string_view key);

} // namespace text
