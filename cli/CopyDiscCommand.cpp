// copy-disc [--label L] [--ignore-read-errors] LETTER OUT: copies the disc in
// an optical drive into an image file with the create page's disc image
// reader. The copy runs on the reader's worker thread; this thread draws the
// progress bar on a terminal, asks the reader's questions there, and turns
// Ctrl-C (SIGINT, SIGTERM) into Stop: the partial image is kept as OUT.part,
// and OUT stays as it was.
#include "cli/Commands.h"
#include "cli/Report.h"

#include "pages/DiscImageReader.h"
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

constexpr int kIdOk = 1, kIdYes = 6, kIdNo = 7;
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

// The reader's observer: questions and the end are handed to the main
// thread, which owns the terminal.
class Console : public CDiscCopyObserver {
public:
    explicit Console(std::u16string label) : m_label(std::move(label)) {}

    void OnCopying(bool) override {}
    void OnProgress(int) override {}
    void OnStatus(const CopyStatus&) override {}
    std::u16string NewLabel() override { return m_label; }
    void OnFinished() override {}

    int OnMessage(const CopyNote& note) override {
        std::unique_lock lock(m_mutex);
        m_question = note;
        m_answer.reset();
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_answer.has_value(); });
        return *m_answer;
    }
    void OnEnded(const CopyResult& result) override {
        std::lock_guard lock(m_mutex);
        m_result = result;
        m_cv.notify_all();
    }

    // Waits up to 100 ms for a note to answer or the end.
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return m_question || m_result; });
    }
    std::optional<CopyNote> TakeNote() {
        std::lock_guard lock(m_mutex);
        std::optional<CopyNote> note = std::move(m_question);
        m_question.reset();
        return note;
    }
    void Answer(int answer) {
        std::lock_guard lock(m_mutex);
        m_answer = answer;
        m_cv.notify_all();
    }
    std::optional<CopyResult> Result() {
        std::lock_guard lock(m_mutex);
        return m_result;
    }

private:
    std::u16string m_label;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<CopyNote> m_question;
    std::optional<int> m_answer;
    std::optional<CopyResult> m_result;
};

void ClearBar(bool& shown) {
    if (shown)
        std::fprintf(stderr, "\r%70s\r", "");
    shown = false;
}

void DrawBar(std::int64_t copied, std::int64_t size) {
    constexpr int kWidth = 40;
    const int percent = size > 0 ? static_cast<int>(copied * 100 / size) : 0;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i)
        bar[i] = i < percent * kWidth / 100 ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%% %lld/%lld MiB", bar, percent,
                 static_cast<long long>(copied >> 20), static_cast<long long>(size >> 20));
    std::fflush(stderr);
}

// Asks on the terminal; anything but y or yes, end of input or Ctrl-C is no.
bool AskYes(const std::string& question, bool& interrupted) {
    if (!::isatty(STDIN_FILENO))
        return false;
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string line;
    for (;;) {
        if (g_interrupted) {
            interrupted = true;
            std::fputc('\n', stderr);
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

// Says what a note means on stderr and gives the reader its answer.
int Tell(const CopyNote& note, const Options& o, CDiscImageReader& reader) {
    const std::string path = port::ToUtf8(note.path);
    bool interrupted = false;
    int answer = kIdOk;
    switch (note.message) {
    case CopyMessage::SelectDrive:
        break;
    case CopyMessage::CannotOpenDrive:
        std::fprintf(stderr, "spindle-cli: copy-disc: cannot open drive %s: %s (error %u)\n",
                     path.c_str(), port::DescribeError(note.error), note.error);
        break;
    case CopyMessage::NoDisc:
        std::fprintf(stderr,
                     "spindle-cli: copy-disc: drive %s holds no disc to copy, so nothing was "
                     "changed: %s (error %u)\n",
                     path.c_str(), port::DescribeError(note.error), note.error);
        break;
    case CopyMessage::SameAsSource:
        std::fprintf(stderr,
                     "spindle-cli: copy-disc: %s is the disc being copied; choose another OUT\n",
                     path.c_str());
        break;
    case CopyMessage::OverwriteImage:
        answer = AskYes(path + " already exists. Replace it?", interrupted) ? kIdYes : kIdNo;
        if (answer == kIdNo && !interrupted)
            std::fprintf(stderr, "spindle-cli: copy-disc: %s already exists; not replaced\n",
                         path.c_str());
        break;
    case CopyMessage::CannotCreateFile:
        std::fprintf(stderr, "spindle-cli: copy-disc: cannot create %s: %s (error %u)\n",
                     path.c_str(), port::DescribeError(note.error), note.error);
        break;
    case CopyMessage::CannotCreateBuffer:
        std::fprintf(stderr, "spindle-cli: copy-disc: not enough memory\n");
        break;
    case CopyMessage::ReadError:
        answer = AskYes("Part of the disc cannot be read. Fill unreadable sectors with zeros and "
                        "go on?",
                        interrupted)
                     ? kIdYes
                     : kIdNo;
        if (interrupted) {
            // Stopped, not failed: the reader sees the stop before reading on.
            reader.Stop();
            answer = kIdYes;
        } else if (answer == kIdNo) {
            std::fprintf(stderr, "spindle-cli: copy-disc: part of the disc cannot be read "
                                 "(--ignore-read-errors copies past unreadable sectors)\n");
        }
        break;
    case CopyMessage::LabelFailed:
        std::fprintf(stderr,
                     "spindle-cli: copy-disc: the label could not be written into %s (no ISO "
                     "9660 volume there?)\n",
                     path.c_str());
        break;
    case CopyMessage::Done:
        break;
    case CopyMessage::DoneWithBadSectors:
        std::fprintf(stderr,
                     "spindle-cli: copy-disc: %lld sectors could not be read and are zeros in "
                     "the image%s%s\n",
                     static_cast<long long>(note.count), path.empty() ? "" : "; listed in ",
                     path.c_str());
        break;
    case CopyMessage::ListFailed:
        std::fprintf(stderr,
                     "spindle-cli: copy-disc: the list of the %lld unreadable sectors could not be "
                     "written to %s: %s (error %u); %s was left as it was\n",
                     static_cast<long long>(note.count), path.c_str(),
                     port::DescribeError(note.error), note.error, o.out.c_str());
        break;
    case CopyMessage::Failed:
        if (note.error)
            std::fprintf(stderr, "spindle-cli: copy-disc: writing %s failed: %s (error %u)\n",
                         o.out.c_str(), port::DescribeError(note.error), note.error);
        std::fprintf(stderr, "spindle-cli: copy-disc: the disc could not be copied%s%s%s\n",
                     path.empty() ? "" : "; the partial image ", path.c_str(),
                     path.empty() ? "" : " is kept");
        break;
    }
    return answer;
}

int Watch(CDiscImageReader& reader, Console& console, const Options& o) {
    const bool terminal = ::isatty(STDERR_FILENO);
    bool barShown = false, stopAsked = false;
    for (;;) {
        console.Wait();
        if (g_interrupted && !stopAsked) {
            stopAsked = true;
            reader.Stop();
        }
        if (auto note = console.TakeNote()) {
            ClearBar(barShown);
            console.Answer(Tell(*note, o, reader));
            continue;
        }
        if (auto result = console.Result()) {
            ClearBar(barShown);
            switch (result->outcome) {
            case CopyOutcome::Done:
                return result->labelFailed ? 1 : result->unreadable > 0 ? kExitSalvaged : 0;
            case CopyOutcome::Stopped:
                if (result->partialPath.empty())
                    std::fprintf(stderr, "spindle-cli: copy-disc: stopped; nothing was copied\n");
                else
                    std::fprintf(stderr,
                                 "spindle-cli: copy-disc: stopped; the partial image %s is "
                                 "kept\n",
                                 port::ToUtf8(result->partialPath).c_str());
                return 130;
            case CopyOutcome::NotStarted:
                // Ctrl-C at the first question: nothing was touched.
                if (g_interrupted)
                    return (std::fprintf(stderr, "spindle-cli: copy-disc: stopped\n"), 130);
                return 1;
            default:
                return 1;
            }
        }
        if (terminal && reader.DiscSize() > 0) {
            DrawBar(reader.BytesCopied(), reader.DiscSize());
            barShown = true;
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
        return (std::fprintf(stderr, "spindle-cli: copy-disc: %c: is no optical drive\n",
                             static_cast<char>(letter)),
                1);
    const std::u16string out = port::ToUtf16(o.out);
    if (port::ToUtf8(out) != o.out)
        return (std::fprintf(stderr, "spindle-cli: copy-disc: %s: its name is not UTF-8 text\n",
                             o.out.c_str()),
                1);
    char16_t name[256] = {};
    port::GetVolumeInformationW(root.c_str(), name, 256, nullptr, nullptr, nullptr, nullptr, 0);
    const std::u16string discLabel = name;

    CDiscImageReader reader;
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
        std::fprintf(stderr, "spindle-cli: copy-disc: the copy could not be started\n");
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    return status;
}

} // namespace cli
