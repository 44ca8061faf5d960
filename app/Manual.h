// Where the manual lies: beside the program's other resources, in the
// current language, whatever the current directory.
#pragma once

#include <string>

namespace ui {

// The manual file of the current language: port::ResourceDir() + "res/" + the
// text of ID_HELP_MANUALFILE, or the English manual when the language file
// names none.
std::string ManualPath();

} // namespace ui
