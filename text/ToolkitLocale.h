// The toolkit speaks the program's language: the file choosers, stock buttons
// (Yes/No, Cancel/Save) and other texts of GTK and wx follow the process
// locale and wx's own catalogue, which nothing sets unless the program does.
#pragma once

#include <string>

namespace text {

// Sets the process locale from the desktop (setlocale) and, when the
// program speaks another language than the desktop (the user's choice),
// switches the messages to that language; loads wx's catalogue for it.
// Numbers keep the "C" form so that files the program writes and parses do
// not change with the desktop. Call once, after the toolkit has started and
// the language section has been resolved.
void UseToolkitLanguage(const std::u16string& section);

} // namespace text
