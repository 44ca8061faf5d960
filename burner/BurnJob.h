// Burning and erasing on libburn as plain jobs: no window, an observer for
// progress and a stop flag. A job runs on the caller's thread (the engine's
// dialogs and spindle-cli start it on a thread of their own) and returns
// its outcome; Stop() may be called from any thread.
//
// Before a burn writes anything it checks the medium: a missing medium, a
// closed or otherwise unwritable one, or one with less free space than the
// image needs ends the job with that outcome and leaves the disc as it was.
// A malformed cue sheet is refused before the recorder is even opened.
#pragma once

#include "burner/CueSheet.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace burner {

enum class BurnError {
    None,
    Cancelled,
    NoRecorder, // the address opens no recorder
    NoMedium,
    NotWritable, // closed, read-only or of a kind the image cannot go on
    TooBig,      // the image needs more than the medium's free space
    NotErasable,
    BadImage,     // missing or unreadable image, malformed cue sheet
    VerifyFailed, // what was read back differs from the image
    DriveError,   // the recorder failed while working
};

// An outcome is a number (error) plus what it concerns: the file or
// recorder address (item), the system's errno when a file cannot be opened,
// and the library's or the check's own words. Describe and Detail make the
// sentences.
struct BurnOutcome {
    BurnError error = BurnError::None;
    std::string item;             // the file or recorder address concerned
    int osError = 0;              // errno of an item that cannot be opened
    std::string detail;           // the library's or the check's own words
    std::int64_t neededBytes = 0; // TooBig: what the image needs
    std::int64_t freeBytes = 0;   // TooBig: what the medium has
    bool ok() const { return error == BurnError::None; }
};

inline BurnOutcome Fail(BurnError error, std::string detail = {}) {
    BurnOutcome o;
    o.error = error;
    o.detail = std::move(detail);
    return o;
}

// A file that cannot be opened (errno) or a recorder at `address` that
// cannot be grabbed (the library's words).
BurnOutcome CannotOpen(BurnError error, std::string path, int osError);
BurnOutcome NoRecorderAt(std::string address, std::string libraryWords);

// Plain English for the command line and the burn-done report.
std::string Describe(const BurnOutcome& outcome);

// The particulars behind the number, in plain English ("\"a.bin\" cannot
// be opened: No such file or directory", the library's words); empty when
// there are none.
std::string Detail(const BurnOutcome& outcome);

enum class BurnPhase { Preparing, Writing, Closing, Verifying, Erasing };

class BurnObserver {
public:
    virtual ~BurnObserver() = default;
    // A new phase of copy `copy` (1-based) of `copies`.
    virtual void OnPhase(BurnPhase /*phase*/, int /*copy*/, int /*copies*/) {}
    // percent: of the whole job, 0 to 100; bufferFill: the write buffer's
    // fill in percent, -1 when there is none.
    virtual void OnProgress(float /*percent*/, int /*bufferFill*/) {}
    // Before each further copy on a recorder with removable media (the
    // finished disc was ejected): true once a new disc is in, false to stop.
    virtual bool OnNextDisc(int /*copy*/) { return true; }
    // The job ended (called once, last, by BurnRun).
    virtual void OnFinished(const BurnOutcome& /*outcome*/) {}
};

// What to burn: a plain image file, or the tracks of a cue sheet.
struct BurnImage {
    std::string isoPath;
    bool isCue = false;
    CueSheet cue;
};

// Reads what the engine's project and path ask to burn: the ISO file at
// isoPath, else the cue sheet at cuePath. Empty on success, else the reason.
std::string LoadBurnImage(const std::string& isoPath, const std::string& cuePath, BurnImage& out);

struct BurnSettings {
    int speedKBs = 0; // 0: the fastest
    bool simulate = false;
    bool verify = false;
    bool closeDisc = true;
    bool underrunProtection = true;
    bool eject = false;
    int copies = 1;
};

// What a disc check decides from the medium's state alone.
enum class MediumState { Unready, Blank, Empty, Appendable, Full, Unsuitable };
BurnOutcome CheckMedium(MediumState state, std::int64_t freeBytes, std::int64_t neededBytes);

class Job {
public:
    virtual ~Job() = default;
    virtual BurnOutcome Run(BurnObserver& observer) = 0;
    void Stop() { m_stop = true; }
    bool StopRequested() const { return m_stop; }
    // True for a test run that writes nothing (a simulated burn).
    virtual bool WritesNothing() const { return false; }

protected:
    std::atomic<bool> m_stop{false};
};

class BurnJob : public Job {
public:
    BurnJob(std::string address, BurnImage image, BurnSettings settings);
    BurnOutcome Run(BurnObserver& observer) override;
    bool WritesNothing() const override { return m_settings.simulate; }
    const BurnImage& Image() const { return m_image; }

private:
    std::string m_address;
    BurnImage m_image;
    BurnSettings m_settings;
};

class EraseJob : public Job {
public:
    EraseJob(std::string address, bool full, bool eject);
    BurnOutcome Run(BurnObserver& observer) override;

private:
    std::string m_address;
    bool m_full;
    bool m_eject;
};

} // namespace burner
