#include "cli/Report.h"

#include "port/DriveLetter.h"
#include "port/DriverWire.h"
#include "port/Paths.h"
#include "port/Utf.h"

#include <algorithm>
#include <cstdio>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace cli {

int Fail(const char* command, const std::string& sentence, unsigned code) {
    std::fprintf(stderr, "spindle-cli: %s: %s (error %u)\n", command, sentence.c_str(), code);
    return kExitFailure;
}

int Say(const char* command, const std::string& sentence) {
    std::fprintf(stderr, "spindle-cli: %s: %s\n", command, sentence.c_str());
    return kExitFailure;
}

int Misuse(const char* command, const std::string& what) {
    if (!what.empty())
        std::fprintf(stderr, "spindle-cli: %s: %s\n", command, what.c_str());
    std::fprintf(stderr, "usage: spindle-cli %s\n", UsageOf(command));
    return kExitUsage;
}

char16_t LetterArgument(const char* command, const std::string& arg) {
    const char16_t letter = port::ParseDriveLetter(arg);
    if (!letter)
        Misuse(command, "'" + arg + "' is not a drive letter (A to Z)");
    return letter;
}

std::string LetterText(char16_t letter) {
    return std::string(1, static_cast<char>(letter)) + ":";
}

bool AsksForHelp(const Args& args) {
    for (const std::string& a : args) {
        if (a == "--")
            return false;
        if (a == "--help" || a == "-h")
            return true;
    }
    return false;
}

std::string JsonString(std::string_view raw) {
    // Bytes that are no UTF-8 (a Latin-1 file name) become U+FFFD: JSON is
    // Unicode text, and a parser refuses stray bytes.
    std::string text(raw);
    if (port::ToUtf8(port::ToUtf16(text)) != text)
        text = port::ToUtf8(port::ToUtf16(text));
    std::string out = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string TrimPadding(std::string text) {
    text.resize(std::min(text.size(), text.find('\0')));
    std::size_t end = text.find_last_not_of(' ');
    text.resize(end == std::string::npos ? 0 : end + 1);
    return text;
}

bool DriverRuns() {
    const std::string path = port::RuntimeDir() + "/" + port::wire::kSocketName;
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool up = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return up;
}

std::string NoDriverSentence() {
    return "no spindle-driver runs for " + port::RuntimeDir() +
           "; start one with: spindle-driver --daemon";
}

} // namespace cli
