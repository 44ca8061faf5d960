// How spindle-cli speaks to a script: one error style on stderr, the exit
// statuses, subcommand help, and JSON text for --json.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/Commands.h"

namespace cli {

// Exit statuses of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;       // the job failed
inline constexpr int kExitUsage = 2;         // the command line is wrong
inline constexpr int kExitInterrupted = 130; // stopped by Ctrl-C or SIGTERM

// "spindle-cli: COMMAND: SENTENCE (error N)" on stderr; returns kExitFailure.
int Fail(const char* command, const std::string& sentence, unsigned code);

// "spindle-cli: COMMAND: SENTENCE" on stderr; returns kExitFailure.
int Say(const char* command, const std::string& sentence);

// "spindle-cli: COMMAND: SENTENCE" on stderr, the command going on; with a
// null command "spindle-cli: SENTENCE".
void Tell(const char* command, const std::string& sentence);

// Text on stderr as it stands, flushed (a question's prompt, a line of its own).
void Write(const std::string& text);

// The progress line of a long job, drawn over itself on a terminal:
// "[####....]  42%  12.3 MB/s  0:37 left" and what the job adds. The rate
// needs the job's size in bytes (0: unknown, no rate); both it and the time
// left appear once a second has passed and some progress was made.
class ProgressLine {
public:
    explicit ProgressLine(std::int64_t totalBytes = 0);
    void Draw(double percent, const std::string& extra = {});
    void Clear(); // blanks the drawn line
    void End();   // ends the drawn line with a line feed
    bool Shown() const { return m_shown; }

    // "  12.3 MB/s  0:37 left" for `percent` done after `seconds`; empty
    // while nothing can be said.
    static std::string RateAndTimeLeft(double percent, std::int64_t totalBytes, double seconds);

private:
    std::int64_t m_total;
    double m_start;
    std::size_t m_width = 0; // of the longest line drawn
    bool m_shown = false;
};

// The command's usage line on stderr after what is wrong; returns kExitUsage.
int Misuse(const char* command, const std::string& what = "");

// A drive letter operand by the one rule of port/DriveLetter.h ("K", "k",
// "K:", "K:\\" or "K:/"), or 0 after saying that it is none; the caller then
// returns kExitUsage.
char16_t LetterArgument(const char* command, const std::string& arg);

// "K:" for the letter K.
std::string LetterText(char16_t letter);

// The one-line usage of a subcommand ("mount IMAGE [LETTER]").
const char* UsageOf(const char* command);

// True when the arguments ask for help: "--help" or "-h" before any "--".
bool AsksForHelp(const Args& args);

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(std::string_view text);

// Text without the trailing blanks that fixed-width records pad with.
std::string TrimPadding(std::string text);

// The sentence that says no driver runs, and how to start one.
std::string NoDriverSentence();

} // namespace cli
