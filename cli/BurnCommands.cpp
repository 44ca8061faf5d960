// The recorder subcommands of spindle-cli: burn, erase, eject, close-tray and
// devices, on the same engine calls and burn jobs as the burn page and the
// engine's dialogs. A burn or erase shows a progress bar on stderr; Ctrl-C
// stops it cleanly.
#include "cli/Commands.h"
#include "cli/Report.h"

#include "burner/BurnJob.h"
#include "burner/GrabbedDrive.h"
#include "burner/Recorder.h"
#include "engine/Engine.h"
#include "port/DriveInfo.h"
#include "port/Errors.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

std::atomic<burner::Job*> g_running{nullptr};

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    if (burner::Job* job = g_running.load())
        job->Stop();
}

// Makes the letter's recorder the engine's current one, as the burn page
// does; false after saying why not.
bool UseRecorder(const char* command, char16_t letter) {
    if (!engine::Initialize())
        return Say(command, "the burning engine cannot start"), false;
    if (engine::SetDevice(letter) != 0)
        return Say(command, LetterText(letter) + " is not a recorder"), false;
    return true;
}

// The terminal observer of a burn or an erase.
class ProgressBar : public engine::JobObserver {
public:
    ProgressBar(bool erase, std::int64_t bytes)
        : m_erase(erase), m_tty(::isatty(STDERR_FILENO)), m_line(bytes) {}
    ~ProgressBar() override { m_line.End(); }
    void OnStatus(const engine::JobStatus& status) override {
        const bool newPhase = !m_started || status.step != m_phase || status.copy != m_copy;
        m_started = true;
        m_phase = status.step;
        m_copy = status.copy;
        m_copies = status.copies;
        const bool fillChanged = status.bufferFill != m_buffer;
        m_buffer = status.bufferFill;
        if (newPhase && !m_tty)
            Write(Label() + "\n");
        Draw(newPhase || fillChanged);
    }
    void OnProgress(float percent) override {
        int p = static_cast<int>(percent);
        bool changed = p != m_percent;
        m_percent = p;
        Draw(changed);
    }
    engine::Answer OnQuestion(const engine::JobQuestion& question) override {
        if (question.what != burner::kAskNextDisc)
            return question.Closed();
        Write("\nInsert a blank disc for copy " + std::to_string(question.count) +
              " and press Enter (Ctrl-D stops): ");
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
        return c != EOF ? engine::Answer::Yes : engine::Answer::No;
    }

private:
    std::string Label() const {
        const char* what = "Preparing";
        switch (m_phase) {
        default:
            break;
        case burner::BurnPhase::Preparing:
            what = "Preparing";
            break;
        case burner::BurnPhase::Writing:
            what = "Writing";
            break;
        case burner::BurnPhase::Closing:
            what = "Closing";
            break;
        case burner::BurnPhase::Verifying:
            what = "Verifying";
            break;
        case burner::BurnPhase::Erasing:
            what = "Erasing";
            break;
        }
        std::string s = what;
        if (!m_erase && m_copies > 1)
            s += " (copy " + std::to_string(m_copy) + " of " + std::to_string(m_copies) + ")";
        return s;
    }
    void Draw(bool changed) {
        if (!m_tty || !changed)
            return;
        std::string buffer = m_buffer >= 0 ? "  buffer " + std::to_string(m_buffer) + "%" : "";
        m_line.Draw(m_percent, buffer + "  " + Label());
    }

    bool m_erase;
    bool m_tty;
    bool m_started = false;
    ProgressLine m_line;
    burner::BurnPhase m_phase = burner::BurnPhase::Preparing;
    int m_copy = 1, m_copies = 1, m_percent = 0, m_buffer = -1;
};

// Runs a job in the foreground with the progress bar; Ctrl-C stops it.
int RunJob(const char* command, burner::Job& job, bool erase, std::int64_t bytes = 0) {
    burner::BurnOutcome outcome;
    {
        ProgressBar bar(erase, bytes);
        g_running = &job;
        auto previous = std::signal(SIGINT, OnInterrupt);
        job.Run(bar);
        outcome = job.Outcome();
        std::signal(SIGINT, previous);
        g_running = nullptr;
    }
    if (!outcome.ok()) {
        Say(command, burner::Describe(outcome));
        // Stopped by Ctrl-C: the status a shell gives an interrupted command.
        return outcome.error == burner::BurnError::Cancelled && g_interrupted ? kExitInterrupted
                                                                              : kExitFailure;
    }
    const char* done = erase ? "The disc was erased."
                       : job.WritesNothing()
                           ? "The test run succeeded. Nothing was written to the disc."
                           : "The disc was burned.";
    std::printf("%s\n", done);
    return 0;
}

bool EndsWithCue(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".cue";
}

bool PositiveNumber(const std::string& s, int max, int& out) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < 1 || v > max)
        return false;
    out = static_cast<int>(v);
    return true;
}

// kB/s of a write speed given as a multiple of the disc's 1x speed.
int SpeedKBs(const std::string& address, int factor) {
    burner::BurnOutcome failure;
    std::string kind;
    if (auto drive = burner::GrabbedDrive::Open(address, false, failure))
        kind = drive->MediumName();
    int base = kind.rfind("BD", 0) == 0 ? 4496 : kind.rfind("DVD", 0) == 0 ? 1385 : 176;
    return factor * base;
}

} // namespace

int Burn(const Args& args) {
    burner::BurnSettings settings;
    bool cue = false;
    int speed = 0;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--cue") {
            cue = true;
        } else if (a == "--simulate") {
            settings.simulate = true;
        } else if (a == "--verify") {
            settings.verify = true;
        } else if (a == "--eject") {
            settings.eject = true;
        } else if ((a == "--speed" || a == "--copies") && i + 1 < args.size()) {
            int& target = a == "--speed" ? speed : settings.copies;
            if (!PositiveNumber(args[++i], a == "--speed" ? 100 : 99, target)) {
                return Misuse(
                    "burn",
                    a + " takes a number (" +
                        (a == "--speed" ? "1 to 100, times the disc's 1x speed" : "1 to 99") + ")");
            }
        } else if (a.rfind("--", 0) == 0) {
            return Misuse("burn", "unknown option " + a);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() != 2)
        return Misuse("burn");
    const char16_t letter = LetterArgument("burn", rest[1]);
    if (!letter)
        return kExitUsage;
    const std::string& image = rest[0];
    cue = cue || EndsWithCue(image);
    // The sheet is read, and refused when malformed, before the recorder is touched.
    burner::BurnImage what;
    const burner::BurnOutcome loaded =
        burner::LoadBurnImage(cue ? "" : image, cue ? image : "", what);
    if (!loaded.ok())
        return Say("burn", burner::Detail(loaded));
    if (!UseRecorder("burn", letter))
        return 1;
    const std::string address = burner::CurrentRecorderAddress();
    if (speed > 0)
        settings.speedKBs = SpeedKBs(address, speed);
    // The bytes the whole job moves, for the rate on the progress line: each
    // copy written, and read back when verified (a cue sheet's: unknown).
    struct stat st {};
    std::int64_t bytes = 0;
    if (!what.isCue && ::stat(image.c_str(), &st) == 0)
        bytes = static_cast<std::int64_t>(st.st_size) * std::max(1, settings.copies) *
                (settings.verify && !settings.simulate ? 2 : 1);
    burner::BurnJob job(address, std::move(what), settings);
    int rc = RunJob("burn", job, false, bytes);
    engine::DeInitialize();
    return rc;
}

int Erase(const Args& args) {
    bool full = false;
    std::vector<std::string> rest;
    for (const std::string& a : args) {
        if (a == "--full")
            full = true;
        else if (a.rfind("--", 0) == 0)
            return Misuse("erase", "unknown option " + a);
        else
            rest.push_back(a);
    }
    if (rest.size() != 1)
        return Misuse("erase");
    const char16_t letter = LetterArgument("erase", rest[0]);
    if (!letter)
        return kExitUsage;
    if (!UseRecorder("erase", letter))
        return 1;
    burner::EraseJob job(burner::CurrentRecorderAddress(), full, false);
    int rc = RunJob("erase", job, true);
    engine::DeInitialize();
    return rc;
}

namespace {
int Tray(const char* command, const Args& args, int (*op)()) {
    if (args.size() != 1)
        return Misuse(command);
    const char16_t letter = LetterArgument(command, args[0]);
    if (!letter)
        return kExitUsage;
    if (!UseRecorder(command, letter))
        return 1;
    int rc = op();
    engine::DeInitialize();
    if (rc != 0)
        return Fail(command, port::DescribeError(static_cast<port::ErrorCode>(rc)),
                    static_cast<unsigned>(rc));
    return 0;
}
} // namespace

int Eject(const Args& args) {
    return Tray("eject", args, engine::EjectDevice);
}

int CloseTray(const Args& args) {
    return Tray("close-tray", args, engine::CloseDevice);
}

int Devices(const Args& args) {
    bool json = args.size() == 1 && args[0] == "--json";
    if (args.size() > (json ? 1u : 0u))
        return Misuse("devices", args.empty() ? "" : "unknown argument " + args.back());
    if (!engine::Initialize())
        return Say("devices", "the burning engine cannot start");
    // The same walk as the burn page's recorder list.
    std::string items;
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        const char16_t root[] = {letter, u':', u'\\', 0};
        if (port::GetDriveTypeW(root) != port::DRIVE_CDROM || engine::SetDevice(letter) != 0)
            continue;
        char vendor[8], product[16], revision[8];
        if (engine::GetDeviceInformation(vendor, product, revision) != 0)
            continue;
        const std::string name = std::string(1, static_cast<char>(letter)) + ":";
        const std::string v = TrimPadding(std::string(vendor, 8));
        const std::string p = TrimPadding(std::string(product, 16));
        const std::string address = burner::CurrentRecorderAddress();
        if (!json) {
            std::printf("%s\t%s\t%s\t%s\n", name.c_str(), v.c_str(), p.c_str(), address.c_str());
            continue;
        }
        items += items.empty() ? "\n" : ",\n";
        items += "  {\"letter\": " + JsonString(name) + ", \"vendor\": " + JsonString(v) +
                 ", \"product\": " + JsonString(p) +
                 ", \"revision\": " + JsonString(TrimPadding(std::string(revision, 8))) +
                 ", \"address\": " + JsonString(address) + "}";
    }
    engine::DeInitialize();
    if (json)
        std::printf("[%s\n]\n", items.c_str());
    return 0;
}

} // namespace cli
