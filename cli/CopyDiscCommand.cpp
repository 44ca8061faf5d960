// copy-disc [--label L] [--ignore-read-errors] LETTER OUT: copies the disc in
// an optical drive into an image file with the create page's disc image
// reader. The copy runs on the reader's worker thread; this thread draws the
// progress bar on a terminal, asks the reader's questions there, and turns
// Ctrl-C (SIGINT, SIGTERM) into Stop: the partial image is kept as OUT.part,
// and OUT stays as it was.
#include "cli/Commands.h"
#include "cli/Report.h"

#include "engine/DiscImageReader.h"
#include "port/DriveInfo.h"
#include "port/Errors.h"
#include "port/Utf.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace cli {

namespace {

// A whole copy in which unreadable sectors are zeros: usable, but not the disc.
constexpr int kExitSalvaged = 3;
constexpr char kUsage[] = "copy-disc [--label L] [--ignore-read-errors] LETTER OUT";

volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int) {
    g_interrupted = 1;
}

struct Options {
    std::optional<std::string> label;
    bool ignoreReadErrors = false;
    std::string letter, out;
};

bool ParseArgs(const Args& args, Options& o, std::string& err) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--label" && i + 1 < args.size())
            o.label = args[++i];
        else if (a.rfind("--label=", 0) == 0)
            o.label = a.substr(8);
        else if (a == "--ignore-read-errors")
            o.ignoreReadErrors = true;
        else if (a.size() > 1 && a[0] == '-')
            return (err = a == "--label" ? "--label needs a value" : "unknown option " + a, false);
        else
            rest.push_back(a);
    }
    if (rest.size() != 2)
        return (err.clear(), false);
    o.letter = rest[0];
    o.out = rest[1];
    return true;
}

// The copy's terminal observer: questions and the end are handed to the
// main thread, which owns the terminal; what the end needs besides its
// outcome is gathered from the notes on the way.
class Console : public engine::JobObserver {
public:
    explicit Console(std::u16string label) : m_label(std::move(label)) {}

    std::u16string OnAskText(const engine::JobQuestion&) override { return m_label; }
    void OnStatus(const engine::JobStatus& status) override {
        if (status.step == engine::JobStatus::Step::Preparing)
            m_ran = true;
    }
    engine::Answer OnQuestion(const engine::JobQuestion& note) override {
        std::unique_lock lock(m_mutex);
        if (CopyMessageOf(note) == engine::CopyMessage::LabelFailed)
            m_labelFailed = true;
        if (CopyMessageOf(note) == engine::CopyMessage::DoneWithBadSectors)
            m_unreadable = note.count;
        m_question = note;
        m_answer.reset();
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_answer.has_value(); });
        return *m_answer;
    }
    void OnEnd(const engine::JobOutcome& outcome) override {
        std::lock_guard lock(m_mutex);
        m_result = outcome;
        m_cv.notify_all();
    }

    // Waits up to 100 ms for a note to answer or the end.
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return m_question || m_result; });
    }
    std::optional<engine::JobQuestion> TakeNote() {
        std::lock_guard lock(m_mutex);
        std::optional<engine::JobQuestion> note = std::move(m_question);
        m_question.reset();
        return note;
    }
    void Answer(engine::Answer answer) {
        std::lock_guard lock(m_mutex);
        m_answer = answer;
        m_cv.notify_all();
    }
    std::optional<engine::JobOutcome> Result() {
        std::lock_guard lock(m_mutex);
        return m_result;
    }
    bool Ran() const { return m_ran; }
    bool LabelFailed() const { return m_labelFailed; }
    std::int64_t Unreadable() const { return m_unreadable; }

private:
    std::u16string m_label;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<engine::JobQuestion> m_question;
    std::optional<engine::Answer> m_answer;
    std::optional<engine::JobOutcome> m_result;
    std::atomic<bool> m_ran{false}, m_labelFailed{false};
    std::atomic<std::int64_t> m_unreadable{0};
};

// Asks on the terminal; anything but y or yes, end of input or Ctrl-C is no.
bool AskYes(const std::string& question, bool& interrupted) {
    if (!::isatty(STDIN_FILENO))
        return false;
    Write(question + " [y/N] ");
    std::string line;
    for (;;) {
        if (g_interrupted) {
            interrupted = true;
            Write("\n");
            return false;
        }
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    return line == "y" || line == "Y" || line == "yes";
}

std::string Because(port::ErrorCode error) {
    return std::string(port::DescribeError(error)) + " (error " + std::to_string(error) + ")";
}

// Says what a note means on stderr and gives the reader its answer.
engine::Answer Tell(const engine::JobQuestion& note, const Options& o,
                    engine::CDiscImageReader& reader) {
    constexpr const char* kCmd = "copy-disc";
    const std::string path = port::ToUtf8(note.path);
    const std::string count = std::to_string(note.count);
    bool interrupted = false;
    engine::Answer answer = engine::Answer::Ok;
    switch (CopyMessageOf(note)) {
    case engine::CopyMessage::SelectDrive:
    case engine::CopyMessage::Done:
    case engine::CopyMessage::NewLabel:
        break;
    case engine::CopyMessage::CannotOpenDrive:
        cli::Tell(kCmd, "cannot open drive " + path + ": " + Because(note.error));
        break;
    case engine::CopyMessage::NoDisc:
        cli::Tell(kCmd, "drive " + path + " holds no disc to copy, so nothing was changed: " +
                            Because(note.error));
        break;
    case engine::CopyMessage::SameAsSource:
        cli::Tell(kCmd, path + " is the disc being copied; choose another OUT");
        break;
    case engine::CopyMessage::OverwriteImage:
        answer = AskYes(path + " already exists. Replace it?", interrupted) ? engine::Answer::Yes
                                                                            : engine::Answer::No;
        if (answer == engine::Answer::No && !interrupted)
            cli::Tell(kCmd, path + " already exists; not replaced");
        break;
    case engine::CopyMessage::CannotCreateFile:
        cli::Tell(kCmd, "cannot create " + path + ": " + Because(note.error));
        break;
    case engine::CopyMessage::CannotCreateBuffer:
        cli::Tell(kCmd, "not enough memory");
        break;
    case engine::CopyMessage::ReadError:
        answer = AskYes("Part of the disc cannot be read. Fill unreadable sectors with zeros and "
                        "go on?",
                        interrupted)
                     ? engine::Answer::Yes
                     : engine::Answer::No;
        if (interrupted) {
            // Stopped, not failed: the reader sees the stop before reading on.
            reader.Stop();
            answer = engine::Answer::Yes;
        } else if (answer == engine::Answer::No) {
            cli::Tell(kCmd, "part of the disc cannot be read (--ignore-read-errors copies past "
                            "unreadable sectors)");
        }
        break;
    case engine::CopyMessage::LabelFailed:
        cli::Tell(kCmd,
                  "the label could not be written into " + path + " (no ISO 9660 volume there?)");
        break;
    case engine::CopyMessage::DoneWithBadSectors:
        cli::Tell(kCmd, count + " sectors could not be read and are zeros in the image" +
                            (path.empty() ? "" : "; listed in " + path));
        break;
    case engine::CopyMessage::ListFailed:
        cli::Tell(kCmd, "the list of the " + count +
                            " unreadable sectors could not be written to " + path + ": " +
                            Because(note.error) + "; " + o.out + " was left as it was");
        break;
    case engine::CopyMessage::Failed:
        if (note.error)
            cli::Tell(kCmd, "writing " + o.out + " failed: " + Because(note.error));
        cli::Tell(kCmd, "the disc could not be copied" +
                            (path.empty() ? "" : "; the partial image " + path + " is kept"));
        break;
    }
    return answer;
}

int Watch(engine::CDiscImageReader& reader, Console& console, const Options& o) {
    const bool terminal = ::isatty(STDERR_FILENO);
    bool stopAsked = false;
    std::optional<ProgressLine> line;
    for (;;) {
        console.Wait();
        if (g_interrupted && !stopAsked) {
            stopAsked = true;
            reader.Stop();
        }
        if (auto note = console.TakeNote()) {
            if (line)
                line->Clear();
            console.Answer(Tell(*note, o, reader));
            continue;
        }
        if (auto result = console.Result()) {
            if (line)
                line->Clear();
            if (result->Done())
                return console.LabelFailed()      ? kExitFailure
                       : console.Unreadable() > 0 ? kExitSalvaged
                                                  : kExitOk;
            if (result->Stopped() && console.Ran()) {
                cli::Tell("copy-disc", result->item.empty() ? "stopped; nothing was copied"
                                                            : "stopped; the partial image " +
                                                                  result->item + " is kept");
                return kExitInterrupted;
            }
            // Ctrl-C at the first question: nothing was touched.
            if (!console.Ran() && g_interrupted)
                return (cli::Tell("copy-disc", "stopped"), kExitInterrupted);
            return kExitFailure;
        }
        const std::int64_t size = reader.DiscSize();
        if (terminal && size > 0) {
            if (!line)
                line.emplace(size);
            const std::int64_t copied = reader.BytesCopied();
            line->Draw(static_cast<double>(copied) * 100.0 / static_cast<double>(size),
                       "  " + std::to_string(copied >> 20) + "/" + std::to_string(size >> 20) +
                           " MiB");
        }
    }
}

} // namespace

int CopyDisc(const Args& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("usage: spindle-cli %s\n"
                    "Copies the volume of the disc in drive LETTER (an optical drive of the\n"
                    "drive table) sector for sector into the image file OUT. --label writes a\n"
                    "new volume label into the image. A read error is asked about on a\n"
                    "terminal; --ignore-read-errors fills unreadable sectors with zeros without\n"
                    "asking and lists them in OUT.badsectors. The copy is written to OUT.part\n"
                    "and replaces OUT only once it is whole; a copy that is stopped (Ctrl-C)\n"
                    "or fails keeps what it copied as OUT.part, and OUT stays as it was.\n"
                    "Exit status: 0 copied, 1 failed, 2 wrong usage, 3 copied but unreadable\n"
                    "sectors are zeros (their count is printed), 130 stopped.\n",
                    kUsage);
        return 0;
    }
    Options o;
    std::string err;
    if (!ParseArgs(args, o, err))
        return Misuse("copy-disc", err);
    const char16_t letter = LetterArgument("copy-disc", o.letter);
    if (!letter)
        return kExitUsage;
    const std::u16string root{letter, u':', u'\\'};
    if (port::GetDriveTypeW(root.c_str()) != port::DRIVE_CDROM)
        return (cli::Tell("copy-disc",
                          std::string(1, static_cast<char>(letter)) + ": is no optical drive"),
                kExitFailure);
    const std::u16string out = port::ToUtf16(o.out);
    if (port::ToUtf8(out) != o.out)
        return (cli::Tell("copy-disc", o.out + ": its name is not UTF-8 text"), kExitFailure);
    char16_t name[256] = {};
    port::GetVolumeInformationW(root.c_str(), name, 256, nullptr, nullptr, nullptr, nullptr, 0);
    const std::u16string discLabel = name;

    engine::CDiscImageReader reader;
    reader.SetIgnoreReadErrors(o.ignoreReadErrors);
    auto console = std::make_shared<Console>(o.label ? port::ToUtf16(*o.label) : discLabel);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    struct sigaction oldInt, oldTerm;
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    int status = 1;
    if (reader.Start({std::u16string(1, letter) + u":", out, discLabel}, console))
        status = Watch(reader, *console, o);
    else
        cli::Tell("copy-disc", "the copy could not be started");
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    return status;
}

} // namespace cli
