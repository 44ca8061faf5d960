// Shared pieces of the disc copy tests: stand-in discs, an observer that
// records what the reader tells it, and the test file system that fails
// chosen sectors.
#pragma once

#include "pages/DiscImageReader.h"
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

// Records every call; questions take queued answers (none left: IDNO).
class Recorder : public CDiscCopyObserver {
public:
    void OnCopying(bool copying) override { Log(copying ? "copying" : "idle"); }
    void OnProgress(int percent) override { progress.push_back(percent); }
    void OnStatus(const CopyStatus& status) override { statuses.push_back(status); }
    int OnMessage(const CopyNote& note) override;
    std::u16string NewLabel() override { return label; }
    void OnFinished() override { Log("finished"); }

    // Message names and "copying", "idle", "finished", in order.
    std::vector<std::string> events;
    std::vector<CopyNote> notes;
    std::vector<int> progress;
    std::vector<CopyStatus> statuses;
    std::deque<int> answers;
    std::u16string label;
    // Called with each note before it is answered.
    std::function<void(const CopyNote&)> onMessage;

private:
    void Log(const std::string& event) { events.push_back(event); }
};

const char* MessageName(CopyMessage message);

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
