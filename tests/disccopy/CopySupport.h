// Shared pieces of the disc copy tests: stand-in discs, an observer that
// records what the reader tells it, and the test file system that fails
// chosen sectors.
#pragma once

#include "engine/DiscImageReader.h"
#include "tests/support/Files.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace copytest {

using spindle_test::RandomBytes;
using spindle_test::ReadFile;
using spindle_test::SameBytes;
using spindle_test::Shell;
using spindle_test::WriteFile;

// A note or question of the copy, as the recorder keeps it.
struct CopyNote {
    engine::CopyMessage message = engine::CopyMessage::Done;
    std::u16string path;
    std::int64_t count = 0;
    port::ErrorCode error = port::ERROR_SUCCESS;
};

// The status line as the recorder keeps it; Empty: nothing shown.
struct CopyStatus {
    enum class Kind { Empty, Blank, Preparing, Reading } kind = Kind::Empty;
    std::int64_t mibRead = 0;
    std::int64_t mibTotal = 0;
    std::int64_t unreadable = 0;
};

// Records every call; questions take queued answers (none left: IDNO).
// "copying" is logged when the copy loop starts, "idle" when the copy leaves
// it (before the notes of its end), "finished" at the end of a copy that ran
// its loop and was not stopped.
class Recorder : public engine::JobObserver {
public:
    void OnProgress(float percent) override { progress.push_back(static_cast<int>(percent)); }
    void OnStatus(const engine::JobStatus& status) override;
    engine::Answer OnQuestion(const engine::JobQuestion& question) override;
    std::u16string OnAskText(const engine::JobQuestion&) override { return label; }
    void OnEnd(const engine::JobOutcome& outcome) override;
    // Shows the note; returns IDYES (6) or IDNO (7) for a question, IDOK (1)
    // otherwise.
    virtual int OnMessage(const CopyNote& note);

    // Message names and "copying", "idle", "finished", in order.
    std::vector<std::string> events;
    std::vector<CopyNote> notes;
    std::vector<int> progress;
    std::vector<CopyStatus> statuses;
    std::deque<int> answers;
    std::u16string label;
    std::vector<engine::JobOutcome> ends;
    // Called with each note before it is answered.
    std::function<void(const CopyNote&)> onMessage;

private:
    void Log(const std::string& event) { events.push_back(event); }
    void Idle();
    bool m_copying = false;
    bool m_ran = false;
};

const char* MessageName(engine::CopyMessage message);

// Serves `image` as <mountpoint>/disc.iso through bad_sector_fs, failing the
// given sectors, until destroyed. With `room` (bytes), new files may be
// written beside it until they fill that room.
class BadSectorDisc {
public:
    BadSectorDisc(const std::string& image, const std::string& mountpoint,
                  const std::vector<std::int64_t>& badSectors, std::int64_t room = -1);
    ~BadSectorDisc();
    BadSectorDisc(const BadSectorDisc&) = delete;
    BadSectorDisc& operator=(const BadSectorDisc&) = delete;

    bool Ready() const { return m_ready; }
    std::string File() const { return m_mountpoint + "/disc.iso"; }

private:
    std::string m_mountpoint;
    pid_t m_pid = -1;
    bool m_ready = false;
};

} // namespace copytest
