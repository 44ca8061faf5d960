#include "app/StartArguments.h"

#include <algorithm>
#include <cctype>

namespace ui {

const char kStartUsage[] =
    "Usage: spindle [FILE]\n"
    "       spindle --mount [FILE]\n"
    "       spindle --burn [FILE]\n"
    "       spindle --language NAME | auto\n"
    "       spindle --version | --help\n"
    "FILE alone opens the window with the image chosen (a cue sheet on the burn page,\n"
    "any other file on the mount page); --mount mounts it on the first free drive\n"
    "letter and opens its folder; --burn opens the burn page with it. Without FILE,\n"
    "--mount and --burn open the window on that page. While the window is open, a\n"
    "new start hands its FILE (or page) to it and brings it to the front.\n"
    "--language keeps the language of the window (a section of languiu.ini, such as\n"
    "English or Deutsch) for every start; auto follows the desktop's locale again.\n";

namespace {

StartArguments Error(std::string text) {
    return StartArguments{StartAction::kError, {}, std::move(text)};
}

} // namespace

StartArguments ParseStartArguments(const std::vector<std::string>& args) {
    StartArguments result;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--version" || arg == "--help") {
            if (args.size() != 1)
                return Error(arg + " takes no other argument");
            result.action = arg == "--version" ? StartAction::kVersion : StartAction::kHelp;
            return result;
        } else if (arg == "--language") {
            if (i != 0 || args.size() != 2 || args[1].empty())
                return Error("--language takes one name (or auto) and nothing else");
            return StartArguments{StartAction::kLanguage, args[1], {}};
        } else if (arg == "--mount" || arg == "--burn") {
            if (result.action != StartAction::kWindow)
                return Error("only one of --mount and --burn can be given");
            result.action = arg == "--mount" ? StartAction::kMount : StartAction::kBurn;
        } else {
            return Error("unknown option " + arg);
        }
    }
    if (files.size() > 1)
        return Error("one file at a time, not " + std::to_string(files.size()));
    if (files.empty()) {
        // The desktop entry's actions started without a file: the window on
        // that page (the mount page is where the window opens anyway).
        if (result.action == StartAction::kMount)
            result.action = StartAction::kWindow;
        return result;
    }
    if (files[0].empty())
        return Error("the file name is empty");
    if (result.action == StartAction::kWindow)
        result.action = StartAction::kOpen;
    result.path = files[0];
    return result;
}

std::vector<std::string> HandOverArguments(const StartArguments& start) {
    switch (start.action) {
    case StartAction::kOpen:
        return {"--", start.path};
    case StartAction::kBurn:
        if (start.path.empty())
            return {"--burn"};
        return {"--burn", "--", start.path};
    default:
        return {};
    }
}

bool OpensOnBurnPage(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".cue";
}

} // namespace ui
