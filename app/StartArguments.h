// The spindle program's command line, read without any window: what the
// file manager's actions ask for (a page and an image path) or a plain start.
#pragma once

#include <string>
#include <vector>

namespace ui {

enum class StartAction {
    kWindow,   // no argument: the window on the mount page, as always
    kOpen,     // spindle FILE: the window with FILE chosen on its page
    kBurn,     // spindle --burn [FILE]: the window on the burn page (with FILE)
    kMount,    // spindle --mount FILE: mount on the first free letter, open it
    kVersion,  // spindle --version
    kHelp,     // spindle --help
    kLanguage, // spindle --language NAME: keep NAME (or auto) as the user's language
    kError,    // a wrong command line; error says what is wrong
};

struct StartArguments {
    StartAction action = StartAction::kWindow;
    std::string path; // the file, or the language's name for kLanguage
    std::string error;
};

// Reads the arguments after the program name. "--" ends the options, so a
// file whose name starts with "-" can be given after it.
StartArguments ParseStartArguments(const std::vector<std::string>& args);

// The arguments that hand a start of the window over to the instance already
// running: what ParseStartArguments reads back as the same start (kWindow,
// kOpen or kBurn; any other start hands over nothing).
std::vector<std::string> HandOverArguments(const StartArguments& start);

// The page a file opens on: the burn page for a cue sheet (a BIN/CUE image
// can only be burned), else the mount page.
bool OpensOnBurnPage(const std::string& path);

// The usage text printed for --help and after a wrong command line.
extern const char kStartUsage[];

} // namespace ui
