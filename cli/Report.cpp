#include "cli/Report.h"

#include "port/DriveLetter.h"
#include "port/DriverWire.h"
#include "port/Paths.h"
#include "port/Utf.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

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

void Tell(const char* command, const std::string& sentence) {
    if (command)
        std::fprintf(stderr, "spindle-cli: %s: %s\n", command, sentence.c_str());
    else
        std::fprintf(stderr, "spindle-cli: %s\n", sentence.c_str());
}

void Write(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

namespace {

double Now() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

ProgressLine::ProgressLine(std::int64_t totalBytes) : m_total(totalBytes), m_start(Now()) {}

std::string ProgressLine::RateAndTimeLeft(double percent, std::int64_t totalBytes, double seconds) {
    if (seconds < 1.0 || percent <= 0.0 || percent > 100.0)
        return {};
    std::string out;
    char buf[64];
    if (totalBytes > 0) {
        const double rate = static_cast<double>(totalBytes) * percent / 100.0 / seconds / 1e6;
        std::snprintf(buf, sizeof buf, "  %.1f MB/s", rate);
        out += buf;
    }
    const auto left = static_cast<long long>(seconds * (100.0 - percent) / percent + 0.5);
    std::snprintf(buf, sizeof buf, "  %lld:%02lld left", left / 60, left % 60);
    return out + buf;
}

void ProgressLine::Draw(double percent, const std::string& extra) {
    constexpr int kWidth = 40;
    const int whole = static_cast<int>(std::clamp(percent, 0.0, 100.0));
    const int filled = whole * kWidth / 100;
    char head[16];
    std::snprintf(head, sizeof head, "] %3d%%", whole);
    std::string line = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + head +
                       RateAndTimeLeft(percent, m_total, Now() - m_start) + extra;
    // Blanks wipe what a longer line before left.
    const std::size_t length = line.size();
    if (length < m_width)
        line.append(m_width - length, ' ');
    m_width = std::max(m_width, length);
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    m_shown = true;
}

void ProgressLine::Clear() {
    if (m_shown)
        std::fprintf(stderr, "\r%s\r", std::string(m_width, ' ').c_str());
    m_shown = false;
}

void ProgressLine::End() {
    if (m_shown)
        std::fputc('\n', stderr);
    m_shown = false;
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

std::string NoDriverSentence() {
    return "no spindle-driver runs for " + port::RuntimeDir() +
           "; start one with: spindle-driver --daemon";
}

} // namespace cli
